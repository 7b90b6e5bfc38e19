// The add-existing sheet over a real team bundle: how candidates are grouped and ordered, the
// filter, the limit, the trash, a failing read, and adding several items.

#include "actions/add_existing_version_bundle.h"
#include "actions/alert_models.h"
#include "actions/toolbar_progress.h"
#include "design/dark_theme.h"
#include "design/screenshots.h"
#include "engine/engine_errors.h"
#include "engine/version_bundles.h"
#include "model/collections.h"
#include "model/strings.h"
#include "model/support/item_test_support.h"
#include "packages/components/in_progress_view.h"
#include "views/detail/add_existing_filter_model.h"
#include "views/detail/add_existing_version_bundle_view.h"
#include "views/detail/placeholder_text.h"
#include "views/detail/version_bundle_header_view.h"
#include "views/presenters/dialog_presenter.h"
#include "views/presenters/sheet_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

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

DocumentType customType(const char* group)
{
    const QString id = QString::fromUtf8(group) + QStringLiteral(".type");
    return DocumentType::custom(DocumentType::Custom{id, id, {id}, false, QString::fromUtf8(group)});
}

// Collections "Alpha" (documents "Intro" and "Alpha"), "Beta Reel" ("Alphabet" and "Outro") and
// the empty "Target".
struct Bundle {
    TeamFixture fixture;
    std::shared_ptr<TeamBundle> team = fixture.client(QStringLiteral("ana"));
    std::shared_ptr<Collection> alpha = newCollection(team, QStringLiteral("Alpha"));
    std::shared_ptr<Collection> beta = newCollection(team, QStringLiteral("Beta Reel"));
    std::shared_ptr<Collection> target = newCollection(team, QStringLiteral("Target"));
    std::atomic_bool failTrash = false;
    AlertModel alert;
    ToolbarProgressIndicator progress;

    Bundle()
    {
        for (const auto& [collection, name] :
             {std::pair{alpha, "Intro"}, {alpha, "Alpha"}, {beta, "Alphabet"}, {beta, "Outro"}}) {
            const QString title = QString::fromUtf8(name);
            syncWait(collection->createNestedItem(writeProject(fixture, title, title + QStringLiteral(".kdenlive"))));
        }
    }

    std::shared_ptr<AddExistingVersionBundle> picker(AddExistingVersionBundle::AcceptanceCriteria criteria = {})
    {
        auto team = this->team;
        auto index = [this, team](IndexingOptions options) {
            if (!isTrashMode(options))
                return team->versionBundles().liveIndex();
            if (failTrash)
                throw VersioningError(VersioningError::Case::itemNotFound, QStringLiteral("trash"));
            return team->versionBundles().trashIndex();
        };
        return std::make_shared<AddExistingVersionBundle>(target, index, &VersionBundlesIndex::documents,
                                                          std::move(criteria));
    }
};

// The list's rows: headings as "# title", candidates by name.
QStringList rows(const AddExistingVersionBundleView& sheet)
{
    QStringList result;
    const AddExistingFilterModel& model = *sheet.filterModel();
    for (int row = 0; row < model.rowCount(); ++row) {
        const QString text = model.index(row, 0).data().toString();
        result << (model.isHeader(row) ? QStringLiteral("# ") + text : text);
    }
    return result;
}

void select(AddExistingVersionBundleView& sheet, const QStringList& names)
{
    QItemSelection selection;
    const AddExistingFilterModel& model = *sheet.filterModel();
    for (int row = 0; row < model.rowCount(); ++row) {
        if (names.contains(model.index(row, 0).data().toString()) && !model.isHeader(row))
            selection.select(model.index(row, 0), model.index(row, 0));
    }
    sheet.list()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

QAction* menuAction(AddExistingVersionBundleView& sheet, const QString& title)
{
    for (QAction* action : sheet.optionsButton()->menu()->actions()) {
        if (action->text() == title)
            return action;
    }
    return nullptr;
}

} // namespace

class AddExistingVersionBundleViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void groupsOrdersAndFilters()
    {
        Bundle bundle;
        AddExistingVersionBundleView sheet(bundle.picker(), &bundle.alert, &bundle.progress);
        sheet.show();
        QTRY_VERIFY(!sheet.model()->loading());
        QCOMPARE(sheet.addButton()->text(), Strings::addToCollectionActionTitle());
        const QString projects = QStringLiteral("# ") + DocumentTypeCategory::projects().title();
        QCOMPARE(rows(sheet), (QStringList{projects, "Alpha", "Alphabet", "Intro", "Outro"}));
        // Headings cannot be selected.
        QCOMPARE(sheet.filterModel()->flags(sheet.filterModel()->index(0, 0)), Qt::NoItemFlags);

        // Custom groups first, by their names; equal names keep their order; the direction applies.
        const Summary first = handMade("same");
        const Summary second = handMade("same");
        sheet.model()->setItems({handMade("beta"), first, handMade("x", customType("Zed")), second,
                                 handMade("y", customType("Art")), handMade("alpha")});
        menuAction(sheet, Strings::descendingTitle())->trigger();
        QCOMPARE(rows(sheet), (QStringList{"# Art", "y", "# Zed", "x", projects, "same", "same", "beta", "alpha"}));
        QCOMPARE(sheet.filterModel()->summary(5)->id(), first.id());
        QCOMPARE(sheet.filterModel()->summary(6)->id(), second.id());
        // The spinner stands in for the list while loading, even with candidates listed.
        sheet.model()->setLoading(true);
        QVERIFY(sheet.spinner()->isVisible() && !sheet.list()->isVisible());

        // Typing filters: both names match, then the own name only, then a container's name only.
        sheet.reload();
        QTRY_VERIFY(!sheet.model()->loading());
        QTest::keyClicks(sheet.filterField(), QStringLiteral("alpha"));
        QCOMPARE(rows(sheet), (QStringList{projects, "Alpha", "Alphabet", "Intro"}));
        QTest::keyClicks(sheet.filterField(), QStringLiteral("zz"));
        QVERIFY(sheet.filterModel()->rowCount() == 0 && sheet.emptyPlaceholder()->isVisible());
        QCOMPARE(sheet.emptyPlaceholder()->string(), Strings::nothingFound());
    }

    void filteringHidesRowsAndKeepsTheSelection()
    {
        Bundle bundle;
        AddExistingVersionBundleView sheet(bundle.picker(), &bundle.alert, &bundle.progress);
        sheet.resize(1150, 600);
        sheet.show();
        QTRY_VERIFY(!sheet.model()->loading());
        const QString projects = QStringLiteral("# ") + DocumentTypeCategory::projects().title();
        sheet.model()->setItems(
            {handMade("Alpha"), handMade("Outro"), handMade("Yarn", customType("Art")), handMade("Intro")});
        QCOMPARE(rows(sheet), (QStringList{"# Art", "Yarn", projects, "Alpha", "Intro", "Outro"}));
        const auto headerHeight = [&](int row) {
            return sheet.list()->visualRect(sheet.filterModel()->index(row, 0)).height();
        };
        const int firstHeader = headerHeight(0);
        QVERIFY(headerHeight(2) > firstHeader);
        select(sheet, {"Yarn", "Outro"});
        const QSet<Summary> chosen = sheet.model()->selection();
        QCOMPARE(chosen.size(), 2);

        // Keystrokes paint the same rows again: no widget is made for a row.
        const auto childCount = [&] { return sheet.list()->viewport()->findChildren<QWidget*>().size(); };
        const qsizetype children = childCount();
        QTest::keyClicks(sheet.filterField(), QStringLiteral("tro"));
        QCOMPARE(childCount(), children);
        for (int row = 0; row < sheet.filterModel()->rowCount(); ++row)
            QVERIFY(!sheet.list()->indexWidget(sheet.filterModel()->index(row, 0)));

        // A group without a match loses its heading, and the first one shown gets the first one's
        // spacing; hidden choices stay chosen and come back selected.
        QCOMPARE(rows(sheet), (QStringList{projects, "Intro", "Outro"}));
        QCOMPARE(headerHeight(0), firstHeader);
        QCOMPARE(sheet.model()->selection(), chosen);
        QCOMPARE(sheet.list()->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(sheet.selectionHeader()->selection().size(), 2);
        // A click on a shown row replaces the shown part of the selection only.
        const QRect intro = sheet.list()->visualRect(sheet.filterModel()->index(1, 0));
        QTest::mouseClick(sheet.list()->viewport(), Qt::LeftButton, {}, intro.center());
        QCOMPARE(sheet.model()->selection().size(), 2);
        QVERIFY(sheet.model()->selection().contains(*sheet.filterModel()->summary(1)));
        // The keyboard walks the candidates past the headings.
        sheet.filterField()->clear();
        QCOMPARE(rows(sheet).size(), 6);
        QCOMPARE(sheet.list()->selectionModel()->selectedRows().size(), 2);
        sheet.list()->setFocus();
        sheet.list()->setCurrentIndex(sheet.filterModel()->index(1, 0));
        QTest::keyClick(sheet.list(), Qt::Key_Down);
        QCOMPARE(sheet.list()->currentIndex().row(), 3);
        QTest::keyClick(sheet.list(), Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(sheet.model()->selection().size(), 2);
        QVERIFY(!sheet.filterModel()->isHeader(sheet.list()->currentIndex().row()));
    }

    void optionsMenuShowsItsTitleWhole()
    {
        Bundle bundle;
        AddExistingVersionBundleView sheet(bundle.picker(), &bundle.alert, &bundle.progress);
        sheet.show();
        QMenu* menu = sheet.optionsButton()->menu();
        const QString title = Strings::alphabeticalSortingTitle();
        menu->popup(sheet.optionsButton()->mapToGlobal(QPoint(0, sheet.optionsButton()->height())));
        QTRY_VERIFY(menu->isVisible());
        // The style insets a section's title by 5 pixels on each side.
        QVERIFY(menu->actionGeometry(menuAction(sheet, title)).width()
                >= menu->fontMetrics().horizontalAdvance(title) + 2 * 5);
        QVERIFY(saveScreenshot(*menu, QStringLiteral("add_existing_options_menu")));
        menu->hide();
    }

    void addIsOffWithoutSelectionAndAtTheLimit()
    {
        Bundle bundle;
        AddExistingVersionBundleView sheet(bundle.picker({{DocumentType::kdenliveProject(), {2, 1}}}), &bundle.alert,
                                           &bundle.progress);
        sheet.show();
        QTRY_VERIFY(!sheet.model()->loading());
        QVERIFY(!sheet.addButton()->isEnabled());
        QVERIFY(!sheet.limitLabel()->isVisible());

        select(sheet, {"Intro"});
        QVERIFY(sheet.addButton()->isEnabled());
        QCOMPARE(sheet.usedInTitle()->text(), Strings::usedInTitle());

        select(sheet, {"Intro", "Outro"});
        QVERIFY(!sheet.addButton()->isEnabled());
        QVERIFY(sheet.limitLabel()->isVisible());
        QVERIFY(sheet.limitLabel()->text().contains(DocumentType::kdenliveProject().description()));
        // Return does not add either.
        QTest::keyClick(&sheet, Qt::Key_Return);
        QVERIFY(!bundle.progress.state().isBusy());
    }

    void trashModeAndAFailingRead()
    {
        Bundle bundle;
        AddExistingVersionBundleView sheet(bundle.picker(), &bundle.alert, &bundle.progress);
        sheet.show();
        QTRY_VERIFY(!sheet.model()->loading());

        // The trash lists its own candidates, nothing selected, under trash headings.
        select(sheet, {"Intro"});
        menuAction(sheet, Strings::showTrashActionTitle())->trigger();
        QTRY_VERIFY(!sheet.model()->loading());
        QVERIFY(sheet.model()->selection().isEmpty());
        QCOMPARE(sheet.emptyPlaceholder()->string(), Strings::emptyTitle());
        for (const QString& row : rows(sheet))
            QVERIFY(!row.startsWith(QStringLiteral("# ")) || row.endsWith(sheet.model()->titleSuffix()));

        // A trash that cannot be read lists nothing at all: no live item under a trash heading.
        menuAction(sheet, Strings::showAllActionTitle())->trigger();
        QTRY_VERIFY(sheet.filterModel()->rowCount() > 0);
        select(sheet, {"Intro"});
        bundle.failTrash = true;
        menuAction(sheet, Strings::showTrashActionTitle())->trigger();
        QTRY_VERIFY(bundle.alert.details().has_value());
        QVERIFY(!sheet.model()->loading());
        QCOMPARE(sheet.filterModel()->rowCount(), 0);
        QVERIFY(sheet.model()->selection().isEmpty());
        QVERIFY(!sheet.addButton()->isEnabled());
    }

    void addsTheSelectionInDisplayOrder()
    {
        Bundle bundle;
        QWidget window;
        window.resize(1150, 600);
        window.show();
        SheetModel sheets;
        DialogPresenter presenter(&sheets, &SheetModel::sheetChanged, [&] {
            return openSheetDialog(&sheets, &window, QIcon(), &bundle.alert, &bundle.progress);
        });
        sheets.setSheet(SheetModel::AddExisting{bundle.picker()});
        QPointer<QDialog> dialog = presenter.dialog();
        QVERIFY(dialog);
        auto* sheet = dialog->findChild<AddExistingVersionBundleView*>();
        QTRY_VERIFY(!sheet->model()->loading());
        const auto picker = sheet->model();
        menuAction(*sheet, Strings::descendingTitle())->trigger();
        select(*sheet, {"Outro", "Alpha", "Intro"});
        for (const QSize size :
             {QSize(AddExistingVersionBundleView::minimumWidth, AddExistingVersionBundleView::minimumHeight),
              QSize(1150, 600), QSize(1920, 1080)}) {
            dialog->resize(size);
            QTest::qWait(0);
            QVERIFY(saveScreenshot(*dialog, QStringLiteral("add_existing_sheet_%1").arg(size.width())));
        }

        QStringList added;
        // The collection outlives this test while a reload of it is still under way.
        QObject context;
        QObject::connect(bundle.target.get(), &Collection::nestedItemsChanged, &context, [&] {
            for (const auto& item : bundle.target->nestedItems())
                if (!added.contains(item->name()))
                    added << item->name();
        });
        QTest::mouseClick(sheet->addButton(), Qt::LeftButton);
        QVERIFY(!sheets.sheet());
        QTRY_VERIFY(!dialog);
        QTRY_VERIFY(!bundle.progress.state().isBusy());
        QVERIFY(!bundle.alert.details());
        QCOMPARE(added, (QStringList{"Outro", "Intro", "Alpha"}));
    }

    void aFailedAddLeavesALaterSheetOpen()
    {
        Bundle bundle;
        QWidget window;
        window.show();
        SheetModel sheets;
        DialogPresenter presenter(&sheets, &SheetModel::sheetChanged, [&] {
            return openSheetDialog(&sheets, &window, QIcon(), &bundle.alert, &bundle.progress);
        });
        sheets.setSheet(SheetModel::AddExisting{bundle.picker()});
        auto* sheet = presenter.dialog()->findChild<AddExistingVersionBundleView*>();
        QTRY_VERIFY(!sheet->model()->loading());
        // A bundle the team bundle does not hold cannot be added.
        sheet->model()->setItems({handMade("Ghost")});
        select(*sheet, {"Ghost"});
        sheet->add();
        QVERIFY(!sheets.sheet());

        sheets.setSheet(SheetModel::CreateNewCollection{[](QString) {}});
        QPointer<QDialog> naming = presenter.dialog();
        QTRY_VERIFY(bundle.alert.details().has_value());
        QTRY_VERIFY(!bundle.progress.state().isBusy());
        QVERIFY(naming && naming->isVisible());
        QVERIFY(sheets.sheet().has_value());
    }
};

QTEST_MAIN(AddExistingVersionBundleViewTest)
#include "add_existing_version_bundle_view_test.moc"
