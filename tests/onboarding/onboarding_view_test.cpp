// The onboarding view over a model with a recording stand-in for the team setup: the keys, the
// page dots, the final buttons, and a picture of every page.

#include "design/dark_theme.h"
#include "onboarding/onboarding_model.h"
#include "onboarding/onboarding_view.h"
#include "onboarding/page_transition.h"
#include "packages/components/circle_tab_bar.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <vector>

using namespace vantrel;
using Page = OnboardingPage;

namespace {

struct RecordingSetup {
    QStringList calls;
    OnboardingModel::TeamActions actions()
    {
        return {[this] { calls << QStringLiteral("open"); }, [this] { calls << QStringLiteral("create"); }};
    }
};

// A shown, active onboarding, so that its keyboard shortcuts can fire.
struct Shown {
    explicit Shown(RecordingSetup& setup) : model(new OnboardingModel(setup.actions())), view(model)
    {
        view.show();
        view.activateWindow();
    }
    OnboardingModel* model;
    OnboardingView view;
};

int selectedDot(const CircleTabBarBase& bar)
{
    for (int i = 0; i < bar.dotCount(); ++i)
        if (bar.isDotSelected(i))
            return i;
    return -1;
}

// Where a dot is drawn, from the looks it is shown with.
QPoint dotCentre(const CircleTabBarBase& bar, int index)
{
    const auto span = [&](int i) { return bar.shownLook(i).width + 2 * bar.shownLook(i).horizontalPadding; };
    double row = CircleTabBarBase::spacing * (bar.dotCount() - 1);
    for (int i = 0; i < bar.dotCount(); ++i)
        row += span(i);
    double x = (bar.width() - row) / 2;
    for (int i = 0; i < index; ++i)
        x += span(i) + CircleTabBarBase::spacing;
    return QPointF(x + span(index) / 2, bar.height() / 2.0).toPoint();
}

bool settled(const CircleTabBarBase& bar)
{
    for (int i = 0; i < bar.dotCount(); ++i)
        if (!(bar.shownLook(i) == bar.targetLook(i)))
            return false;
    return true;
}

} // namespace

class OnboardingViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void theViewKeepsTheModelItIsGiven()
    {
        RecordingSetup setup;
        QPointer<OnboardingModel> model = new OnboardingModel(setup.actions());
        {
            OnboardingView view(model);
            QCOMPARE(view.model(), model.data());
            QCOMPARE(view.size(), OnboardingView::fixedSize);
            QVERIFY(view.background());
            QVERIFY(view.currentPageView());
        }
        QVERIFY(!model); // owned by the view
    }

    void returnAndEscapeWorkOnlyWhileNextShows()
    {
        RecordingSetup setup;
        Shown shown(setup);
        QVERIFY(QTest::qWaitForWindowActive(&shown.view));
        QCOMPARE(shown.view.nextButton()->text(), QStringLiteral("Get Started"));

        QTest::keyClick(&shown.view, Qt::Key_Return);
        QCOMPARE(shown.model->currentPage(), Page::collections);
        QCOMPARE(shown.view.nextButton()->text(), QStringLiteral("Next"));
        QTest::keyClick(&shown.view, Qt::Key_Enter);
        QCOMPARE(shown.model->currentPage(), Page::documents);

        QTest::keyClick(&shown.view, Qt::Key_Escape);
        QCOMPARE(shown.model->currentPage(), Page::teams);
        QVERIFY(!shown.view.nextButton()->isVisible());
        QVERIFY(!shown.view.skipButton()->isVisible());
        QVERIFY(shown.view.finalButtons() && shown.view.finalButtons()->isVisible());

        // On the last page neither key does anything here.
        shown.model->setCurrentPage(Page::teams);
        QTest::keyClick(&shown.view, Qt::Key_Return);
        QTest::keyClick(&shown.view, Qt::Key_Escape);
        QCOMPARE(shown.model->currentPage(), Page::teams);
        QVERIFY(setup.calls.isEmpty());

        // Back on an earlier page (through the dots) the keys work again.
        shown.model->setCurrentPage(Page::eventlocking);
        QVERIFY(shown.view.nextButton()->isVisible());
        QVERIFY(!shown.view.finalButtons());
        QTest::keyClick(&shown.view, Qt::Key_Return);
        QCOMPARE(shown.model->currentPage(), Page::teams);
    }

    void theDotsFollowThePageAndChooseIt()
    {
        RecordingSetup setup;
        Shown shown(setup);
        CircleTabBarBase& bar = *shown.view.tabBar();
        QCOMPARE(bar.dotCount(), 5);
        QCOMPARE(selectedDot(bar), 0);
        shown.view.nextButton()->click();
        QCOMPARE(selectedDot(bar), 1);
        shown.view.skipButton()->click();
        QCOMPARE(selectedDot(bar), 4);

        // A click on a dot shows its page, with its own view.
        QWidget* before = shown.view.currentPageView();
        QTRY_VERIFY(settled(bar));
        QTest::mouseClick(&bar, Qt::LeftButton, {}, dotCentre(bar, 2));
        QCOMPARE(shown.model->currentPage(), Page::documents);
        QCOMPARE(selectedDot(bar), 2);
        QVERIFY(shown.view.currentPageView() != before);
        QCOMPARE(shown.view.currentPageView()->objectName(), QStringLiteral("onboardingPage_2"));
    }

    void aFinalButtonReachesTheTeamSetup()
    {
        RecordingSetup setup;
        Shown shown(setup);
        shown.view.skipButton()->click();
        auto* create = shown.view.findChild<QPushButton*>(QStringLiteral("createNewTeamButton"));
        QVERIFY(create && create->isVisible());
        QTest::mouseClick(create, Qt::LeftButton);
        auto* open = shown.view.findChild<QPushButton*>(QStringLiteral("openExistingTeamBundleButton"));
        QTest::mouseClick(open, Qt::LeftButton);
        QCOMPARE(setup.calls, (QStringList{QStringLiteral("create"), QStringLiteral("open")}));
    }

    void theColumnKeepsItsPaddingAndNothingOverlaps()
    {
        RecordingSetup setup;
        Shown shown(setup);
        for (Page page : allOnboardingPages()) {
            shown.model->setCurrentPage(page);
            QApplication::processEvents();
            const QRect inner = shown.view.rect().adjusted(32, 32, -32, -32);
            const auto frame = [&](QWidget* w) { return QRect(w->mapTo(&shown.view, QPoint(0, 0)), w->size()); };
            const QRect pageFrame = frame(shown.view.currentPageView());
            const QRect dots = frame(shown.view.tabBar());
            QWidget* buttons =
                shown.model->showsNextButton() ? shown.view.nextButton()->parentWidget() : shown.view.finalButtons();
            const QRect buttonFrame = frame(buttons);
            QVERIFY2(inner.contains(pageFrame), qPrintable(QStringLiteral("page %1").arg(int(page))));
            QVERIFY(inner.contains(buttonFrame));
            QVERIFY(pageFrame.bottom() < dots.top());
            QVERIFY(dots.bottom() < buttonFrame.top());
        }
    }

    void thePageAreaKeepsItsHeightSoTheLastPageSlidesInAndOut()
    {
        RecordingSetup setup;
        Shown shown(setup);
        auto* area = shown.view.findChild<QWidget*>(QStringLiteral("onboardingPageContainer"));
        QVERIFY(area);
        QApplication::processEvents();
        const int height = area->height();
        const auto moving = [&] {
            for (PageTransition* transition : area->findChildren<PageTransition*>())
                if (!transition->isFinished())
                    return transition;
            return static_cast<PageTransition*>(nullptr);
        };
        // Into the last page with Next, out of it with the dots, and back with Skip: the final
        // buttons take the place of Next and Skip without moving the page area, and each page
        // still slides in once the buttons have changed.
        for (const auto& go : std::vector<std::function<void()>>{
                 [&] { shown.model->setCurrentPage(Page::eventlocking); }, [&] { shown.view.nextButton()->click(); },
                 [&] { shown.model->setCurrentPage(Page::documents); }, [&] { shown.view.skipButton()->click(); }}) {
            QTRY_VERIFY(!moving());
            go();
            QVERIFY(moving());
            QApplication::processEvents();
            QCOMPARE(area->height(), height);
            QVERIFY(moving());
        }
    }

    void screenshots()
    {
        RecordingSetup setup;
        Shown shown(setup);
        const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
        QVERIFY(folder.mkpath(QStringLiteral(".")));
        for (Page page : allOnboardingPages()) {
            shown.model->setCurrentPage(page);
            QTRY_VERIFY(settled(*shown.view.tabBar()));
            const QString name = QStringLiteral("onboarding_view_%1_%2.png")
                                     .arg(int(page))
                                     .arg(OnboardingModel::pageName(page).toLower().remove(QLatin1Char(' ')));
            QVERIFY(shown.view.grab().save(folder.filePath(name)));
        }
    }
};

QTEST_MAIN(OnboardingViewTest)
#include "onboarding_view_test.moc"
