// The welcome view: its texts, and its one button asking for a new collection's name.

#include "design/dark_theme.h"
#include "model/strings.h"
#include "views/support/open_team.h"
#include "views/team/welcome_view.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

using namespace vantrel;
using namespace vantrel::testing;

class WelcomeViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void textsAndTheCreateButton()
    {
        OpenTeam window;
        WelcomeView view(&window.team->itemActions());
        QCOMPARE(view.titleLabel()->text(), QStringLiteral("Welcome back!"));
        QCOMPARE(view.messageLabel()->text(), QStringLiteral("Open an existing Collection, or create a new one."));
        QCOMPARE(view.createButton()->text(), QStringLiteral("Create a Collection"));

        // The button only asks for the name; cancelling the sheet creates nothing.
        view.createButton()->click();
        QVERIFY(window.sheet.sheet());
        QVERIFY(std::holds_alternative<SheetModel::CreateNewCollection>(*window.sheet.sheet()));
        window.sheet.setSheet(std::nullopt);
        QVERIFY(!window.progress.state().isBusy());
        syncWait(window.team->collections().reload());
        QVERIFY(window.team->collections().all().isEmpty());

        // The group's middle sits 42 pixels above the view's, its message within its column.
        view.resize(1150, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const int groupMiddle = (view.iconLabel()->geometry().top() + view.createButton()->geometry().bottom()) / 2;
        QVERIFY(qAbs(groupMiddle - (300 - 42)) <= 2);
        QCOMPARE(view.iconLabel()->size(), QSize(60, 60));
        QCOMPARE(view.messageLabel()->width(), 400);
        saveScreenshot(view, QStringLiteral("welcome_view_1150"));
        view.resize(1920, 1080);
        QTest::qWait(0);
        saveScreenshot(view, QStringLiteral("welcome_view_1920"));
    }
};

QTEST_MAIN(WelcomeViewTest)
#include "welcome_view_test.moc"
