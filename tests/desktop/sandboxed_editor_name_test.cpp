// How the processes holding a folder are named when the editor runs in a sandbox: by the desktop
// entry of the program the launcher runs, found through the launcher.

#include "desktop/folder_users.h"
#include "desktop/launched_applications.h"
#include "desktop/process_names.h"
#include "support/child_process.h"
#include "support/test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

class SandboxedEditorNameTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Mousepad's case: the editor in bubblewrap, the working folder bound at another path, started
    // by a wrapper shell that also runs a D-Bus proxy. The launchers (bwrap, and the sandbox's
    // first process that bwrap keeps) hold the folder by their command line, the shell and the
    // editor by an open file; all are the one editor of the menu, named once: by its own entry
    // rather than by one that starts it in a sandbox, never by the shell or the proxy. Started by
    // this program through the sandboxed entry, they are all the application it started.
    void aSandboxedEditorIsNamedByItsEntryOnce()
    {
        const QString bwrap = QStandardPaths::findExecutable(QStringLiteral("bwrap"));
        if (bwrap.isEmpty()
            || QProcess::execute(bwrap, {QStringLiteral("--dev-bind"), QStringLiteral("/"), QStringLiteral("/"),
                                         QStringLiteral("--unshare-pid"), QStringLiteral("true")})
                   != 0)
            QSKIP("bwrap can't run here (not installed, or no user namespaces).");
        QTemporaryDir base;
        QVERIFY(base.isValid());
        const QString working = base.filePath(QStringLiteral("working"));
        const QString seen = base.filePath(QStringLiteral("sandbox"));
        writeFile(working + QStringLiteral("/notes.txt"), "notes");
        QVERIFY(QDir().mkpath(seen));
        const QString editor = base.filePath(QStringLiteral("bin/film-notes"));
        const QString proxy = base.filePath(QStringLiteral("bin/xdg-dbus-proxy"));
        QVERIFY(QDir().mkpath(QFileInfo(editor).path()));
        QVERIFY(QFile::copy(QStandardPaths::findExecutable(QStringLiteral("sleep")), editor));
        QVERIFY(QFile::copy(QStandardPaths::findExecutable(QStringLiteral("sleep")), proxy));
        writeFile(base.filePath(QStringLiteral("data/applications/film-notes.desktop")),
                  "[Desktop Entry]\nType=Application\nName=Film Notes\nExec=film-notes %F\n");
        writeFile(base.filePath(QStringLiteral("data/applications/film-notes-sandboxed.desktop")),
                  "[Desktop Entry]\nType=Application\nName=Film Notes (Sandboxed)\n"
                  "Exec=bwrap --ro-bind / / --unshare-pid film-notes %F\n");
        qputenv("XDG_DATA_HOME", QFile::encodeName(base.filePath(QStringLiteral("data"))));

        ChildProcess sandboxed;
        QVERIFY2(sandboxed.start(bwrap,
                                 {QStringLiteral("--dev-bind"), QStringLiteral("/"), QStringLiteral("/"),
                                  QStringLiteral("--unshare-pid"), QStringLiteral("--die-with-parent"),
                                  QStringLiteral("--bind"), working, seen, QStringLiteral("sh"), QStringLiteral("-c"),
                                  QStringLiteral("\"$2\" 600 & \"$0\" 600 3<\"$1/notes.txt\"; wait"), editor,
                                  seen, proxy},
                                 ChildInput::none(), base.filePath(QStringLiteral("errors"))),
                 qPrintable(sandboxed.describe()));
        const auto editorHolds = [&] {
            for (const FolderUser& user : processesUsingFolder(working)) {
                if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(user.pid)).symLinkTarget() == editor)
                    return true;
            }
            return false;
        };
        const auto names = [&] {
            QSet<QString> names;
            for (const FolderUser& user : processesUsingFolder(working))
                names.insert(user.name);
            return names;
        };
        QTRY_VERIFY2(editorHolds(), qPrintable(sandboxed.describe()));
        QVERIFY(processesUsingFolder(working).size() >= 2);
        QCOMPARE(names(), QSet<QString>{QStringLiteral("Film Notes")});

        LaunchedApplications::shared().remember(
            {sandboxed.pid(), working + QStringLiteral("/notes.txt"), QStringLiteral("Film Notes (Sandboxed)")});
        QCOMPARE(names(), QSet<QString>{QStringLiteral("Film Notes (Sandboxed)")});
    }

    // Launchers, in a desktop entry's Exec or a process's command line, are looked through to the
    // program they run.
    void launchersAreLookedThrough()
    {
        const auto run = [](const QString& command) { return programRunBy(QProcess::splitCommand(command)); };
        QCOMPARE(run(QStringLiteral("/usr/bin/kdenlive %U")), QStringLiteral("kdenlive"));
        QCOMPARE(run(QStringLiteral("env GDK_BACKEND=x11 /usr/bin/bwrap --bind /a /b --unshare-pid --setenv A 1 "
                                    "--overlay x y z -- /usr/bin/mousepad file")),
                 QStringLiteral("mousepad"));
        QCOMPARE(run(QStringLiteral("bwrap --ro-bind / / --chdir /tmp mousepad")), QStringLiteral("mousepad"));
        QCOMPARE(run(QStringLiteral("/usr/libexec/flatpak-bwrap --args 40 -- mousepad")), QStringLiteral("mousepad"));
        QCOMPARE(run(QStringLiteral("flatpak-spawn --host --env=A=1 kdenlive Cut.kdenlive")),
                 QStringLiteral("kdenlive"));
        QCOMPARE(
            run(QStringLiteral("/usr/bin/flatpak run --branch=stable --command=mousepad org.xfce.mousepad @@ %F @@")),
            QStringLiteral("mousepad"));
        QCOMPARE(run(QStringLiteral("/usr/bin/snap run vlc.vlc")), QStringLiteral("vlc"));
        QCOMPARE(run(QStringLiteral("snap-confine snap.vlc.vlc /usr/lib/snapd/snap-exec vlc")), QStringLiteral("vlc"));
        // A launcher that names nothing to run names nobody.
        QCOMPARE(run(QStringLiteral("bwrap --ro-bind / /")), QString());
        QCOMPARE(run(QStringLiteral("env A=1")), QString());
    }
};

QTEST_GUILESS_MAIN(SandboxedEditorNameTest)
#include "sandboxed_editor_name_test.moc"
