// The real program on a real X server (Xvfb, on a display of its own): it opens the team bundle
// given on its command line in a window that the screen shows painted, and a second start's quit
// link ends it with exit status 0. Skipped where Xvfb or xwininfo is not installed.

#include "model/support/item_test_support.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

constexpr int startTimeoutMs = 60000;

// Waits for `ready`, polling every 100 ms for at most `timeoutMs`.
bool poll(const std::function<bool()>& ready, int timeoutMs = startTimeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 100) {
        if (ready())
            return true;
        QTest::qWait(100);
    }
    return ready();
}

// An X server of the test's own, on the first free display.
class XServer {
public:
    bool start(const QString& program)
    {
        // It writes the display it took to our standard output once it accepts clients.
        m_process.start(program, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                  QStringLiteral("0"), QStringLiteral("1920x1080x24"), QStringLiteral("-nolisten"),
                                  QStringLiteral("tcp")});
        if (!m_process.waitForStarted())
            return false;
        QByteArray out;
        const bool announced = poll([&] {
            out += m_process.readAllStandardOutput();
            return out.contains('\n') || m_process.state() == QProcess::NotRunning;
        });
        bool isNumber = false;
        const int number = out.trimmed().toInt(&isNumber);
        if (!announced || !isNumber)
            return false;
        m_display = QStringLiteral(":%1").arg(number);
        return true;
    }

    QString display() const { return m_display; }
    QString errors() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }

    ~XServer()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }

private:
    QProcess m_process;
    QString m_display;
};

struct WindowGeometry {
    QRect rect;
    bool found = false;
};

// The largest top-level window titled `title` on `display`, as xwininfo lists it.
WindowGeometry findWindow(const QString& xwininfo, const QString& display, const QString& title)
{
    QProcess process;
    process.start(xwininfo, {QStringLiteral("-display"), display, QStringLiteral("-root"), QStringLiteral("-tree")});
    if (!process.waitForFinished(10000))
        return {};
    // e.g.  0x400007 "Vantrel": ("vantrel" "vantrel")  1150x600+0+0  +0+0
    const QRegularExpression line(
        QStringLiteral("\"%1\": \\([^)]*\\)\\s+(\\d+)x(\\d+)[+-]-?\\d+[+-]-?\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)")
            .arg(QRegularExpression::escape(title)));
    WindowGeometry best;
    const QString listing = QString::fromLocal8Bit(process.readAllStandardOutput());
    for (auto it = line.globalMatch(listing); it.hasNext();) {
        const auto match = it.next();
        const QRect rect(match.captured(3).toInt(), match.captured(4).toInt(), match.captured(1).toInt(),
                         match.captured(2).toInt());
        if (!best.found || rect.width() * rect.height() > best.rect.width() * best.rect.height())
            best = {rect, true};
    }
    return best;
}

// The number of different colours in `area` of `image`, counted up to `enough`.
int colourCount(const QImage& image, const QRect& area, int enough)
{
    QSet<QRgb> colours;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); y += 2) {
        for (int x = inside.left(); x <= inside.right() && colours.size() < enough; ++x)
            colours.insert(image.pixel(x, y));
    }
    return int(colours.size());
}

// The mean brightness (0-255) of `area` of `image`.
double brightness(const QImage& image, const QRect& area)
{
    double sum = 0;
    qint64 count = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); y += 4) {
        for (int x = inside.left(); x <= inside.right(); x += 4, ++count)
            sum += qGray(image.pixel(x, y));
    }
    return count ? sum / double(count) : 0;
}

} // namespace

class X11SessionTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theProgramShowsItsWindowAndQuitsByLink()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            QSKIP("Xvfb is not installed (Debian package xvfb): the program is not started on an X server.");
        const QString xwininfo = QStandardPaths::findExecutable(QStringLiteral("xwininfo"));
        if (xwininfo.isEmpty())
            QSKIP("xwininfo is not installed (Debian package x11-utils): the program's window cannot be found.");

        XServer server;
        QVERIFY2(server.start(xvfb), qPrintable(QStringLiteral("Xvfb did not start: ") + server.errors()));

        TeamFixture fixture;
        newCollection(fixture.client(QStringLiteral("Ana")), QStringLiteral("Feature Film"));
        const QString bundleName = QFileInfo(fixture.root()).fileName();

        // A home of its own, on the X server: the test's own offscreen platform is not handed on.
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
            const QString folder = home.filePath(QLatin1String(name));
            QVERIFY(QDir().mkpath(folder));
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            environment.insert(QLatin1String(name), folder);
        }
        for (const char* name : {"WAYLAND_DISPLAY", "XAUTHORITY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("DISPLAY"), server.display());
        const auto start = [&](const QString& program, const QStringList& arguments) {
            auto process = std::make_unique<QProcess>();
            process->setProcessEnvironment(environment);
            process->setProcessChannelMode(QProcess::MergedChannels);
            process->start(program, arguments);
            return process;
        };
        const QString settingsPath = home.filePath(QStringLiteral("XDG_CONFIG_HOME/Vantrel/Vantrel.ini"));
        const auto settings = [&] {
            QFile file(settingsPath);
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        };

        // The first start opens the team bundle: its window takes the team window's size.
        const auto first = start(QStringLiteral(VANTREL_PROGRAM), {fixture.root()});
        QVERIFY(first->waitForStarted());
        WindowGeometry window;
        const bool shown = poll([&] {
            window = findWindow(xwininfo, server.display(), QStringLiteral("Vantrel"));
            return (window.found && window.rect.width() >= 1000) || first->state() == QProcess::NotRunning;
        });
        QVERIFY2(shown && window.found && first->state() == QProcess::Running, first->readAll().constData());
        QVERIFY2(poll([&] { return settings().contains(bundleName); }), first->readAll().constData());

        // The screen shows the window painted in the dark theme, text and all.
        const QString picture =
            QDir(QStringLiteral(VANTREL_SCREENSHOT_DIR)).filePath(QStringLiteral("x11_team_window.png"));
        QVERIFY(QDir().mkpath(QFileInfo(picture).path()));
        QImage screen;
        const bool painted = poll([&] {
            const auto grab = start(QStringLiteral(VANTREL_SCREEN_GRAB), {picture});
            if (!grab->waitForFinished(startTimeoutMs) || grab->exitCode() != 0 || !screen.load(picture))
                return false;
            return colourCount(screen, window.rect, 40) >= 40;
        });
        QVERIFY2(painted, qPrintable(QStringLiteral("the window at %1,%2 %3x%4 is not painted; see %5")
                                         .arg(window.rect.x())
                                         .arg(window.rect.y())
                                         .arg(window.rect.width())
                                         .arg(window.rect.height())
                                         .arg(picture)));
        QCOMPARE(screen.size(), QSize(1920, 1080));
        QVERIFY(brightness(screen, window.rect) < 96);

        // A second start hands the quit link over and ends; the first one then ends by itself.
        const auto second = start(QStringLiteral(VANTREL_PROGRAM), {QStringLiteral("vantrel://quit")});
        QVERIFY(second->waitForFinished(startTimeoutMs));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        const bool ended = first->waitForFinished(startTimeoutMs);
        const QByteArray output = first->readAll();
        QVERIFY2(ended, output.constData());
        QCOMPARE(first->exitStatus(), QProcess::NormalExit);
        QVERIFY2(first->exitCode() == 0, output.constData());
        QVERIFY(!findWindow(xwininfo, server.display(), QStringLiteral("Vantrel")).found);
    }
};

QTEST_GUILESS_MAIN(X11SessionTest)
#include "x11_session_test.moc"
