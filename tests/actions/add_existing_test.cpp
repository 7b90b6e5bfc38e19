// The add-existing picker: finding candidates by name, ranking and grouping them, the limits of
// the container, and adding the selection, over hand-made summaries and a real team bundle.

#include "actions/add_existing_version_bundle.h"
#include "engine/engine_errors.h"
#include "engine/version_bundles.h"
#include "model/collections.h"
#include "model/support/item_test_support.h"

#include <QSignalSpy>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

using Summary = VersionBundle::Summary;
using Info = VersionBundle::Info;

Info info(const QString& name, DocumentType type = DocumentType::collection())
{
    Info made;
    made.id = IdFor<VersionBundle>::make();
    made.name = name;
    made.documentType = std::move(type);
    return made;
}

Summary handMade(const QString& name, DocumentType type = DocumentType::kdenliveProject())
{
    return Summary::placeholder(info(name, std::move(type)));
}

DocumentType customType(const QString& identifier, std::optional<QString> groupName)
{
    return DocumentType::custom(DocumentType::Custom{identifier, identifier, {identifier}, false, std::move(groupName)});
}

QStringList namesOf(const QList<RankedItem>& items)
{
    QStringList names;
    for (const auto& item : items)
        names << item.item.name();
    return names;
}

QStringList namesOf(const QList<Summary>& items)
{
    QStringList names;
    for (const auto& item : items)
        names << item.name();
    return names;
}

QList<IdFor<VersionBundle>> idsOf(const QList<RankedItem>& items)
{
    QList<IdFor<VersionBundle>> ids;
    for (const auto& item : items)
        ids << item.item.id();
    return ids;
}

QList<RankedItem> rankedZero(const QList<Summary>& items) { return rankedItems(items, QString(), IndexingOptions::all()); }

// A container that records what it is asked to add and fails the call numbered `failingCall`.
class RecordingContainer final : public AnyContainerItem {
public:
    QList<IdFor<VersionBundle>> calls;
    int failingCall = 0;

    QString name() const override { return QStringLiteral("Recorder"); }
    QString icon() const override { return QString(); }
    const DocumentType& documentType() const override { return m_type; }
    QDateTime modificationDate() const override { return QDateTime(); }
    const std::shared_ptr<VersioningService>& versioningService() const override { return m_service; }
    QObject* object() override { return nullptr; }
    QCoro::Task<> refresh() override { co_return; }
    bool isLoadingNestedItems() const override { return false; }
    void setIsLoadingNestedItems(bool) override {}
    QCoro::Task<> loadNestedItems() override { co_return; }
    QCoro::Task<> createNestedItem(QString) override { co_return; }

    QCoro::Task<> addExistingNestedItem(IdFor<VersionBundle> id) override
    {
        calls << id;
        if (calls.size() == failingCall)
            throw VersioningError(VersioningError::Case::itemNotFound, id.toString());
        co_return;
    }

private:
    DocumentType m_type = DocumentType::collection();
    std::shared_ptr<VersioningService> m_service;
};

// A picker over hand-made summaries, with no index behind it.
std::unique_ptr<AddExistingVersionBundle> pickerFor(std::shared_ptr<AnyContainerItem> container,
                                                    AddExistingVersionBundle::AcceptanceCriteria criteria = {})
{
    auto noIndex = [](IndexingOptions) { return VersionBundlesIndex::empty(); };
    return std::make_unique<AddExistingVersionBundle>(std::move(container), std::move(noIndex),
                                                      &VersionBundlesIndex::documents, std::move(criteria));
}

// A team bundle with the collections "Alpha" (documents "Intro" and "Alpha"), "Beta Reel"
// ("Alphabet" and "Outro"), "Target" (empty) and "Archive" (holding "Old Cut"), which is in the
// trash.
struct Team {
    TeamFixture fixture;
    std::shared_ptr<TeamBundle> team = fixture.client(QStringLiteral("ana"));
    std::shared_ptr<Collection> alpha = newCollection(team, QStringLiteral("Alpha"));
    std::shared_ptr<Collection> beta = newCollection(team, QStringLiteral("Beta Reel"));
    std::shared_ptr<Collection> target = newCollection(team, QStringLiteral("Target"));
    std::shared_ptr<Collection> archive = newCollection(team, QStringLiteral("Archive"));
    QList<IndexingOptions> requests;
    bool failIndex = false;

    Team()
    {
        import(alpha, QStringLiteral("Intro"));
        import(alpha, QStringLiteral("Alpha"));
        import(beta, QStringLiteral("Alphabet"));
        import(beta, QStringLiteral("Outro"));
        import(archive, QStringLiteral("Old Cut"));
        Collections collections(team);
        syncWait(collections.deleteCollection(archive));
    }

    void import(const std::shared_ptr<Collection>& collection, const QString& name)
    {
        syncWait(collection->createNestedItem(writeProject(fixture, name, name + QStringLiteral(".kdenlive"))));
    }

    Summary live(const QString& name) const
    {
        for (const auto& candidate : team->versionBundles().liveIndex().all) {
            if (candidate.name() == name)
                return candidate;
        }
        qFatal("no bundle %s", qPrintable(name));
    }

    // A picker for `container` over the live index, whatever the options.
    std::unique_ptr<AddExistingVersionBundle> picker(const std::shared_ptr<Collection>& container)
    {
        auto index = [this](IndexingOptions options) {
            requests << options;
            if (failIndex)
                throw VersioningError(VersioningError::Case::itemNotFound, QStringLiteral("index"));
            return team->versionBundles().liveIndex();
        };
        return std::make_unique<AddExistingVersionBundle>(container, std::move(index), &VersionBundlesIndex::documents,
                                                          AddExistingVersionBundle::AcceptanceCriteria{});
    }
};

} // namespace

class AddExistingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void entriesMatchCharactersInOrder()
    {
        const auto matchesText = [](const char* entry, const char* name) {
            return matches(QString::fromUtf8(entry), QString::fromUtf8(name));
        };
        QVERIFY(matchesText("cmr", "Camera roll"));
        QVERIFY(matchesText("ABC", "a-b-c"));
        QVERIFY(!matchesText("ba", "ab"));
        QVERIFY(!matchesText("aa", "a"));
        QVERIFY(!matchesText("x", ""));
        QVERIFY(matchesText("", "Anything"));
        QVERIFY(!matchesText(" a", "a")); // nothing is trimmed

        // Characters are what a reader sees: a precomposed accent equals the combining one, an
        // accented letter is not its base letter, and case folds across the accent.
        QVERIFY(matchesText("\xC3\xA9t\xC3\xA9", "e\xCC\x81t\xC3\xA9"));  // "été" against "e + ◌́ + té"
        QVERIFY(matchesText("e\xCC\x81", "caf\xC3\xA9"));                 // "e + ◌́" against "café"
        QVERIFY(matchesText("\xC3\x89", "\xC3\xA9"));                     // "É" against "é"
        QVERIFY(!matchesText("e", "\xC3\xA9"));                           // "e" against "é"
        QVERIFY(!matchesText("e", "e\xCC\x81"));                          // "e" against "e + ◌́"
    }

    void rankingsOverTheTeamBundle()
    {
        Team bundle;
        const auto picker = bundle.picker(bundle.target);
        picker->reload();
        QCOMPARE(namesOf(picker->items()), (QStringList{QStringLiteral("Intro"), QStringLiteral("Alpha"),
                                                        QStringLiteral("Alphabet"), QStringLiteral("Outro"),
                                                        QStringLiteral("Old Cut")}));

        // Without an entry every candidate is listed, ranked 0.
        QCOMPARE(picker->rankedItems().size(), 5);
        for (const auto& ranked : picker->rankedItems())
            QCOMPARE(ranked.ranking, 0);

        picker->setSearchEntry(QStringLiteral("alp"));
        const auto ranked = picker->rankedItems();
        QCOMPARE(namesOf(ranked), (QStringList{QStringLiteral("Intro"), QStringLiteral("Alpha"), QStringLiteral("Alphabet")}));
        QCOMPARE(ranked.at(0).ranking, 1); // only its collection matches
        QCOMPARE(ranked.at(1).ranking, 3); // itself and its collection
        QCOMPARE(ranked.at(2).ranking, 2); // only itself
        QVERIFY(!picker->rank(bundle.live(QStringLiteral("Outro"))));

        // A single space is an entry like any other: it keeps the names holding a space.
        picker->setSearchEntry(QStringLiteral(" "));
        QCOMPARE(namesOf(picker->rankedItems()),
                 (QStringList{QStringLiteral("Alphabet"), QStringLiteral("Outro"), QStringLiteral("Old Cut")}));
        QCOMPARE(picker->rankedItems().at(2).ranking, 2);

        // Trashed containers count in trash mode only; trash mode is the trash alone.
        const Summary oldCut = bundle.live(QStringLiteral("Old Cut"));
        picker->setSearchEntry(QStringLiteral("arch"));
        QVERIFY(!picker->rank(oldCut));
        picker->setIndexingOptions(IndexingOptions::trash());
        QCOMPARE(picker->rank(oldCut), std::optional(RankedItem{oldCut, 1}));
        picker->setIndexingOptions({IndexingOptions::all(), IndexingOptions::trash()});
        QVERIFY(!picker->rank(oldCut));
        QVERIFY(!rank(oldCut, QStringLiteral("arch"), IndexingOptions(3)));
        QVERIFY(rank(oldCut, QStringLiteral("arch"), IndexingOptions(2)));
    }

    void sortingWithinASection()
    {
        const QList<Summary> items{handMade(QStringLiteral("b")), handMade(QStringLiteral("B")), handMade(QStringLiteral("a"))};
        const auto ascending = categorizedResults(rankedZero(items), SortingOptions::ascending);
        QCOMPARE(ascending.size(), 1);
        QCOMPARE(namesOf(ascending.at(0).items), (QStringList{QStringLiteral("B"), QStringLiteral("a"), QStringLiteral("b")}));
        const auto descending = categorizedResults(rankedZero(items), SortingOptions::descending);
        QCOMPARE(namesOf(descending.at(0).items), (QStringList{QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("B")}));

        // Equal rankings and names keep the order of the items in both directions.
        const QList<Summary> twins{handMade(QStringLiteral("Same")), handMade(QStringLiteral("Same")),
                                   handMade(QStringLiteral("Same"))};
        const auto ordered = idsOf(rankedZero(twins));
        QCOMPARE(idsOf(categorizedResults(rankedZero(twins), SortingOptions::ascending).at(0).items), ordered);
        QCOMPARE(idsOf(categorizedResults(rankedZero(twins), SortingOptions::descending).at(0).items), ordered);

        // A better ranking comes first, whatever the names and the direction.
        const Summary a = handMade(QStringLiteral("a"));
        const Summary z = handMade(QStringLiteral("z"));
        const QList<RankedItem> mixed{{a, 2}, {z, 3}, {handMade(QStringLiteral("m")), 1}};
        QCOMPARE(namesOf(categorizedResults(mixed, SortingOptions::ascending).at(0).items),
                 (QStringList{QStringLiteral("z"), QStringLiteral("a"), QStringLiteral("m")}));
        const QList<RankedItem> flipped{{z, 2}, {a, 3}};
        QCOMPARE(namesOf(categorizedResults(flipped, SortingOptions::descending).at(0).items),
                 (QStringList{QStringLiteral("a"), QStringLiteral("z")}));

        // Through the picker: its sorting option and entry apply.
        auto picker = pickerFor(nullptr);
        picker->setItems(items);
        QCOMPARE(namesOf(picker->categorizedResults().at(0).items), (QStringList{QStringLiteral("B"), QStringLiteral("a"), QStringLiteral("b")}));
        picker->setSortingOptions(SortingOptions::descending);
        picker->setSearchEntry(QStringLiteral("b"));
        QCOMPARE(namesOf(picker->categorizedResults().at(0).items), (QStringList{QStringLiteral("b"), QStringLiteral("B")}));
        QCOMPARE(fromRawValue<SortingOptions>(toRawValue(SortingOptions::descending)), std::optional(SortingOptions::descending));
    }

    void sectionsFollowTheCategoryOrder()
    {
        QVERIFY(categorizedResults({}, SortingOptions::ascending).isEmpty());

        const QList<Summary> items{
            handMade(QStringLiteral("Notes"), DocumentType::unknown(QStringLiteral("txt"))),
            handMade(QStringLiteral("Cut"), DocumentType::kdenliveProject()),
            handMade(QStringLiteral("Day 1"), DocumentType::event()),
            handMade(QStringLiteral("Grade"), customType(QStringLiteral("grade"), QStringLiteral("Zeta"))),
            handMade(QStringLiteral("Look"), customType(QStringLiteral("look"), QStringLiteral("Beta"))),
            handMade(QStringLiteral("Scene"), customType(QStringLiteral("scene"), QStringLiteral("Projects"))),
            handMade(QStringLiteral("Plain"), customType(QStringLiteral("plain"), std::nullopt)),
            handMade(QStringLiteral("Mix"), customType(QStringLiteral("mix"), QStringLiteral("Zeta"))),
        };
        const auto results = categorizedResults(rankedZero(items), SortingOptions::ascending);
        QStringList titles;
        QList<QStringList> contents;
        for (const auto& section : results) {
            titles << section.category.title();
            contents << namesOf(section.items);
        }
        QCOMPARE(titles, (QStringList{QStringLiteral("Beta"), QStringLiteral("Zeta"), DocumentTypeCategory::events().title(),
                                      DocumentTypeCategory::projects().title(), DocumentTypeCategory::other().title()}));
        QCOMPARE(contents, (QList<QStringList>{{QStringLiteral("Look")},
                                                {QStringLiteral("Grade"), QStringLiteral("Mix")},
                                                {QStringLiteral("Day 1")},
                                                {QStringLiteral("Cut"), QStringLiteral("Scene")},
                                                {QStringLiteral("Notes"), QStringLiteral("Plain")}}));
    }

    void limitsOfTheContainer()
    {
        const DocumentType projects = DocumentType::kdenliveProject();
        const DocumentType texts = DocumentType::textDocument();
        const QString maximum = QStringLiteral("Maximum reached for ");
        auto picker = pickerFor(nullptr, {{projects, {3, 2}}, {texts, {0, 0}}});

        const Summary first = handMade(QStringLiteral("One"));
        picker->setSelection({first});
        QVERIFY(!picker->exceedsLimit(projects));
        QVERIFY(!picker->exceedsAcceptanceLimit());
        picker->setSelection({first, handMade(QStringLiteral("Two"))});
        QVERIFY(picker->exceedsLimit(projects));
        QVERIFY(picker->exceedsAcceptanceLimit());
        QCOMPARE(picker->limitMessage(), maximum + projects.description());

        // A type without criteria never exceeds; a limit of 0 takes nothing.
        const Summary pdf = handMade(QStringLiteral("Sheet"), DocumentType::pdfDocument());
        picker->setSelection({pdf, handMade(QStringLiteral("Sheet 2"), DocumentType::pdfDocument())});
        QVERIFY(!picker->exceedsLimit(DocumentType::pdfDocument()));
        QVERIFY(!picker->exceedsAcceptanceLimit());
        QCOMPARE(picker->limitMessage(), std::nullopt);
        picker->setSelection({pdf, handMade(QStringLiteral("Script"), texts)});
        QVERIFY(picker->exceedsLimit(texts));
        QVERIFY(picker->exceedsAcceptanceLimit());
        QCOMPARE(picker->limitMessage(), maximum + texts.description());

        // Two types over their limits: the message names one of them.
        picker->setSelection({first, handMade(QStringLiteral("Two")), handMade(QStringLiteral("Script"), texts)});
        QVERIFY(picker->exceedsAcceptanceLimit());
        const auto message = picker->limitMessage();
        QVERIFY(message == maximum + projects.description() || message == maximum + texts.description());
    }

    void addingStopsAtTheFirstFailure()
    {
        const auto container = std::make_shared<RecordingContainer>();
        container->failingCall = 2;
        auto picker = pickerFor(container, {{DocumentType::kdenliveProject(), {0, 5}}});

        // Nothing selected: nothing to list, no limit, and the container is not asked.
        QVERIFY(picker->selectedItems().isEmpty());
        QVERIFY(!picker->exceedsAcceptanceLimit());
        QCOMPARE(picker->limitMessage(), std::nullopt);
        syncWait(picker->add());
        QVERIFY(container->calls.isEmpty());

        picker->setSelection({handMade(QStringLiteral("One")), handMade(QStringLiteral("Two")), handMade(QStringLiteral("Three"))});
        QList<IdFor<VersionBundle>> inOrder;
        for (const auto& selected : picker->selection())
            inOrder << selected.id();
        QSignalSpy selection(picker.get(), &AddExistingVersionBundle::selectionChanged);
        QVERIFY_THROWS_EXCEPTION(VersioningError, syncWait(picker->add()));
        QCOMPARE(container->calls, inOrder.mid(0, 2));
        QCOMPARE(selection.count(), 0);
    }

    void reloadListsWhatTheContainerLacks()
    {
        Team bundle;
        const auto picker = bundle.picker(bundle.alpha);
        QVERIFY(picker->loading());
        QVERIFY(picker->items().isEmpty());
        QVERIFY(picker->index().all.isEmpty());

        picker->setSelection({bundle.live(QStringLiteral("Outro"))});
        QSignalSpy loading(picker.get(), &AddExistingVersionBundle::loadingChanged);
        picker->reload();
        QCOMPARE(namesOf(picker->items()), (QStringList{QStringLiteral("Alphabet"), QStringLiteral("Outro"), QStringLiteral("Old Cut")}));
        QVERIFY(picker->selection().isEmpty());
        QVERIFY(!picker->loading());
        QCOMPARE(loading.count(), 2);
        QCOMPARE(bundle.requests, QList<IndexingOptions>{IndexingOptions::all()});

        // A failed read keeps what was listed and selected, and ends the loading.
        const Summary outro = bundle.live(QStringLiteral("Outro"));
        picker->setSelection({outro});
        bundle.failIndex = true;
        picker->setIndexingOptions(IndexingOptions::trash());
        QVERIFY_THROWS_EXCEPTION(VersioningError, picker->reload());
        QCOMPARE(bundle.requests.last(), IndexingOptions::trash());
        QCOMPARE(namesOf(picker->items()), (QStringList{QStringLiteral("Alphabet"), QStringLiteral("Outro"), QStringLiteral("Old Cut")}));
        QCOMPARE(picker->selection(), QSet<Summary>{outro});
        QVERIFY(!picker->loading());
        bundle.failIndex = false;

        // Whether a trashed container holds a bundle depends on the mode.
        const auto archived = bundle.picker(bundle.archive);
        archived->reload();
        QVERIFY(namesOf(archived->items()).contains(QStringLiteral("Old Cut")));
        archived->setIndexingOptions(IndexingOptions::trash());
        archived->reload();
        QVERIFY(!namesOf(archived->items()).contains(QStringLiteral("Old Cut")));
        QCOMPARE(archived->items().size(), 4);
    }

    void selectedItemsAreTheContainersInUse()
    {
        Team bundle;
        const auto picker = bundle.picker(bundle.target);
        picker->reload();

        // Two bundles of one collection list it once; the list is sorted by name.
        picker->setSelection({bundle.live(QStringLiteral("Intro")), bundle.live(QStringLiteral("Alpha"))});
        const auto alphaOnly = picker->selectedItems();
        QCOMPARE(namesOf(alphaOnly), QStringList{QStringLiteral("Alpha")});
        QCOMPARE(alphaOnly.at(0), *picker->index().summary(bundle.alpha->id()));
        picker->setSelection({bundle.live(QStringLiteral("Outro")), bundle.live(QStringLiteral("Intro")),
                              bundle.live(QStringLiteral("Alphabet"))});
        QCOMPARE(namesOf(picker->selectedItems()), (QStringList{QStringLiteral("Alpha"), QStringLiteral("Beta Reel")}));

        // A trashed container counts in trash mode only; missing from the index, it is a placeholder.
        const Summary oldCut = bundle.live(QStringLiteral("Old Cut"));
        picker->setSelection({oldCut});
        QVERIFY(picker->selectedItems().isEmpty());
        picker->setIndexingOptions(IndexingOptions::trash());
        QCOMPARE(picker->selectedItems(), QList<Summary>{Summary::placeholder(oldCut.activeContainers.at(0))});
    }

    void textsOfTheTrashMode()
    {
        auto picker = pickerFor(nullptr);
        QCOMPARE(picker->titleSuffix(), QString());
        QCOMPARE(picker->emptyMessage(), QStringLiteral("Nothing found"));
        picker->setIndexingOptions(IndexingOptions::trash());
        QCOMPARE(picker->titleSuffix(), QStringLiteral(" (Trash)"));
        QCOMPARE(picker->emptyMessage(), QStringLiteral("Empty"));
        picker->setIndexingOptions({IndexingOptions::all(), IndexingOptions::trash()});
        QCOMPARE(picker->titleSuffix(), QString());
        QCOMPARE(picker->emptyMessage(), QStringLiteral("Nothing found"));
    }

    void addNestsTheSelectionInTheContainer()
    {
        Team bundle;
        auto picker = bundle.picker(bundle.target);
        picker->reload();
        picker->setSelection({bundle.live(QStringLiteral("Intro")), bundle.live(QStringLiteral("Alphabet"))});

        // The picker may be closed while the bundles are being added.
        auto adding = picker->add();
        picker.reset();
        syncWait(std::move(adding));

        QStringList names = namesOf(bundle.target->nestedItems());
        names.sort();
        QCOMPARE(names, (QStringList{QStringLiteral("Alphabet"), QStringLiteral("Intro")}));

        // Once added, they are no longer candidates.
        picker = bundle.picker(bundle.target);
        picker->reload();
        QCOMPARE(namesOf(picker->items()), (QStringList{QStringLiteral("Alpha"), QStringLiteral("Outro"), QStringLiteral("Old Cut")}));
    }
};

QTEST_MAIN(AddExistingTest)
#include "add_existing_test.moc"
