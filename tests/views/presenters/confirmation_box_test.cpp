// The message box that asks a confirmation question, and what its answers do to the model.

#include "model/collection.h"
#include "support/engine_test_support.h"
#include "support/sync_wait.h"
#include "views/presenters/confirmation_box.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

using Dialog = ConfirmationDialog;

VersionBundle::Summary summary(const QString& name)
{
    VersionBundle::Info info;
    info.name = name;
    return VersionBundle::Summary::placeholder(info);
}

} // namespace

class ConfirmationBoxTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aNewQuestionReplacesTheOneShowingAndCancellingClearsIt()
    {
        QWidget window;
        ConfirmationDialogModel model;
        QStringList ran;
        model.setDialog(Dialog::ConfirmPermanentlyDelete{{}, [&] { ran << QStringLiteral("delete"); }});
        model.setDialog(
            Dialog::ConfirmPermanentlyDelete{{summary(QStringLiteral("B"))}, [&] { ran << QStringLiteral("B"); }});
        QPointer<QMessageBox> box = makeConfirmationBox(*model.dialog(), presentedFlag(&model), &window);
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        box->open();
        box->buttons()[0]->click(); // Delete
        QCOMPARE(ran, QStringList{QStringLiteral("B")});
        QVERIFY(!model.dialog().has_value());

        model.setDialog(
            Dialog::ConfirmPermanentlyDelete{{summary(QStringLiteral("A"))}, [&] { ran << QStringLiteral("delete"); }});
        box = makeConfirmationBox(*model.dialog(), presentedFlag(&model), &window);
        box->open();
        QCOMPARE(box->buttons()[1]->text(), QStringLiteral("Cancel"));
        box->buttons()[1]->click();
        QCOMPARE(ran.size(), 1);
        QVERIFY(!model.dialog().has_value());
    }

    // Enter on a question whose action destroys or takes something presses Cancel; on one that
    // destroys nothing, it confirms.
    void enterNeverConfirmsWhatDestroys()
    {
        TeamFixture fixture;
        const auto reels = syncWait(Collection::create(QStringLiteral("Reels"), fixture.client(QStringLiteral("ana"))));
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Cut.kdenlive");
        writeFile(source, "<mlt/>");
        syncWait(reels->createNestedItem(source));
        const auto cut = reels->nestedItems().at(0);

        QWidget window;
        window.show();
        QStringList ran;
        const auto note = [&ran](const QString& what) { return [&ran, what] { ran << what; }; };
        const auto pressEnter = [&](const Dialog& dialog) {
            ConfirmationDialogModel model;
            model.setDialog(dialog);
            QPointer<QMessageBox> box = makeConfirmationBox(dialog, presentedFlag(&model), &window);
            box->open();
            QVERIFY(QTest::qWaitForWindowExposed(box));
            QTest::keyClick(box->focusWidget() ? box->focusWidget() : box.data(), Qt::Key_Return);
            QVERIFY(!model.dialog().has_value());
            QTRY_VERIFY(!box);
        };
        for (const Dialog& dialog : {
                 Dialog(Dialog::ConfirmRemove{cut, reels, note(QStringLiteral("remove"))}),
                 Dialog(Dialog::ConfirmDelete{cut, nullptr, note(QStringLiteral("move to trash"))}),
                 Dialog(Dialog::ConfirmDiscardChanges{cut, note(QStringLiteral("discard"))}),
                 Dialog(Dialog::ConfirmForceUnlock{cut, note(QStringLiteral("force unlock"))}),
                 Dialog(
                     Dialog::ConfirmPermanentlyDelete{{summary(QStringLiteral("A"))}, note(QStringLiteral("delete"))}),
             })
            pressEnter(dialog);
        QCOMPARE(ran, QStringList());
        pressEnter(Dialog::ConfirmRevert{cut, note(QStringLiteral("revert"))});
        QCOMPARE(ran, QStringList{QStringLiteral("revert")});
    }
};

QTEST_MAIN(ConfirmationBoxTest)
#include "confirmation_box_test.moc"
