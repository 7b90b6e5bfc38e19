// The naming sheet: its texts, when it may be confirmed, and how its dialog hands on the name.

#include "design/dark_theme.h"
#include "model/collection.h"
#include "model/support/item_test_support.h"
#include "packages/components/app_info.h"
#include "views/detail/name_input_view.h"
#include "views/presenters/sheet_dialog.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;
using Action = NameInput::Action;

namespace {

NameInputView* viewFor(const SheetModel::Sheet& sheet, QWidget* parent = nullptr)
{
    return new NameInputView(*nameInput(sheet), forbiddenCharacters(sheet), QIcon(), parent);
}

void type(NameInputView& view, const QString& text)
{
    view.field()->setText(text);
}

bool errorShows(const NameInputView& view)
{
    return !view.findChild<QLabel*>(QStringLiteral("nameInputError"))->isHidden();
}

void saveScreenshot(QWidget& widget, const QString& name)
{
    const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    QVERIFY(widget.grab().save(folder.filePath(name + QStringLiteral(".png"))));
}

} // namespace

class NameInputViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void aRenameOpensDisabledUntilTheNameChanges()
    {
        TeamFixture fixture;
        const auto reels = newCollection(fixture.client(QStringLiteral("Ana")), QStringLiteral("Reels"));
        std::unique_ptr<NameInputView> view(viewFor(SheetModel::RenameItem{reels, {}}));
        QCOMPARE(view->name(), QStringLiteral("Reels"));
        QVERIFY(!view->confirmButton()->isEnabled());
        type(*view, QStringLiteral("Reel"));
        QVERIFY(view->confirmButton()->isEnabled());
        type(*view, QStringLiteral("Reels"));
        QVERIFY(!view->confirmButton()->isEnabled());
        type(*view, QStringLiteral("Reels/2"));
        QVERIFY(errorShows(*view));
        QVERIFY(!view->confirmButton()->isEnabled());
        type(*view, QStringLiteral("Reels 2"));
        QVERIFY(!errorShows(*view));
        QVERIFY(view->confirmButton()->isEnabled());
    }

    void eachSheetChecksItsOwnCharacters()
    {
        // A collection takes any non-empty name, a solidus and a line feed included.
        std::unique_ptr<NameInputView> collection(viewFor(SheetModel::CreateNewCollection{}));
        QVERIFY(!collection->confirmButton()->isEnabled());
        type(*collection, QStringLiteral("A/B\nC"));
        QVERIFY(collection->confirmButton()->isEnabled());
        std::unique_ptr<NameInputView> library(viewFor(SheetModel::NewFinalCutLibrary{}));
        type(*library, QStringLiteral("Day/Night"));
        QVERIFY(errorShows(*library) && !library->confirmButton()->isEnabled());

        // A team takes plain quotes but neither the typographic ones nor a full stop; blanks count.
        std::unique_ptr<NameInputView> team(viewFor(SheetModel::CreateNewTeamBundle{}));
        for (const QString& refused :
             {QStringLiteral("Ana\u201Ds"), QStringLiteral("Ana\u2019s"), QStringLiteral("v1.2")}) {
            type(*team, refused);
            QVERIFY2(!team->confirmButton()->isEnabled(), qPrintable(refused));
        }
        for (const QString& accepted : {QStringLiteral("Ana's \"cut\""), QStringLiteral("   ")}) {
            type(*team, accepted);
            QVERIFY2(team->confirmButton()->isEnabled(), qPrintable(accepted));
        }
        QVERIFY(team->findChild<QLabel*>(QStringLiteral("nameInputExplanation")));
        QVERIFY(!collection->findChild<QLabel*>(QStringLiteral("nameInputExplanation")));
        QCOMPARE(team->title(), QStringLiteral("Create New Team"));
        QCOMPARE(team->confirmTitle(), QStringLiteral("Choose Location"));
    }

    void theDialogClosesBeforeTheNameIsHandedOn()
    {
        QWidget window;
        window.resize(1150, 600);
        window.show();
        SheetModel model;
        QStringList names;
        bool closedFirst = false;
        model.setSheet(SheetModel::CreateNewTeamBundle{[&](QString name) {
            closedFirst = !model.sheet().has_value();
            names << name;
        }});
        QPointer<QDialog> dialog = openSheetDialog(&model, &window, AppInfo::shared().icon());
        QVERIFY(dialog && dialog->isVisible());
        auto* view = dialog->findChild<NameInputView*>();
        type(*view, QStringLiteral("  Cutting Room  "));
        saveScreenshot(*dialog, QStringLiteral("name_input_team"));
        QTest::keyClick(view->field(), Qt::Key_Return);
        QCOMPARE(names, QStringList{QStringLiteral("  Cutting Room  ")}); // untrimmed
        QVERIFY(closedFirst);

        // Escape cancels: the model lets go and nothing is named.
        model.setSheet(SheetModel::CreateNewCollection{[&](QString name) { names << name; }});
        dialog = openSheetDialog(&model, &window, QIcon());
        type(*dialog->findChild<NameInputView*>(), QStringLiteral("Reels"));
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(!model.sheet().has_value());
        QCOMPARE(names.size(), 1);
    }
};

QTEST_MAIN(NameInputViewTest)
#include "name_input_view_test.moc"
