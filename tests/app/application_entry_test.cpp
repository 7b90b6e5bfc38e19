#include "app/about_window_scene.h"
#include "app/application_entry.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <memory>

using namespace vantrel;

class ApplicationEntryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void displayIsRequired()
    {
        QProcessEnvironment none;
        const auto reason = missingDisplayReason(none);
        QVERIFY(reason);
        QVERIFY(!reason->contains(QLatin1Char('\n')));

        QProcessEnvironment blank;
        blank.insert(QStringLiteral("DISPLAY"), QStringLiteral("  "));
        QVERIFY(missingDisplayReason(blank));

        for (const auto* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            QProcessEnvironment set;
            set.insert(QLatin1String(name), QStringLiteral(":1"));
            QVERIFY2(!missingDisplayReason(set), name);
        }
    }

    void mainWindowIsTitledWithTheApplicationName()
    {
        QCoreApplication::setApplicationName(QStringLiteral("Vantrel"));
        std::unique_ptr<QMainWindow> window(createMainWindow());
        QCOMPARE(window->windowTitle(), QStringLiteral("Vantrel"));
    }

    void theHelpMenuOpensTheAboutWindow()
    {
        installAboutInformation(AppInfo::shared());
        std::unique_ptr<QMainWindow> window(createMainWindow());
        QAction* about = nullptr;
        for (QAction* menu : window->menuBar()->actions()) {
            for (QAction* item : menu->menu()->actions()) {
                if (item->text() == QStringLiteral("About Vantrel"))
                    about = item;
            }
        }
        QVERIFY(about);
        about->trigger();
        QWidget* aboutWindow = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible() && widget->windowTitle() == QStringLiteral("About Vantrel"))
                aboutWindow = widget;
        }
        QVERIFY(aboutWindow);
        QCOMPARE(aboutWindow->size(), QSize(572, 320));

        // The credits come from the application's own document; the links go where they should.
        QList<QUrl> opened;
        const auto model = makeAboutWindowModel(AppInfo::shared(), [&](const QUrl& url) { opened << url; });
        QVERIFY(model->settings().credits.contains(QStringLiteral("Vantrel")));
        QVERIFY(model->settings().appVersion.startsWith(QStringLiteral("Version ")));
        model->openEmail();
        QCOMPARE(opened.value(0).scheme(), QStringLiteral("mailto"));
    }
};

QTEST_MAIN(ApplicationEntryTest)
#include "application_entry_test.moc"
