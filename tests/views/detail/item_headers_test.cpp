// The headers above a selected item and a selection of version bundles, the summary label and
// the relative dates they show: their texts (with names that look like formats), the order of
// the icon stack, and which item the selected-item header follows.

#include "design/dark_theme.h"
#include "model/key_value_storage.h"
#include "model/support/item_test_support.h"
#include "open_team/team.h"
#include "views/detail/detail_look.h"
#include "views/detail/selected_item_header_view.h"
#include "views/detail/version_bundle_header_view.h"
#include "views/detail/version_bundle_summary_label.h"
#include "views/detail/versioned_item_header_view.h"
#include "views/detail/versioned_item_label.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>

#include <algorithm>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

const QDateTime kNow(QDate(2024, 3, 4), QTime(15, 0));

VersionBundle::Info info(const QString& name, DocumentType type = DocumentType::kdenliveProject())
{
    return VersionBundle::Info{IdFor<VersionBundle>(QUuid::createUuid()), name, std::move(type), kNow.addSecs(-7200),
                               false};
}

VersionBundle::Summary summary(const QString& name, DocumentType type = DocumentType::kdenliveProject(),
                               QList<VersionBundle::Info> containers = {})
{
    return VersionBundle::Summary{QString(), info(name, std::move(type)), containers, containers};
}

DocumentType customType(const QString& name)
{
    return DocumentType::custom({QStringLiteral("org.example.") + name, name, {name.toLower()}, false, name});
}

QStringList namesOf(const QList<VersionBundle::Summary>& summaries)
{
    QStringList names;
    for (const auto& s : summaries)
        names << s.name();
    return names;
}

void saveScreenshot(QWidget& widget, const QString& name)
{
    const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    QVERIFY(widget.grab().save(folder.filePath(name + QStringLiteral(".png"))));
}

const QStringList kFormatLikeNames{QStringLiteral("%1"), QStringLiteral("%d"), QStringLiteral("%@"),
                                   QStringLiteral("50%d"), QStringLiteral("%2$@ %%")};

} // namespace

class ItemHeadersTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void theBundleHeaderNamesOneItemOrCountsThem()
    {
        const auto cut = summary(QStringLiteral("Cut"));
        QCOMPARE(VersionBundleHeaderView::title({cut}), QStringLiteral("Cut"));
        QCOMPARE(VersionBundleHeaderView::subtitle({cut}, kNow), QStringLiteral("Edited 2 hours ago"));
        // The same summary twice is one item.
        QCOMPARE(VersionBundleHeaderView::title({cut, cut}), QStringLiteral("Cut"));

        QList<VersionBundle::Summary> five;
        for (int i = 0; i < 5; ++i)
            five << summary(QStringLiteral("Take %1").arg(i));
        QCOMPARE(VersionBundleHeaderView::title(five), QStringLiteral("5 Items"));
        QCOMPARE(VersionBundleHeaderView::subtitle(five, kNow), QStringLiteral("Selected"));
        QCOMPARE(VersionBundleHeaderView::iconSummaries(five).size(), 1);
        QCOMPARE(VersionBundleHeaderView::title({}), QStringLiteral("0 Items"));
        QCOMPARE(VersionBundleHeaderView::subtitle({}, kNow), QStringLiteral("Selected"));
        QVERIFY(VersionBundleHeaderView::iconSummaries({}).isEmpty());

        // A name is shown as it stands, whatever it looks like.
        for (const QString& name : kFormatLikeNames) {
            VersionBundleHeaderView view({summary(name)});
            QCOMPARE(view.titleLabel()->text(), name);
        }
    }

    void theIconStackHasADeterministicOrder()
    {
        const auto boards = summary(QStringLiteral("Boards"), customType(QStringLiteral("Storyboard")));
        const auto reels = summary(QStringLiteral("Reels"), DocumentType::collection());
        const auto zebra = summary(QStringLiteral("Zebra"), DocumentType::blenderProject());
        const auto alpha = summary(QStringLiteral("Alpha"), DocumentType::kdenliveProject());
        const auto script = summary(QStringLiteral("Script"), DocumentType::pdfDocument());
        // Custom first, then collections; the two project types by name; then documents.
        const QStringList expected{"Boards", "Reels", "Alpha", "Zebra", "Script"};
        QList<VersionBundle::Summary> selection{zebra, script, alpha, reels, boards};
        do {
            QCOMPARE(namesOf(VersionBundleHeaderView::iconSummaries(selection)), expected);
        } while (std::next_permutation(selection.begin(), selection.end(),
                                       [](const auto& a, const auto& b) { return a.name() < b.name(); }));

        // Several of one type: the same one stands for it whatever the order, also with equal names.
        auto twinA = summary(QStringLiteral("Cut"));
        auto twinB = summary(QStringLiteral("Cut"));
        const auto smaller = std::min(twinA.id(), twinB.id());
        const auto older = summary(QStringLiteral("Assembly"));
        for (const auto& order : {QList{twinA, older, twinB}, QList{twinB, twinA, older}}) {
            QCOMPARE(VersionBundleHeaderView::iconSummaries(order).first().id(), older.id());
            QCOMPARE(VersionBundleHeaderView::iconSummaries({order.first(), order.last()}).size(), 1);
        }
        QCOMPARE(VersionBundleHeaderView::iconSummaries({twinA, twinB}).first().id(), smaller);
        QCOMPARE(VersionBundleHeaderView::iconSummaries({twinB, twinA}).first().id(), smaller);
    }

    void theSummaryLabelInsertsNamesAsData()
    {
        // No container: "Trash"; one: its name as it stands; several: counted.
        QCOMPARE(VersionBundleSummaryLabel::containerText(summary(QStringLiteral("Cut")), false),
                 QStringLiteral("Trash"));
        for (const QString& name : kFormatLikeNames) {
            const auto used = summary(QStringLiteral("Cut"), DocumentType::kdenliveProject(),
                                      {info(name, DocumentType::collection())});
            QCOMPARE(VersionBundleSummaryLabel::containerText(used, false), name);
            VersionBundleSummaryLabel label(used, true, false);
            QCOMPARE(fullText(*label.containerLabel()), name);
        }
        const auto shared = summary(QStringLiteral("Cut"), DocumentType::kdenliveProject(),
                                    {info(QStringLiteral("%d"), DocumentType::collection()),
                                     info(QStringLiteral("%@"), DocumentType::collection())});
        QCOMPARE(VersionBundleSummaryLabel::containerText(shared, false), QStringLiteral("In 2 Collections"));

        // A trashed item: marked, and the trashed container counts, only when the trash is shown.
        auto trashed = summary(QStringLiteral("50%d"));
        trashed.info.isTrashed = true;
        trashed.activeContainers = {info(QStringLiteral("Old"), DocumentType::collection()),
                                    info(QStringLiteral("Live"), DocumentType::collection())};
        trashed.activeContainersExcludingTrash = {trashed.activeContainers.last()};
        QCOMPARE(VersionBundleSummaryLabel::nameText(trashed, true), QStringLiteral("50%d (Trash)"));
        QCOMPARE(VersionBundleSummaryLabel::nameText(trashed, false), QStringLiteral("50%d"));
        QCOMPARE(VersionBundleSummaryLabel::containerText(trashed, true), QStringLiteral("In 2 Collections"));
        QCOMPARE(VersionBundleSummaryLabel::containerText(trashed, false), QStringLiteral("Live"));

        VersionBundleSummaryLabel oneLine(trashed, false, false);
        QCOMPARE(oneLine.height(), 24);
        QVERIFY(!oneLine.containerLabel());
        VersionBundleSummaryLabel twoLines(trashed, true, true);
        QCOMPARE(twoLines.height(), 28);
    }

    void aRowDrawsANameWithLineBreaksOnOneLine()
    {
        const auto drawn = [](const QString& name) {
            VersionedItemFacts facts;
            facts.name = name;
            QImage image(240, 40, QImage::Format_ARGB32);
            image.fill(Qt::black);
            QPainter painter(&image);
            VersionedItemLabel::paint(painter, QRect(0, 8, 240, VersionedItemLabel::height), facts, 0, QFont());
            return image;
        };
        QCOMPARE(drawn(QStringLiteral("Reels\nTwo")), drawn(QStringLiteral("Reels Two")));
        QVERIFY(drawn(QStringLiteral("Reels\nTwo")) != drawn(QStringLiteral("Reels")));
        const QRect row(0, 0, 240, VersionedItemLabel::height);
        VersionedItemFacts facts;
        facts.name = QStringLiteral("Reels\u2028Two");
        QCOMPARE(VersionedItemLabel::toolTip(row, QPoint(100, 12), facts, QFont()), QStringLiteral("Reels Two"));
    }

    void theSelectedItemHeaderFollowsTheFocusedPane()
    {
        TeamFixture fixture;
        const auto bundle = fixture.client(QStringLiteral("ana"));
        AlertModel alert;
        SheetModel sheet;
        ConfirmationDialogModel confirmation;
        FileImporter importer;
        ToolbarProgressIndicator progress;
        Team team(
            bundle, QStringLiteral("vantrel"), [](const QUrl&) { return completedTask(); }, &alert, &sheet,
            &confirmation, &importer, &progress, std::make_shared<KeyValueStoragePreview>());
        auto reels = newCollection(bundle, QStringLiteral("Reels"));
        syncWait(reels->createNestedItem(
            writeLibrary(fixture, QStringLiteral("lib"), QStringLiteral("Wedding"), {QStringLiteral("Ceremony")})));
        syncWait(reels->loadNestedItems());
        const auto library = findDocument(reels, QStringLiteral("Wedding"));
        QVERIFY(library);
        syncWait(library->loadNestedItems());
        QCOMPARE(library->nestedItems().size(), 1);
        const auto ceremony = library->nestedItems().first();

        int made = 0;
        ItemButtonGroups groups{
            [&](const std::shared_ptr<Collection>& c) {
                ++made;
                return new QLabel(QStringLiteral("collection ") + c->name());
            },
            [&](const std::shared_ptr<Document>& d) {
                ++made;
                return new QLabel(QStringLiteral("document ") + d->name());
            },
            [&](const std::shared_ptr<Event>& e) {
                ++made;
                return new QLabel(QStringLiteral("event ") + e->name());
            },
        };
        auto& navigation = team.navigation();
        SelectedItemHeaderView view(&navigation, groups);
        QVERIFY(!view.shownItem());

        const auto shows = [&view](const QString& name, const QString& buttons) {
            return view.header() && view.header()->title() == name
                   && qobject_cast<QLabel*>(view.buttonGroup())->text() == buttons;
        };
        navigation.setFocus(ContentViewFocus::documentList); // nothing selected yet
        QVERIFY(!view.shownItem() && !view.header());

        navigation.setSelectedCollection(reels);
        navigation.setSelectedDocument(library);
        navigation.setSelectedEvent(ceremony);
        navigation.setFocus(ContentViewFocus::collectionList);
        QVERIFY(shows(QStringLiteral("Reels"), QStringLiteral("collection Reels")));
        navigation.setFocus(ContentViewFocus::documentList);
        QVERIFY(shows(QStringLiteral("Wedding"), QStringLiteral("document Wedding")));
        const int before = made;
        navigation.setFocus(ContentViewFocus::checkinView); // the same document keeps its widgets
        QVERIFY(shows(QStringLiteral("Wedding"), QStringLiteral("document Wedding")));
        QCOMPARE(made, before);
        navigation.setFocus(ContentViewFocus::eventList);
        QVERIFY(shows(QStringLiteral("Ceremony"), QStringLiteral("event Ceremony")));
        for (const auto focus : {ContentViewFocus::home, ContentViewFocus::trash}) {
            navigation.setFocus(focus);
            QVERIFY(!view.shownItem() && !view.header() && !view.buttonGroup());
        }

        // The header follows a rename of its item.
        navigation.setFocus(ContentViewFocus::collectionList);
        syncWait(reels->rename(QStringLiteral("%1 Reels %d")));
        QTRY_COMPARE(view.header()->title(), QStringLiteral("%1 Reels %d"));
        // A name with line breaks shows on one line; the name itself keeps them.
        syncWait(reels->rename(QStringLiteral("Reels\nTwo\r\nThree")));
        QTRY_COMPARE(view.header()->title(), QStringLiteral("Reels\nTwo\r\nThree"));
        QCOMPARE(fullText(*view.header()->nameLabel()), QStringLiteral("Reels Two Three"));
        QVERIFY(!view.header()->nameLabel()->text().contains(u'\n'));

        // Screenshots of both headers.
        QWidget window;
        window.setAutoFillBackground(true);
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(16, 16, 16, 16);
        layout->setSpacing(24);
        auto* selected = new SelectedItemHeaderView(&navigation, groups, &window);
        layout->addWidget(selected);
        auto* one = new VersionBundleHeaderView({summary(QStringLiteral("Cut"))}, &window);
        layout->addWidget(one);
        auto* two = new VersionBundleHeaderView({summary(QStringLiteral("Reels"), DocumentType::collection()),
                                                 summary(QStringLiteral("Script"), DocumentType::pdfDocument())},
                                                &window);
        layout->addWidget(two);
        auto* three = new VersionBundleHeaderView({summary(QStringLiteral("Reels"), DocumentType::collection()),
                                                   summary(QStringLiteral("Cut")),
                                                   summary(QStringLiteral("Script"), DocumentType::pdfDocument()),
                                                   summary(QStringLiteral("Titles"), DocumentType::subtitles())},
                                                  &window);
        layout->addWidget(three);
        auto* label = new VersionBundleSummaryLabel(summary(QStringLiteral("Cut"), DocumentType::kdenliveProject(),
                                                            {info(QStringLiteral("50%d"), DocumentType::collection())}),
                                                    true, false, &window);
        layout->addWidget(label);
        layout->addStretch(1);
        window.resize(600, 560);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(three->titleLabel()->text(), QStringLiteral("4 Items"));
        saveScreenshot(window, QStringLiteral("item_headers"));
        window.resize(260, 560); // a long name ends in an ellipsis instead of widening the window
        QTest::qWait(10);
        QVERIFY(selected->header()->nameLabel()->text().endsWith(QChar(0x2026)));
        saveScreenshot(window, QStringLiteral("item_headers_narrow"));
    }
};

QTEST_MAIN(ItemHeadersTest)
#include "item_headers_test.moc"
