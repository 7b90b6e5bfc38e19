// Confirmation questions over items of a real team bundle, the model that asks them, and the
// message box that shows them.

#include "actions/confirmation_dialogs.h"
#include "model/collection.h"
#include "support/engine_test_support.h"
#include "support/sync_wait.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

using Dialog = ConfirmationDialog;

// An item whose application is whatever the test says.
class AwareItem final : public AppVersionAware {
public:
    explicit AwareItem(DocumentApplication application) : m_application(std::move(application)) {}
    DocumentApplication application() const override { return m_application; }
    const std::shared_ptr<VersioningService>& versioningService() const override { return m_service; }

private:
    DocumentApplication m_application;
    std::shared_ptr<VersioningService> m_service;
};

VersionBundle::Summary summary(const QString& name)
{
    VersionBundle::Info info;
    info.name = name;
    return VersionBundle::Summary::placeholder(info);
}

// A collection named `collectionName` holding the document "Cut".
struct Bundle {
    TeamFixture fixture;
    std::shared_ptr<Collection> collection;
    std::shared_ptr<Document> cut;

    explicit Bundle(const QString& collectionName)
    {
        collection = syncWait(Collection::create(collectionName, fixture.client(QStringLiteral("ana"))));
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Cut.kdenlive");
        writeFile(source, "<mlt/>");
        syncWait(collection->createNestedItem(source));
        cut = collection->nestedItems().at(0);
    }
};

} // namespace

class ConfirmationDialogsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void permanentlyDeletingDescribesTheItems()
    {
        const QString tail = QStringLiteral(" will be permenently deleted. Vantrel cannot revert this action.");
        const auto message = [](QList<VersionBundle::Summary> items) {
            return Dialog(Dialog::ConfirmPermanentlyDelete{std::move(items), {}}).messageText();
        };
        QCOMPARE(message({}), tail);
        QCOMPARE(message({summary(QStringLiteral("Cut %@ %d"))}), QStringLiteral("`Cut %@ %d`") + tail);
        QCOMPARE(message({summary(QStringLiteral("A")), summary(QStringLiteral("B"))}), QStringLiteral("2 Items") + tail);
    }

    void textsNameTheItemsAsTheyAreNow()
    {
        Bundle bundle(QStringLiteral("Reels %@ %d %1"));
        const auto& reels = bundle.collection;
        const auto& cut = bundle.cut;

        const Dialog remove(Dialog::ConfirmRemove{cut, reels, {}});
        QCOMPARE(remove.messageText(), QStringLiteral("Cut will be removed from Reels %@ %d %1."));

        // The container is not named, so deleting from none reads the same.
        const QString trashed = QStringLiteral("Cut will be moved to Trash.");
        QCOMPARE(Dialog(Dialog::ConfirmDelete{cut, reels, {}}).messageText(), trashed);
        QCOMPARE(Dialog(Dialog::ConfirmDelete{cut, nullptr, {}}).messageText(), trashed);

        const Dialog unlock(Dialog::ConfirmForceUnlock{cut, {}});
        QCOMPARE(unlock.title(), QStringLiteral("Are you sure you want to force unlock Cut?"));
        QVERIFY(unlock.messageText().startsWith(QStringLiteral("If you\u2019re unable to open Cut because")));
        QVERIFY(unlock.messageText().contains(QStringLiteral("you can force unlock Cut. Be aware")));

        // A rename that arrives after the question was made shows in its texts.
        syncWait(cut->rename(QStringLiteral("Cut 2")));
        QTRY_COMPARE(remove.messageText(), QStringLiteral("Cut 2 will be removed from Reels %@ %d %1."));
    }

    void anItemUpdateNamesTheApplicationAndItsVersions()
    {
        DocumentApplication application = DocumentApplication::none();
        application.name.reset();
        application.writerVersion = QStringLiteral("23.08");
        const Dialog unnamed(Dialog::ConfirmItemUpdate{std::make_shared<AwareItem>(application), {}});
        QCOMPARE(unnamed.title(), QStringLiteral("Upgrade Alert"));
        QCOMPARE(unnamed.messageText(), QString());
        QCOMPARE(unnamed.confirmButton().title, QStringLiteral("Continue"));

        application.name = QStringLiteral("Kdenlive");
        application.installed = InstalledApplication{QStringLiteral("Kdenlive"), QStringLiteral("24.02"), QString()};
        QCOMPARE(Dialog(Dialog::ConfirmItemUpdate{std::make_shared<AwareItem>(application), {}}).messageText(),
                 QStringLiteral("Your Kdenlive version is too new. Opening it will trigger a non-backwards "
                                "compatible upgrade.\n\nEither continue, and have your collaborators upgrade "
                                "to 24.02, or downgrade Kdenlive to 23.08."));
    }

    void aNewQuestionReplacesTheOneShowingAndOnlyItRuns()
    {
        QWidget window;
        ConfirmationDialogModel model;
        QStringList ran;
        model.setDialog(Dialog::ConfirmPermanentlyDelete{{}, [&] { ran << QStringLiteral("delete"); }});
        DocumentApplication application = DocumentApplication::none();
        model.setDialog(Dialog::ConfirmItemUpdate{std::make_shared<AwareItem>(application), [&] { ran << QStringLiteral("update"); }});

        QPointer<QMessageBox> box = makeConfirmationBox(*model.dialog(), presentedFlag(&model), &window);
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        QCOMPARE(box->text(), QStringLiteral("Upgrade Alert"));
        box->open();
        box->buttons()[0]->click(); // Continue
        QCOMPARE(ran, QStringList{QStringLiteral("update")});
        QVERIFY(!model.dialog().has_value());
    }

    void cancellingOnlyClearsTheQuestion()
    {
        QWidget window;
        ConfirmationDialogModel model;
        bool ran = false;
        model.setDialog(Dialog::ConfirmPermanentlyDelete{{summary(QStringLiteral("A"))}, [&] { ran = true; }});
        QPointer<QMessageBox> box = makeConfirmationBox(*model.dialog(), presentedFlag(&model), &window);
        QCOMPARE(box->informativeText(), QStringLiteral("`A` will be permenently deleted. Vantrel cannot revert this action."));
        box->open();
        QCOMPARE(box->buttons()[1]->text(), QStringLiteral("Cancel"));
        box->buttons()[1]->click();
        QVERIFY(!ran);
        QVERIFY(!model.dialog().has_value());
    }
};

QTEST_MAIN(ConfirmationDialogsTest)
#include "confirmation_dialogs_test.moc"
