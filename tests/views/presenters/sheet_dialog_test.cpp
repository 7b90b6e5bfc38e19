// The sheet a window shows for each case of its sheet model, presented as the window does.

#include "views/detail/name_input_view.h"
#include "views/presenters/dialog_presenter.h"
#include "views/presenters/sheet_dialog.h"

#include "model/support/item_test_support.h"

#include <QDialog>
#include <QLineEdit>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

class SheetDialogTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyNamingCaseShowsTheNamingSheet()
    {
        TeamFixture fixture;
        const auto reels = newCollection(fixture.client(QStringLiteral("ana")), QStringLiteral("Reels"));
        QWidget window;
        window.resize(1150, 600);
        window.show();
        SheetModel model;
        DialogPresenter presenter(&model, &SheetModel::sheetChanged,
                                  [&] { return openSheetDialog(&model, &window, QIcon()); });
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
