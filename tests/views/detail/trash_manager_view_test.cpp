// The trash table over a real team bundle: its order by each column with the other columns
// breaking ties, natural name order, the selection across reloads, the action button and the
// Restore buttons, and a confirmed deletion once the pane is gone.

#include "actions/trash_manager.h"
#include "design/dark_theme.h"
#include "engine/version_bundles.h"
#include "model/support/item_test_support.h"
#include "views/detail/trash_manager_view.h"
#include "views/detail/trash_table_model.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimeZone>
#include <QVBoxLayout>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

const QDateTime kMonday(QDate(2024, 3, 4), QTime(9, 0), Qt::UTC);

VersionBundle::Summary row(const QString& name, int hours, DocumentType type = DocumentType::kdenliveProject())
{
    VersionBundle::Info info{IdFor<VersionBundle>(QUuid::createUuid()), name, std::move(type),
                             kMonday.addSecs(hours * 3600), true};
    return VersionBundle::Summary{QString(), info, {}, {}};
}

// The views of one client's trash.
struct Trash {
    TeamFixture fixture;
    std::shared_ptr<TeamBundle> bundle = fixture.client(QStringLiteral("ana"));
    AlertModel alert;
    ConfirmationDialogModel confirmation;
    ToolbarProgressIndicator progress;
    int closed = 0;
    std::unique_ptr<TrashManagerView> view;

    Trash()
    {
        view = std::make_unique<TrashManagerView>(
            std::make_unique<TrashManager>(
                bundle, &progress, &alert, &confirmation, [this] { ++closed; }, nullptr, false),
            nullptr);
    }
    TrashManager& model() const { return *view->model(); }
    QStringList names() const
    {
        QStringList names;
        for (const auto& summary : view->tableModel()->rows())
            names << summary.name();
        return names;
    }
    // A collection, trashed.
    std::shared_ptr<Collection> trashed(const QString& name)
    {
        auto collection = newCollection(bundle, name);
        syncWait(collection->versioningService()->removeOrDelete(nullptr, &s3Factory));
        return collection;
    }
    void reload() { syncWait(model().loadContent()); }
    void select(const QList<int>& rows)
    {
        view->table()->clearSelection();
        for (int r : rows)
            view->table()->selectionModel()->select(view->tableModel()->index(r, 0),
                                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
};

void saveScreenshot(QWidget& widget, const QString& name)
{
    const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    QVERIFY(widget.grab().save(folder.filePath(name + QStringLiteral(".png"))));
}

} // namespace

class TrashManagerViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void eachColumnSortsWithTheOthersBreakingTies()
    {
        Trash trash;
        trash.model().setContent({
            row(QStringLiteral("Reel 10"), 1),
            row(QStringLiteral("reel 2"), 5, DocumentType::collection()),
            row(QStringLiteral("Reel 2"), 3, DocumentType::pdfDocument()),
            row(QStringLiteral("Reel 2"), 3, DocumentType::collection()),
            row(QStringLiteral("Alpha"), 3, DocumentType::pdfDocument()),
        });
        auto* table = trash.view->table();
        // Natural order, case aside; equal names by date, then by type ("Collection" < "PDF").
        QCOMPARE(trash.names(), (QStringList{"Alpha", "Reel 2", "Reel 2", "reel 2", "Reel 10"}));
        const auto& rows = trash.view->tableModel()->rows();
        QCOMPARE(rows.at(1).documentType(), DocumentType::collection());
        QCOMPARE(rows.at(2).documentType(), DocumentType::pdfDocument());

        // By date, newest first: equal dates by name, then by type.
        table->sortByColumn(TrashTableModel::lastModifiedColumn, Qt::DescendingOrder);
        QCOMPARE(trash.names(), (QStringList{"reel 2", "Alpha", "Reel 2", "Reel 2", "Reel 10"}));
        QCOMPARE(rows.at(2).documentType(), DocumentType::collection());

        // By type: the collections, then the PDFs, then the projects; ties by name, then date.
        table->sortByColumn(TrashTableModel::typeColumn, Qt::AscendingOrder);
        QCOMPARE(trash.names(), (QStringList{"Reel 2", "reel 2", "Alpha", "Reel 2", "Reel 10"}));
        table->sortByColumn(TrashTableModel::typeColumn, Qt::DescendingOrder);
        QCOMPARE(trash.names(), (QStringList{"Reel 10", "Alpha", "Reel 2", "Reel 2", "reel 2"}));

        // The same content read in another order gives the same rows.
        const auto before = trash.view->tableModel()->rows();
        QList<VersionBundle::Summary> reversed(before.rbegin(), before.rend());
        trash.model().setContent(reversed);
        QCOMPARE(trash.view->tableModel()->rows(), before);
    }

    void aSortKeepsTheSelectedItems()
    {
        Trash trash;
        trash.model().setContent(
            {row(QStringLiteral("B"), 1), row(QStringLiteral("A"), 2), row(QStringLiteral("C"), 0)});
        trash.select({0}); // A
        const auto selected = trash.model().selection();
        QCOMPARE(selected.size(), 1);
        trash.view->table()->sortByColumn(TrashTableModel::lastModifiedColumn, Qt::AscendingOrder);
        QCOMPARE(trash.model().selection(), selected);
        const auto rows = trash.view->table()->selectionModel()->selectedRows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(trash.view->tableModel()->rows().at(rows.first().row()).name(), QStringLiteral("A"));
    }

    void theActionButtonFollowsTheSelectionAndItemsThatWentAway()
    {
        Trash trash;
        auto* button = trash.view->actionButton();
        QCOMPARE(button->text(), QStringLiteral("Empty"));
        QVERIFY(!button->isEnabled());
        QVERIFY(trash.view->placeholder()->isVisible() || !trash.view->isVisible());
        QCOMPARE(trash.view->findChild<QWidget*>(QStringLiteral("trashTable"))->isVisibleTo(trash.view.get()), false);

        trash.trashed(QStringLiteral("Dailies"));
        trash.trashed(QStringLiteral("Reels"));
        trash.trashed(QStringLiteral("Selects"));
        trash.reload();
        QCOMPARE(trash.names(), (QStringList{"Dailies", "Reels", "Selects"}));
        QVERIFY(trash.view->table()->isVisibleTo(trash.view.get()));
        QVERIFY(button->isEnabled());

        trash.select({0});
        QCOMPARE(button->text(), QStringLiteral("Delete 1 Item"));
        trash.select({0, 2});
        QCOMPARE(button->text(), QStringLiteral("Delete 2 Items"));

        // A teammate deletes "Selects" for good; after the next reload the selection holds only
        // what is still there, and so do the button and the question it asks.
        const auto ben = trash.fixture.client(QStringLiteral("ben"));
        const auto selects = ben->versionBundles().trashIndex().all;
        for (const auto& summary : selects) {
            if (summary.name() == QStringLiteral("Selects"))
                syncWait(ben->versionBundles().deletePermanently(summary));
        }
        trash.bundle->poll();
        trash.reload();
        QCOMPARE(trash.names(), (QStringList{"Dailies", "Reels"}));
        QCOMPARE(trash.model().selection().size(), 1);
        QCOMPARE(button->text(), QStringLiteral("Delete 1 Item"));
        QCOMPARE(trash.view->table()->selectionModel()->selectedRows().size(), 1);
        QTest::mouseClick(button, Qt::LeftButton);
        const auto& question =
            std::get<ConfirmationDialog::ConfirmPermanentlyDelete>(trash.confirmation.dialog()->question());
        QCOMPARE(question.items.size(), 1);
        QCOMPARE(question.items.first().name(), QStringLiteral("Dailies"));

        // Clearing the selection brings "Empty" back, which asks about everything.
        trash.view->table()->clearSelection();
        QCOMPARE(button->text(), QStringLiteral("Empty"));
        trash.confirmation.setDialog(std::nullopt);
        QTest::mouseClick(button, Qt::LeftButton);
        const auto& everything =
            std::get<ConfirmationDialog::ConfirmPermanentlyDelete>(trash.confirmation.dialog()->question());
        QCOMPARE(everything.items.size(), 2);
        trash.confirmation.dialog()->confirmButton().action();
        QTRY_VERIFY(trash.model().content().isEmpty());
        QTRY_COMPARE(trash.closed, 1);
        QVERIFY(trash.view->placeholder()->isVisibleTo(trash.view.get()));
        QVERIFY(trash.bundle->versionBundles().trashIndex().all.isEmpty());
    }

    void aConfirmedDeletionRunsAfterThePaneIsGone_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("Delete 1 Item") << QList<int>{0} << QStringList{"Reels"};
        QTest::newRow("Empty") << QList<int>{} << QStringList{};
    }

    void aConfirmedDeletionRunsAfterThePaneIsGone()
    {
        QFETCH(QList<int>, selected);
        QFETCH(QStringList, left);
        Trash trash;
        trash.trashed(QStringLiteral("Dailies"));
        trash.trashed(QStringLiteral("Reels"));
        trash.reload();
        trash.select(selected);
        QTest::mouseClick(trash.view->actionButton(), Qt::LeftButton);
        QVERIFY(trash.confirmation.dialog());

        // The pane goes while the question shows (the focus moved elsewhere); the user confirms.
        trash.view.reset();
        trash.confirmation.dialog()->confirmButton().action();
        QTRY_COMPARE(trash.bundle->versionBundles().trashIndex().all.size(), left.size());
        QStringList names;
        for (const auto& summary : trash.bundle->versionBundles().trashIndex().all)
            names << summary.name();
        QCOMPARE(names, left);
        QVERIFY(!trash.alert.details());
        QCOMPARE(trash.closed, 0); // nothing acts on the pane that is gone
    }

    void onlyCollectionsCanBeRestored()
    {
        Trash trash;
        auto reels = newCollection(trash.bundle, QStringLiteral("Reels"));
        syncWait(
            reels->createNestedItem(writeProject(trash.fixture, QStringLiteral("in"), QStringLiteral("Cut.kdenlive"))));
        syncWait(reels->loadNestedItems());
        const auto cut = findDocument(reels, QStringLiteral("Cut"));
        QVERIFY(cut);
        syncWait(cut->versioningService()->removeOrDelete(reels->versioningService(), &s3Factory));
        trash.trashed(QStringLiteral("Archive"));
        trash.reload();
        QCOMPARE(trash.names(), (QStringList{"Archive", "Cut"}));
        QVERIFY(trash.view->restoreButton(0));
        QVERIFY(!trash.view->restoreButton(1));

        trash.model().setDisableActions(true);
        QVERIFY(!trash.view->restoreButton(0)->isEnabled());
        QVERIFY(!trash.view->actionButton()->isEnabled());
        trash.model().setDisableActions(false);
        QVERIFY(trash.view->restoreButton(0)->isEnabled());

        // The button survives a sort and still restores its own row.
        trash.view->table()->sortByColumn(TrashTableModel::nameColumn, Qt::DescendingOrder);
        QCOMPARE(trash.names(), (QStringList{"Cut", "Archive"}));
        QVERIFY(!trash.view->restoreButton(0));
        QTest::mouseClick(trash.view->restoreButton(1), Qt::LeftButton);
        QTRY_COMPARE(trash.names(), QStringList{"Cut"});
        QTRY_VERIFY(!trash.model().disableActions());
        QVERIFY(trash.bundle->versionBundles().liveIndex().collections.size() == 2);
    }

    void columnsKeepTheirLimits()
    {
        Trash trash;
        auto* header = trash.view->table()->horizontalHeader();
        QCOMPARE(header->sectionSize(TrashTableModel::typeColumn), 60);
        header->resizeSection(TrashTableModel::typeColumn, 20);
        QCOMPARE(header->sectionSize(TrashTableModel::typeColumn), 50);
        header->resizeSection(TrashTableModel::typeColumn, 400);
        QCOMPARE(header->sectionSize(TrashTableModel::typeColumn), 100);
        header->resizeSection(TrashTableModel::lastModifiedColumn, 120);
        QCOMPARE(header->sectionSize(TrashTableModel::lastModifiedColumn), 200);
    }

    void screenshots()
    {
        Trash trash;
        trash.trashed(QStringLiteral("Dailies"));
        trash.trashed(QStringLiteral("Client Review — a rather long collection name that needs room"));
        auto reels = newCollection(trash.bundle, QStringLiteral("Reels"));
        for (const QString& file : {QStringLiteral("Reel 2.kdenlive"), QStringLiteral("Reel 10.kdenlive"),
                                    QStringLiteral("Subtitles.srt"), QStringLiteral("Script.pdf")})
            syncWait(reels->createNestedItem(writeProject(trash.fixture, file, file)));
        syncWait(reels->loadNestedItems());
        for (const auto& document : reels->nestedItems())
            syncWait(document->versioningService()->removeOrDelete(reels->versioningService(), &s3Factory));
        trash.reload();
        QCOMPARE(trash.names().size(), 6);

        QWidget window;
        window.setAutoFillBackground(true);
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(24, 24, 24, 24);
        trash.view->setParent(&window);
        layout->addWidget(trash.view.get());
        window.resize(1150, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        trash.select({1, 3});
        QCoreApplication::processEvents();
        saveScreenshot(window, QStringLiteral("trash_table_1150x600"));
        window.resize(1920, 1080);
        QCoreApplication::processEvents();
        saveScreenshot(window, QStringLiteral("trash_table_1920x1080"));
        trash.view->setParent(nullptr);

        Trash empty;
        QWidget sheet;
        sheet.setAutoFillBackground(true);
        auto* sheetLayout = new QVBoxLayout(&sheet);
        sheetLayout->setContentsMargins(24, 24, 24, 24);
        empty.view->setParent(&sheet);
        sheetLayout->addWidget(empty.view.get());
        sheet.resize(1150, 600);
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        QVERIFY(empty.view->placeholder()->isVisible());
        // The text sits 42 above the middle of the space it is given.
        const QLabel* placeholder = empty.view->placeholder();
        QCOMPARE(placeholder->rect().center().y() - placeholder->contentsRect().center().y(), 42);
        saveScreenshot(sheet, QStringLiteral("trash_table_empty"));
        empty.view->setParent(nullptr);
    }
};

QTEST_MAIN(TrashManagerViewTest)
#include "trash_manager_view_test.moc"
