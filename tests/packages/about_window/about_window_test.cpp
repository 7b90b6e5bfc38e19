#include "packages/about_window/about_window_controller.h"
#include "packages/about_window/about_window_model.h"
#include "packages/about_window/about_window_view.h"
#include "packages/about_window/host_app_info.h"

#include "design/dark_theme.h"
#include "design/palette.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
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
        .contactInfo =
            ContactInfo{
                .emailDescription = QStringLiteral("support@vantrel.app"),
                .email = HostAppInfo::mailtoURL(QStringLiteral("support@vantrel.app")),
                .twitterHandleDescription = QStringLiteral("@vantrelapp"),
                .twitterHandle = QUrl(QStringLiteral("https://twitter.com/vantrelapp")),
            },
        .acknowledgments = QUrl::fromLocalFile(QStringLiteral("/opt/vantrel/Acknowledgments.rtf")),
    };
}

// A rounded blue square with the initial.
QPixmap sampleIcon()
{
    QPixmap icon(256, 256);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x3d, 0x8b, 0xfd));
    painter.drawRoundedRect(icon.rect().adjusted(16, 16, -16, -16), 48, 48);
    painter.setPen(Qt::white);
    painter.setFont(QFont(QStringLiteral("Sans"), 100, QFont::Bold));
    painter.drawText(icon.rect(), Qt::AlignCenter, QStringLiteral("V"));
    return icon;
}

std::shared_ptr<QorAboutWindow> modelWith(AboutWindowSettings settings, QList<QUrl>* opened = nullptr)
{
    return std::make_shared<QorAboutWindow>(std::move(settings), sampleIcon(), [opened](const QUrl& url) {
        if (opened)
            opened->append(url);
    });
}

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

    void linksOpenTheirURLs()
    {
        const AboutWindowSettings settings = sampleSettings();
        const QList<std::pair<const char*, QUrl>> links{{"websiteButton", settings.appWebsite},
                                                        {"acknowledgmentsButton", settings.acknowledgments},
                                                        {"emailLink", settings.contactInfo.email},
                                                        {"twitterLink", settings.contactInfo.twitterHandle}};
        for (const auto& [button, expected] : links) {
            QList<QUrl> opened;
            AboutWindowView view(modelWith(settings, &opened));
            view.findChild<QAbstractButton*>(button)->click();
            view.findChild<QAbstractButton*>(button)->click();
            QCOMPARE(opened, (QList<QUrl>{expected, expected}));
        }
        const QUrl mail = HostAppInfo::mailtoURL(QStringLiteral("support@vantrel.app"),
                                                 QStringLiteral(u"Hi & thanks + more=1? Grüße"));
        QCOMPARE(
            mail.toEncoded(),
            QByteArray("mailto:support@vantrel.app?subject=Hi%20%26%20thanks%20%2B%20more%3D1%3F%20Gr%C3%BC%C3%9Fe"));
        QCOMPARE(settings.contactInfo.email.toEncoded(), QByteArray("mailto:support@vantrel.app"));
    }

    void versionLine_data()
    {
        QTest::addColumn<QVariantMap>("entries");
        QTest::addColumn<QString>("expected");
        QTest::newRow("both") << QVariantMap{{"CFBundleShortVersionString", "2.1"}, {"CFBundleVersion", "345"}}
                              << "Version 2.1 (Build 345)";
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
        // Until the host says otherwise: the application's own version.
        HostAppInfo::setInformationSource(HostAppInfo::applicationInformation({{"CFBundleVersion", "77"}}));
        QCOMPARE(HostAppInfo::version(), QStringLiteral("Version 1.0.0 (Build 77)"));
    }

    void acknowledgmentsAreCopiedToTheUsersCache()
    {
        const QUrl compiled = HostAppInfo::acknowledgmentsURL();
        QVERIFY(compiled.isLocalFile());
        QVERIFY(compiled.toLocalFile().startsWith(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
                                                  + QLatin1Char('/')));
        QFile copy(compiled.toLocalFile());
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QVERIFY(copy.readAll().startsWith("{\\rtf1"));

        // A document on disk is opened where it is; without one, the support mail.
        QTemporaryDir folder;
        HostAppInfo::setResourceLocator([&folder](const QString& name, const QString& type) {
            const QString path = folder.filePath(name + QLatin1Char('.') + type);
            return QFile::exists(path) ? path : QString();
        });
        QVERIFY(QFile(folder.filePath(QStringLiteral("Acknowledgements.rtf"))).open(QIODevice::WriteOnly));
        QCOMPARE(HostAppInfo::acknowledgmentsURL().toEncoded(),
                 QByteArray("mailto:support@vantrel.app?subject=Acknowledgements"));
        const QString named = folder.filePath(QStringLiteral("Acknowledgments.rtf"));
        QVERIFY(QFile(named).open(QIODevice::WriteOnly));
        QCOMPARE(HostAppInfo::acknowledgmentsURL(), QUrl::fromLocalFile(named));
    }

    void missingOrUnreadableCreditsAreEmpty()
    {
        QVERIFY(QorAppCredits::credits().contains(QStringLiteral("Vantrel team")));
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("Credits.rtf"));
        HostAppInfo::setResourceLocator(
            [&](const QString&, const QString&) { return QFile::exists(path) ? path : QString(); });
        QTest::ignoreMessage(QtWarningMsg, "Unable to find Credits file resource; the about window shows no credits");
        QCOMPARE(QorAppCredits::credits(), QString());

        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a document");
        file.close();
        QCOMPARE(QorAppCredits::credits(), QString());
    }

    void theViewHasAFixedSize()
    {
        AboutWindowSettings settings = sampleSettings();
        settings.credits = QorAppCredits::credits();
        AboutWindowView view(modelWith(settings));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.size(), QSize(572, 320));
        QVERIFY(view.findChild<QLabel*>("appVersion")->textInteractionFlags() & Qt::TextSelectableByMouse);
        // Version and copyright in style 2, the footer on style 8 of the design palette.
        for (const char* name : {"appVersion", "copyright"})
            QCOMPARE(view.findChild<QLabel*>(name)->palette().color(QPalette::WindowText), design::style(2));
        QCOMPARE(view.findChild<QWidget*>("aboutFooter")->palette().color(QPalette::Window), design::style(8));
        const QString folder = QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../../../screenshots");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(view.grab().save(folder + "/about_window.png"));

        // Long credits scroll while the footer stays.
        settings.credits = QStringLiteral("A line of thanks.\n").repeated(60);
        AboutWindowView scrolling(modelWith(settings));
        scrolling.show();
        QVERIFY(QTest::qWaitForWindowExposed(&scrolling));
        QCOMPARE(scrolling.size(), QSize(572, 320));
        QVERIFY(scrolling.findChild<QScrollArea*>("aboutScroll")->verticalScrollBar()->maximum() > 0);
        QCOMPARE(scrolling.findChild<QWidget*>("aboutFooter")->geometry().bottom(), scrolling.rect().bottom());

        // Empty settings and a name with markup and % show as they are.
        AboutWindowSettings odd;
        odd.appName = QStringLiteral("100% <b>Cut</b> %1");
        AboutWindowView plain(modelWith(odd));
        plain.show();
        QCOMPARE(plain.size(), QSize(572, 320));
        QCOMPARE(plain.findChild<QAbstractButton*>("websiteButton")->text(),
                 QStringLiteral("Visit the 100% <b>Cut</b> %1 Website"));
        QCOMPARE(plain.findChild<QLabel*>("appName")->textFormat(), Qt::PlainText);
    }

    void controllerWindow()
    {
        QList<QUrl> opened;
        QorAboutWindowController controller(modelWith(sampleSettings(), &opened));
        QWidget* window = controller.window();
        QCOMPARE(window->minimumSize(), QSize(572, 320));
        QCOMPARE(window->maximumSize(), QSize(572, 320));
        controller.showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->findChild<QAbstractButton*>("websiteButton")->click();
        QCOMPARE(opened, QList<QUrl>{sampleSettings().appWebsite});

        // Centred when first shown; shown again, open or closed, it stays where the user put it.
        QCOMPARE(window->frameGeometry().center(), window->screen()->availableGeometry().center());
        const QPoint placed = window->pos() + QPoint(-40, 30);
        window->move(placed);
        controller.showWindow();
        QCOMPARE(window->pos(), placed);
        window->close();
        controller.showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->pos(), placed);
        // Left mostly off every screen, it comes back to the centre.
        const QRect screen = window->screen()->availableGeometry();
        window->move(screen.right() - window->width() / 3, placed.y());
        controller.showWindow();
        QCOMPARE(window->frameGeometry().center(), screen.center());

        QorAboutWindowController empty(static_cast<QWidget*>(nullptr));
        empty.showWindow();
        QCOMPARE(empty.window(), nullptr);
    }
};

QTEST_MAIN(AboutWindowTest)
#include "about_window_test.moc"
