// How the processes holding a folder are named when the editor runs in a sandbox: by the desktop
// entry of the program the launcher runs, found through the launcher.

#include "desktop/folder_users.h"
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
    // Mousepad's case: the editor in bubblewrap, the working folder bound at another path. The
    // launchers (bwrap, and the sandbox's first process that bwrap keeps) hold the folder by their
    // command line, the editor by an open file; all are the one editor of the menu, named once,
    // and by its own entry rather than by one that starts it in a sandbox.
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
        QVERIFY(QDir().mkpath(QFileInfo(editor).path()));
        QVERIFY(QFile::copy(QStandardPaths::findExecutable(QStringLiteral("sleep")), editor));
        writeFile(base.filePath(QStringLiteral("data/applications/film-notes.desktop")),
                  "[Desktop Entry]\nType=Application\nName=Film Notes\nExec=film-notes %F\n");
        writeFile(base.filePath(QStringLiteral("data/applications/film-notes-sandboxed.desktop")),
                  "[Desktop Entry]\nType=Application\nName=Film Notes (Sandboxed)\n"
                  "Exec=bwrap --ro-bind / / --unshare-pid film-notes %F\n");
        qputenv("XDG_DATA_HOME", QFile::encodeName(base.filePath(QStringLiteral("data"))));

        ChildProcess sandboxed;
        QVERIFY2(sandboxed.start(bwrap,
                                 {QStringLiteral("--dev-bind"), QStringLiteral("/"), QStringLiteral("/"),
                                  QStringLiteral("--unshare-pid"), QStringLiteral("--bind"), working, seen,
                                  QStringLiteral("sh"), QStringLiteral("-c"),
                                  QStringLiteral("exec \"$0\" 600 3<\"$1/notes.txt\""), editor, seen},
                                 ChildInput::none(), base.filePath(QStringLiteral("errors"))),
                 qPrintable(sandboxed.describe()));
        const auto editorHolds = [&] {
            for (const FolderUser& user : processesUsingFolder(working)) {
                if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(user.pid)).symLinkTarget() == editor)
                    return true;
            }
            return false;
        };
        QTRY_VERIFY2(editorHolds(), qPrintable(sandboxed.describe()));
        const QList<FolderUser> users = processesUsingFolder(working);
        QSet<QString> names;
        for (const FolderUser& user : users)
            names.insert(user.name);
        QVERIFY(users.size() >= 2);
        QCOMPARE(names, QSet<QString>{QStringLiteral("Film Notes")});
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
