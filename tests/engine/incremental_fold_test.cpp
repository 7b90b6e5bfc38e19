// Folding a change touches only what it changed: the state reached by folding records in any
// order and in any batches is the state of one fold of them all, bundles a fold did not touch
// keep their published state, and the indexes a client keeps up to date as the team changes are
// the ones a client opening the team bundle afresh builds.

#include "engine/document_type.h"
#include "engine/journal/journal.h"
#include "engine/team_bundle.h"
#include "engine/team_state.h"
#include "engine/version_bundles.h"
#include "engine/storage/content_hash.h"
#include "support/engine_test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <map>

using namespace vantrel;
using namespace Qt::StringLiterals;
using namespace vantrel::testing;

namespace {

using BundleId = IdFor<VersionBundle>;

// Everything a bundle state holds, as one text.
QString describe(const BundleState& state)
{
    QStringList lines{state.id.toString(), state.name, QString::fromUtf8(QJsonDocument(QJsonArray{state.type.toJson()}).toJson()),
                      state.created.toString(Qt::ISODateWithMs), state.modified.toString(Qt::ISODateWithMs),
                      state.trashed ? u"trashed"_s : u"live"_s};
    for (const auto& version : state.versions)
        lines << u"version "_s + version.id.toString() + u' ' + version.manifest.toHex() + u' ' + toText(version.origin)
                     + u' ' + version.userName() + u'@' + version.hostName();
    for (const auto& child : state.children)
        lines << u"child "_s + child.toString();
    for (const auto& parent : state.parents)
        lines << u"parent "_s + parent.toString();
    for (const auto& record : state.history)
        lines << u"record %1/%2/%3/%4 by %5 (%6) on %7"_s.arg(record.stamp.client)
                     .arg(record.stamp.seq)
                     .arg(record.stamp.sub)
                     .arg(toText(record.kind), record.userName(), record.fullName(), record.hostName());
    return lines.join(u'\n');
}

std::map<QString, QString> describe(const TeamSnapshot& snapshot)
{
    std::map<QString, QString> all;
    for (const auto& state : snapshot.bundles)
        all.emplace(state->id.toString(), describe(*state));
    return all;
}

// Records of three clients over a handful of bundles: every kind of change, clocks that agree
// only roughly, several changes in one record now and then.
std::vector<JournalRecord> randomRecords(quint32 seed, int count)
{
    QRandomGenerator random(seed);
    std::vector<BundleId> ids;
    for (int i = 0; i < 10; ++i)
        ids.push_back(BundleId(QUuid::createUuidV5(QUuid(), u"bundle %1 %2"_s.arg(seed).arg(i))));
    const QStringList clients{u"A"_s, u"B"_s, u"C"_s};
    std::map<QString, qint64> seqs;
    std::vector<JournalRecord> records;
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    const auto some = [&] { return ids[random.bounded(int(ids.size()))]; };
    for (int i = 0; i < count; ++i) {
        const QString client = clients[random.bounded(3)];
        const qint64 seq = ++seqs[client];
        const qint64 lamport = 1 + random.bounded(i / 2 + 2);
        const int changes = random.bounded(6) == 0 ? 2 : 1;
        // One person per client, working from one of two machines; the changes of a record
        // share its author, as read from a journal.
        const auto author = std::make_shared<const UserIdentity>(
            UserIdentity{client.toLower(), u"Editor "_s + client, u"host-%1-%2"_s.arg(client).arg(seq % 2)});
        for (int sub = 0; sub < changes; ++sub) {
            JournalRecord record;
            record.stamp = JournalStamp{lamport, client, seq, sub};
            record.bundle = some();
            record.date = start.addSecs(random.bounded(100'000));
            record.author = author;
            switch (random.bounded(11)) {
            case 0:
            case 1:
                record.kind = RecordKind::create;
                record.fields = {{u"name"_s, u"Made %1"_s.arg(i)},
                                 {u"type"_s, random.bounded(2) ? DocumentType::collection().toJson()
                                                               : DocumentType::textDocument().toJson()}};
                break;
            case 2:
                record.kind = RecordKind::rename;
                record.fields = {{u"name"_s, u"Renamed %1"_s.arg(i)}};
                break;
            case 3:
            case 4:
                record.kind = random.bounded(4) ? RecordKind::version : RecordKind::revert;
                record.fields = {{u"version"_s, QUuid::createUuidV5(QUuid(), QString::number(i)).toString(QUuid::WithoutBraces)},
                                 {u"manifest"_s, hashBytes(QByteArray::number(i)).toHex()}};
                break;
            case 5:
            case 6:
                record.kind = random.bounded(3) ? RecordKind::nest : RecordKind::unnest;
                record.fields = {{u"child"_s, some().toString()}};
                break;
            case 7:
                record.kind = RecordKind::trash;
                record.fields = {{u"unnestFrom"_s, QJsonArray{some().toString()}}};
                break;
            case 8:
                record.kind = RecordKind::restore;
                break;
            case 9:
                record.kind = random.bounded(4) == 0 ? RecordKind::deletePermanently : RecordKind::editing;
                break;
            default:
                record.kind = RecordKind::lock;
                break;
            }
            records.push_back(std::move(record));
        }
    }
    return records;
}

} // namespace

class IncrementalFoldTest : public QObject {
    Q_OBJECT

private slots:
    void anyOrderAndAnyBatchesGiveTheStateOfOneFold()
    {
        for (quint32 seed = 1; seed <= 40; ++seed) {
            const auto records = randomRecords(seed, 120);
            TeamModel whole;
            whole.apply(records);
            const auto expected = describe(*whole.snapshot());
            // Each record keeps its own author, though the model holds one copy of each person.
            std::map<std::pair<QString, qint64>, QString> hosts;
            for (const auto& record : records)
                hosts[{record.stamp.client, record.stamp.seq}] = record.hostName();
            for (const auto& state : whole.snapshot()->bundles) {
                for (const auto& record : state->history)
                    QCOMPARE(record.hostName(), hosts.at({record.stamp.client, record.stamp.seq}));
            }

            // Shuffled, in batches of one to seven, some records twice.
            QRandomGenerator random(seed * 7919);
            auto shuffled = records;
            for (int i = 0; i < 15; ++i)
                shuffled.push_back(records[random.bounded(int(records.size()))]);
            std::shuffle(shuffled.begin(), shuffled.end(), random);
            TeamModel pieces;
            std::vector<QSet<BundleId>> changes;
            for (size_t at = 0; at < shuffled.size();) {
                const size_t size = std::min(shuffled.size() - at, size_t(1 + random.bounded(7)));
                const auto before = pieces.snapshot();
                const std::vector<JournalRecord> batch(shuffled.begin() + qsizetype(at),
                                                       shuffled.begin() + qsizetype(at + size));
                const auto changed = pieces.apply(batch);
                const auto after = pieces.snapshot();
                at += size;
                if (changed.isEmpty()) {
                    QCOMPARE(after, before); // nothing new: the same snapshot
                    continue;
                }
                changes.push_back(changed);
                QCOMPARE(after->generation, before->generation + 1);
                // What the fold did not touch is the state published before, not a copy.
                for (const auto& state : before->bundles) {
                    if (!changed.contains(state->id))
                        QVERIFY(after->find(state->id) == state);
                }
                for (const auto& state : after->bundles)
                    QVERIFY(changed.contains(state->id) || before->find(state->id) == state);
            }
            const auto got = describe(*pieces.snapshot());
            for (const auto& [id, text] : expected) {
                if (got.count(id) == 0 || got.at(id) != text)
                    qWarning("seed %u\n%s\n----\n%s", seed, qPrintable(text), got.count(id) ? qPrintable(got.at(id)) : "none");
            }
            QCOMPARE(got, expected);

            // The changes of the latest folds, from any recent generation; none further back.
            const auto last = pieces.snapshot();
            for (quint64 back = 0; back <= changes.size() && back <= 5; ++back) {
                QSet<BundleId> union_;
                for (quint64 i = 0; i < back; ++i)
                    union_ += changes[changes.size() - 1 - i];
                QCOMPARE(last->changedSince(last->generation - back), std::optional(union_));
            }
            if (changes.size() > size_t(TeamSnapshot::recentChangesKept))
                QVERIFY(!last->changedSince(0));
            QVERIFY(!last->changedSince(last->generation + 1));
        }
    }

    void indexesKeptUpToDateMatchAFreshClients()
    {
        TeamFixture fixture;
        const std::vector<std::shared_ptr<TeamBundle>> writers{fixture.client(u"ana"_s), fixture.client(u"ben"_s),
                                                               fixture.client(u"cat"_s)};
        const auto watcher = fixture.client(u"watcher"_s);
        std::vector<BundleId> bundles;
        QRandomGenerator random(2024);
        const auto some = [&] { return bundles[random.bounded(int(bundles.size()))]; };
        const auto compare = [&](const std::shared_ptr<TeamBundle>& fresh) {
            for (const auto& [kept, anew] : {std::pair{watcher->versionBundles().liveIndex(), fresh->versionBundles().liveIndex()},
                                             std::pair{watcher->versionBundles().trashIndex(), fresh->versionBundles().trashIndex()}}) {
                QCOMPARE(kept.all, anew.all);
                QCOMPARE(kept.collections, anew.collections);
                QCOMPARE(kept.documents, anew.documents);
                QCOMPARE(kept.events, anew.events);
                for (const auto& summary : anew.all)
                    QCOMPARE(kept.summary(summary.id()), std::optional(summary));
            }
            QCOMPARE(describe(*watcher->snapshot()), describe(*fresh->snapshot()));
        };
        for (int step = 0; step < 160; ++step) {
            const auto& writer = writers[size_t(random.bounded(3))];
            writer->poll();
            const int what = bundles.size() < 4 ? 0 : random.bounded(9);
            const auto id = bundles.empty() ? BundleId::make() : some();
            switch (what) {
            case 0: {
                const auto made = BundleId::make();
                const bool collection = random.bounded(3) == 0;
                writer->commit(RecordKind::create, made,
                               {{u"name"_s, u"Bundle %1"_s.arg(step)},
                                {u"type"_s, collection ? DocumentType::collection().toJson()
                                                       : DocumentType::textDocument().toJson()}});
                bundles.push_back(made);
                break;
            }
            case 1:
            case 2:
                writer->commit(RecordKind::rename, id, {{u"name"_s, u"Renamed %1"_s.arg(step)}});
                break;
            case 3:
            case 4:
                writer->commit(random.bounded(3) ? RecordKind::nest : RecordKind::unnest, id,
                               {{u"child"_s, some().toString()}});
                break;
            case 5:
                writer->commit(RecordKind::trash, id, {{u"unnestFrom"_s, QJsonArray{some().toString()}}});
                break;
            case 6:
                writer->commit(RecordKind::restore, id, {});
                break;
            case 7:
                if (random.bounded(3) == 0)
                    writer->commit(RecordKind::deletePermanently, id, {});
                break;
            default: // two changes at once, in one record
                writer->commit({JournalChange{id, RecordKind::nest, {{u"child"_s, some().toString()}}},
                                JournalChange{some(), RecordKind::rename, {{u"name"_s, u"Both %1"_s.arg(step)}}}});
                break;
            }
            // The watcher follows every change, or now and then several at once.
            if (random.bounded(3) != 0) {
                watcher->poll();
                watcher->versionBundles().liveIndex();
                watcher->versionBundles().trashIndex();
            }
            if (step % 40 == 39) {
                watcher->poll();
                compare(fixture.client(u"fresh%1"_s.arg(step)));
            }
        }
    }

    void anIndexHandedOutStaysAsItWas()
    {
        TeamFixture fixture;
        const auto team = fixture.client(u"ana"_s);
        const auto make = [&](const QString& name, const DocumentType& type) {
            const auto id = BundleId::make();
            team->commit(RecordKind::create, id, {{u"name"_s, name}, {u"type"_s, type.toJson()}});
            return id;
        };
        const auto names = [](const SummaryList& list) {
            QStringList all;
            for (const auto& summary : list)
                all << summary.name();
            return all;
        };
        // Enough bundles that one change is folded into the index, not indexed anew.
        QStringList fillers;
        for (int i = 0; i < 12; ++i) {
            fillers << u"Filler %1"_s.arg(i);
            make(fillers.back(), DocumentType::subtitles());
        }
        const auto reels = make(u"Reels"_s, DocumentType::collection());
        const auto cut = make(u"Cut"_s, DocumentType::kdenliveProject());
        const auto notes = make(u"Notes"_s, DocumentType::textDocument());
        team->commit(RecordKind::nest, reels, {{u"child"_s, cut.toString()}});
        const auto before = team->versionBundles().liveIndex();

        // A rename in place, a bundle leaving, one arriving: the index handed out before is
        // unchanged, and the new one lists each kind as it is now.
        team->commit(RecordKind::rename, cut, {{u"name"_s, u"Final cut"_s}});
        team->commit(RecordKind::trash, notes, {});
        const auto day = make(u"Day 1"_s, DocumentType::event());
        const auto after = team->versionBundles().liveIndex();
        QCOMPARE(names(before.documents), fillers + QStringList({u"Cut"_s, u"Notes"_s}));
        QCOMPARE(names(before.collections), QStringList{u"Reels"_s});
        QVERIFY(before.events.isEmpty());
        QCOMPARE(names(after.documents), fillers + QStringList{u"Final cut"_s});
        QCOMPARE(names(after.collections), QStringList{u"Reels"_s});
        QCOMPARE(names(after.events), QStringList{u"Day 1"_s});
        QCOMPARE(after.documents.last().activeContainers.size(), 1);
        QCOMPARE(after.summary(day)->name(), u"Day 1"_s);
        QCOMPARE(names(team->versionBundles().trashIndex().documents), QStringList{u"Notes"_s});

        // Renaming the container changes the summaries nested in it, in place.
        team->commit(RecordKind::rename, reels, {{u"name"_s, u"All reels"_s}});
        const auto renamed = team->versionBundles().liveIndex();
        QCOMPARE(renamed.documents.last().activeContainers.first().name, u"All reels"_s);
        QCOMPARE(after.documents.last().activeContainers.first().name, u"Reels"_s);
        QCOMPARE(renamed.documents.last(), *renamed.summary(cut));

        // Indexes added together list the kinds of both, in their order.
        VersionBundlesIndex both = team->versionBundles().liveIndex();
        both += team->versionBundles().trashIndex();
        QCOMPARE(names(both.documents), fillers + QStringList({u"Final cut"_s, u"Notes"_s}));
        QCOMPARE(both.all.size(), 16);
        QCOMPARE(both.summary(notes)->name(), u"Notes"_s);
    }

    void aBundleCreatedEarlierElsewhereChangesKindInTheIndex()
    {
        TeamFixture fixture;
        const auto ben = fixture.client(u"ben"_s); // has seen nothing: his stamps come first
        const auto ana = fixture.client(u"ana"_s);
        const auto watcher = fixture.client(u"watcher"_s);
        const auto id = BundleId::make();
        ana->commit(RecordKind::create, BundleId::make(),
                    {{u"name"_s, u"Reels"_s}, {u"type"_s, DocumentType::collection().toJson()}});
        const auto anas = ana->commit(RecordKind::create, id,
                                      {{u"name"_s, u"Shot"_s}, {u"type"_s, DocumentType::textDocument().toJson()}});
        watcher->poll();
        QCOMPARE(watcher->versionBundles().liveIndex().documents.size(), 1);

        const auto bens = ben->commit(RecordKind::create, id,
                                      {{u"name"_s, u"Shot"_s}, {u"type"_s, DocumentType::collection().toJson()}});
        watcher->poll();
        const auto index = watcher->versionBundles().liveIndex();
        // The earlier creation decides the kind, and the bundle is listed under that kind only.
        QVERIFY(bens.front().stamp < anas.front().stamp);
        QVERIFY(index.documents.isEmpty());
        QCOMPARE(index.collections.size(), 2);
        QCOMPARE(index.summary(id)->documentType(), DocumentType::collection());
        const auto fresh = fixture.client(u"fresh"_s)->versionBundles().liveIndex();
        QCOMPARE(index.all, fresh.all);
        QCOMPARE(index.collections, fresh.collections);
        QCOMPARE(index.documents, fresh.documents);
    }

    void lookingUpAnIndexChangedByHand()
    {
        VersionBundlesIndex index;
        const auto summary = [](const QString& name, const DocumentType& type) {
            return VersionBundle::Summary{QString(), {BundleId::make(), name, type, QDateTime(), false}, {}, {}};
        };
        const auto first = summary(u"First"_s, DocumentType::collection());
        const auto second = summary(u"Second"_s, DocumentType::textDocument());
        index.append(first);
        index.append(second);
        QCOMPARE(index.collections.size(), 1);
        QCOMPARE(index.documents, QList{second});
        QCOMPARE(index.summary(second.id()), std::optional(second));
        QCOMPARE(index.summaries({second.id(), BundleId::make(), first.id()}),
                 (QList<VersionBundle::Summary>{second, first}));

        // Lists are public: whatever a caller did to them, a look-up never answers wrongly.
        index.all.removeFirst();
        QCOMPARE(index.summary(second.id()), std::optional(second));
        QCOMPARE(index.summary(first.id()), std::nullopt);
        index.all.prepend(first);
        QCOMPARE(index.summary(first.id()), std::optional(first));
        // Lists of kinds made before stay as they were; appending lists them anew.
        index.all.move(0, 1);
        QCOMPARE(index.documents, QList{second});
        const auto third = summary(u"Third"_s, DocumentType::textDocument());
        index.append(third);
        QCOMPARE(index.collections, QList{first});
        QCOMPARE(index.documents, (QList{second, third}));

        VersionBundlesIndex both = VersionBundlesIndex::empty();
        both += index;
        both += index;
        QCOMPARE(both.all.size(), 6);
        QCOMPARE(both.documents.size(), 4);
        QCOMPARE(both.summary(second.id()), std::optional(second));
    }
};

QTEST_GUILESS_MAIN(IncrementalFoldTest)
#include "incremental_fold_test.moc"
