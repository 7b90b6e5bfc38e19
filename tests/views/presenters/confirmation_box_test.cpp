// The message box that asks a confirmation question, and what its answers do to the model.

#include "views/presenters/confirmation_box.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

using namespace vantrel;

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
};

QTEST_MAIN(ConfirmationBoxTest)
#include "confirmation_box_test.moc"
