// A client packs its journal in segments: each pack holds only the records written since the
// previous one and is never rewritten; fresh readers and polling readers see every record exactly
// once, whatever mix of packs (older full ones included) and single records a folder holds; a
// writer killed while packing (a child process) loses nothing.

#include "desktop/user_identity.h"
#include "engine/journal/journal.h"
#include "engine/journal/journal_files.h"
#include "support/engine_test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <limits>
#include <thread>

#include <sys/inotify.h>
#include <unistd.h>

using namespace vantrel;
using namespace Qt::StringLiterals;
using namespace vantrel::testing;

namespace {

const QString journalChild = QStringLiteral(VANTREL_JOURNAL_CHILD);

// One line per change, duplicates kept: client|seq|sub|lamport|bundle|kind|date|fields.
QStringList fingerprints(const std::vector<JournalRecord>& records)
{
    QStringList lines;
    for (const auto& r : records)
        lines << QStringList{r.stamp.client, QString::number(r.stamp.seq), QString::number(r.stamp.sub),
                             QString::number(r.stamp.lamport), r.bundle.toString(), toText(r.kind),
                             r.date.toString(Qt::ISODateWithMs), QString::fromUtf8(QJsonDocument(r.fields).toJson())}
                     .join(u'|');
    lines.sort();
    return lines;
}

struct Fresh {
    QStringList lines;
    QStringList problems;
};

Fresh readFresh(const QString& journal)
{
    Fresh fresh;
    Journal reader(journal, u"FRESH-READER"_s);
    fresh.lines = fingerprints(reader.readAll(fresh.problems));
    return fresh;
}

std::vector<JournalRecord> write(Journal& journal, const QString& name, int changes = 1)
{
    std::vector<JournalChange> all;
    const auto bundle = IdFor<VersionBundle>::make();
    for (int i = 0; i < changes; ++i)
        all.push_back({bundle, i == 0 ? RecordKind::create : RecordKind::rename, {{u"name"_s, name}}});
    return journal.append(all, UserIdentity::current());
}

QStringList filesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files);
}

// The sequence numbers of the records `lines` describe for `client`, in order.
QList<qint64> sequences(const QStringList& lines, const QString& client)
{
    QList<qint64> seqs;
    for (const QString& line : lines) {
        const QStringList parts = line.split(u'|');
        if (parts[0] == client && parts[2] == u"0"_s)
            seqs << parts[1].toLongLong();
    }
    std::sort(seqs.begin(), seqs.end());
    return seqs;
}

QList<qint64> counting(qint64 upTo)
{
    QList<qint64> seqs;
    for (qint64 seq = 1; seq <= upTo; ++seq)
        seqs << seq;
    return seqs;
}

} // namespace

class JournalPackingTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(QFileInfo(journalChild).isExecutable(), qPrintable(journalChild)); }

    void segmentsHoldOnlyWhatIsNewAndReadBackAsWritten()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"W"_s);
        std::vector<JournalRecord> written;
        std::vector<JournalRecord> polled;
        QStringList problems;
        Journal poller(dir.path(), u"POLLER"_s);
        QByteArray firstPack, tenth, eleventh;
        {
            Journal writer(dir.path(), u"W"_s);
            writer.setPackThresholdForTesting(3);
            for (int n = 1; n <= 10; ++n) {
                const auto records = write(writer, u"Record %1"_s.arg(n), n % 4 == 0 ? 3 : 1);
                written.insert(written.end(), records.begin(), records.end());
                // Appending only notes that a pack is due; the owner packs in the background.
                QCOMPARE(writer.packDue(), n % 3 == 0);
                if (n == 3)
                    QVERIFY(!QFile::exists(folder + u"/pack-000000000001-000000000003.json"_s));
                writer.packIfDue();
                QVERIFY(!writer.packDue());
                const auto fresh = poller.readNew(problems);
                polled.insert(polled.end(), fresh.begin(), fresh.end());
                if (n == 3)
                    firstPack = contentOf(folder + u"/pack-000000000001-000000000003.json"_s);
            }
            tenth = contentOf(recordPath(dir.path(), u"W"_s, 10));
        }
        QCOMPARE(filesOf(folder), (QStringList{u"000000000010.json"_s, u"head"_s,
                                               u"pack-000000000001-000000000003.json"_s,
                                               u"pack-000000000004-000000000006.json"_s,
                                               u"pack-000000000007-000000000009.json"_s}));
        const auto middle = journal_files::splitPack(contentOf(folder + u"/pack-000000000004-000000000006.json"_s));
        QCOMPARE(middle.entries.size(), 3);
        QVERIFY(middle.layoutIntact);
        QCOMPARE(journal_files::decodeRecord(middle.entries[0].bytes).changes.front().stamp.seq, 4);

        // A client restarted packs what is on the share since the last pack, read back.
        {
            Journal writer(dir.path(), u"W"_s);
            writer.setPackThresholdForTesting(3);
            for (int n = 11; n <= 12; ++n) {
                const auto records = write(writer, u"Record %1"_s.arg(n));
                written.insert(written.end(), records.begin(), records.end());
                writer.packIfDue();
                if (n == 11)
                    eleventh = contentOf(recordPath(dir.path(), u"W"_s, 11));
                const auto fresh = poller.readNew(problems);
                polled.insert(polled.end(), fresh.begin(), fresh.end());
            }
        }
        const QByteArray last = contentOf(folder + u"/pack-000000000010-000000000012.json"_s);
        QVERIFY(last.startsWith("[\n" + tenth + ",\n" + eleventh + ",\n"));
        QVERIFY(!QFile::exists(recordPath(dir.path(), u"W"_s, 10)));
        QCOMPARE(contentOf(folder + u"/pack-000000000001-000000000003.json"_s), firstPack); // never rewritten

        const Fresh fresh = readFresh(dir.path());
        QCOMPARE(fresh.problems, QStringList());
        QCOMPARE(fresh.lines, fingerprints(written));
        QCOMPARE(problems, QStringList());
        QCOMPARE(fingerprints(polled), fingerprints(written));
        QCOMPARE(poller.recordState(u"W"_s, 12), RecordState::read);
    }

    void olderPacksAndLeftOversAreReadOnceAndTidied()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"W"_s);
        std::vector<JournalRecord> written;
        Journal writer(dir.path(), u"W"_s);
        writer.setPackThresholdForTesting(3);
        for (int n = 1; n <= 6; ++n) {
            const auto records = write(writer, u"Record %1"_s.arg(n), 2);
            written.insert(written.end(), records.begin(), records.end());
            writer.packIfDue();
        }
        // Beside the segments: the pack an older version made of the same records (all from the
        // first), and a record a crash left behind after it was packed.
        QList<QByteArray> lines;
        for (const QString& name : {u"pack-000000000001-000000000003.json"_s, u"pack-000000000004-000000000006.json"_s}) {
            for (const auto& entry : journal_files::splitPack(contentOf(folder + u'/' + name)).entries)
                lines << entry.bytes.toByteArray();
        }
        writeFile(folder + u"/pack-000000000006.json"_s, journal_files::encodePack(lines));
        writeFile(recordPath(dir.path(), u"W"_s, 5), lines[4]);
        Fresh fresh = readFresh(dir.path());
        QCOMPARE(fresh.problems, QStringList());
        QCOMPARE(fresh.lines, fingerprints(written));

        // The next pack starts after all of them and tidies away what another pack holds.
        for (int n = 7; n <= 9; ++n) {
            const auto records = write(writer, u"Record %1"_s.arg(n));
            written.insert(written.end(), records.begin(), records.end());
            writer.packIfDue();
        }
        QCOMPARE(filesOf(folder), (QStringList{u"head"_s, u"pack-000000000006.json"_s,
                                               u"pack-000000000007-000000000009.json"_s}));
        fresh = readFresh(dir.path());
        QCOMPARE(fresh.problems, QStringList());
        QCOMPARE(fresh.lines, fingerprints(written));

        // A pack that is gone before others: its records are reported missing, the rest reads.
        QVERIFY(QFile::remove(folder + u"/pack-000000000006.json"_s));
        fresh = readFresh(dir.path());
        QCOMPARE(fresh.problems, QStringList{folder + u": records 1 to 6 are missing."_s});
        QCOMPARE(sequences(fresh.lines, u"W"_s), (QList<qint64>{7, 8, 9}));
    }

    void aWriterKilledWhilePackingLosesNothing()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"K"_s);
        const auto run = [&](const QString& client, int records, int threshold, const QStringList& extra,
                             std::optional<qint64> killAfterMicroseconds) {
            QProcess child;
            child.start(journalChild, QStringList{dir.path(), client, QString::number(records),
                                                  QString::number(threshold)} + extra);
            if (!child.waitForStarted() || !child.waitForReadyRead(30'000))
                return -1;
            QElapsedTimer timer;
            timer.start();
            if (killAfterMicroseconds) {
                QThread::usleep(static_cast<unsigned long>(*killAfterMicroseconds));
                child.kill();
            }
            child.waitForFinished(60'000);
            return child.exitStatus() == QProcess::CrashExit ? -2 : child.exitCode();
        };

        // Stopped dead between writing its pack and removing what the pack holds. The pack
        // holds the records written when it started (at least the four that made it due), and
        // each of them is still there.
        QCOMPARE(run(u"K"_s, 6, 4, {u"crash-after-pack"_s}, std::nullopt), 9);
        auto listing = journal_files::listFolder(folder);
        QCOMPARE(listing.packs.size(), size_t(1));
        QCOMPARE(listing.packs[0].first, 1);
        QVERIFY(listing.packs[0].last >= 4);
        for (qint64 seq = 1; seq <= listing.packedUpTo; ++seq)
            QVERIFY(listing.files.contains(seq));
        const qint64 firstRun = listing.files.rbegin()->first;
        Fresh fresh = readFresh(dir.path());
        QCOMPARE(fresh.problems, QStringList());
        QCOMPARE(sequences(fresh.lines, u"K"_s), counting(firstRun));
        // Started again, it goes on after its pack and tidies up with its next one.
        QCOMPARE(run(u"K"_s, 4, 4, {}, std::nullopt), 0);
        listing = journal_files::listFolder(folder);
        QVERIFY(listing.packedUpTo >= 4 + 1);
        QVERIFY(listing.files.empty() || listing.files.begin()->first > listing.packedUpTo);
        fresh = readFresh(dir.path());
        QCOMPARE(fresh.problems, QStringList());
        QCOMPARE(sequences(fresh.lines, u"K"_s), counting(firstRun + 4));

        // Killed at moments spread over its run: every record written is read once, in order,
        // with no gap, and the next run goes on from there. The moments are spread over the
        // quickest of three whole runs (one slowed by a busy machine would spread them past the
        // end), and again until at least four runs were killed.
        qint64 duration = std::numeric_limits<qint64>::max();
        for (int i = 0; i < 3; ++i) {
            QElapsedTimer timer;
            timer.start();
            QCOMPARE(run(u"R"_s, 40, 4, {}, std::nullopt), 0);
            duration = std::min(duration, timer.nsecsElapsed() / 1000);
        }
        duration = std::max<qint64>(duration, 2000);
        qint64 before = 3 * 40;
        int killed = 0;
        for (int i = 1; i <= 36 && (i <= 12 || killed < 4); ++i) {
            const int status = run(u"R"_s, 40, 4, {}, duration * ((i - 1) % 12 + 1) / 13);
            killed += status == -2 ? 1 : 0;
            fresh = readFresh(dir.path());
            QCOMPARE(fresh.problems, QStringList());
            const auto seqs = sequences(fresh.lines, u"R"_s);
            QVERIFY(seqs.size() >= before);
            for (qsizetype at = 0; at < seqs.size(); ++at)
                QCOMPARE(seqs[at], at + 1);
            before = seqs.size();
        }
        QVERIFY2(killed >= 4, qPrintable(u"only %1 runs were killed"_s.arg(killed)));
        QCOMPARE(run(u"R"_s, 40, 4, {}, std::nullopt), 0);
        fresh = readFresh(dir.path());
        QCOMPARE(fresh.problems, QStringList());
        QCOMPARE(sequences(fresh.lines, u"R"_s).size(), before + 40);
    }

    // A pack is written on a thread of its own: appends go on meanwhile, and readers (fresh ones
    // and polling ones) see every record exactly once whether they read before the records the
    // pack holds are removed or halfway through.
    void appendsAndReadersGoOnWhileAPackIsWritten()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"W"_s);
        std::vector<JournalRecord> written, polled;
        QStringList problems;
        Journal poller(dir.path(), u"POLLER"_s);
        Journal writer(dir.path(), u"W"_s);
        writer.setPackThresholdForTesting(3);
        const auto append = [&](int n) {
            const auto records = write(writer, u"Record %1"_s.arg(n), 2);
            written.insert(written.end(), records.begin(), records.end());
        };
        const auto poll = [&] {
            const auto fresh = poller.readNew(problems);
            polled.insert(polled.end(), fresh.begin(), fresh.end());
        };
        for (int n = 1; n <= 3; ++n)
            append(n);
        QVERIFY(writer.packDue());

        // The packing thread stops once the pack is written, and again after one record is gone.
        QSemaphore reached, resume;
        std::atomic<bool> stalled = false;
        writer.setPackObserverForTesting([&](int removed) {
            if (removed > 1)
                return;
            reached.release();
            if (!resume.tryAcquire(1, 30'000))
                stalled = true;
        });
        std::thread packer([&] { writer.packIfDue(); });
        QVERIFY(reached.tryAcquire(1, 30'000));
        append(4);
        append(5);
        QVERIFY(QFile::exists(folder + u"/pack-000000000001-000000000003.json"_s));
        QCOMPARE(readFresh(dir.path()).lines, fingerprints(written));
        poll();

        resume.release();
        QVERIFY(reached.tryAcquire(1, 30'000));
        QVERIFY(!QFile::exists(recordPath(dir.path(), u"W"_s, 1)));
        append(6);
        QCOMPARE(readFresh(dir.path()).lines, fingerprints(written));
        poll();
        resume.release();
        packer.join();
        QVERIFY(!stalled); // appends and reads never waited for the pack
        QCOMPARE(filesOf(folder), (QStringList{u"000000000004.json"_s, u"000000000005.json"_s, u"000000000006.json"_s,
                                               u"head"_s, u"pack-000000000001-000000000003.json"_s}));

        // What was written meanwhile makes the next pack, from memory, after the first.
        QVERIFY(writer.packDue());
        writer.setPackObserverForTesting({});
        writer.packIfDue();
        QCOMPARE(filesOf(folder), (QStringList{u"head"_s, u"pack-000000000001-000000000003.json"_s,
                                               u"pack-000000000004-000000000006.json"_s}));
        poll();
        const Fresh fresh = readFresh(dir.path());
        QCOMPARE(fresh.problems, QStringList());
        QCOMPARE(fresh.lines, fingerprints(written));
        QCOMPARE(problems, QStringList());
        QCOMPARE(fingerprints(polled), fingerprints(written));
    }

    // Two processes writing as one client take turns for sequence numbers and pack each other's
    // records in the background, while a reader polls: nothing is lost or read twice.
    void twoProcessesOfOneClientPackWithoutHarm()
    {
        QTemporaryDir dir;
        QProcess first, second;
        for (QProcess* child : {&first, &second})
            child->start(journalChild, QStringList{dir.path(), u"S"_s, u"60"_s, u"4"_s});
        std::vector<JournalRecord> polled;
        QStringList problems;
        Journal poller(dir.path(), u"POLLER"_s);
        while (first.state() != QProcess::NotRunning || second.state() != QProcess::NotRunning) {
            const auto fresh = poller.readNew(problems);
            polled.insert(polled.end(), fresh.begin(), fresh.end());
            first.waitForFinished(5);
            second.waitForFinished(5);
        }
        for (QProcess* child : {&first, &second}) {
            QCOMPARE(child->exitStatus(), QProcess::NormalExit);
            QCOMPARE(child->exitCode(), 0);
            QCOMPARE(child->readAllStandardError(), QByteArray());
        }
        const auto fresh = poller.readNew(problems);
        polled.insert(polled.end(), fresh.begin(), fresh.end());

        const Fresh all = readFresh(dir.path());
        QCOMPARE(all.problems, QStringList());
        QCOMPARE(sequences(all.lines, u"S"_s), counting(120));
        QCOMPARE(all.lines.size(), 240);
        QCOMPARE(problems, QStringList());
        QCOMPARE(fingerprints(polled), all.lines);
        QVERIFY(journal_files::listFolder(dir.filePath(u"S"_s)).packedUpTo > 0);
    }

    // A process writing as a client that another one passed and packed since takes the number
    // after the pack without publishing one the pack holds, even for a moment: a reader would
    // fold that stray in place of the packed record.
    void aWriterLeftBehindNeverPublishesAPackedNumber()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"S"_s);
        Journal behind(dir.path(), u"S"_s), ahead(dir.path(), u"S"_s), poller(dir.path(), u"POLLER"_s);
        ahead.setPackThresholdForTesting(1);
        std::vector<JournalRecord> written;
        for (int n = 1; n <= 3; ++n) {
            const auto records = write(behind, u"Behind %1"_s.arg(n));
            written.insert(written.end(), records.begin(), records.end());
        }
        QStringList problems;
        std::vector<JournalRecord> polled = poller.readNew(problems);
        const auto passed = write(ahead, u"Ahead"_s);
        written.insert(written.end(), passed.begin(), passed.end());
        ahead.packIfDue();
        QCOMPARE(filesOf(folder), (QStringList{u"head"_s, u"pack-000000000001-000000000004.json"_s}));

        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0 && inotify_add_watch(watch, QFile::encodeName(folder).constData(), IN_CREATE) >= 0);
        const auto next = write(behind, u"Behind again"_s);
        written.insert(written.end(), next.begin(), next.end());
        QStringList created;
        alignas(inotify_event) char events[8192];
        for (ssize_t size; (size = ::read(watch, events, sizeof events)) > 0;) {
            for (char* at = events; at < events + size; at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(at)->len) {
                const QString name = QFile::decodeName(reinterpret_cast<inotify_event*>(at)->name);
                if (name.endsWith(u".json"_s) && !name.startsWith(u'.'))
                    created << name;
            }
        }
        ::close(watch);
        QCOMPARE(created, QStringList{u"000000000005.json"_s});
        QCOMPARE(next.front().stamp.seq, 5);

        const auto fresh = poller.readNew(problems);
        polled.insert(polled.end(), fresh.begin(), fresh.end());
        QCOMPARE(problems, QStringList());
        QCOMPARE(fingerprints(polled), fingerprints(written));
        QCOMPARE(readFresh(dir.path()).lines, fingerprints(written));
    }
};

QTEST_GUILESS_MAIN(JournalPackingTest)
#include "journal_packing_test.moc"
