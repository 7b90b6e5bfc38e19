// The journal's records against damage: every single-byte change of a record, alone or inside a
// pack, is either reported (and nothing of that record folded) or changes nothing; records the
// head names but that are not there are reported; records written before checksums still fold.

#include "engine/document_type.h"
#include "engine/journal.h"
#include "engine/storage/content_hash.h"
#include "engine/user_identity.h"
#include "support/engine_test_support.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <set>

using namespace vantrel;
using namespace vantrel::testing;
using namespace std::chrono_literals;

namespace {

const UserIdentity author{QStringLiteral("ana"), QStringLiteral("Ana Editor"), QStringLiteral("host-ana")};

QString recordPath(const QString& journal, const QString& client, qint64 seq)
{
    return QStringLiteral("%1/%2/%3.json").arg(journal, client).arg(seq, 12, 10, QLatin1Char('0'));
}

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

// Sets the modification time of `path` `seconds` back: a file that old is not one still being
// written, nor one a lagging listing would hide.
void setAge(const QString& path, int seconds)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)
        || !file.setFileTime(QDateTime::currentDateTime().addSecs(-seconds), QFileDevice::FileModificationTime))
        qFatal("cannot age %s", qPrintable(path));
}

void overwrite(const QString& path, const QByteArray& bytes)
{
    writeFile(path, bytes);
    setAge(path, 600);
}

// Everything a fold depends on, one line per change, ordered.
std::set<QString> fingerprints(const std::vector<JournalRecord>& records)
{
    std::set<QString> lines;
    for (const auto& r : records)
        lines.insert(QStringList{QString::number(r.stamp.lamport), r.stamp.client, QString::number(r.stamp.seq),
                                 QString::number(r.stamp.sub), r.bundle.toString(), r.kind,
                                 r.date.toString(Qt::ISODateWithMs), r.userName, r.fullName, r.hostName,
                                 QString::fromUtf8(QJsonDocument(r.fields).toJson(QJsonDocument::Compact))}
                         .join(u'|'));
    return lines;
}

std::set<qint64> seqsOf(const std::set<QString>& lines)
{
    std::set<qint64> seqs;
    for (const QString& line : lines)
        seqs.insert(line.section(u'|', 2, 2).toLongLong());
    return seqs;
}

struct Reading {
    std::set<QString> folded;
    QStringList problems;
    std::unique_ptr<Journal> journal;
};

Reading readFresh(const QString& journal, std::chrono::milliseconds lag = 0ms)
{
    Reading reading;
    reading.journal = std::make_unique<Journal>(journal, QStringLiteral("READER"));
    reading.journal->setListingLagForTesting(lag);
    reading.folded = fingerprints(reading.journal->readAll(reading.problems));
    return reading;
}

// The JSON of a record as Vantrel wrote it before records had checksums.
QByteArray asFormat(const QByteArray& record, int format, bool keepChecksum = false)
{
    QJsonObject object = QJsonDocument::fromJson(record).object();
    if (!keepChecksum)
        object.remove(QStringLiteral("checksum"));
    object.insert(QStringLiteral("format"), format);
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

IdFor<VersionBundle> createCollection(const std::shared_ptr<TeamBundle>& team, const QString& name)
{
    const auto id = IdFor<VersionBundle>::make();
    team->commit(QStringLiteral("create"), id,
                 {{QStringLiteral("type"), DocumentType::collection().toJson()}, {QStringLiteral("name"), name}});
    return id;
}

JournalChange change(const QString& name)
{
    return JournalChange{IdFor<VersionBundle>::make(), QStringLiteral("create"),
                         {{QStringLiteral("type"), DocumentType::collection().toJson()}, {QStringLiteral("name"), name}}};
}

// The changes made to a byte: a low and a high bit flipped, and a digit put in its place.
const std::function<char(char)> bytePatterns[] = {
    [](char c) { return char(c ^ 0x01); },
    [](char c) { return char(c ^ 0x80); },
    [](char c) { return c == '7' ? '3' : '7'; },
};

} // namespace

class JournalIntegrityTest : public QObject {
    Q_OBJECT

private slots:
    void everyByteChangeOfARecordIsReportedOrChangesNothing()
    {
        TeamFixture fixture;
        const QString journal = fixture.root() + QStringLiteral("/journal");
        const auto ana = fixture.client(QStringLiteral("ana"));
        createCollection(ana, QStringLiteral("Reel"));
        // One record with two changes, like a new document and its first version.
        const auto cut = IdFor<VersionBundle>::make();
        ana->commit({JournalChange{cut, QStringLiteral("create"),
                                   {{QStringLiteral("type"), DocumentType::collection().toJson()},
                                    {QStringLiteral("name"), QStringLiteral("Cut ü \"quoted\"")}}},
                     JournalChange{cut, QStringLiteral("version"),
                                   {{QStringLiteral("version"), IdFor<Versions>::make().toString()},
                                    {QStringLiteral("manifest"), hashBytes("tree").toHex()},
                                    {QStringLiteral("message"), QStringLiteral("First cut\nsecond line")},
                                    {QStringLiteral("origin"), QStringLiteral("imported")}}}});
        createCollection(ana, QStringLiteral("After"));

        const Reading baseline = readFresh(journal);
        QCOMPARE(baseline.problems, QStringList());
        QCOMPARE(seqsOf(baseline.folded), (std::set<qint64>{1, 2, 3}));
        std::set<QString> withoutRecord;
        for (const QString& line : baseline.folded) {
            if (line.section(u'|', 2, 2) != QLatin1String("2"))
                withoutRecord.insert(line);
        }

        const QString path = recordPath(journal, ana->clientId(), 2);
        const QByteArray original = contentsOf(path);
        int unchanged = 0, reported = 0;
        QStringList silent;
        for (qsizetype i = 0; i < original.size(); ++i) {
            for (const auto& pattern : bytePatterns) {
                QByteArray changed = original;
                changed[i] = pattern(original[i]);
                overwrite(path, changed);
                const Reading reading = readFresh(journal);
                if (reading.folded == baseline.folded) {
                    ++unchanged;
                } else if (reading.folded == withoutRecord && reading.problems.size() == 1
                           && reading.problems[0].contains(QStringLiteral("record 2 of client CLIENT-ANA"))
                           && reading.journal->recordState(ana->clientId(), 2) == RecordState::damaged
                           && reading.journal->recordState(ana->clientId(), 3) == RecordState::read) {
                    ++reported;
                } else {
                    silent << QStringLiteral("byte %1 = 0x%2: %3").arg(i).arg(uchar(changed[i]), 2, 16, QLatin1Char('0'))
                                  .arg(reading.problems.join(u' '));
                }
            }
        }
        QVERIFY2(silent.isEmpty(), qPrintable(silent.mid(0, 5).join(u'\n')));
        QVERIFY(reported > 2 * original.size()); // nearly every change is caught, not waved through
        QVERIFY(unchanged + reported == 3 * original.size());

        // Through a team bundle: the damage is reported, the rest of the team is there.
        QByteArray changed = original;
        changed[original.indexOf("Cut")] = 'K';
        overwrite(path, changed);
        const auto ben = fixture.client(QStringLiteral("ben"));
        QCOMPARE(namesIn(ben), (QStringList{QStringLiteral("After"), QStringLiteral("Reel")}));
        QCOMPARE(ben->problems().size(), 1);
        QVERIFY2(ben->problems()[0].contains(QStringLiteral("000000000002.json: record 2 of client CLIENT-ANA")),
                 qPrintable(ben->problems()[0]));
    }

    void everyByteChangeOfAPackIsReportedOrChangesNothing()
    {
        QTemporaryDir dir;
        const QString journal = dir.path();
        const QString client = QStringLiteral("PACKER");
        QList<QByteArray> written;
        {
            Journal writer(journal, client);
            writer.setPackThresholdForTesting(3);
            for (const QString& name : {QStringLiteral("One"), QStringLiteral("Two"), QStringLiteral("Three")}) {
                writer.append({change(name)}, author);
                if (QFile::exists(recordPath(journal, client, written.size() + 1)))
                    written << contentsOf(recordPath(journal, client, written.size() + 1));
            }
            writer.append({change(QStringLiteral("Four")), change(QStringLiteral("Four, too"))}, author);
            QCOMPARE(writer.recordState(client, 4), RecordState::read);
        }
        const QString packPath = journal + u'/' + client + QStringLiteral("/pack-000000000003.json");
        QCOMPARE(QDir(journal + u'/' + client).entryList(QDir::Files),
                 (QStringList{QStringLiteral("000000000004.json"), QStringLiteral("head"),
                              QStringLiteral("pack-000000000003.json")}));
        // The pack keeps every record byte for byte, its checksum with it, one record a line.
        const QByteArray pack = contentsOf(packPath);
        QCOMPARE(written.size(), 2);
        QVERIFY(pack.startsWith("[\n" + written[0] + ",\n" + written[1] + ",\n"));

        const Reading baseline = readFresh(journal);
        QCOMPARE(baseline.problems, QStringList());
        QCOMPARE(seqsOf(baseline.folded), (std::set<qint64>{1, 2, 3, 4}));
        const qsizetype secondStart = 2 + written[0].size() + 2;
        const qsizetype secondEnd = secondStart + written[1].size();

        int unchanged = 0, reported = 0;
        QStringList silent;
        for (qsizetype i = 0; i < pack.size(); ++i) {
            for (const auto& pattern : bytePatterns) {
                QByteArray changed = pack;
                changed[i] = pattern(pack[i]);
                overwrite(packPath, changed);
                const Reading reading = readFresh(journal);
                const QString where = QStringLiteral("byte %1 = 0x%2: ").arg(i).arg(uchar(changed[i]), 2, 16, QLatin1Char('0'));
                if (!std::includes(baseline.folded.begin(), baseline.folded.end(), reading.folded.begin(),
                                   reading.folded.end())) {
                    silent << where + QStringLiteral("a record changed");
                    continue;
                }
                if (reading.folded == baseline.folded) {
                    ++unchanged;
                    continue;
                }
                // Whatever was left out is reported, and known as damaged.
                bool accounted = !reading.problems.isEmpty() && reading.problems.join(u' ').contains(packPath);
                const std::set<qint64> folded = seqsOf(reading.folded);
                for (qint64 seq = 1; seq <= 3; ++seq) {
                    if (!folded.contains(seq))
                        accounted &= reading.journal->recordState(client, seq) == RecordState::damaged;
                }
                // A change within one record costs that record only.
                if (i >= secondStart && i < secondEnd)
                    accounted &= folded == std::set<qint64>{1, 3, 4};
                if (accounted)
                    ++reported;
                else
                    silent << where + reading.problems.join(u' ');
            }
        }
        QVERIFY2(silent.isEmpty(), qPrintable(silent.mid(0, 5).join(u'\n')));
        QVERIFY(reported > 2 * (secondEnd - secondStart));
    }

    void recordsTheHeadNamesButAreNotThereAreReported()
    {
        TeamFixture fixture;
        const QString journal = fixture.root() + QStringLiteral("/journal");
        const auto ana = fixture.client(QStringLiteral("ana"));
        for (const QString& name : {QStringLiteral("One"), QStringLiteral("Two"), QStringLiteral("Three")})
            createCollection(ana, name);
        const QString newest = recordPath(journal, ana->clientId(), 3);
        const QByteArray newestBytes = contentsOf(newest);
        const QString head = journal + QStringLiteral("/CLIENT-ANA/head");

        // Gone just after the head named it: a share's listing may lag, so nothing is said yet.
        QVERIFY(QFile::remove(newest));
        const auto early = fixture.client(QStringLiteral("early"));
        QCOMPARE(early->problems(), QStringList());
        QCOMPARE(namesIn(early), (QStringList{QStringLiteral("One"), QStringLiteral("Two")}));

        // Still gone long after: reported, once per open, by clients opening now and running ones.
        setAge(head, 600);
        const QString missing = journal + QStringLiteral("/CLIENT-ANA: record 3 is missing.");
        Reading reading = readFresh(journal);
        QCOMPARE(reading.problems, QStringList{missing});
        QCOMPARE(reading.journal->recordState(ana->clientId(), 2), RecordState::read);
        QCOMPARE(reading.journal->recordState(ana->clientId(), 3), RecordState::notYet);
        QStringList again;
        reading.journal->readNew(again);
        reading.journal->readNew(again);
        QCOMPARE(again, QStringList());
        early->poll();
        early->poll();
        QCOMPARE(early->problems(), QStringList{missing});

        // Once the record is there, it is read like any other.
        writeFile(newest, newestBytes);
        early->poll();
        QCOMPARE(namesIn(early), (QStringList{QStringLiteral("One"), QStringLiteral("Three"), QStringLiteral("Two")}));
        reading.journal->readNew(again);
        QCOMPARE(again, QStringList());
        QCOMPARE(reading.journal->recordState(ana->clientId(), 3), RecordState::read);

        // A record missing among later ones is reported and never waited for; the rest folds.
        QVERIFY(QFile::remove(recordPath(journal, ana->clientId(), 2)));
        const Reading gap = readFresh(journal);
        QCOMPARE(gap.problems, QStringList{journal + QStringLiteral("/CLIENT-ANA: record 2 is missing.")});
        QCOMPARE(gap.journal->recordState(ana->clientId(), 2), RecordState::damaged);
        QCOMPARE(gap.journal->recordState(ana->clientId(), 3), RecordState::read);
        QCOMPARE(seqsOf(gap.folded), (std::set<qint64>{1, 3}));

        // Ana's journal does not give the numbers away again, even after losing its newest record.
        QVERIFY(QFile::remove(newest));
        Journal reopened(journal, ana->clientId());
        reopened.append({change(QStringLiteral("Four"))}, author);
        QVERIFY(QFile::exists(recordPath(journal, ana->clientId(), 4)));
        QVERIFY(!QFile::exists(newest));
    }

    void recordsOfEveryFormatAreReadOrReported()
    {
        TeamFixture fixture;
        const QString journal = fixture.root() + QStringLiteral("/journal");
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto reel = createCollection(ana, QStringLiteral("Reel"));
        ana->commit(QStringLiteral("rename"), reel, {{QStringLiteral("name"), QStringLiteral("Reel, renamed")}});
        createCollection(ana, QStringLiteral("Third"));
        const auto zed = fixture.client(QStringLiteral("zed"));
        for (const QString& name : {QStringLiteral("Zed One"), QStringLiteral("Zed Two"), QStringLiteral("Zed Three")})
            createCollection(zed, name);
        const QString anaFolder = journal + QStringLiteral("/CLIENT-ANA");
        const QString zedFolder = journal + QStringLiteral("/CLIENT-ZED");

        // Records and a one-line pack as Vantrel wrote them before checksums: read as they are.
        const QByteArray first = contentsOf(recordPath(journal, ana->clientId(), 1));
        overwrite(recordPath(journal, ana->clientId(), 1), asFormat(first, 1));
        overwrite(recordPath(journal, ana->clientId(), 2), asFormat(contentsOf(recordPath(journal, ana->clientId(), 2)), 1));
        const QByteArray legacyPack = "[" + asFormat(contentsOf(recordPath(journal, zed->clientId(), 1)), 1) + ","
                                      + asFormat(contentsOf(recordPath(journal, zed->clientId(), 2)), 1) + "]";
        overwrite(zedFolder + QStringLiteral("/pack-000000000002.json"), legacyPack);
        QVERIFY(QFile::remove(recordPath(journal, zed->clientId(), 1)));
        QVERIFY(QFile::remove(recordPath(journal, zed->clientId(), 2)));
        const auto ben = fixture.client(QStringLiteral("ben"));
        QCOMPARE(ben->problems(), QStringList());
        QCOMPARE(namesIn(ben), (QStringList{QStringLiteral("Reel, renamed"), QStringLiteral("Third"), QStringLiteral("Zed One"),
                                            QStringLiteral("Zed Three"), QStringLiteral("Zed Two")}));

        // A current record without its checksum is damaged; a record of a newer format is
        // reported and left out. Neither keeps the records after it from being read.
        overwrite(recordPath(journal, ana->clientId(), 1), asFormat(first, 2));
        overwrite(recordPath(journal, ana->clientId(), 2), asFormat(first, 3, true));
        // A checksum that is not the record's.
        const QByteArray third = contentsOf(recordPath(journal, ana->clientId(), 3));
        QByteArray otherChecksum = third;
        otherChecksum.replace(third.size() - 66, 64, hashBytes("something else").toHex().toLatin1());
        overwrite(recordPath(journal, ana->clientId(), 3), otherChecksum);
        createCollection(ana, QStringLiteral("Fourth"));

        const Reading reading = readFresh(journal);
        const QString anaFolderPrefix = anaFolder + QStringLiteral("/00000000000");
        QCOMPARE(reading.problems,
                 (QStringList{anaFolderPrefix + QStringLiteral("1.json: record 1 of client CLIENT-ANA was left out. "
                                                                "It has no valid checksum."),
                              anaFolderPrefix + QStringLiteral("2.json: record 2 of client CLIENT-ANA was left out. "
                                                                "It was written in a newer format (3)."),
                              anaFolderPrefix + QStringLiteral("3.json: record 3 of client CLIENT-ANA was left out. "
                                                                "Its checksum does not match its contents.")}));
        for (qint64 seq : {1, 2, 3})
            QCOMPARE(reading.journal->recordState(ana->clientId(), seq), RecordState::damaged);
        QCOMPARE(reading.journal->recordState(ana->clientId(), 4), RecordState::read);
        QCOMPARE(reading.journal->recordState(zed->clientId(), 1), RecordState::read);
        QCOMPARE(reading.journal->recordState(zed->clientId(), 4), RecordState::notYet);
        QCOMPARE(reading.journal->recordState(QStringLiteral("CLIENT-NOBODY"), 1), RecordState::notYet);
        QCOMPARE(seqsOf(reading.folded), (std::set<qint64>{1, 2, 3, 4})); // Zed's three and Ana's fourth
        QCOMPARE(reading.folded.size(), std::size_t(4));
    }

    void aLaggingListingHidesYoungRecordsUntilTheyShow()
    {
        TeamFixture fixture;
        const QString journal = fixture.root() + QStringLiteral("/journal");
        const auto ana = fixture.client(QStringLiteral("ana"));
        createCollection(ana, QStringLiteral("Early"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        ben->setJournalListingLagForTesting(1h);
        Reading reader = readFresh(journal, 1h);
        QCOMPARE(reader.folded, std::set<QString>()); // Ana's first record is young too

        setAge(recordPath(journal, ana->clientId(), 1), 7200);
        createCollection(ana, QStringLiteral("Late"));
        createCollection(ana, QStringLiteral("Later"));
        setAge(recordPath(journal, ana->clientId(), 3), 7200); // listed only after the one before it
        // The head is old enough to be believed, and still the records it names are not missing.
        setAge(journal + QStringLiteral("/CLIENT-ANA/head"), 600);
        QStringList problems;
        QCOMPARE(seqsOf(fingerprints(reader.journal->readNew(problems))), std::set<qint64>{1});
        ben->poll();
        QCOMPARE(problems, QStringList());
        QCOMPARE(ben->problems(), QStringList());
        QCOMPARE(namesIn(ben), QStringList{QStringLiteral("Early")});
        QCOMPARE(reader.journal->recordState(ana->clientId(), 2), RecordState::notYet);
        QCOMPARE(reader.journal->recordState(ana->clientId(), 3), RecordState::notYet);

        // Once old enough to be listed, they are read, however they were counted before.
        setAge(recordPath(journal, ana->clientId(), 2), 7200);
        QCOMPARE(seqsOf(fingerprints(reader.journal->readNew(problems))), (std::set<qint64>{2, 3}));
        ben->poll();
        QCOMPARE(namesIn(ben), (QStringList{QStringLiteral("Early"), QStringLiteral("Late"), QStringLiteral("Later")}));
        QCOMPARE(reader.journal->recordState(ana->clientId(), 3), RecordState::read);
        QCOMPARE(problems, QStringList());
        QCOMPARE(ben->problems(), QStringList());
    }
};

QTEST_GUILESS_MAIN(JournalIntegrityTest)
#include "journal_integrity_test.moc"
