// The sheet a window shows for each case of its sheet model, presented as the window does.

#include "views/detail/name_input_view.h"
#include "views/presenters/dialog_presenter.h"
#include "views/presenters/sheet_dialog.h"

#include "design/dark_theme.h"
#include "model/support/item_test_support.h"

#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

// A window of the size of a team window that shows its sheets.
struct SheetWindow {
    QWidget window;
    SheetModel model;
    DialogPresenter presenter{&model, &SheetModel::sheetChanged,
                              [this] { return openSheetDialog(&model, &window, QIcon()); }};
    SheetWindow()
    {
        window.resize(1150, 600);
        window.show();
    }
};

} // namespace

class SheetDialogTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void everyNamingCaseShowsTheNamingSheet()
    {
        TeamFixture fixture;
        const auto reels = newCollection(fixture.client(QStringLiteral("ana")), QStringLiteral("Reels"));
        SheetWindow shown;
        auto& [window, model, presenter] = shown;
        QStringList names;
        const auto receive = [&](const QString& tag) { return [&names, tag](QString name) { names << tag + name; }; };
        const QList<std::pair<SheetModel::Sheet, QString>> cases{
            {SheetModel::NewFinalCutLibrary{receive(QStringLiteral("library "))}, QStringLiteral("library ")},
            {SheetModel::NewFinalCutEvent{receive(QStringLiteral("event "))}, QStringLiteral("event ")},
            {SheetModel::CreateNewCollection{receive(QStringLiteral("collection "))}, QStringLiteral("collection ")},
            {SheetModel::CreateNewTeamBundle{receive(QStringLiteral("team "))}, QStringLiteral("team ")},
            {SheetModel::RenameItem{reels, receive(QStringLiteral("rename "))}, QStringLiteral("rename ")},
        };
        for (const auto& [sheet, tag] : cases) {
            model.setSheet(sheet);
            QPointer<QDialog> dialog = presenter.dialog();
            QVERIFY2(dialog && dialog->isVisible(), qPrintable(tag));
            auto* view = dialog->findChild<NameInputView*>();
            QVERIFY2(view, qPrintable(tag));
            QCOMPARE(view->title(), NameInputView(*nameInput(sheet), std::nullopt, QIcon()).title());
            view->field()->setText(QStringLiteral("Dailies"));
            QTest::keyClick(view->field(), Qt::Key_Return);
            QCOMPARE(names.last(), tag + QStringLiteral("Dailies"));
            QVERIFY(!model.sheet());
            QTRY_VERIFY(!dialog);
        }
    }

    void onlyTheTeamBundleSheetSizesAsItsViewDoes()
    {
        SheetWindow shown;
        auto& [window, model, presenter] = shown;
        const auto grown = [&](const SheetModel::Sheet& sheet) {
            model.setSheet(sheet);
            QDialog* dialog = presenter.dialog();
            const QSize ideal = dialog->sizeHint();
            [&] { QTRY_COMPARE(dialog->size(), ideal); }();
            dialog->resize(ideal + QSize(200, 120));
            return dialog;
        };

        QDialog* dialog = grown(SheetModel::CreateNewCollection{[](QString) {}});
        QCOMPARE(dialog->size(), dialog->sizeHint());
        dialog->reject();

        dialog = grown(SheetModel::CreateNewTeamBundle{[](QString) {}});
        auto* view = dialog->findChild<NameInputView*>();
        QCOMPARE(dialog->width(), view->QWidget::width()); // the view's own width
        QCOMPARE(dialog->height(), dialog->sizeHint().height() + 120);
        QCOMPARE(view->height(), dialog->height());
        dialog->resize(dialog->width(), 10);
        QCOMPARE(dialog->height(), dialog->minimumSizeHint().height());

        // The window with the sheet over its middle, as a reviewer sees it.
        dialog->resize(dialog->sizeHint());
        const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
        QVERIFY(folder.mkpath(QStringLiteral(".")));
        QPixmap picture = window.grab();
        QPainter painter(&picture);
        painter.drawPixmap((picture.width() - dialog->width()) / 2, (picture.height() - dialog->height()) / 2,
                           dialog->grab());
        painter.end();
        QVERIFY(picture.save(folder.filePath(QStringLiteral("sheet_new_team_bundle.png"))));
    }

    void theAddExistingCaseIsLetGoOfWithNothingShowing()
    {
        QWidget window;
        window.show();
        SheetModel model;
        DialogPresenter presenter(&model, &SheetModel::sheetChanged,
                                  [&] { return openSheetDialog(&model, &window, QIcon()); });
        model.setSheet(SheetModel::AddExisting{nullptr});
        QVERIFY(!model.sheet());
        QVERIFY(!presenter.dialog());
        QVERIFY(window.findChildren<QDialog*>().isEmpty());

        // The next sheet shows as usual.
        model.setSheet(SheetModel::CreateNewCollection{[](QString) {}});
        QVERIFY(presenter.dialog() && presenter.dialog()->isVisible());
    }
};

QTEST_MAIN(SheetDialogTest)
#include "sheet_dialog_test.moc"
