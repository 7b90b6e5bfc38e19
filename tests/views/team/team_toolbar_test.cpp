// The team window's toolbar over a real team: back and home move the navigation, the progress of
// a running action, the user's names; and pictures of the whole bar at the window's widths.

#include "design/dark_theme.h"
#include "design/ribbon_view.h"
#include "views/support/open_team.h"
#include "views/team/team_toolbar.h"
#include "views/team/user_toolbar.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QToolBar>
#include <QToolButton>

using namespace vantrel;
using namespace vantrel::testing;

class TeamToolbarTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void backAndHomeMoveTheNavigation()
    {
        OpenTeam window;
        const auto reels = newCollection(window.bundle, QStringLiteral("Reels"));
        syncWait(
            reels->createNestedItem(writeProject(window.fixture, QStringLiteral("a"), QStringLiteral("Cut.kdenlive"))));
        NavigationModel& navigation = window.team->navigation();
        TeamToolbar toolbar(&navigation, &window.progress);
        QToolButton* back = toolbar.backButton();
        QToolButton* home = toolbar.homeButton();

        // On the welcome view neither can be pressed; anywhere else, the trash included, both can.
        QCOMPARE(navigation.focus(), ContentViewFocus::home);
        QVERIFY(!back->isEnabled() && !home->isEnabled());
        navigation.setFocus(ContentViewFocus::trash);
        QVERIFY(back->isEnabled() && home->isEnabled());

        navigation.setSelectedCollection(reels);
        navigation.setSelectedDocument(findDocument(reels, QStringLiteral("Cut")));
        QCOMPARE(navigation.focus(), ContentViewFocus::documentList);

        // Back steps out of the document list only.
        back->click();
        QVERIFY(!navigation.selectedDocument());
        QCOMPARE(navigation.selectedCollection(), reels);
        QCOMPARE(navigation.focus(), ContentViewFocus::collectionList);

        // Home clears the whole selection.
        navigation.setSelectedDocument(findDocument(reels, QStringLiteral("Cut")));
        home->click();
        QVERIFY(!navigation.selectedCollection());
        QVERIFY(!navigation.selectedDocument());
        QCOMPARE(navigation.focus(), ContentViewFocus::home);
        QVERIFY(!back->isEnabled() && !home->isEnabled());
    }

    void theProgressAndTheNames()
    {
        OpenTeam window;
        TeamToolbar toolbar(&window.team->navigation(), &window.progress);
        QVERIFY(!toolbar.ribbonView()->isShowingRibbon());
        QVERIFY(toolbar.findChildren<QLabel*>().isEmpty());
        window.progress.setState(ToolbarProgressIndicator::State::busy(QStringLiteral("Checking in Cut...")));
        QCOMPARE(toolbar.findChild<QLabel*>()->text(), QStringLiteral("Checking in Cut..."));
        window.progress.setState(ToolbarProgressIndicator::State::idle());
        QTRY_VERIFY(toolbar.findChildren<QLabel*>().isEmpty());

        UserToolbar user(window.bundle->name(), window.bundle->user().fullName);
        QCOMPARE(user.userNameLabel()->text(), QStringLiteral("ana Editor"));
        QCOMPARE(user.teamNameLabel()->text(), window.bundle->name());
        QVERIFY(user.userNameLabel()->font().pixelSize() > user.teamNameLabel()->font().pixelSize());
    }

    void screenshots()
    {
        OpenTeam window;
        design::Prioritizer<design::Ribbon> ribbons(
            just(QList<design::Ribbon>{design::Ribbon{QStringLiteral("A new version is available"), 1, 1.0f, {}}}));
        window.progress.setState(ToolbarProgressIndicator::State::busy(QStringLiteral("Checking in Final Cut...")));
        for (const int width : {1150, 1920}) {
            QMainWindow main;
            windowBackground(main);
            auto* bar = new QToolBar(&main);
            bar->setMovable(false);
            bar->addWidget(
                new TeamToolbar(&window.team->navigation(), &window.progress, width == 1920 ? &ribbons : nullptr));
            bar->addWidget(new UserToolbar(QStringLiteral("Northern Lights Studio"), QStringLiteral("Ana Editor")));
            main.addToolBar(bar);
            main.resize(width, width == 1920 ? 1080 : 600);
            main.show();
            QVERIFY(QTest::qWaitForWindowExposed(&main));
            saveScreenshot(*bar, QStringLiteral("team_toolbar_%1").arg(width));
        }
    }
};

QTEST_MAIN(TeamToolbarTest)
#include "team_toolbar_test.moc"
