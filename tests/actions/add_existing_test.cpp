// The add-existing picker: matching, ranking and grouping candidates, the limits of the
// container, and adding the selection, over hand-made summaries and a real team bundle.

#include "actions/add_existing_version_bundle.h"
#include "engine/engine_errors.h"
#include "engine/version_bundles.h"
#include "model/collections.h"
#include "model/support/item_test_support.h"

#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

using Summary = VersionBundle::Summary;

Summary handMade(const char* name, DocumentType type = DocumentType::kdenliveProject())
{
    VersionBundle::Info info;
    info.id = IdFor<VersionBundle>::make();
    info.name = QString::fromUtf8(name);
    info.documentType = std::move(type);
    return Summary::placeholder(info);
}

DocumentType customType(const char* identifier, std::optional<QString> groupName)
{
    const QString id = QString::fromUtf8(identifier);
    return DocumentType::custom(DocumentType::Custom{id, id, {id}, false, std::move(groupName)});
}

template<typename T>
QStringList names(const QList<T>& items)
{
    QStringList result;
    for (const auto& item : items) {
        if constexpr (std::is_same_v<T, RankedItem>)
            result << item.item.name();
        else
            result << item.name();
    }
    return result;
}

QStringList list(const char* commaSeparated)
{
    return QString::fromUtf8(commaSeparated).split(QLatin1Char(','));
}

QList<RankedItem> unranked(const QList<Summary>& items)
{
    return rankedItems(items, QString(), IndexingOptions::all());
}

std::unique_ptr<AddExistingVersionBundle> makePicker(std::shared_ptr<AnyContainerItem> container,
                                                     AddExistingVersionBundle::IndexProvider index,
                                                     AddExistingVersionBundle::AcceptanceCriteria criteria = {})
{
    return std::make_unique<AddExistingVersionBundle>(std::move(container), std::move(index),
                                                      &VersionBundlesIndex::documents, std::move(criteria));
}

// Collections "Alpha" (documents "Intro" and "Alpha"), "Beta Reel" ("Alphabet" and "Outro"),
// "Target" (empty) and "Archive" ("Old Cut"), which is in the trash.
struct Team {
    TeamFixture fixture;
    std::shared_ptr<TeamBundle> team = fixture.client(QStringLiteral("ana"));
    std::shared_ptr<Collection> alpha = newCollection(team, QStringLiteral("Alpha"));
    std::shared_ptr<Collection> beta = newCollection(team, QStringLiteral("Beta Reel"));
    std::shared_ptr<Collection> target = newCollection(team, QStringLiteral("Target"));
    std::shared_ptr<Collection> archive = newCollection(team, QStringLiteral("Archive"));
    bool failIndex = false;

    Team()
    {
        for (const auto& [collection, name] :
             {std::pair{alpha, "Intro"}, {alpha, "Alpha"}, {beta, "Alphabet"}, {beta, "Outro"}, {archive, "Old Cut"}}) {
            const QString title = QString::fromUtf8(name);
            syncWait(collection->createNestedItem(writeProject(fixture, title, title + QStringLiteral(".kdenlive"))));
        }
        syncWait(Collections(team).deleteCollection(archive));
    }

    Summary live(const char* name) const
    {
        const QList<Summary> all = team->versionBundles().liveIndex().all;
        return *std::ranges::find_if(all,
                                     [&](const Summary& bundle) { return bundle.name() == QString::fromUtf8(name); });
    }

    std::unique_ptr<AddExistingVersionBundle> picker(const std::shared_ptr<Collection>& container)
    {
        return makePicker(container, [this](IndexingOptions) {
            if (failIndex)
                throw VersioningError(VersioningError::Case::itemNotFound, QStringLiteral("index"));
            return team->versionBundles().liveIndex();
        });
    }
};

} // namespace

class AddExistingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void entriesMatchCharactersInOrder()
    {
        // Characters are what a reader sees: a precomposed accent equals the combining one and
        // case folds across it, but an accented letter is not its base letter. Plain ASCII names
        // match alike: the Kelvin sign folds to "k", and a CR LF pair is one character.
        for (const auto& [entry, name] : {std::pair{"cmr", "Camera roll"},
                                          {"ABC", "a-b-c"},
                                          {"", "Anything"},
                                          {"\xC3\xA9t\xC3\xA9", "e\xCC\x81t\xC3\xA9"},
                                          {"\xC3\x89", "\xC3\xA9"},
                                          {"\xE2\x84\xAA", "Kit"},
                                          {"\r", "a\rb"}})
            QVERIFY2(matches(QString::fromUtf8(entry), QString::fromUtf8(name)), entry);
        for (const auto& [entry, name] : {std::pair{"ba", "ab"},
                                          {"aa", "a"},
                                          {"x", ""},
                                          {" a", "a"},
                                          {"e", "\xC3\xA9"},
                                          {"e", "e\xCC\x81"},
                                          {"\xC3\xA9", "cafe"},
                                          {"\n", "a\r\nb"}})
            QVERIFY2(!matches(QString::fromUtf8(entry), QString::fromUtf8(name)), entry);
    }

    void rankingsOverTheTeamBundle()
    {
        Team bundle;
        const auto picker = bundle.picker(bundle.target);
        picker->reload();
        picker->setSearchEntry(QStringLiteral("alp"));
        const auto ranked = picker->rankedItems();
        QCOMPARE(names(ranked), list("Intro,Alpha,Alphabet"));
        QCOMPARE(ranked.at(0).ranking, 1); // only its collection matches
        QCOMPARE(ranked.at(1).ranking, 3); // itself and its collection
        QCOMPARE(ranked.at(2).ranking, 2); // only itself

        // A single space is an entry like any other.
        picker->setSearchEntry(QStringLiteral(" "));
        QCOMPARE(names(picker->rankedItems()), list("Alphabet,Outro,Old Cut"));

        // Trashed containers count in trash mode only; trash mode is the trash alone.
        const Summary oldCut = bundle.live("Old Cut");
        picker->setSearchEntry(QStringLiteral("arch"));
        QVERIFY(!picker->rank(oldCut));
        picker->setIndexingOptions(IndexingOptions::trash());
        QCOMPARE(picker->rank(oldCut), std::optional(RankedItem{oldCut, 1}));
        picker->setIndexingOptions({IndexingOptions::all(), IndexingOptions::trash()});
        QVERIFY(!picker->rank(oldCut));
    }

    void resultsAreGroupedAndOrdered()
    {
        const QList<Summary> items{handMade("b"), handMade("B"), handMade("a")};
        QCOMPARE(names(categorizedResults(unranked(items), SortingOptions::ascending).at(0).items), list("B,a,b"));
        QCOMPARE(names(categorizedResults(unranked(items), SortingOptions::descending).at(0).items), list("b,a,B"));
        // Equal rankings and names keep their order; a better ranking comes first, in both directions.
        const auto twins = unranked({handMade("Same"), handMade("Same"), handMade("Same")});
        const QList<RankedItem> mixed{{handMade("a"), 2}, {handMade("z"), 3}, {handMade("m"), 1}};
        for (const auto sorting : {SortingOptions::ascending, SortingOptions::descending}) {
            QCOMPARE(categorizedResults(twins, sorting).at(0).items, twins);
            QCOMPARE(names(categorizedResults(mixed, sorting).at(0).items), list("z,a,m"));
        }

        QVERIFY(categorizedResults({}, SortingOptions::ascending).isEmpty());
        const QList<Summary> typed{handMade("Notes", DocumentType::unknown(QStringLiteral("txt"))),
                                   handMade("Cut"),
                                   handMade("Day 1", DocumentType::event()),
                                   handMade("Grade", customType("grade", QStringLiteral("Zeta"))),
                                   handMade("Look", customType("look", QStringLiteral("Beta"))),
                                   handMade("Scene", customType("scene", QStringLiteral("Projects"))),
                                   handMade("Plain", customType("plain", std::nullopt)),
                                   handMade("Mix", customType("mix", QStringLiteral("Zeta")))};
        QStringList sections;
        for (const auto& section : categorizedResults(unranked(typed), SortingOptions::ascending))
            sections << section.category.title() + QLatin1Char(':') + names(section.items).join(QLatin1Char('+'));
        QCOMPARE(sections, (QStringList{QStringLiteral("Beta:Look"), QStringLiteral("Zeta:Grade+Mix"),
                                        DocumentTypeCategory::events().title() + QStringLiteral(":Day 1"),
                                        DocumentTypeCategory::projects().title() + QStringLiteral(":Cut+Scene"),
                                        DocumentTypeCategory::other().title() + QStringLiteral(":Notes+Plain")}));
    }

    void limitsOfTheContainer()
    {
        const DocumentType projects = DocumentType::kdenliveProject();
        const DocumentType texts = DocumentType::textDocument();
        const auto maximum = [](const DocumentType& type) {
            return std::optional(QStringLiteral("Maximum reached for ") + type.description());
        };
        auto picker = makePicker(nullptr, [](IndexingOptions) { return VersionBundlesIndex::empty(); },
                                 {{projects, {3, 2}}, {texts, {0, 0}}});
        QCOMPARE(picker->limitMessage(), std::nullopt); // nothing selected
        const Summary one = handMade("One"), two = handMade("Two"), script = handMade("Script", texts);
        const Summary pdf = handMade("Sheet", DocumentType::pdfDocument());

        picker->setSelection({one}); // 3 taken, 2 held: one more fits, two do not
        QVERIFY(!picker->exceedsAcceptanceLimit());
        picker->setSelection({one, two});
        QCOMPARE(picker->limitMessage(), maximum(projects));
        // A type without criteria never exceeds; a limit of 0 takes nothing.
        picker->setSelection({pdf, handMade("Sheet 2", DocumentType::pdfDocument())});
        QVERIFY(!picker->exceedsAcceptanceLimit());
        picker->setSelection({pdf, script});
        QCOMPARE(picker->limitMessage(), maximum(texts));
        // Two types over their limits: the message names one of them.
        picker->setSelection({one, two, script});
        QVERIFY(picker->limitMessage() == maximum(projects) || picker->limitMessage() == maximum(texts));
    }

    void addingAndReloading()
    {
        Team bundle;
        auto picker = bundle.picker(bundle.target);
        picker->reload();
        syncWait(picker->add()); // nothing selected: nothing added
        QVERIFY(bundle.target->nestedItems().isEmpty());

        // Two bundles of one collection list it once, among the containers sorted by name.
        picker->setSelection({bundle.live("Outro"), bundle.live("Intro"), bundle.live("Alphabet")});
        QCOMPARE(names(picker->selectedItems()), list("Alpha,Beta Reel"));
        auto adding = picker->add();
        picker.reset(); // closed while the bundles are being added
        syncWait(std::move(adding));
        QStringList added = namesOf(bundle.target->nestedItems());
        added.sort();
        QCOMPARE(added, list("Alphabet,Intro,Outro"));

        // Loading until the first reload, which lists what the container lacks, with nothing selected.
        picker = bundle.picker(bundle.target);
        QVERIFY(picker->loading());
        const Summary oldCut = bundle.live("Old Cut");
        picker->setSelection({oldCut});
        picker->reload();
        QCOMPARE(names(picker->items()), list("Alpha,Old Cut"));
        QVERIFY(picker->selection().isEmpty());
        QVERIFY(!picker->loading());

        // A failed read keeps what was listed and selected, and ends the loading.
        picker->setSelection({oldCut});
        bundle.failIndex = true;
        QVERIFY_THROWS_EXCEPTION(VersioningError, picker->reload());
        QCOMPARE(names(picker->items()), list("Alpha,Old Cut"));
        QCOMPARE(picker->selection(), QSet<Summary>{oldCut});
        QVERIFY(!picker->loading());
    }
};

QTEST_MAIN(AddExistingTest)
#include "add_existing_test.moc"
