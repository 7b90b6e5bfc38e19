// Deleting from the trash for good, over a real team bundle.

#include "actions/trash_manager.h"
#include "engine/team_bundle.h"
#include "engine/version_bundles.h"
#include "model/support/item_test_support.h"

#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

class TrashManagerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aConfirmedDeletionRunsAfterTheManagerIsGone()
    {
        TeamFixture fixture;
        const auto team = fixture.client(QStringLiteral("ana"));
        auto reels = newCollection(team, QStringLiteral("Reels"));
        syncWait(reels->versioningService()->removeOrDelete(nullptr, &s3Factory));

        ToolbarProgressIndicator progress;
        AlertModel alert;
        ConfirmationDialogModel confirmation;
        auto* manager = new TrashManager(team, &progress, &alert, &confirmation, {}, {}, false);
        syncWait(manager->loadContent());
        QCOMPARE(manager->content().size(), 1);
        manager->setSelection({reels->id()});
        manager->deleteSelected();
        QVERIFY(confirmation.dialog());

        // The trash pane is left while the question shows; the user still confirms.
        delete manager;
        confirmation.dialog()->confirmButton().action();
        QTRY_VERIFY(team->versionBundles().trashIndex().all.isEmpty());
        QVERIFY(team->versionBundles().liveIndex().collections.isEmpty());
        QVERIFY(!alert.details());
    }

    void aConfirmedDeletionShowsWhileTheManagerLives()
    {
        TeamFixture fixture;
        const auto team = fixture.client(QStringLiteral("ana"));
        auto reels = newCollection(team, QStringLiteral("Reels"));
        syncWait(reels->versioningService()->removeOrDelete(nullptr, &s3Factory));

        ToolbarProgressIndicator progress;
        AlertModel alert;
        ConfirmationDialogModel confirmation;
        int closed = 0;
        TrashManager manager(
            team, &progress, &alert, &confirmation, [&] { ++closed; }, {}, false);
        syncWait(manager.loadContent());
        manager.setSelection({reels->id()});
        manager.deleteSelected();
        confirmation.dialog()->confirmButton().action();
        QTRY_COMPARE(closed, 1); // emptied: the trash pane closes
        QVERIFY(manager.content().isEmpty());
        QVERIFY(manager.selection().isEmpty());
        QVERIFY(!manager.disableActions());
    }
};

QTEST_MAIN(TrashManagerTest)
#include "trash_manager_test.moc"
