// The main window over a real team setup: what it shows in each state, its size, its dialogs, its
// commands, and the about window.

#include "app/about_window_scene.h"
#include "app/app_delegate.h"
#include "app/application_entry.h"
#include "app/main_window.h"
#include "app/onboarding_scene.h"
#include "app/support/main_window_shell.h"
#include "design/dark_theme.h"
#include "desktop/system_services.h"
#include "engine/team_bundle.h"
#include "model/key_value_storage.h"
#include "model/strings.h"
#include "model/support/item_test_support.h"
#include "onboarding/app_icon_backdrop.h"
#include "onboarding/onboarding_model.h"
#include "onboarding/onboarding_view.h"
#include "onboarding/page_transition.h"
#include "open_team/team_setup.h"
#include "support/engine_test_support.h"
#include "views/detail/name_input_view.h"
#include "views/presenters/dialog_presenter.h"
#include "views/team/team_view.h"
#include "views/team/team_window.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;
using Case = TeamSetup::State::Case;

namespace {

void screenshot(QWidget& window, const QString& name)
{
    const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    QVERIFY(window.grab().save(folder.filePath(name + QStringLiteral(".png"))));
}

QAction* menuItem(QMainWindow& window, const QString& objectName)
{
    return window.menuBar()->findChild<QAction*>(objectName);
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void choosingATeamTakesTheOnboardingsSize()
    {
        Shell shell;
        shell.window->show();
        QTRY_COMPARE(shell.setup->state().kind(), Case::select);
        QTRY_COMPARE(shell.content().size(), TeamWindow::onboardingSize);
        QVERIFY(!shell.content().teamView());
        // An alert raised while choosing shows at once.
        shell.alert.show(Error(QStringLiteral("The share is gone.")));
        QTRY_VERIFY(shell.content().alertPresenter()->dialog());
        screenshot(*shell.window, QStringLiteral("main_window_select"));
    }

    void theOnboardingIsMadeAnewEachTimeATeamIsToBeChosen()
    {
        TeamFixture fixture;
        fixture.client(QStringLiteral("Ana")); // the bundle exists
        Shell shell;
        QList<QPointer<QWidget>> made;
        shell.content().setOnboardingFactory([&made](TeamSetup* setup, QWidget* parent) {
            QWidget* scene = makeOnboardingScene(setup, parent);
            made << scene;
            return scene;
        });
        shell.window->show();
        QTRY_COMPARE(shell.setup->state().kind(), Case::select);
        QCOMPARE(made.size(), 1);
        QCOMPARE(shell.content().onboarding(), made.first().data());
        auto* view = qobject_cast<OnboardingView*>(shell.content().onboarding());
        QVERIFY(view && view->isVisible());
        QCOMPARE(view->size(), TeamWindow::onboardingSize);
        QCOMPARE(view->model()->teamSetup(), shell.setup.get());
        // Every page, in the window, once its transition has ended.
        for (const OnboardingPage page : allOnboardingPages()) {
            view->model()->setCurrentPage(page);
            QTest::qWait(800);
            screenshot(*shell.window, QStringLiteral("main_window_onboarding_%1").arg(static_cast<int>(page)));
        }
        view->model()->skip();
        // Other changes while choosing keep the same onboarding, on its page.
        Q_EMIT shell.setup->stateChanged();
        QCOMPARE(made.size(), 1);
        QCOMPARE(view->model()->currentPage(), OnboardingPage::teams);

        // The last page's button reaches the window's team setup: it offers team bundles.
        auto* open = view->findChild<QPushButton*>(QStringLiteral("openExistingTeamBundleButton"));
        QVERIFY(open);
        QTest::mouseClick(open, Qt::LeftButton);
        QTRY_VERIFY(shell.importer.action());
        shell.importer.setAction({});
        QTRY_VERIFY(!shell.content().fileDialogPresenter()->dialog());

        // A loaded team drops the onboarding and its model.
        shell.setup->openTeamBundle(QUrl::fromLocalFile(fixture.root()));
        QTRY_COMPARE(shell.setup->state().kind(), Case::loaded);
        QVERIFY(!shell.content().onboarding());
        QTRY_VERIFY(!made.first());
        // Nor is one made, hidden, while a team shows or another loads.
        Q_EMIT shell.setup->stateChanged();
        QVERIFY(!shell.content().onboarding());
        bool madeWhileLoading = false;
        connect(shell.setup.get(), &TeamSetup::stateChanged, &shell.content(), [&] {
            if (shell.setup->state().kind() == Case::loading && shell.content().onboarding())
                madeWhileLoading = true;
        });

        // The team's question is closed unanswered when the team goes. Choosing again starts over on
        // the welcome page.
        bool deleted = false;
        shell.confirmation.setDialog(ConfirmationDialog::ConfirmPermanentlyDelete{{}, [&] { deleted = true; }});
        QTRY_VERIFY(shell.content().confirmationPresenter()->dialog());
        QPointer<QDialog> question = shell.content().confirmationPresenter()->dialog();
        shell.setup->openTeamBundle(QUrl::fromLocalFile(fixture.root() + QStringLiteral("-gone.vantrelteam")));
        QTRY_COMPARE(shell.setup->state().kind(), Case::select);
        QVERIFY(!shell.content().confirmationPresenter()->dialog());
        QVERIFY(!question || !question->isVisible());
        QVERIFY(!deleted);
        QCOMPARE(made.size(), 2);
        QVERIFY(!madeWhileLoading);
        view = qobject_cast<OnboardingView*>(shell.content().onboarding());
        QVERIFY(view);
        QCOMPARE(view->model()->currentPage(), OnboardingPage::intro);
        QTRY_VERIFY(shell.content().alertPresenter()->dialog()); // the failed open says why
        // The window gives up the team's size for the onboarding's.
        QTRY_COMPARE(shell.content().size(), TeamWindow::onboardingSize);
        QVERIFY(shell.window->minimumWidth() < TeamWindow::defaultSize.width());
        // The alert stands over the middle of the window's new frame, not beside it.
        const QPoint middle = shell.content().alertPresenter()->dialog()->geometry().center();
        QVERIFY2((middle - shell.window->geometry().center()).manhattanLength() <= 2,
                 qPrintable(QStringLiteral("%1,%2").arg(middle.x()).arg(middle.y())));
        screenshot(*shell.window, QStringLiteral("main_window_onboarding"));
    }

    void theIconBackdropComesAndGoesWithTheFirstPage()
    {
        QWidget host;
        auto* view = qobject_cast<OnboardingView*>(makeOnboardingScene(nullptr, &host));
        QVERIFY(view);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        auto* backdrop = view->background()->findChild<AppIconBackdrop*>();
        QVERIFY(backdrop && backdrop->isVisible());
        // The icon's square stands 24 below the top of the window.
        QCOMPARE(backdrop->mapTo(view, backdrop->iconFrame().topLeft().toPoint()).y(), 24);
        const auto transition = [&]() -> PageTransition* {
            for (PageTransition* running : view->background()->findChildren<PageTransition*>())
                if (!running->isFinished())
                    return running;
            return nullptr;
        };

        // Leaving the first page fades it out at once; it never slides.
        view->model()->next();
        QVERIFY(transition() && transition()->oldPage() == backdrop && !transition()->newPage());
        QVERIFY(backdrop->isHidden());
        QTRY_VERIFY(!transition());
        // Moving on among the other pages leaves it alone.
        view->model()->next();
        QVERIFY(!transition() && backdrop->isHidden());
        // Back on the first page it enters with the spring, and shows once it has settled. On its
        // way in the background's glow shows through it.
        const QPoint corner(view->width() - 10, view->height() - 10);
        const QColor glow = view->grab().toImage().pixelColor(corner);
        view->model()->setCurrentPage(OnboardingPage::intro);
        QVERIFY(transition() && transition()->newPage() == backdrop && transition()->startOffset() > 0);
        transition()->spring().step(0.05);
        QVERIFY(transition()->offset() < corner.x());
        const QImage entering = view->grab().toImage();
        QCOMPARE(entering.pixelColor(corner), glow);
        QVERIFY(entering.save(QDir(QStringLiteral(VANTREL_SCREENSHOT_DIR))
                                  .filePath(QStringLiteral("main_window_onboarding_backdrop_entering.png"))));
        // Leaving again before it has settled ends the entry and fades it out.
        view->model()->next();
        QVERIFY(transition() && transition()->oldPage() == backdrop);
        QTRY_VERIFY(!transition());
        QVERIFY(backdrop->isHidden());
        view->model()->setCurrentPage(OnboardingPage::intro);
        QTRY_VERIFY(!transition());
        QVERIFY(backdrop->isVisible());
    }

    void aNewTeamIsCreatedFromTheOnboarding()
    {
        QTemporaryDir share;
        Shell shell;
        shell.content().setOnboardingFactory(&makeOnboardingScene);
        shell.window->show();
        QTRY_COMPARE(shell.setup->state().kind(), Case::select);
        auto* view = qobject_cast<OnboardingView*>(shell.content().onboarding());
        QVERIFY(view);
        view->model()->skip(); // straight to the last page
        QTRY_COMPARE(view->model()->currentPage(), OnboardingPage::teams);
        auto* create = view->findChild<QPushButton*>(QStringLiteral("createNewTeamButton"));
        QTRY_VERIFY(create && create->isVisible());
        QTest::mouseClick(create, Qt::LeftButton, {}, create->rect().center());

        // The name, then the folder it goes into; the new team is then shown.
        QTRY_VERIFY(shell.content().sheetPresenter()->dialog());
        auto* naming = shell.content().sheetPresenter()->dialog()->findChild<NameInputView*>();
        naming->field()->setText(QStringLiteral("Cutting Room"));
        QTest::keyClick(naming->field(), Qt::Key_Return);
        QTRY_VERIFY(shell.importer.action());
        shell.importer.action()(QUrl::fromLocalFile(share.path()));
        QTRY_COMPARE(shell.setup->state().kind(), Case::loaded);
        QVERIFY(QFileInfo(share.filePath(QStringLiteral("Cutting Room.vantrelteam"))).isDir());
        QTRY_VERIFY(shell.content().teamView());
        QCOMPARE(shell.window->findChild<QLabel*>(QStringLiteral("teamName"))->text(), QStringLiteral("Cutting Room"));
        QVERIFY(!shell.content().onboarding());
    }

    void aLoadedTeamOpensWhereTheUserLeftIt()
    {
        TeamFixture fixture;
        fixture.client(QStringLiteral("Ana")); // the bundle exists
        {
            Shell shell(fixture.root());
            shell.window->show();
            QTRY_COMPARE(shell.setup->state().kind(), Case::loaded);
            QCOMPARE(shell.window->findChild<QLabel*>(QStringLiteral("teamName"))->text(),
                     shell.setup->state().team()->bundle()->name());
            QTRY_VERIFY(shell.window->size().width() >= TeamWindow::defaultSize.width());
            QVERIFY(shell.content().size().height() >= TeamWindow::defaultSize.height());
            screenshot(*shell.window, QStringLiteral("main_window_loaded_1150x600"));

            // View ▸ Hide Sidebar gives the sidebar's width to the detail; the item then shows it again.
            TeamView* view = shell.content().teamView();
            QVERIFY(view && view->sidebar()->isVisible());
            // The menus are rebuilt as the window changes: each step reads the current one.
            const auto sidebarItem = [&]() -> QAction* {
                for (QAction* entry : shell.window->menuBar()->actions()) {
                    if (entry->menu() && entry->menu()->objectName() == QStringLiteral("viewMenu")) {
                        Q_EMIT entry->menu()->aboutToShow();
                        return entry->menu()->findChild<QAction*>(QStringLiteral("toggleSidebarAction"));
                    }
                }
                return nullptr;
            };
            QVERIFY(sidebarItem());
            QCOMPARE(sidebarItem()->text(), Strings::hideSidebarActionTitle());
            const int detailWidth = view->detail()->width();
            sidebarItem()->trigger();
            QVERIFY(!view->sidebar()->isVisible());
            QTRY_VERIFY(view->detail()->width() > detailWidth);
            QCOMPARE(sidebarItem()->text(), Strings::showSidebarActionTitle());
            screenshot(*shell.window, QStringLiteral("main_window_sidebar_hidden"));
            sidebarItem()->trigger();
            QVERIFY(view->sidebar()->isVisible());
            QTRY_COMPARE(view->detail()->width(), detailWidth);
            shell.window->resize(1920, 1080);
            QTRY_COMPARE(shell.window->size(), QSize(1920, 1080));
            screenshot(*shell.window, QStringLiteral("main_window_loaded_1920x1080"));
            shell.window->saveLoadedGeometry();

            // A new team's window reopens at the saved size.
            Shell next(fixture.root());
            next.storage->set(shell.storage->object(MainWindow::geometryKey), MainWindow::geometryKey);
            next.window->show();
            QTRY_COMPARE(next.setup->state().kind(), Case::loaded);
            QTRY_COMPARE(next.window->size(), QSize(1920, 1080));
        }
        // Saved geometry that does not read back gives the default size, never an empty window.
        Shell damaged(fixture.root());
        damaged.storage->set(QByteArray("\x01\xd9\xd0\xcb garbage"), MainWindow::geometryKey);
        damaged.window->show();
        QTRY_COMPARE(damaged.setup->state().kind(), Case::loaded);
        QTRY_VERIFY(damaged.window->width() >= TeamWindow::defaultSize.width());
        QVERIFY(damaged.window->height() >= TeamWindow::defaultSize.height());
    }

    void theWindowsDialogsFollowTheirModels()
    {
        Shell shell;
        shell.window->show();
        QTRY_COMPARE(shell.setup->state().kind(), Case::select);
        shell.sheet.setSheet(SheetModel::CreateNewTeamBundle{[](QString) {}});
        QTRY_VERIFY(shell.content().sheetPresenter()->dialog());
        QTest::keyClick(shell.content().sheetPresenter()->dialog(), Qt::Key_Escape);
        QVERIFY(!shell.sheet.sheet());

        // A file dialog that is cancelled clears the request.
        shell.importer.request({folderContentType}, [](QUrl) {});
        QTRY_VERIFY(shell.content().fileDialogPresenter()->dialog());
        shell.content().fileDialogPresenter()->dialog()->reject();
        QVERIFY(!shell.importer.action());
        QVERIFY(shell.importer.allowedContentTypes().isEmpty());

        // The model moving on closes the dialog without answering for the user.
        bool deleted = false;
        shell.confirmation.setDialog(ConfirmationDialog::ConfirmPermanentlyDelete{{}, [&] { deleted = true; }});
        QTRY_VERIFY(shell.content().confirmationPresenter()->dialog());
        shell.confirmation.setDialog(std::nullopt);
        QTRY_VERIFY(!shell.content().confirmationPresenter()->dialog());
        QVERIFY(!deleted);
    }

    void quittingAndAboutGoThroughTheCommands()
    {
        Shell shell;
        shell.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(shell.window.get()));
        QCOMPARE(menuItem(*shell.window, QStringLiteral("quitAction"))->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        menuItem(*shell.window, QStringLiteral("quitAction"))->trigger();
        QCOMPARE(shell.quits, 1);

        installAboutInformation(AppInfo::shared());
        QList<QUrl> opened;
        showAboutWindow(shell.window.get(), AppInfo::shared(), [&](const QUrl& url) { opened << url; });
        QWidget* about = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            about = widget->isVisible() && widget->windowTitle() == QStringLiteral("About Vantrel") ? widget : about;
        QVERIFY(about);
        QCOMPARE(about->size(), QSize(572, 320));
        const auto model = makeAboutWindowModel(AppInfo::shared(), [&](const QUrl& url) { opened << url; });
        QVERIFY(!model->appIcon().isNull()); // the application's own icon
        QVERIFY(model->settings().credits.contains(QStringLiteral("Vantrel")));
        model->openEmail();
        QCOMPARE(opened.value(0).scheme(), QStringLiteral("mailto"));
    }

    // With a document checked out, quitting and closing the window ask the team's question and
    // end nothing until it is answered yes.
    void quittingWithACheckOutAsksFirst()
    {
        TeamFixture fixture;
        const auto reels = newCollection(fixture.client(QStringLiteral("Ana")), QStringLiteral("Reels"));
        syncWait(reels->createNestedItem(writeProject(fixture, QStringLiteral("cut"), QStringLiteral("Cut.kdenlive"))));
        Shell shell(fixture.root());
        QTRY_COMPARE(shell.setup->state().kind(), Case::loaded);
        const auto team = shell.setup->state().team();
        QTRY_VERIFY(!team->collections().all().isEmpty());
        const auto collection = team->collections().all().first();
        syncWait(collection->loadNestedItems());
        syncWait(findDocument(collection, QStringLiteral("Cut"))->checkOut());

        int terminated = 0;
        VantrelAppDelegate delegate([&terminated] { ++terminated; });
        askBeforeQuitting(delegate, *shell.setup, *shell.window);
        shell.window->show();
        QVERIFY(QTest::qWaitForWindowActive(shell.window.get()));
        QVERIFY(!shell.window->close());
        QVERIFY(shell.window->isVisible());
        QTRY_VERIFY(shell.alert.details());
        QCOMPARE(shell.alert.details()->title, Strings::quitConfirmationTitle());
        const auto answer = [&shell](const QString& title) {
            for (const ButtonAction& button : shell.alert.details()->buttons) {
                if (button.title == title)
                    button.action();
            }
            shell.alert.setDetails(std::nullopt);
        };
        answer(Strings::cancelActionTitle());
        delegate.requestQuit();
        QTRY_VERIFY(shell.alert.details());
        QCOMPARE(terminated, 0);
        answer(Strings::quitActionTitle());
        QCOMPARE(terminated, 1);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
