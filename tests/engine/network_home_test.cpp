#include "desktop/system_services.h"
#include "engine/storage/change_watcher.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/sshfs_share.h"
#include "support/sync_wait.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <sys/vfs.h>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

quint64 typeOf(const QString& path)
{
    struct statfs status {};
    return ::statfs(QFile::encodeName(path).constData(), &status) == 0 ? quint64(quint32(status.f_type)) : 0;
}

} // namespace

// A working copy lives in the user's data folder, which may be on a network home: there,
// another computer logged into the same home changes files unseen by this one's watch, and
// this one's lstat may show the state from before the change for a while.
class NetworkHomeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void onlyLocalFileSystemsAreTrusted()
    {
        for (const quint64 local : {0xEF53ULL /* ext4 */, 0x01021994ULL /* tmpfs */, 0x58465342ULL /* xfs */})
            QVERIFY(isLocalFileSystemType(local));
        for (const quint64 remote : {0x65735546ULL /* FUSE */, 0x6969ULL /* NFS */, 0xFE534D42ULL /* SMB */,
                                     0x794C7630ULL /* overlay */, 0x01021997ULL /* 9p */})
            QVERIFY(!isLocalFileSystemType(remote));
        QVERIFY(whyNotLocalFileSystem(QStringLiteral("/proc")));
        // The disks the tests run on.
        QTemporaryDir dir;
        for (const QString& path : {dir.path(), QStringLiteral("/dev/shm")}) {
            if (typeOf(path) == 0xEF53 || typeOf(path) == 0x01021994)
                QVERIFY2(!whyNotLocalFileSystem(path), qPrintable(path));
        }
    }

    // The home is an sshfs mount with its default caching; the edits come through another mount
    // of the same folder and through the exported folder itself.
    void editsMadeElsewhereReachTheVersion()
    {
        if (const QString missing = SshfsShare::missing(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("No sshfs share for this test: missing %1").arg(missing)));
        QTemporaryDir dir;
        SshfsShare share(dir.path());
        QVERIFY2(share.isRunning(), qPrintable(share.error()));
        const QString home = share.mount(QStringLiteral("home"));
        const QString otherComputer = share.mount(QStringLiteral("other"), {QStringLiteral("cache=no")});
        QVERIFY2(!home.isEmpty() && !otherComputer.isEmpty(), qPrintable(share.error()));
        {
            TeamFixture fixture;
            const auto ana =
                TeamBundle::open(fixture.root(), localFileManager(home + QStringLiteral("/ana")),
                                 std::make_shared<RecordingWorkspace>(),
                                 ClientIdentity{QStringLiteral("CLIENT-ANA"),
                                                UserIdentity{QStringLiteral("ana"), QStringLiteral("Ana Editor"),
                                                             QStringLiteral("host-ana")}});
            const QString source = fixture.scratch(QStringLiteral("source")) + QStringLiteral("/Cut.dra");
            writeFile(source + QStringLiteral("/Info.plist"), "info, first");
            writeFile(source + QStringLiteral("/Timeline/main.xml"), "timeline, first");
            writeFile(source + QStringLiteral("/Media/clip"), "clip");
            const Service cut = importInto(ana, source);
            const QString workingCopy = checkOutItem(cut);
            QVERIFY(workingCopy.startsWith(home + u'/'));
            QVERIFY(!ana->changeWatcher().changedFolders(workingCopy));
            QVERIFY(ana->changeWatcher().whyNotWatched(workingCopy)->contains(QStringLiteral("file system")));

            // The same size and a new modification time, which this mount does not show yet; a
            // new size; a new file in a folder this mount has not listed.
            const QString relative = workingCopy.mid(home.size());
            writeFile(share.exportFolder() + relative + QStringLiteral("/Info.plist"), "info, again");
            writeFile(otherComputer + relative + QStringLiteral("/Timeline/main.xml"), "timeline, edited elsewhere");
            writeFile(otherComputer + relative + QStringLiteral("/Added/new"), "added elsewhere");
            const auto expected = describeTree(share.exportFolder() + relative);

            syncWait(cut->checkIn(QStringLiteral("Edited elsewhere"), defaultS3Factory()));
            QCOMPARE(exportedTree(cut, std::nullopt, fixture.scratch(QStringLiteral("export"))), expected);
            QThreadPool::globalInstance()->waitForDone(); // the working copy's removal
        }
    }
};

QTEST_GUILESS_MAIN(NetworkHomeTest)
#include "network_home_test.moc"
