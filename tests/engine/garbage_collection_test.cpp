// Garbage collection against what another computer is still storing: a collector whose clock is
// days or a year off (a child process under libfaketime, the files keeping the stamps the share
// gave them) removes what is old by the share's clock and nothing an unpublished import or
// check-in holds, whole files and chunks alike; a collector whose view of the journal lacks a
// record removes nothing.
//
// VANTREL_GC_CAMPAIGN_ROUNDS sets how many rounds the campaign runs (a few by default).

#include "engine/document_type.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/tree_snapshot.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr qint64 day = 24 * 3600;
// Larger than chunking::threshold: stored in chunks.
constexpr qsizetype largeSize = 4 * 1024 * 1024 + 300 * 1024;

QString libfaketime()
{
    QStringList candidates{u"/usr/lib/faketime/libfaketime.so.1"_s, u"/usr/local/lib/faketime/libfaketime.so.1"_s};
    for (const QString& folder : QDir(u"/usr/lib"_s).entryList({u"*-linux-gnu"_s}, QDir::Dirs))
        candidates.prepend(u"/usr/lib/"_s + folder + u"/faketime/libfaketime.so.1"_s);
    for (const QString& candidate : std::as_const(candidates)) {
        if (QFile::exists(candidate))
            return candidate;
    }
    return {};
}

// Starts a collection as `user` with this computer's clock `offset` seconds off.
void startCollection(QProcess& child, const TeamFixture& fixture, const QString& user, qint64 offset)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"LD_PRELOAD"_s, libfaketime());
    environment.insert(u"FAKETIME"_s, (offset < 0 ? u"-"_s : u"+"_s) + QString::number(std::abs(offset)));
    environment.insert(u"NO_FAKE_STAT"_s, u"1"_s); // stamps stay the share's, as on a skewed computer
    environment.insert(u"FAKETIME_DONT_FAKE_MONOTONIC"_s, u"1"_s);
    child.setProcessEnvironment(environment);
    child.start(QStringLiteral(VANTREL_COLLECT_CHILD),
                {fixture.root(), fixture.localFolder(user), u"CLIENT-"_s + user.toUpper(), QString::number(day)});
}

// How many contents the collection removed; -1 when it failed or its clock was not `offset` off.
int finishCollection(QProcess& child, qint64 offset)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (child.state() != QProcess::NotRunning) // it may have ended while an event loop ran
        child.waitForFinished(-1);
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        qWarning("collect_child (exit %d): %s", child.exitCode(), child.readAllStandardError().constData());
        return -1;
    }
    const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
    const qint64 clock = lines.value(0).mid(6).toLongLong();
    if (!lines.value(0).startsWith("clock ") || std::abs(clock - now - offset * 1000) > 3600 * 1000) {
        qWarning("the child's clock was not set off by %lld s: %s", qlonglong(offset), lines.value(0).constData());
        return -1;
    }
    return lines.value(1).startsWith("removed ") ? lines.value(1).mid(8).toInt() : -1;
}

// Makes every object stored so far look written `seconds` ago.
void ageObjects(const QString& storeFolder, qint64 seconds)
{
    for (const QString& shard : entriesIn(storeFolder)) {
        if (shard == u"tmp")
            continue;
        if (shard == u"packs") {
            for (const QString& pack : packsIn(storeFolder))
                setAge(storeFolder + u"/packs/"_s + pack, seconds);
            continue;
        }
        for (const QString& object : entriesIn(storeFolder + u'/' + shard))
            setAge(storeFolder + u'/' + shard + u'/' + object, seconds);
    }
}

// A source folder: a small file and a large one (chunked), both made of `seed`.
QString makeSource(const TeamFixture& fixture, const QString& name, quint32 seed)
{
    const QString folder = fixture.scratch(name);
    writeFile(folder + u"/notes.txt"_s, noise(seed, 3000));
    writeFile(folder + u"/take.mov"_s, noise(seed + 1, largeSize));
    return folder;
}

// A change stored and not published yet, or published: what its version must read back as.
struct Change {
    IdFor<VersionBundle> bundle;
    ContentHash root;
    QMap<QString, QByteArray> expected;
    bool creates = true;
};

Change store(const std::shared_ptr<TeamBundle>& team, const QString& source, const SnapshotOptions& options = {})
{
    return Change{IdFor<VersionBundle>::make(), snapshotTree(source, team->contents(), options), describeTree(source)};
}

void publish(const std::shared_ptr<TeamBundle>& team, const Change& change)
{
    std::vector<JournalChange> changes;
    if (change.creates)
        changes.push_back({change.bundle,
                           RecordKind::create,
                           {{u"type"_s, DocumentType::collection().toJson()}, {u"name"_s, u"Reel"_s}}});
    changes.push_back({change.bundle,
                       RecordKind::version,
                       {{u"version"_s, IdFor<Versions>::make().toString()},
                        {u"manifest"_s, change.root.toHex()},
                        {u"origin"_s, change.creates ? u"imported"_s : u"checkedIn"_s}}});
    team->commit(changes);
}

// Whether the version reads back whole: every tree, file and chunk, each checked against its hash.
bool readsBack(const std::shared_ptr<TeamBundle>& team, const Change& change)
{
    try {
        return storedTree(team->contents(), change.root) == change.expected;
    } catch (const Error&) {
        return false;
    }
}

// A check-in built on `base` (its source): the small file changed, a stretch of the large one
// rewritten (the chunks around it new, the others the base's), and a file whose content the store
// holds unreferenced (found and touched, not written).
Change storeCheckIn(const std::shared_ptr<TeamBundle>& team, const TeamFixture& fixture, const QString& name,
                    const QString& baseSource, const Change& base, const QByteArray& foundStored, quint32 seed)
{
    const QString folder = fixture.scratch(name);
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    QByteArray take = contentOf(baseSource + u"/take.mov"_s);
    take.replace(2 * 1024 * 1024, 4096, noise(seed, 4096));
    writeFile(folder + u"/take.mov"_s, take);
    writeFile(folder + u"/notes.txt"_s, noise(seed + 1, 2000));
    writeFile(folder + u"/found.txt"_s, foundStored);
    SnapshotOptions options;
    options.base = base.root;
    Change change = store(team, folder, options);
    change.bundle = base.bundle;
    change.creates = false;
    return change;
}

} // namespace

class GarbageCollectionTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (libfaketime().isEmpty())
            QSKIP("libfaketime is not installed (Debian package faketime): a clock set off can't be simulated");
    }

    // Two days ahead, a year ahead, a year behind: the collector removes what is old by the
    // share's clock, and keeps what an import and a check-in of another computer wrote or touched
    // and have not published yet.
    void aSkewedClockRemovesOnlyWhatTheShareSaysIsOld()
    {
        for (const qint64 offset : {2 * day, 365 * day, -365 * day}) {
            TeamFixture fixture;
            const auto ana = fixture.client(u"ana"_s);
            QVERIFY(ana->contents().storesChunked());
            const QString baseSource = makeSource(fixture, u"base"_s, 1);
            const Change base = store(ana, baseSource);
            publish(ana, base);
            const Change garbage = store(ana, makeSource(fixture, u"garbage"_s, 10));
            const QByteArray foundStored = noise(20, 5000);
            const ContentHash found = ana->contents().storeBytes(foundStored);
            ageObjects(ana->contents().folder(), 3 * day);
            // What a writer killed midway left in the journal and the locks.
            const QString abandoned = fixture.root() + u"/journal/.tmp-abandoned"_s;
            const QStringList recent = {fixture.root() + u"/journal/.tmp-recent"_s,
                                        fixture.root() + u"/locks/.tmp-recent"_s};
            writeFile(abandoned, "{}");
            setAge(abandoned, 3 * day);
            for (const QString& path : recent)
                writeFile(path, "{}");
            const QStringList inJournal = QDir(fixture.root() + u"/journal"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
            QVERIFY(!inJournal.isEmpty());
            const QString abandonedByAna = fixture.root() + u"/journal/"_s + inJournal.front() + u"/.tmp-abandoned"_s;
            writeFile(abandonedByAna, "{}");
            setAge(abandonedByAna, 3 * day);

            const Change import = store(ana, makeSource(fixture, u"import"_s, 30));
            const Change checkIn = storeCheckIn(ana, fixture, u"check-in"_s, baseSource, base, foundStored, 40);
            for (const ManifestEntry& entry : readTree(ana->contents(), checkIn.root).entries)
                QCOMPARE(entry.chunks.has_value(), entry.path == u"take.mov");
            QProcess child;
            startCollection(child, fixture, u"cy"_s, offset);
            QVERIFY2(finishCollection(child, offset) > 0, qPrintable(QString::number(offset)));

            QVERIFY(!ana->contents().contains(garbage.root));
            QVERIFY(ana->contents().contains(found));
            QVERIFY(!QFile::exists(abandoned) && !QFile::exists(abandonedByAna));
            for (const QString& path : recent)
                QVERIFY2(QFile::exists(path), qPrintable(path));
            publish(ana, import);
            publish(ana, checkIn);
            for (const Change* change : {&base, &import, &checkIn})
                QVERIFY2(readsBack(ana, *change), qPrintable(QString::number(offset)));
        }
    }

    // A record read damaged once stays left out for the session: that client's collection removes
    // nothing, and says why. Opened again with the record intact, it collects.
    void aViewLackingARecordRemovesNothing()
    {
        TeamFixture fixture;
        const auto ben = fixture.client(u"ben"_s);
        const Change kept = store(ben, makeSource(fixture, u"kept"_s, 1));
        publish(ben, kept);
        const Change garbage = store(ben, makeSource(fixture, u"garbage"_s, 10));
        ageObjects(ben->contents().folder(), 3 * day);
        const QString record = recordPath(fixture.root() + u"/journal"_s, ben->clientId(), 1);
        const QByteArray intact = contentOf(record);
        QByteArray damaged = intact;
        damaged[damaged.size() / 2] = '#';
        writeFile(record, damaged);
        setAge(record, 600);

        const auto cy = fixture.client(u"cy"_s);
        QCOMPARE(cy->problems().size(), 1);
        writeFile(record, intact);
        setAge(record, 600);
        QCOMPARE(cy->collectGarbage(24h), 0);
        QVERIFY(cy->contents().contains(garbage.root));
        QVERIFY(readsBack(cy, kept));
        const QByteArray log = contentOf(fixture.root() + u"/logs/CLIENT-CY.log"_s);
        QVERIFY2(log.contains("Stored contents were not collected: " + QFile::encodeName(fixture.root())
                              + "/journal/CLIENT-BEN: record 1 was left out."),
                 log.constData());

        const auto dan = fixture.client(u"dan"_s);
        QVERIFY(dan->problems().isEmpty());
        QVERIFY(dan->collectGarbage(24h) > 0);
        QVERIFY(!dan->contents().contains(garbage.root));
        QVERIFY(readsBack(dan, kept));
    }

    // Rounds of collections under clocks spread from a year behind to a year ahead, each in a
    // team bundle of its own while this client has an import and a check-in stored and not
    // published, and imports through the service meanwhile. After each round every version
    // recorded reads back in full.
    void aCampaignOfSkewedCollectionsLosesNoVersion()
    {
        const int rounds = std::max(2, qEnvironmentVariableIsSet("VANTREL_GC_CAMPAIGN_ROUNDS")
                                           ? qEnvironmentVariableIntValue("VANTREL_GC_CAMPAIGN_ROUNDS")
                                           : 4);
        int lost = 0, recorded = 0, roundsLosing = 0, removed = 0, failed = 0;
        for (int round = 0; round < rounds; ++round) {
            const qint64 offset = -365 * day + round * (730 * day) / (rounds - 1);
            const quint32 seed = 1000 + 100 * quint32(round);
            TeamFixture fixture;
            const auto ana = fixture.client(u"ana"_s);
            const QString baseSource = makeSource(fixture, u"base"_s, seed);
            const Change base = store(ana, baseSource);
            publish(ana, base);
            std::vector<Change> versions{base};
            store(ana, makeSource(fixture, u"garbage"_s, seed + 10)); // never published
            const QByteArray foundStored = noise(seed + 20, 5000);
            ana->contents().storeBytes(foundStored);
            ageObjects(ana->contents().folder(), 3 * day);
            // What a writer killed midway left in the journal and the locks.
            const QString abandoned = fixture.root() + u"/journal/.tmp-abandoned"_s;
            const QStringList recent = {fixture.root() + u"/journal/.tmp-recent"_s,
                                        fixture.root() + u"/locks/.tmp-recent"_s};
            writeFile(abandoned, "{}");
            setAge(abandoned, 3 * day);
            for (const QString& path : recent)
                writeFile(path, "{}");
            const QStringList inJournal = QDir(fixture.root() + u"/journal"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
            QVERIFY(!inJournal.isEmpty());
            const QString abandonedByAna = fixture.root() + u"/journal/"_s + inJournal.front() + u"/.tmp-abandoned"_s;
            writeFile(abandonedByAna, "{}");
            setAge(abandonedByAna, 3 * day);

            const Change import = store(ana, makeSource(fixture, u"import"_s, seed + 30));
            QProcess child;
            startCollection(child, fixture, u"cy"_s, offset);
            // While it collects: a check-in stored, and an import through the service published.
            std::vector<Change> pending{import};
            try {
                pending.push_back(storeCheckIn(ana, fixture, u"check-in"_s, baseSource, base, foundStored, seed + 40));
            } catch (const Error& error) {
                ++failed;
                qWarning("%s", qPrintable(error.debugDescription()));
            }
            const QString single = fixture.scratch(u"single"_s) + u"/Cut.kdenlive"_s;
            writeFile(single, noise(seed + 50, round % 2 ? largeSize : 7000));
            try {
                const auto service = importInto(ana, single);
                const auto state = ana->snapshot()->find(service->id());
                QVERIFY(state && !state->versions.isEmpty());
                versions.push_back({service->id(), state->versions.last().manifest, {}, false});
                versions.back().expected = {{QString(), contentOf(single)}}; // a single-file root
            } catch (const Error&) {
                ++failed; // its contents went while it stored them
            }
            const int collected = finishCollection(child, offset);
            QVERIFY(collected >= 0);
            removed += collected;
            // A commit reads its root trees back before its record: one whose tree went fails.
            for (const Change& change : pending) {
                try {
                    publish(ana, change);
                    versions.push_back(change);
                } catch (const Error&) {
                    ++failed;
                }
            }
            const int before = lost;
            for (const Change& change : versions)
                lost += !readsBack(ana, change);
            recorded += int(versions.size());
            roundsLosing += lost > before;
        }
        qInfo("%d rounds, %d contents collected: %d of %d versions recorded lost (in %d rounds), %d changes failed",
              rounds, removed, lost, recorded, roundsLosing, failed);
        QCOMPARE(lost, 0);
        QCOMPARE(failed, 0);
        QVERIFY(removed > 0);
    }
};

QTEST_GUILESS_MAIN(GarbageCollectionTest)
#include "garbage_collection_test.moc"
