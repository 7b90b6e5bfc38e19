// The onboarding model on its own: paging, the Next button's title and presence, and the final
// buttons handing over to the team actions.

#include "onboarding/onboarding_model.h"
#include "packages/components/animated_binding.h"

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace vantrel;
using Page = OnboardingPage;

namespace {

// Stands in for the team setup: records which of its commands the model called.
struct RecordingSetup {
    QStringList calls;
    OnboardingModel::TeamActions actions()
    {
        return {[this] { calls << QStringLiteral("open"); }, [this] { calls << QStringLiteral("create"); }};
    }
};

} // namespace

class OnboardingModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void nextWalksThroughEveryPage()
    {
        RecordingSetup setup;
        OnboardingModel model(setup.actions());
        QSignalSpy changes(&model, &OnboardingModel::currentPageChanged);
        QCOMPARE(model.currentPage(), Page::intro);
        QCOMPARE(model.nextButtonTitle(), QStringLiteral("Get Started"));
        QVERIFY(model.showsNextButton());
        QVERIFY(model.showsIconBackdrop());

        const QList<Page> expected{Page::collections, Page::documents, Page::eventlocking, Page::teams};
        for (Page page : expected) {
            // Next animates its change, so a page transition can follow it.
            bool animated = false;
            QObject guard;
            connect(&model, &OnboardingModel::currentPageChanged, &guard,
                    [&animated] { animated = currentAnimation().has_value(); });
            model.next();
            QCOMPARE(model.currentPage(), page);
            QVERIFY(animated);
            QCOMPARE(model.nextButtonTitle(), QStringLiteral("Next"));
            QVERIFY(!model.showsIconBackdrop());
            QCOMPARE(model.showsNextButton(), page != Page::teams);
            QCOMPARE(model.showsFinalButtons(), page == Page::teams);
        }
        QCOMPARE(changes.count(), 4);

        // Paging past either end changes nothing.
        model.next();
        QCOMPARE(model.currentPage(), Page::teams);
        model.setCurrentPage(Page::intro);
        model.previous();
        QCOMPARE(model.currentPage(), Page::intro);
        QCOMPARE(changes.count(), 5);
        QVERIFY(setup.calls.isEmpty());
    }

    void skipLandsOnTheLastPageFromAnyPage()
    {
        RecordingSetup setup;
        for (Page start : allOnboardingPages()) {
            OnboardingModel model(setup.actions());
            model.setCurrentPage(start);
            model.skip();
            QCOMPARE(model.currentPage(), Page::teams);
            QVERIFY(!model.showsNextButton());
        }
    }

    void aSubsetOfPagesPagesInTheEnumerationsOrder()
    {
        RecordingSetup setup;
        OnboardingModel model(setup.actions(), {Page::collections, Page::teams});
        QCOMPARE(model.currentPage(), Page::collections);
        QVERIFY(model.showsIconBackdrop());
        QCOMPARE(model.nextButtonTitle(), QStringLiteral("Next"));
        model.next();
        QCOMPARE(model.currentPage(), Page::documents);
        QVERIFY(model.showsNextButton());
        QVERIFY(!model.showsIconBackdrop());
        model.skip();
        QCOMPARE(model.currentPage(), Page::teams);
        QVERIFY(model.showsFinalButtons());
        model.previous();
        QCOMPARE(model.currentPage(), Page::eventlocking);
    }

    void withoutPagesTheWelcomePageStands()
    {
        RecordingSetup setup;
        OnboardingModel model(setup.actions(), {});
        QCOMPARE(model.pages(), QList<Page>{Page::intro});
        QCOMPARE(model.currentPage(), Page::intro);
        // The welcome page is then the last page too: the final buttons show at once.
        QVERIFY(!model.showsNextButton());
        model.skip();
        QCOMPARE(model.currentPage(), Page::intro);
    }

    void theFinalButtonsCallTheTeamActions()
    {
        RecordingSetup setup;
        OnboardingModel model(setup.actions());
        QWidget parent;
        QVERIFY(!model.makeFinalButtons(&parent)); // not before the last page
        model.skip();
        QWidget* buttons = model.makeFinalButtons(&parent);
        QVERIFY(buttons);
        const auto list = buttons->findChildren<QPushButton*>();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.at(0)->text(), QStringLiteral("Open an Existing Team Bundle..."));
        QCOMPARE(list.at(1)->text(), QStringLiteral("Create a New Team..."));
        list.at(0)->click();
        list.at(1)->click();
        QCOMPARE(setup.calls, (QStringList{QStringLiteral("open"), QStringLiteral("create")}));

        // Missing actions make the buttons do nothing.
        OnboardingModel empty(OnboardingModel::TeamActions{});
        empty.openExistingTeamBundle();
        empty.createNewTeamBundle();
    }

    void aClickAfterTheModelIsGoneDoesNothing()
    {
        RecordingSetup setup;
        auto model = std::make_unique<OnboardingModel>(setup.actions());
        model->skip();
        QWidget parent;
        QPointer<QWidget> buttons = model->makeFinalButtons(&parent);
        QVERIFY(buttons);
        model.reset();
        QVERIFY(buttons); // the buttons belong to their parent, not to the model
        for (QPushButton* button : buttons->findChildren<QPushButton*>())
            button->click();
        QVERIFY(setup.calls.isEmpty());
    }

    void aModelForNoTeamSetupDoesNothing()
    {
        QPointer<OnboardingModel> model = OnboardingModel::forTeamSetup(nullptr);
        QVERIFY(!model->teamSetup());
        model->openExistingTeamBundle();
        model->createNewTeamBundle();
        delete model;
    }

    void theFactoriesBuildThePagesAndTheBackground()
    {
        RecordingSetup setup;
        OnboardingModel model(setup.actions());
        QWidget parent;
        QList<Page> built;
        model.setPageFactory([&built](Page page, QWidget* into) {
            built << page;
            return new QWidget(into);
        });
        model.setBackgroundFactory([](const OnboardingModel& m, QWidget* into) {
            auto* background = new QWidget(into);
            background->setObjectName(m.showsIconBackdrop() ? QStringLiteral("withIcon") : QStringLiteral("plain"));
            return background;
        });
        QCOMPARE(model.makeContent(&parent)->parent(), &parent);
        model.next();
        model.makeContent(&parent);
        QCOMPARE(built, (QList<Page>{Page::intro, Page::collections}));
        QCOMPARE(model.makeBackground(&parent)->objectName(), QStringLiteral("plain"));

        // An empty factory brings the default back.
        model.setPageFactory({});
        QWidget* page = model.makeContent(&parent);
        QCOMPARE(page->objectName(), QStringLiteral("onboardingPage_1"));
    }
};

QTEST_MAIN(OnboardingModelTest)
#include "onboarding_model_test.moc"
