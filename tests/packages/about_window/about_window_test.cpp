#include "packages/about_window/about_window_controller.h"
#include "packages/about_window/about_window_model.h"
#include "packages/about_window/about_window_view.h"
#include "packages/about_window/host_app_info.h"

#include "design/dark_theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

using namespace vantrel;

namespace {

AboutWindowSettings sampleSettings()
{
    return AboutWindowSettings{
        .appName = QStringLiteral("Vantrel"),
        .appVersion = QStringLiteral("Version 1.0.0 (Build 42)"),
        .copyright = QStringLiteral("Copyright © 2024 The Vantrel team"),
        .appWebsite = QUrl(QStringLiteral("https://vantrel.app/")),
        .credits = QStringLiteral("Made by the Vantrel team.\n\nBuilt with Qt, QCoro, OpenSSL and libarchive."),
        .contactInfo = ContactInfo{
            .emailDescription = QStringLiteral("support@vantrel.app"),
            .email = HostAppInfo::mailtoURL(QStringLiteral("support@vantrel.app")),
            .twitterHandleDescription = QStringLiteral("@vantrelapp"),
            .twitterHandle = QUrl(QStringLiteral("https://twitter.com/vantrelapp")),
        },
        .acknowledgments = QUrl::fromLocalFile(QStringLiteral("/opt/vantrel/Acknowledgments.rtf")),
    };
}

// An icon of our own: a rounded square with the initial.
QPixmap sampleIcon()
{
    QPixmap icon(256, 256);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x3d, 0x8b, 0xfd));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(icon.rect().adjusted(16, 16, -16, -16), 48, 48);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(140);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(icon.rect(), Qt::AlignCenter, QStringLiteral("V"));
    return icon;
}

struct Opened {
    QList<QUrl> urls;
    QorAboutWindow::OpenURL recorder()
    {
        return [this](const QUrl& url) { urls.append(url); };
    }
};

} // namespace

class AboutWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QApplication::setApplicationName(QStringLiteral("Vantrel"));
        QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
        design::applyDarkTheme(*qApp);
    }

    void cleanup()
    {
        HostAppInfo::setInformationSource({});
        HostAppInfo::setResourceLocator({});
    }

    // Every button and link of the window opens its own URL, each press again, and nothing else.
    void linksOpenTheirURLs_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QUrl>("expected");
        const AboutWindowSettings settings = sampleSettings();
        QTest::newRow("website") << "websiteButton" << settings.appWebsite;
        QTest::newRow("acknowledgements") << "acknowledgmentsButton" << settings.acknowledgments;
        QTest::newRow("e-mail") << "emailLink" << settings.contactInfo.email;
        QTest::newRow("social network") << "twitterLink" << settings.contactInfo.twitterHandle;
    }
    void linksOpenTheirURLs()
    {
        QFETCH(QString, button);
        QFETCH(QUrl, expected);
        Opened opened;
        auto model = std::make_shared<QorAboutWindow>(sampleSettings(), sampleIcon(), opened.recorder());
        AboutWindowView view(model);
        auto* pressed = view.findChild<QAbstractButton*>(button);
        QVERIFY(pressed);
        pressed->click();
        pressed->click();
        QCOMPARE(opened.urls, (QList<QUrl>{expected, expected}));
        QCOMPARE(model->settings().appWebsite, sampleSettings().appWebsite);
    }

    void mailtoEncoding()
    {
        QCOMPARE(HostAppInfo::mailtoURL(QStringLiteral("support@vantrel.app")).toEncoded(),
                 QByteArray("mailto:support@vantrel.app"));
        const QUrl url = HostAppInfo::mailtoURL(QStringLiteral("support@vantrel.app"),
                                                QStringLiteral(u"Hi & thanks + more=1? Grüße"));
        QCOMPARE(url.toEncoded(),
                 QByteArray("mailto:support@vantrel.app?subject=Hi%20%26%20thanks%20%2B%20more%3D1%3F%20Gr%C3%BC%C3%9Fe"));
        QVERIFY(url.isValid());
        QCOMPARE(HostAppInfo::supportMailURL().toEncoded(),
                 QByteArray("mailto:support@vantrel.app?subject=Acknowledgements"));
    }

    // Replacing the icon announces the change while the old icon is still in place.
    void iconChangeIsAnnouncedFirst()
    {
        QorAboutWindow model(sampleSettings(), QPixmap(8, 8), [](const QUrl&) {});
        QList<QSize> seen;
        connect(&model, &QorAboutWindow::objectWillChange, this, [&] { seen.append(model.appIcon().size()); });
        connect(&model, &QorAboutWindow::appIconChanged, this, [&] { seen.append(model.appIcon().size()); });
        model.appIcon = QPixmap(16, 16);
        QCOMPARE(seen, (QList<QSize>{QSize(8, 8), QSize(16, 16)}));
    }

    void versionLine_data()
    {
        QTest::addColumn<QVariantMap>("entries");
        QTest::addColumn<QString>("expected");
        QTest::newRow("both") << QVariantMap{{"CFBundleShortVersionString", "2.1"}, {"CFBundleVersion", "345"}}
                              << "Version 2.1 (Build 345)";
        QTest::newRow("no build") << QVariantMap{{"CFBundleShortVersionString", "2.1"}} << "Version 2.1 (Build )";
        QTest::newRow("neither") << QVariantMap{} << "Version  (Build )";
        QTest::newRow("build not a string")
            << QVariantMap{{"CFBundleShortVersionString", "2.1"}, {"CFBundleVersion", 345}} << "Version 2.1 (Build )";
    }
    void versionLine()
    {
        QFETCH(QVariantMap, entries);
        QFETCH(QString, expected);
        HostAppInfo::setInformationSource([entries](const QString& key) { return entries.value(key); });
        QCOMPARE(HostAppInfo::version(), expected);
    }

    void hostInformation()
    {
        // Until the host says otherwise: the application's own name and version.
        QCOMPARE(HostAppInfo::name(), QStringLiteral("Vantrel"));
        QCOMPARE(HostAppInfo::version(), QStringLiteral("Version 1.0.0 (Build )"));
        QCOMPARE(HostAppInfo::copyright(), QString());

        HostAppInfo::setInformationSource(HostAppInfo::applicationInformation(
            {{"CFBundleVersion", "77"}, {"NSHumanReadableCopyright", "© The Vantrel team"}}));
        QCOMPARE(HostAppInfo::version(), QStringLiteral("Version 1.0.0 (Build 77)"));
        QCOMPARE(HostAppInfo::copyright(), QStringLiteral("© The Vantrel team"));

        HostAppInfo::setInformationSource(HostAppInfo::applicationInformation({{"CFBundleName", QVariant(3)}}));
        QCOMPARE(HostAppInfo::name(), QString());
    }

    void acknowledgmentsURL()
    {
        // Compiled in: copied out so that the desktop can open it.
        const QUrl compiled = HostAppInfo::acknowledgmentsURL();
        QVERIFY(compiled.isLocalFile());
        QFile copy(compiled.toLocalFile());
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QVERIFY(copy.readAll().startsWith("{\\rtf1"));

        QTemporaryDir folder;
        const auto locateIn = [&folder](const QString& name, const QString& type) {
            const QString path = folder.filePath(name + QLatin1Char('.') + type);
            return QFile::exists(path) ? path : QString();
        };
        HostAppInfo::setResourceLocator(locateIn);
        const QString british = folder.filePath(QStringLiteral("Acknowledgements.rtf"));
        QVERIFY(QFile(british).open(QIODevice::WriteOnly));
        QCOMPARE(HostAppInfo::acknowledgmentsURL(), HostAppInfo::supportMailURL());

        const QString named = folder.filePath(QStringLiteral("Acknowledgments.rtf"));
        QVERIFY(QFile(named).open(QIODevice::WriteOnly));
        QCOMPARE(HostAppInfo::acknowledgmentsURL(), QUrl::fromLocalFile(named));
    }

    void credits()
    {
        QVERIFY(QorAppCredits::credits().contains(QStringLiteral("Vantrel team")));

        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("Credits.rtf"));
        HostAppInfo::setResourceLocator([&](const QString& name, const QString&) {
            return name == QLatin1String("Credits") && QFile::exists(path) ? path : QString();
        });

        // A missing resource is a packaging mistake: logged, and the window shows no credits.
        QTest::ignoreMessage(QtWarningMsg, "Unable to find Credits file resource; the about window shows no credits");
        QCOMPARE(QorAppCredits::credits(), QString());

        const auto write = [&](const QByteArray& content) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(content);
        };
        write("not a document");
        QCOMPARE(QorAppCredits::credits(), QString());
        write("{\\rtf1 First}");
        QCOMPARE(QorAppCredits::credits(), QStringLiteral("First"));
        write("{\\rtf1 Second}");
        QCOMPARE(QorAppCredits::credits(), QStringLiteral("Second"));
    }

    void brackwenPreset()
    {
        HostAppInfo::setInformationSource(HostAppInfo::applicationInformation({{"CFBundleVersion", "9"}}));
        const auto model = QorAboutWindow::forBrackwen(QUrl(QStringLiteral("https://brackwen.app/")), sampleIcon());
        const AboutWindowSettings& settings = model->settings();
        QCOMPARE(settings.appName, QStringLiteral("Vantrel"));
        QCOMPARE(settings.appVersion, QStringLiteral("Version 1.0.0 (Build 9)"));
        QCOMPARE(settings.appWebsite, QUrl(QStringLiteral("https://brackwen.app/")));
        QVERIFY(settings.credits.contains(QStringLiteral("Vantrel team")));
        QCOMPARE(settings.contactInfo.email.scheme(), QStringLiteral("mailto"));
        QVERIFY(settings.contactInfo.twitterHandleDescription.startsWith(QLatin1Char('@')));
        QVERIFY(settings.acknowledgments.isLocalFile());
        QCOMPARE(model->appIcon().size(), QSize(256, 256));
    }

    void viewLayout()
    {
        AboutWindowSettings settings = sampleSettings();
        settings.credits = QorAppCredits::credits();
        auto model = std::make_shared<QorAboutWindow>(settings, sampleIcon(), [](const QUrl&) {});
        AboutWindowView view(model);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.size(), QSize(572, 320));
        QCOMPARE(view.findChild<QLabel*>("appIcon")->size(), QSize(152, 152));

        // Only the version line can be selected.
        QVERIFY(view.findChild<QLabel*>("appVersion")->textInteractionFlags() & Qt::TextSelectableByMouse);
        for (const char* name : {"appName", "credits", "copyright"})
            QCOMPARE(view.findChild<QLabel*>(name)->textInteractionFlags() & Qt::TextSelectableByMouse, 0);

        const QString folder = QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../../../screenshots");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(view.grab().save(folder + "/about_window.png"));
    }

    void longCreditsScrollWhileBarsStay()
    {
        AboutWindowSettings settings = sampleSettings();
        settings.credits = QStringLiteral("A line of thanks.\n").repeated(60);
        auto model = std::make_shared<QorAboutWindow>(settings, sampleIcon(), [](const QUrl&) {});
        AboutWindowView view(model);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.size(), QSize(572, 320));
        QVERIFY(view.findChild<QScrollArea*>("aboutScroll")->verticalScrollBar()->maximum() > 0);
        auto* footer = view.findChild<QWidget*>("aboutFooter");
        QVERIFY(footer->isVisible());
        QCOMPARE(footer->geometry().bottom(), view.rect().bottom());
        QVERIFY(view.findChild<QLabel*>("copyright")->isVisible());
    }

    void emptyAndOddSettings()
    {
        AboutWindowSettings settings;
        settings.appName = QStringLiteral("100% <b>Cut</b> %1");
        auto model = std::make_shared<QorAboutWindow>(settings, QPixmap(), [](const QUrl&) {});
        AboutWindowView view(model);
        view.show();
        QCOMPARE(view.size(), QSize(572, 320));
        QCOMPARE(view.findChild<QAbstractButton*>("websiteButton")->text(),
                 QStringLiteral("Visit the 100% <b>Cut</b> %1 Website"));
        QCOMPARE(view.findChild<QLabel*>("appName")->text(), settings.appName);
        QCOMPARE(view.findChild<QLabel*>("appName")->textFormat(), Qt::PlainText);
        QCOMPARE(view.findChild<QAbstractButton*>("emailLink")->text(), QString());
        QCOMPARE(view.findChild<QLabel*>("appVersion")->text(), QString());
    }

    void controllerWindow()
    {
        QCOMPARE(QorAboutWindowController::windowNibName(), QStringLiteral("AboutWindow"));
        Opened opened;
        QorAboutWindowController controller(
            std::make_shared<QorAboutWindow>(sampleSettings(), sampleIcon(), opened.recorder()));
        QWidget* window = controller.window();
        QVERIFY(window->isWindow());
        QCOMPARE(window->minimumSize(), QSize(572, 320));
        QCOMPARE(window->maximumSize(), QSize(572, 320));
        QVERIFY(!(window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(window->windowTitle().isEmpty());
        QVERIFY(!window->isVisible());

        controller.showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->findChild<AboutWindowView*>()->size(), QSize(572, 320));
        window->findChild<QAbstractButton*>("websiteButton")->click();
        QCOMPARE(opened.urls, QList<QUrl>{sampleSettings().appWebsite});
        QVERIFY(window->isVisible());

        QorAboutWindowController empty(static_cast<QWidget*>(nullptr));
        empty.showWindow();
        QCOMPARE(empty.window(), nullptr);
    }
};

QTEST_MAIN(AboutWindowTest)
#include "about_window_test.moc"
