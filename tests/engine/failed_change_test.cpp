// A change that fails before its record leaves none of the contents it stored new, says that
// nothing was done and, when a write failed as on a full share, that the share may be full.

#include "engine/share_outage.h"
#include "engine/storage/storage_error.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/sshfs_share.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <sys/mount.h>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

constexpr qsizetype mib = 1024 * 1024;

// What the store holds besides contents being written: the listing a failed change leaves as
// it found it.
QStringList storeListing(const QString& objects)
{
    QStringList listing = objectsIn(objects) + packsIn(objects) + entriesIn(objects + QStringLiteral("/tmp"));
    listing.sort();
    return listing;
}

// The text of the error `operation` throws, empty when it succeeds.
template<typename Operation>
QString failureText(Operation&& operation)
{
    try {
        operation();
    } catch (const Error& error) {
        return error.localizedDescription();
    }
    return {};
}

// A small tmpfs mounted on a folder for as long as it lives.
struct SmallVolume {
    QString folder;
    bool mounted = false;
    SmallVolume(const QString& path, const char* options) : folder(path)
    {
        QDir().mkpath(folder);
        mounted = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, options) == 0;
    }
    ~SmallVolume()
    {
        if (mounted)
            ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
    }
};

} // namespace

class FailedChangeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A full share (a tmpfs of 64 MiB holding 16 MiB already): an import of 56 MiB (about 95
    // chunks, the first 64 of them in place when the share is full) fails, leaves the store as
    // it found it and says so; once there is room it lands. A check-in then fails alike.
    void aChangeFailedOnAFullShareLeavesNothingAndSaysSo()
    {
        TeamFixture fixture;
        const QString objects = fixture.root() + QStringLiteral("/objects");
        SmallVolume volume(objects, "size=64m");
        if (!volume.mounted)
            QSKIP(qPrintable(QStringLiteral("mounting a tmpfs is not permitted here: ") + std::strerror(errno)));
        QDir().mkpath(objects + QStringLiteral("/tmp"));
        writeFile(objects + QStringLiteral("/ballast"), noise(1, 16 * mib));
        const auto team = fixture.client(QStringLiteral("ana"));
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Edit.blend");
        writeFile(source, noise(2, 56 * mib));

        const QStringList before = storeListing(objects);
        const QString imported = failureText([&] { importInto(team, source); });
        QVERIFY2(imported.startsWith(QStringLiteral("Nothing was imported.")), qPrintable(imported));
        QVERIFY2(imported.contains(QStringLiteral("The share may be full")), qPrintable(imported));
        QCOMPARE(storeListing(objects), before);
        QVERIFY(team->snapshot()->bundles.isEmpty());

        QVERIFY(QFile::remove(objects + QStringLiteral("/ballast")));
        const auto edit = importInto(team, source);
        QCOMPARE(contentOf(syncWait(edit->exportVersion(std::nullopt, fixture.scratch(QStringLiteral("o")),
                                                        defaultS3Factory()))),
                 noise(2, 56 * mib));

        const QString workingCopy = checkOutItem(edit);
        writeFile(workingCopy, noise(3, 56 * mib));
        const QStringList stored = storeListing(objects);
        const QString checkedIn =
            failureText([&] { syncWait(edit->checkIn(QStringLiteral("Graded"), defaultS3Factory())); });
        QVERIFY2(checkedIn.startsWith(QStringLiteral("Nothing was checked in.")), qPrintable(checkedIn));
        QVERIFY2(checkedIn.contains(QStringLiteral("The share may be full")), qPrintable(checkedIn));
        QVERIFY2(checkedIn.contains(QStringLiteral("Your working copy and your message are kept.")),
                 qPrintable(checkedIn));
        QCOMPARE(storeListing(objects), stored);
        QVERIFY(edit->isCheckedOut());
        QCOMPARE(contentOf(workingCopy), noise(3, 56 * mib));
    }

    // sshfs answers a write to a full share with EIO: that too may be a full share, a failed
    // read not.
    void anInputOutputErrorOfAWriteMayBeAFullShare()
    {
        const auto told = [](int error, const char* action) {
            return failureText([&] {
                try {
                    throw StorageError::fromErrno(error, QStringLiteral("/share/objects"), QLatin1String(action));
                } catch (...) {
                    rethrowUnpublished(TeamBundleError::Attempt::import);
                }
            });
        };
        QVERIFY2(told(EIO, "write").contains(QStringLiteral("The share may be full")), qPrintable(told(EIO, "write")));
        QVERIFY(told(EFBIG, "write").contains(QStringLiteral("The share may be full")));
        const QString read = told(EIO, "read");
        QVERIFY2(read.startsWith(QStringLiteral("Nothing was imported.")) && !read.contains(QStringLiteral("full")),
                 qPrintable(read));
    }

    // On sshfs, whose times are to the second: what a failed change stored goes, but not what
    // another computer touched in a later second, nor what this process relied on at once.
    void aFailedChangeOnSshfsKeepsWhatOthersRelyOn()
    {
        if (const QString missing = SshfsShare::missing(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("No sshfs share for this test: missing %1").arg(missing)));
        QTemporaryDir dir;
        SshfsShare share(dir.path());
        QVERIFY2(share.isRunning(), qPrintable(share.error()));
        const QString here = share.mount(QStringLiteral("here"));
        const QString there = share.mount(QStringLiteral("there"));
        QVERIFY2(!here.isEmpty() && !there.isEmpty(), qPrintable(share.error()));
        ContentStore ana(here + QStringLiteral("/objects"), QStringLiteral("ANA"));
        ContentStore ben(there + QStringLiteral("/objects"), QStringLiteral("BEN"));
        const auto content = [](int i) { return noise(10 + i, 3000); };
        {
            ContentStore::Written written(ana);
            ContentStore::Batch batch(ana, &written);
            for (int i = 0; i < 4; ++i)
                batch.storeBytes(content(i));
            batch.finish();
            ana.storeBytes(content(1));
            // Once the second it was stamped in has passed.
            struct stat status {};
            const QString exported = share.exportFolder() + QStringLiteral("/objects/")
                                     + QFileInfo(ana.pathFor(hashBytes(content(2)))).dir().dirName() + u'/'
                                     + hashBytes(content(2)).toHex();
            QVERIFY(::stat(QFile::encodeName(exported).constData(), &status) == 0);
            while (std::time(nullptr) <= status.st_mtim.tv_sec)
                QTest::qSleep(20);
            ben.storeBytes(content(2));
        }
        for (int i = 0; i < 4; ++i)
            QCOMPARE(ana.contains(hashBytes(content(i))), i == 1 || i == 2);
        QCOMPARE(ana.readBytes(hashBytes(content(2))), content(2));
        QVERIFY(entriesIn(share.exportFolder() + QStringLiteral("/objects/tmp")).isEmpty());
    }

    // The share goes away as an import is about to be recorded: what it stored new can't be
    // removed then, and goes at the next poll that reaches the share.
    void contentsLeftWhileTheShareIsGoneGoAtTheNextPoll()
    {
        TeamFixture fixture;
        const auto team = fixture.client(QStringLiteral("ana"));
        const QString objects = fixture.root() + QStringLiteral("/objects");
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Edit.blend");
        writeFile(source, noise(4, 6 * mib));
        const QStringList before = storeListing(objects);
        const QString away = fixture.root() + QStringLiteral(".away");
        team->setCommitObserverForTesting([&](TeamBundle::CommitStep step) {
            if (step == TeamBundle::CommitStep::checking)
                QVERIFY(QDir().rename(fixture.root(), away));
        });
        QVERIFY(!failureText([&] { importInto(team, source); }).isEmpty());
        team->setCommitObserverForTesting({});
        QVERIFY(QDir().rename(away, fixture.root()));
        QVERIFY(storeListing(objects) != before);
        team->poll();
        QCOMPARE(storeListing(objects), before);
    }
};

QTEST_GUILESS_MAIN(FailedChangeTest)
#include "failed_change_test.moc"
