// The desktop's applications in a desktop of the test's own (XDG folders with fake desktop
// entries, a mimeapps.list and a MIME subclass), launched as real processes.

#include "desktop/application_locator.h"
#include "desktop/desktop_launch.h"
#include "desktop/launched_applications.h"
#include "desktop/system_services.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>
#include <unistd.h>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

void writeFile(const QString& path, const QByteArray& contents, bool executable = false)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(file.write(contents) == contents.size());
    file.close();
    if (executable)
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
}

QByteArray entry(const char* name, const QString& exec, const char* mimeTypes, const char* extra = "")
{
    return QByteArray("[Desktop Entry]\nType=Application\nName=") + name + "\nExec=" + exec.toUtf8()
           + " %f\nMimeType=" + mimeTypes + "\n" + extra;
}

// The MIME types the program's table of document types gives files of these extensions.
QStringList mimeTypesOf(const QString& extension)
{
    static const QHash<QString, QStringList> known{
        {QStringLiteral("pdf"), {QStringLiteral("application/pdf")}},
        {QStringLiteral("srt"),
         {QStringLiteral("application/x-subrip"), QStringLiteral("text/x-ssa"), QStringLiteral("text/vtt")}},
        {QStringLiteral("kdenlive"), {QStringLiteral("application/x-kdenlive")}},
        {QStringLiteral("ardour"), {QStringLiteral("application/x-ardour")}},
        {QStringLiteral("blend"), {QStringLiteral("application/x-blender")}},
    };
    return known.value(extension);
}

FileKind kindOf(const QString& path)
{
    const QStringList mimeTypes = mimeTypesOf(QFileInfo(path).suffix());
    return {mimeTypes, !mimeTypes.isEmpty()};
}

std::optional<LaunchError> failureOf(QCoro::Task<> task)
{
    try {
        syncWait(std::move(task));
    } catch (const LaunchError& error) {
        return error;
    }
    return std::nullopt;
}

} // namespace

class DesktopLaunchTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;

    QString path(const QString& relative) const { return m_root.filePath(relative); }

private Q_SLOTS:
    // GLib reads these once, at its first use, so they are set before anything asks it.
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        qputenv("XDG_DATA_HOME", path(QStringLiteral("home")).toUtf8());
        // The system's MIME database, and none of its applications.
        QVERIFY(QDir().mkpath(path(QStringLiteral("mime-database"))));
        QVERIFY(QFile::link(QStringLiteral("/usr/share/mime"), path(QStringLiteral("mime-database/mime"))));
        qputenv("XDG_DATA_DIRS",
                (path(QStringLiteral("system")) + u':' + path(QStringLiteral("mime-database"))).toUtf8());
        qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toUtf8());
        qputenv("XDG_CONFIG_DIRS", path(QStringLiteral("system-config")).toUtf8());
        // No desktop session at all: no desktop name, no session bus, no display.
        for (const char* name : {"XDG_CURRENT_DESKTOP", "DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY"})
            qunsetenv(name);

        const QString apps = path(QStringLiteral("system/applications/"));
        // Listed first by the folders: what the desktop entries alone would choose for a PDF.
        writeFile(path(QStringLiteral("home/applications/okular.desktop")),
                  entry("Okular", QStringLiteral("/bin/true"), "application/pdf;", "X-Vantrel-Version=23.08.4\n"));
        writeFile(apps + QStringLiteral("org.gnome.Evince.desktop"),
                  entry("Evince", QStringLiteral("/bin/true"), "application/pdf;"));
        writeFile(apps + QStringLiteral("mousepad.desktop"),
                  entry("Mousepad", QStringLiteral("/bin/true"), "text/plain;"));
        writeFile(path(QStringLiteral("record.sh")),
                  "#!/bin/sh\nprintf '%s\\n' \"$1\" > \"$(dirname \"$0\")/recorded\"\nexec sleep 60\n", true);
        writeFile(apps + QStringLiteral("recorder.desktop"),
                  entry("Recorder", path(QStringLiteral("record.sh")), "application/x-kdenlive;",
                        "X-Vantrel-Version=24.02.1\n"));
        writeFile(path(QStringLiteral("broken.sh")), "#!/bin/sh\nexit 3\n", true);
        writeFile(apps + QStringLiteral("broken.desktop"),
                  entry("Broken", path(QStringLiteral("broken.sh")), "application/x-blender;"));
        writeFile(path(QStringLiteral("config/mimeapps.list")),
                  "[Default Applications]\napplication/pdf=org.gnome.Evince.desktop;\n"
                  "text/plain=mousepad.desktop;\n");
        // As shared-mime-info says: a SubRip file is plain text too.
        writeFile(path(QStringLiteral("system/mime/subclasses")), "application/x-subrip text/plain\n");
    }

    void theUsersDefaultsComeBeforeTheEntriesAlone()
    {
        ApplicationLocator locator;
        QCOMPARE(locator.find(mimeTypesOf(QStringLiteral("pdf")))->name, QStringLiteral("Evince"));
        // The default text editor opens subtitles, though no entry names a subtitle type.
        QCOMPARE(locator.find(mimeTypesOf(QStringLiteral("srt")))->desktopEntryId, QStringLiteral("mousepad.desktop"));
        // Without a default, the application whose entry lists the type; its record as before.
        QCOMPARE(locator.find(mimeTypesOf(QStringLiteral("kdenlive"))),
                 (std::optional<InstalledApplication>(InstalledApplication{
                     QStringLiteral("Recorder"), QStringLiteral("24.02.1"), QStringLiteral("recorder.desktop")})));
        QCOMPARE(locator.find(mimeTypesOf(QStringLiteral("ardour"))), std::nullopt);
        // A locator given its own folders reads only those, as before.
        const auto own =
            ApplicationLocator({path(QStringLiteral("home/applications"))}).find(mimeTypesOf(QStringLiteral("pdf")));
        QCOMPARE(own->name, QStringLiteral("Okular"));
    }

    void theApplicationStartsDetachedOnThePathAndIsRemembered()
    {
        const QString working = path(QStringLiteral("working/Cut.kdenlive"));
        writeFile(working, "<mlt/>");
        SystemWorkspace desktop(kindOf);
        syncWait(desktop.open(QUrl::fromLocalFile(working)));

        const auto launches = LaunchedApplications::shared().runningInside(path(QStringLiteral("working")));
        QCOMPARE(launches.size(), 1);
        const qint64 pid = launches.first().pid;
        QCOMPARE(launches.first().path, working);
        QCOMPARE(launches.first().applicationName, QStringLiteral("Recorder"));
        QFile recorded(path(QStringLiteral("recorded")));
        QTRY_VERIFY(recorded.exists() && recorded.size() > 0);
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(recorded.readAll()).trimmed(), working);
        // Still running after the first moments, in a session of its own.
        QCOMPARE(::kill(static_cast<pid_t>(pid), 0), 0);
        QVERIFY(::getsid(static_cast<pid_t>(pid)) != ::getsid(0));

        ::kill(static_cast<pid_t>(pid), SIGTERM);
        QTRY_VERIFY(LaunchedApplications::shared().runningInside(path(QStringLiteral("working"))).isEmpty());
    }

    void whatDoesNotOpenSaysWhy()
    {
        SystemWorkspace desktop(kindOf);
        const QString blend = path(QStringLiteral("working/Scene.blend"));
        writeFile(blend, "BLENDER");
        const auto exited = failureOf(desktop.open(QUrl::fromLocalFile(blend)));
        QVERIFY(exited);
        QCOMPARE(exited->kind(), LaunchError::Case::exitedAtOnce);
        QVERIFY(exited->localizedDescription().contains(QStringLiteral("Broken")));
        QVERIFY(exited->localizedDescription().contains(QStringLiteral("exit status 3")));
        QVERIFY(exited->localizedDescription().contains(QStringLiteral("“Scene.blend”")));

        const QString session = path(QStringLiteral("working/Mix.ardour"));
        writeFile(session, "<Session/>");
        const auto none = failureOf(desktop.open(QUrl::fromLocalFile(session)));
        QVERIFY(none);
        QCOMPARE(none->kind(), LaunchError::Case::noApplication);
        QVERIFY(none->localizedDescription().contains(QStringLiteral("“Mix.ardour”")));

        // Nothing shows folders here: neither opening one nor revealing a file in it works.
        const QString archive = path(QStringLiteral("downloads/Vantrel Logs.zip"));
        writeFile(archive, "PK");
        const auto folder = failureOf(desktop.open(QUrl::fromLocalFile(path(QStringLiteral("downloads")))));
        QVERIFY(folder);
        QCOMPARE(folder->kind(), LaunchError::Case::noFileManager);
        const auto reveal = failureOf(desktop.revealInFileManager(archive));
        QVERIFY(reveal);
        QCOMPARE(reveal->kind(), LaunchError::Case::noFileManager);
        QVERIFY(reveal->localizedDescription().contains(archive));
        // Titles are short texts of their own, never a path.
        for (const auto& error : {*exited, *none, *reveal})
            QVERIFY(error.failureReason() && !error.failureReason()->contains(u'/'));
    }

    void aDefaultChosenWhileRunningOpensTheNextDocument()
    {
        // Two subtitle editors that note which of them started, then end well.
        const QString apps = path(QStringLiteral("home/applications/"));
        for (const char* name : {"one", "other"}) {
            const QString script = path(QStringLiteral("%1.sh").arg(QLatin1String(name)));
            writeFile(script, "#!/bin/sh\nbasename \"$0\" >> \"$(dirname \"$0\")/told\"\n", true);
            writeFile(apps + QLatin1String(name) + QStringLiteral(".desktop"),
                      entry(name, script, "application/x-subrip;"));
        }
        const QString defaults = path(QStringLiteral("config/mimeapps.list"));
        QFile original(defaults);
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray before = original.readAll();
        original.close();
        const auto choose = [&](const char* entryId) {
            writeFile(defaults, before + "application/x-subrip=" + entryId + ";\n");
            // The desktop notices the change by itself, a moment later.
            QTRY_COMPARE(desktop::defaultApplication({QStringLiteral("application/x-subrip")})->desktopEntryId,
                         QString::fromLatin1(entryId));
        };
        const QString subtitles = path(QStringLiteral("working/Cut.srt"));
        writeFile(subtitles, "1\n00:00:01,000 --> 00:00:02,000\nHello\n");
        QFile told(path(QStringLiteral("told")));
        SystemWorkspace desktop(kindOf);

        choose("one.desktop");
        syncWait(desktop.open(QUrl::fromLocalFile(subtitles)));
        choose("other.desktop"); // as xdg-mime default or a file manager's Open With would
        syncWait(desktop.open(QUrl::fromLocalFile(subtitles)));
        QTRY_VERIFY(told.size() >= 12);
        QVERIFY(told.open(QIODevice::ReadOnly));
        QCOMPARE(told.readAll(), QByteArray("one.sh\nother.sh\n"));
        writeFile(defaults, before);
    }

    // A kind of file the program's table does not know opens in the desktop's choice for it, as
    // the desktop makes it while the program runs: the choice is not kept from an earlier look.
    void aFileOfAnotherKindOpensInTheDesktopsChoiceOfTheMoment()
    {
        const QStringList matroska{QStringLiteral("video/x-matroska")};
        QCOMPARE(desktop::mimeTypesForExtension(QStringLiteral("mkv")), matroska);
        QCOMPARE(desktop::mimeTypeDescription(matroska.first()), QStringLiteral("Matroska video"));
        QCOMPARE(desktop::mimeTypeDescription(QStringLiteral("no/such-type")), QString());
        QCOMPARE(ApplicationLocator::desktop().find(matroska), std::nullopt);

        // Its entry lists no type: chosen as the default (xdg-mime default), it counts all the same.
        writeFile(path(QStringLiteral("home/applications/clipper.desktop")),
                  entry("Clipper", path(QStringLiteral("record.sh")), ""));
        const QString defaults = path(QStringLiteral("config/mimeapps.list"));
        QFile original(defaults);
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray before = original.readAll();
        original.close();
        writeFile(defaults, before + "video/x-matroska=clipper.desktop;\n");
        QTRY_VERIFY(ApplicationLocator::desktop().find(matroska).has_value());
        QCOMPARE(ApplicationLocator::desktop().find(matroska)->name, QStringLiteral("Clipper"));

        const QString clip = path(QStringLiteral("clips/Clip.mkv"));
        writeFile(clip, "\x1a\x45\xdf\xa3");
        SystemWorkspace workspace([](const QString& file) {
            return FileKind{desktop::mimeTypesForExtension(QFileInfo(file).suffix()), false};
        });
        syncWait(workspace.open(QUrl::fromLocalFile(clip)));
        const auto launches = LaunchedApplications::shared().runningInside(path(QStringLiteral("clips")));
        QCOMPARE(launches.size(), 1);
        QCOMPARE(launches.first().applicationName, QStringLiteral("Clipper"));
        ::kill(static_cast<pid_t>(launches.first().pid), SIGTERM);
        QTRY_VERIFY(LaunchedApplications::shared().runningInside(path(QStringLiteral("clips"))).isEmpty());
        writeFile(defaults, before);
    }
};

QTEST_GUILESS_MAIN(DesktopLaunchTest)
#include "desktop_launch_test.moc"
