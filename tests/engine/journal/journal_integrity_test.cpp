// The journal's records against damage: every one-byte change of a record, alone or inside a pack,
// is reported (nothing of that record folded) or changes nothing; records the head names but that
// are not there are reported; records written before checksums still fold.

#include "engine/document_type.h"
#include "engine/storage/fixed_length_files.h"
#include "engine/journal/journal.h"
#include "engine/journal/journal_files.h"
#include "engine/storage/content_hash.h"
#include "engine/storage/storage_error.h"
#include "support/engine_test_support.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <set>

using namespace vantrel;
using namespace Qt::StringLiterals;
using namespace vantrel::testing;
using namespace std::chrono_literals;

namespace {

// Written long enough ago not to be a file still being written, nor one a lagging listing hides.
void overwrite(const QString& path, const QByteArray& bytes)
{
    writeFile(path, bytes);
    setAge(path, 600);
}

// Everything a fold depends on, one line per change: client|seq|sub|lamport|...
std::set<QString> fingerprints(const std::vector<JournalRecord>& records)
{
    std::set<QString> lines;
    for (const auto& r : records)
        lines.insert(QStringList{r.stamp.client, QString::number(r.stamp.seq), QString::number(r.stamp.sub),
                                 QString::number(r.stamp.lamport), r.bundle.toString(), toText(r.kind),
                                 r.date.toString(Qt::ISODateWithMs), r.userName(), r.fullName(), r.hostName(),
                                 QString::fromUtf8(QJsonDocument(r.fields).toJson())}
                         .join(u'|'));
    return lines;
}

struct Reading {
    std::set<QString> folded;
    QStringList problems;
    std::unique_ptr<Journal> journal;
};

Reading readFresh(const QString& journal, std::chrono::milliseconds lag = 0ms)
{
    Reading reading{{}, {}, std::make_unique<Journal>(journal, u"READER"_s)};
    reading.journal->setListingLagForTesting(lag);
    reading.folded = fingerprints(reading.journal->readAll(reading.problems));
    return reading;
}

// Changes each byte of `path` in turn (a low bit, a high bit, a digit in its place), reading the
// journal afresh each time: the fold stays as it was, or only loses records, reported once at `path`
// and known as damaged; a change in bytes [from, to) costs the record `client|seq` only. Returns how
// many changes were reported, -1 when one was not.
int flipEveryByte(const QString& journal, const QString& path, qsizetype from, qsizetype to, const QString& record)
{
    const QByteArray original = contentOf(path);
    const Reading baseline = readFresh(journal);
    std::set<QString> withoutRecord = baseline.folded;
    std::erase_if(withoutRecord, [&](const QString& line) { return line.startsWith(record + u'|'); });
    int reported = 0;
    for (qsizetype i = 0; i < original.size(); ++i) {
        for (const char changed :
             {char(original[i] ^ 0x01), char(original[i] ^ 0x80), original[i] == '7' ? '3' : '7'}) {
            QByteArray bytes = original;
            bytes[i] = changed;
            overwrite(path, bytes);
            const Reading reading = readFresh(journal);
            if (reading.folded == baseline.folded)
                continue;
            bool accounted = reading.problems.size() == 1 && reading.problems[0].startsWith(path)
                             && std::includes(baseline.folded.begin(), baseline.folded.end(), reading.folded.begin(),
                                              reading.folded.end())
                             && (i < from || i >= to || reading.folded == withoutRecord);
            for (const QString& line : baseline.folded) {
                if (!reading.folded.contains(line))
                    accounted &=
                        reading.journal->recordState(line.section(u'|', 0, 0), line.section(u'|', 1, 1).toLongLong())
                        == RecordState::damaged;
            }
            if (!accounted) {
                qWarning("byte %lld = 0x%02x: %s", qlonglong(i), uchar(changed),
                         qPrintable(reading.problems.join(u' ')));
                return -1;
            }
            ++reported;
        }
    }
    overwrite(path, original);
    return baseline.problems.isEmpty() ? reported : -1;
}

// The JSON of a record in `format`, without its checksum unless kept.
QByteArray asFormat(const QByteArray& record, int format, bool keepChecksum = false)
{
    QJsonObject object = QJsonDocument::fromJson(record).object();
    if (!keepChecksum)
        object.remove(u"checksum"_s);
    object.insert(u"format"_s, format);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QStringList namesIn(const std::shared_ptr<TeamBundle>& team)
{
    QStringList names;
    for (const auto& state : team->snapshot()->bundles)
        names << state->name;
    names.sort();
    return names;
}

JournalChange change(const QString& name)
{
    return JournalChange{IdFor<VersionBundle>::make(),
                         RecordKind::create,
                         {{u"type"_s, DocumentType::collection().toJson()}, {u"name"_s, name}}};
}

IdFor<VersionBundle> createCollection(const std::shared_ptr<TeamBundle>& team, const QString& name)
{
    return team->commit({change(name)}).front().bundle;
}

} // namespace

class JournalIntegrityTest : public QObject {
    Q_OBJECT

private slots:
    void everyByteChangeIsReportedOrChangesNothing()
    {
        TeamFixture fixture;
        const QString journal = fixture.root() + u"/journal"_s;
        const auto ana = fixture.client(u"ana"_s);
        createCollection(ana, u"Reel"_s);
        const JournalChange cut = change(u"Cut ü \"quoted\""_s); // with its first version, in one record
        ana->commit({cut, JournalChange{cut.bundle,
                                        RecordKind::version,
                                        {{u"version"_s, IdFor<Versions>::make().toString()},
                                         {u"manifest"_s, ana->contents().storeBytes("tree").toHex()},
                                         {u"message"_s, u"First cut\nsecond line"_s},
                                         {u"origin"_s, u"imported"_s}}}});
        createCollection(ana, u"After"_s);
        const QString record = recordPath(journal, ana->clientId(), 2);
        const qsizetype size = contentOf(record).size();
        QVERIFY(flipEveryByte(journal, record, 0, size, u"CLIENT-ANA|2"_s) > 2 * size); // hardly any waved through

        // A pack keeps each record byte for byte, one a line.
        QTemporaryDir packs;
        QList<QByteArray> written;
        {
            Journal writer(packs.path(), u"PACKER"_s);
            writer.setPackThresholdForTesting(3);
            for (const QString& name : {u"One"_s, u"Two"_s, u"Three"_s}) {
                writer.append({change(name)}, UserIdentity::current());
                written << contentOf(recordPath(packs.path(), u"PACKER"_s, written.size() + 1));
                writer.packIfDue();
            }
            writer.append({change(u"Four"_s), change(u"Four, too"_s)}, UserIdentity::current());
        }
        QCOMPARE(QDir(packs.filePath(u"PACKER"_s)).entryList(QDir::Files),
                 (QStringList{u"000000000004.json"_s, u"head"_s, u"pack-000000000001-000000000003.json"_s}));
        const QString pack = packs.filePath(u"PACKER/pack-000000000001-000000000003.json"_s);
        QVERIFY(contentOf(pack).startsWith("[\n" + written[0] + ",\n" + written[1] + ",\n"));
        const qsizetype second = 2 + written[0].size() + 2;
        QVERIFY(flipEveryByte(packs.path(), pack, second, second + written[1].size(), u"PACKER|2"_s)
                > 2 * written[1].size());

        // Through a team bundle: the damage is reported, the rest of the team is there.
        QByteArray changed = contentOf(record);
        changed[changed.indexOf("Cut")] = 'K';
        overwrite(record, changed);
        const auto ben = fixture.client(u"ben"_s);
        QCOMPARE(namesIn(ben), (QStringList{u"After"_s, u"Reel"_s}));
        QCOMPARE(ben->problems().size(), 1);
        QVERIFY2(ben->problems()[0].contains(u"000000000002.json: record 2 of client CLIENT-ANA"_s),
                 qPrintable(ben->problems()[0]));
    }

    void recordsTheHeadNamesButAreNotThereAreReported()
    {
        TeamFixture fixture;
        const QString journal = fixture.root() + u"/journal"_s;
        const auto ana = fixture.client(u"ana"_s);
        for (const QString& name : {u"One"_s, u"Two"_s, u"Three"_s})
            createCollection(ana, name);
        const QString newest = recordPath(journal, ana->clientId(), 3);
        const QByteArray newestBytes = contentOf(newest);

        // Gone just after the head named it: a share's listing may lag, so nothing is said yet.
        QVERIFY(QFile::remove(newest));
        const auto early = fixture.client(u"early"_s);
        QCOMPARE(early->problems(), QStringList());
        QCOMPARE(namesIn(early), (QStringList{u"One"_s, u"Two"_s}));

        // Still gone long after: reported once per open, by clients opening now and running ones;
        // once there, read like any other.
        setAge(journal + u"/CLIENT-ANA/head"_s, 600);
        const QString missing = journal + u"/CLIENT-ANA: record 3 is missing."_s;
        Reading reading = readFresh(journal);
        QCOMPARE(reading.problems, QStringList{missing});
        QStringList again;
        reading.journal->readNew(again);
        early->poll();
        early->poll();
        QCOMPARE(early->problems(), QStringList{missing});
        writeFile(newest, newestBytes);
        early->poll();
        reading.journal->readNew(again);
        QCOMPARE(namesIn(early), (QStringList{u"One"_s, u"Three"_s, u"Two"_s}));
        QCOMPARE(again, QStringList());
        // What stopped being true is withdrawn, from the journal and from the team bundle.
        QCOMPARE(reading.journal->withdrawnProblems(), QStringList{missing});
        QCOMPARE(early->problems(), QStringList());
        QCOMPARE(reading.journal->recordState(ana->clientId(), 3), RecordState::read);

        // A record missing among later ones is reported and never waited for; the rest folds.
        QVERIFY(QFile::remove(recordPath(journal, ana->clientId(), 2)));
        const Reading gap = readFresh(journal);
        QCOMPARE(gap.problems, QStringList{journal + u"/CLIENT-ANA: record 2 is missing."_s});
        QCOMPARE(gap.journal->recordState(ana->clientId(), 2), RecordState::damaged);
        QCOMPARE(gap.folded.size(), std::size_t(2)); // records 1 and 3

        // The writer does not give a number away again, even after losing its newest record.
        QVERIFY(QFile::remove(newest));
        Journal(journal, ana->clientId()).append({change(u"Four"_s)}, UserIdentity::current());
        QVERIFY(QFile::exists(recordPath(journal, ana->clientId(), 4)) && !QFile::exists(newest));
    }

    void recordsOfEveryFormatAreReadOrReported()
    {
        TeamFixture fixture;
        const QString journal = fixture.root() + u"/journal"_s;
        const auto ana = fixture.client(u"ana"_s), zed = fixture.client(u"zed"_s);
        ana->commit(RecordKind::rename, createCollection(ana, u"Reel"_s), {{u"name"_s, u"Reel, renamed"_s}});
        createCollection(ana, u"Third"_s);
        for (const QString& name : {u"Zed One"_s, u"Zed Two"_s, u"Zed Three"_s})
            createCollection(zed, name);
        const auto path = [&](const auto& team, qint64 seq) { return recordPath(journal, team->clientId(), seq); };

        // Records and a pack as written before checksums: read as they are.
        const QByteArray first = contentOf(path(ana, 1));
        overwrite(path(ana, 1), asFormat(first, 1));
        overwrite(path(ana, 2), asFormat(contentOf(path(ana, 2)), 1));
        overwrite(journal + u"/CLIENT-ZED/pack-000000000002.json"_s,
                  "[" + asFormat(contentOf(path(zed, 1)), 1) + "," + asFormat(contentOf(path(zed, 2)), 1) + "]");
        QVERIFY(QFile::remove(path(zed, 1)) && QFile::remove(path(zed, 2)));
        const auto ben = fixture.client(u"ben"_s);
        QCOMPARE(ben->problems(), QStringList());
        QCOMPARE(namesIn(ben),
                 (QStringList{u"Reel, renamed"_s, u"Third"_s, u"Zed One"_s, u"Zed Three"_s, u"Zed Two"_s}));

        // Without its checksum, of a newer format, with a checksum not its own: each reported and
        // left out, none holding up the records after it.
        overwrite(path(ana, 1), asFormat(first, 2));
        overwrite(path(ana, 2), asFormat(first, 3, true));
        QByteArray third = contentOf(path(ana, 3));
        overwrite(path(ana, 3), third.replace(third.size() - 66, 64, hashBytes("something else").toHex().toLatin1()));
        createCollection(ana, u"Fourth"_s);

        const Reading reading = readFresh(journal);
        const QString prefix = journal + u"/CLIENT-ANA/00000000000"_s;
        QCOMPARE(
            reading.problems,
            (QStringList{
                prefix + u"1.json: record 1 of client CLIENT-ANA was left out. It has no valid checksum."_s,
                prefix + u"2.json: record 2 of client CLIENT-ANA was left out. It was written in a newer format (3)."_s,
                prefix
                    + u"3.json: record 3 of client CLIENT-ANA was left out. Its checksum does not match its contents."_s}));
        for (qint64 seq : {1, 2, 3})
            QCOMPARE(reading.journal->recordState(ana->clientId(), seq), RecordState::damaged);
        QCOMPARE(reading.journal->recordState(ana->clientId(), 4), RecordState::read);
        QVERIFY(reading.journal->recordState(zed->clientId(), 4) == RecordState::notYet
                && reading.journal->recordState(u"CLIENT-NOBODY"_s, 1) == RecordState::notYet);
        QCOMPARE(reading.folded.size(), std::size_t(4)); // Zed's three and Ana's fourth
    }

    // Records a head names are opened by name, however far a share's listing lags; the listing
    // only finds what no head names yet (a writer stopped between its record and its head).
    void aLaggingListingHoldsBackOnlyWhatNoHeadNames()
    {
        TeamFixture fixture;
        const QString journal = fixture.root() + u"/journal"_s;
        const QString head = journal + u"/CLIENT-ANA/head"_s;
        const auto ana = fixture.client(u"ana"_s), ben = fixture.client(u"ben"_s);
        createCollection(ana, u"Early"_s);
        ben->setJournalListingLagForTesting(1h);
        Reading reader = readFresh(journal, 1h);
        QCOMPARE(reader.folded.size(), std::size_t(1));

        createCollection(ana, u"Late"_s);
        QStringList problems;
        QCOMPARE(reader.journal->readNew(problems).size(), std::size_t(1));
        ben->poll();
        QCOMPARE(namesIn(ben), (QStringList{u"Early"_s, u"Late"_s}));

        // The head left one record behind, for long: nothing is missing, the record waits for the
        // listing.
        createCollection(ana, u"Later"_s);
        writeFile(head, fixed_length::headBytes(2));
        setAge(head, 600);
        QCOMPARE(reader.journal->readNew(problems).size(), std::size_t(0));
        ben->poll();
        QCOMPARE(namesIn(ben), (QStringList{u"Early"_s, u"Late"_s}));
        QCOMPARE(reader.journal->recordState(ana->clientId(), 3), RecordState::notYet);
        for (qint64 seq : {1, 2, 3})
            setAge(recordPath(journal, ana->clientId(), seq), 7200);
        QCOMPARE(reader.journal->readNew(problems).size(), std::size_t(1));
        ben->poll();
        QCOMPARE(namesIn(ben), (QStringList{u"Early"_s, u"Late"_s, u"Later"_s}));
        QVERIFY(problems.isEmpty() && ben->problems().isEmpty());
    }

    // Just written and damaged: whole, it is reported at once and holds up none of its writer's
    // later records; cut short (or not written yet), it may still be on its way where a share has
    // no hard links, so it and the records after it wait, and are read once it is whole.
    void aFreshDamagedRecordHoldsUpNothing()
    {
        QTemporaryDir folder;
        Journal writer(folder.path(), u"WRITER"_s);
        Journal reader(folder.path(), u"READER"_s);
        const auto write = [&](const QString& name) { writer.append({change(name)}, UserIdentity::current()); };
        write(u"One"_s);
        QStringList problems;
        QCOMPARE(reader.readAll(problems).size(), std::size_t(1));
        for (const QString& name : {u"Two"_s, u"Three"_s, u"Four"_s})
            write(name);
        const auto path = [&](qint64 seq) { return recordPath(folder.path(), u"WRITER"_s, seq); };
        QByteArray two = contentOf(path(2)), three = contentOf(path(3));
        two[0] = '#'; // no longer JSON, nor ending as a record does
        two[two.size() - 2] = '#';
        writeFile(path(2), two);
        three[three.size() - 3] = three[three.size() - 3] == '0' ? '1' : '0'; // a checksum not its own
        writeFile(path(3), three);
        QCOMPARE(reader.readNew(problems).size(), std::size_t(1)); // Four
        QCOMPARE(problems.size(), 2);
        QVERIFY(reader.recordState(u"WRITER"_s, 2) == RecordState::damaged
                && reader.recordState(u"WRITER"_s, 4) == RecordState::read);
        QVERIFY(!reader.incompleteView().isEmpty());

        write(u"Five"_s);
        write(u"Six"_s);
        const QByteArray five = contentOf(path(5));
        for (const QByteArray& incomplete : {five.left(five.size() / 2), QByteArray(five.size(), '\0')}) {
            writeFile(path(5), incomplete);
            problems.clear();
            QCOMPARE(reader.readNew(problems).size(), std::size_t(0));
            QVERIFY(problems.isEmpty() && reader.recordState(u"WRITER"_s, 5) == RecordState::notYet);
            QVERIFY(reader.incompleteView().join(u' ').contains(u"WRITER: record 5 could not be read yet."_s));
        }
        writeFile(path(5), five);
        QCOMPARE(reader.readNew(problems).size(), std::size_t(2));
        QVERIFY(problems.isEmpty());
    }

    // A record whose Lamport number is beyond the journal's bound is damage for every reader;
    // one just at it is read, and a writer then refuses to stamp beyond it rather than publish a
    // record nobody reads.
    void lamportNumbersStayWithinWhatReadersRead()
    {
        TeamFixture fixture;
        const QString journal = fixture.root() + u"/journal"_s;
        const auto ana = fixture.client(u"ana"_s);
        createCollection(ana, u"Reel"_s);
        const auto plant = [&](const QString& client, qint64 lamport, const QString& name) {
            JournalRecord record;
            record.stamp = JournalStamp{lamport, client, 1, 0};
            record.kind = RecordKind::create;
            record.bundle = IdFor<VersionBundle>::make();
            record.date = QDateTime::currentDateTimeUtc();
            record.fields = change(name).fields;
            QDir().mkpath(journal + u'/' + client);
            overwrite(recordPath(journal, client, 1), journal_files::encodeRecord({record}));
            writeFile(journal + u'/' + client + u"/head"_s, "1");
        };
        plant(u"CLIENT-EVE"_s, 9'000'000'000'000'000 - 1, u"Ahead"_s);
        ana->poll();
        createCollection(ana, u"After"_s);
        const auto ben = fixture.client(u"ben"_s);
        QCOMPARE(namesIn(ben), (QStringList{u"After"_s, u"Reel"_s}));
        QCOMPARE(ben->problems().size(), 1);
        QVERIFY2(ben->problems()[0].contains(u"record 1 of client CLIENT-EVE was left out. Its Lamport number"_s),
                 qPrintable(ben->problems()[0]));
        QCOMPARE(readFresh(journal).journal->recordState(u"CLIENT-EVE"_s, 1), RecordState::damaged);

        // Just under the bound, read by everybody: nobody stamps after it, and the refusal names
        // that record and its writer, never the refusing client's own journal.
        plant(u"CLIENT-MAX"_s, journal_files::maxLamport - 1, u"At the bound"_s);
        ana->poll();
        try {
            createCollection(ana, u"Beyond"_s);
            QFAIL("a record was stamped after one at the bound");
        } catch (const StorageError& error) {
            QVERIFY2(error.localizedDescription().contains(u"journal/CLIENT-MAX/"_s + journal_files::recordFileName(1)),
                     qPrintable(error.localizedDescription()));
            QVERIFY(!error.localizedDescription().contains(ana->clientId()));
        }
        QVERIFY(!QFile::exists(recordPath(journal, ana->clientId(), 3)));
        ben->poll();
        QCOMPARE(namesIn(ben), (QStringList{u"After"_s, u"At the bound"_s, u"Reel"_s}));
        // Once it is gone, the team writes on: no honest record was stamped out of reach.
        QVERIFY(QDir(journal + u"/CLIENT-MAX"_s).removeRecursively());
        const auto cy = fixture.client(u"cy"_s);
        createCollection(cy, u"Later"_s);
        QCOMPARE(namesIn(cy), (QStringList{u"After"_s, u"Later"_s, u"Reel"_s}));
    }
};

QTEST_GUILESS_MAIN(JournalIntegrityTest)
#include "journal_integrity_test.moc"
