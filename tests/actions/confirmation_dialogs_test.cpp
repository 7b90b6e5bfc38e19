// Confirmation questions over items of a real team bundle and the model that asks them.

#include "actions/confirmation_dialogs.h"
#include "model/collection.h"
#include "support/engine_test_support.h"
#include "support/sync_wait.h"

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

} // namespace

class ConfirmationDialogsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void textsNameTheItemsAsTheyAreNow()
    {
        const QString tail = QStringLiteral(" will be permenently deleted. Vantrel cannot revert this action.");
        const auto deleting = [](QList<VersionBundle::Summary> items) {
            return Dialog(Dialog::ConfirmPermanentlyDelete{std::move(items), {}}).messageText();
        };
        QCOMPARE(deleting({}), tail);
        QCOMPARE(deleting({summary(QStringLiteral("Cut %@ %d"))}), QStringLiteral("`Cut %@ %d`") + tail);
        QCOMPARE(deleting({summary(QStringLiteral("A")), summary(QStringLiteral("B"))}),
                 QStringLiteral("2 Items") + tail);

        TeamFixture fixture;
        const auto reels =
            syncWait(Collection::create(QStringLiteral("Reels %@ %d %1"), fixture.client(QStringLiteral("ana"))));
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Cut.kdenlive");
        writeFile(source, "<mlt/>");
        syncWait(reels->createNestedItem(source));
        const auto cut = reels->nestedItems().at(0);
        const Dialog remove(Dialog::ConfirmRemove{cut, reels, {}});
        QCOMPARE(remove.messageText(), QStringLiteral("Cut will be removed from Reels %@ %d %1."));
        QCOMPARE(Dialog(Dialog::ConfirmDelete{cut, nullptr, {}}).messageText(),
                 QStringLiteral("Cut will be moved to Trash."));
        // A rename that arrives after the question was made shows in its texts.
        syncWait(cut->rename(QStringLiteral("Cut 2")));
        QTRY_COMPARE(remove.messageText(), QStringLiteral("Cut 2 will be removed from Reels %@ %d %1."));

        DocumentApplication application = DocumentApplication::none();
        application.name.reset();
        application.writerVersion = QStringLiteral("23.08");
        const Dialog unnamed(Dialog::ConfirmItemUpdate{std::make_shared<AwareItem>(application), {}});
        QCOMPARE(unnamed.title(), QStringLiteral("Upgrade Alert"));
        QCOMPARE(unnamed.messageText(), QString());
    }
};

QTEST_MAIN(ConfirmationDialogsTest)
#include "confirmation_dialogs_test.moc"
