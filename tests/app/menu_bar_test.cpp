// The menu bar over a real team bundle: which commands each state and selection offers, their
// enablement, their shortcuts with the menus closed, the log archive and the test crash.

#include "app/debug_menu.h"
#include "app/menu_bar_controller.h"
#include "desktop/system_services.h"
#include "model/strings.h"
#include "model/support/item_test_support.h"
#include "open_team/team_setup.h"
#include "support/child_process.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <archive.h>
#include <archive_entry.h>
#include <csignal>
#include <sys/wait.h>

using namespace vantrel;
using namespace vantrel::testing;
using Case = TeamSetup::State::Case;

namespace {

AppInfo build(const QString& version)
{
    return AppInfo(QStringLiteral("Vantrel"), QIcon(), version, QStringLiteral("1"), QStringLiteral("app.vantrel"),
                   QStringLiteral("vantrel"));
}

// The local folders of this client; the Downloads folder can be moved.
struct Folders final : FileManaging {
    explicit Folders(QString root) : root(std::move(root)), downloads(this->root + QStringLiteral("/downloads")) {}
    QString userDataFolder() const override { return root + QStringLiteral("/data"); }
    QString cacheFolder() const override { return root + QStringLiteral("/cache"); }
    QString downloadsFolder() const override { return downloads; }
    QString root;
    QString downloads;
};

struct Shell {
    explicit Shell(std::optional<QString> storedPath, const AppInfo& appInfo = build(QStringLiteral("1.0")))
    {
        if (storedPath)
            storage->set(*storedPath, TeamBundle::pathStorageKey);
        setup = std::make_unique<TeamSetup>(
            QStringLiteral("vantrel"),
            [this](const QUrl& url) {
                opened << url;
                return completedTask();
            },
            &alert, &sheet, &confirmation, &progress, storage, &importer, files, workspace);
        menus = new MenuBarController(&window, setup.get(), appInfo, {[this] { ++quits; }, {}, {}});
    }
    std::shared_ptr<Team> team() const { return setup->state().team(); }
    NavigationModel& navigation() const { return team()->navigation(); }

    QTemporaryDir local;
    std::shared_ptr<KeyValueStoragePreview> storage = std::make_shared<KeyValueStoragePreview>();
    std::shared_ptr<Folders> files = std::make_shared<Folders>(local.path());
    std::shared_ptr<RecordingWorkspace> workspace = std::make_shared<RecordingWorkspace>();
    AlertModel alert;
    SheetModel sheet;
    ConfirmationDialogModel confirmation;
    ToolbarProgressIndicator progress;
    FileImporter importer;
    std::unique_ptr<TeamSetup> setup;
    QMainWindow window;
    MenuBarController* menus = nullptr;
    QList<QUrl> opened;
    int quits = 0;
};

// Each menu as "Title: item item! ..." by object name, "!" marking a disabled item.
QStringList menuBar(QMainWindow& window)
{
    QStringList menus;
    for (QAction* entry : window.menuBar()->actions()) {
        QStringList items;
        for (QAction* item : entry->menu()->actions()) {
            if (!item->isSeparator())
                items << item->objectName().remove(QStringLiteral("Action")) + (item->isEnabled() ? "" : "!");
        }
        menus << entry->text() + QStringLiteral(": ") + items.join(u' ');
    }
    return menus;
}

QAction* item(QMainWindow& window, const QString& name)
{
    for (QAction* entry : window.menuBar()->actions()) {
        if (auto* found = entry->menu()->findChild<QAction*>(name + QStringLiteral("Action")))
            return found;
    }
    return nullptr;
}

void verifyShortcutsUnique(QMainWindow& window)
{
    QSet<QKeySequence> seen;
    for (QAction* entry : window.menuBar()->actions()) {
        for (QAction* item : entry->menu()->actions()) {
            if (item->shortcut().isEmpty())
                continue;
            QVERIFY2(!seen.contains(item->shortcut()), qPrintable(item->shortcut().toString()));
            seen << item->shortcut();
        }
    }
}

const QString file = QStringLiteral("File: ");
const QString teamItems = QStringLiteral("openTeamBundle createNewTeam showTeamBundle openTrash quit");
const QString view = QStringLiteral("View: toggleSidebar");
const QString go = QStringLiteral("Go: back forward home");
const QString help = QStringLiteral("Help: about checkForUpdates! collectLogs");

// A team of one collection, Reels: the project Cut, the library Film with the event Day 1, and
// the library Held, which Ben has checked out.
struct Footage {
    TeamFixture fixture;
    Footage()
    {
        const auto ana = fixture.client(QStringLiteral("Ana"));
        const auto reels = newCollection(ana, QStringLiteral("Reels"));
        syncWait(reels->createNestedItem(writeProject(fixture, QStringLiteral("cut"), QStringLiteral("Cut.kdenlive"))));
        syncWait(reels->createNestedItem(
            writeLibrary(fixture, QStringLiteral("film"), QStringLiteral("Film"), {QStringLiteral("Day 1")})));
        syncWait(reels->createNestedItem(writeLibrary(fixture, QStringLiteral("held"), QStringLiteral("Held"), {})));
        const auto ben = fixture.client(QStringLiteral("Ben"));
        const auto held = findDocument(reels, QStringLiteral("Held"));
        syncWait(
            openAs(ben, VersioningServiceType::library, held->id())->checkOut({}, {.autoSave = false}, &s3Factory));
    }
};

// Loads the team and selects Reels, after the selection stored in the settings was restored.
std::shared_ptr<Collection> selectReels(Shell& shell)
{
    if (!QTest::qWaitFor([&] { return shell.setup->state().kind() == Case::loaded; }))
        return nullptr;
    if (!QTest::qWaitFor([&] { return !shell.team()->collections().all().isEmpty(); }))
        return nullptr;
    const auto reels = shell.team()->collections().all().first();
    shell.navigation().restoreSelection(ItemSelection{reels->id(), std::nullopt, std::nullopt},
                                        ContentViewFocus::collectionList);
    QTest::qWaitFor([&] {
        return shell.navigation().focus() == ContentViewFocus::collectionList && reels->nestedItems().size() == 3;
    });
    return reels;
}

std::shared_ptr<Document> selectDocument(Shell& shell, const std::shared_ptr<Collection>& reels, const QString& name)
{
    const auto document = findDocument(reels, name);
    shell.navigation().setSelectedDocument(document);
    shell.navigation().setFocus(ContentViewFocus::documentList);
    return document;
}

QStringList zipEntries(const QString& path)
{
    QStringList names;
    archive* reader = archive_read_new();
    archive_read_support_format_zip(reader);
    if (archive_read_open_filename(reader, QFile::encodeName(path).constData(), 16384) == ARCHIVE_OK) {
        archive_entry* entry = nullptr;
        while (archive_read_next_header(reader, &entry) == ARCHIVE_OK)
            names << QString::fromUtf8(archive_entry_pathname_utf8(entry));
    }
    archive_read_free(reader);
    return names;
}

} // namespace

class MenuBarTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // An application that opens projects and libraries is installed.
        QVERIFY(m_data.isValid());
        QStringList types = DocumentType::kdenliveProject().mimeTypes() + DocumentType::library().mimeTypes();
        writeFile(m_data.filePath(QStringLiteral("applications/editor.desktop")),
                  "[Desktop Entry]\nType=Application\nName=Editor\nExec=editor %f\nMimeType="
                      + types.join(u';').toUtf8() + ";\n");
        qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
        qputenv("XDG_DATA_DIRS", m_data.filePath(QStringLiteral("none")).toUtf8());
    }

    void menusFollowTheTeamSetup()
    {
        for (const QString version : {QStringLiteral("1.0α"), QStringLiteral("1.0β"), QStringLiteral("1.0")}) {
            const bool alpha = version.endsWith(QChar(0x03B1));
            TeamFixture fixture;
            fixture.client(QStringLiteral("Ana"));
            Shell shell(fixture.root(), build(version));
            // Restoring: no team-bundle items at all, and nothing of a team.
            QCOMPARE(shell.setup->state().kind(), Case::loading);
            QCOMPARE(menuBar(shell.window), (QStringList{file + "quit", "Help: about checkForUpdates!"}));
            QCOMPARE(item(shell.window, "about")->text(), QStringLiteral("About Vantrel"));
            QCOMPARE(item(shell.window, "checkForUpdates")->text(), Strings::checkForUpdatesActionTitle() + "...");

            QTRY_COMPARE(shell.setup->state().kind(), Case::loaded);
            QStringList loaded{file + teamItems, view, go, help};
            if (alpha)
                loaded << QStringLiteral("DEBUG: testCrash");
            QCOMPARE(menuBar(shell.window), loaded);
            verifyShortcutsUnique(shell.window);
            QCOMPARE(item(shell.window, "showTeamBundle")->text(), QStringLiteral("Show Team Bundle in File Manager"));
            item(shell.window, "showTeamBundle")->trigger();
            QCOMPARE(shell.workspace->revealedPaths, QStringList{shell.team()->bundle()->rootPath()});
            item(shell.window, "openTrash")->trigger();
            QCOMPARE(shell.navigation().focus(), ContentViewFocus::trash);

            // A failed open leaves no team: only the way to one.
            shell.setup->openTeamBundle(QUrl::fromLocalFile(fixture.root() + QStringLiteral("-gone.vantrelteam")));
            QTRY_COMPARE(shell.setup->state().kind(), Case::select);
            QCOMPARE(menuBar(shell.window),
                     (QStringList{file + "openTeamBundle createNewTeam quit", "Help: about checkForUpdates!"}));
            QCOMPARE(item(shell.window, "openTeamBundle")->text(), Strings::openTeamBundleActionTitle() + "...");
        }
    }

    void menusFollowTheSelection()
    {
        Footage team;
        Shell shell(team.fixture.root());
        const auto reels = selectReels(shell);
        QVERIFY(reels);
        QCOMPARE(menuBar(shell.window).first(),
                 file + "rename newCollection newLibrary addExisting import export " + teamItems);
        QCOMPARE(item(shell.window, "rename")->text(), Strings::renameActionTitle() + "...");
        QCOMPARE(item(shell.window, "newLibrary")->text(),
                 Strings::newLibraryActionTitle(DocumentType::library().description()) + "...");
        verifyShortcutsUnique(shell.window);

        // A plain document: its own commands replace the collection's; "Open" once its
        // application is known, and not while an operation runs on it.
        const auto cut = selectDocument(shell, reels, QStringLiteral("Cut"));
        const QString cutItems = file + "rename open openCopy export addExisting openAttic " + teamItems;
        QTRY_COMPARE(menuBar(shell.window).first(), cutItems);
        QCOMPARE(item(shell.window, "open")->text(), QStringLiteral("Open Project"));
        cut->setIsInitiating(true);
        QCOMPARE(menuBar(shell.window).first(),
                 file + "rename open! openCopy! export addExisting openAttic " + teamItems);
        cut->setIsInitiating(false);
        QCOMPARE(menuBar(shell.window).first(), cutItems);
        verifyShortcutsUnique(shell.window);

        // A library that takes new events, then checked out here: still offered, not enabled.
        const auto film = selectDocument(shell, reels, QStringLiteral("Film"));
        QTRY_COMPARE(menuBar(shell.window).first(),
                     file + "rename open openCopy export newEvent addExisting openAttic " + teamItems);
        QCOMPARE(item(shell.window, "newEvent")->text(),
                 Strings::newEventCreateButton(DocumentType::event().shortDescription()) + "...");
        verifyShortcutsUnique(shell.window);
        syncWait(film->checkOut());
        QTRY_VERIFY(film->isLocked());
        QCOMPARE(item(shell.window, "newEvent")->isEnabled(), false);
        QCOMPARE(item(shell.window, "addExisting")->isEnabled(), false);

        // The event list focused: "Rename..." is for the event; the library's commands stay.
        QTRY_VERIFY(!film->nestedItems().isEmpty());
        shell.navigation().setSelectedEvent(film->nestedItems().first());
        QCOMPARE(shell.navigation().focus(), ContentViewFocus::eventList);
        QVERIFY(menuBar(shell.window).first().startsWith(file + "rename open"));
        QCOMPARE(shell.navigation().focusedItem(), film->nestedItems().first());

        // A library Ben has checked out takes no new event and can't be opened.
        selectDocument(shell, reels, QStringLiteral("Held"));
        QTRY_COMPARE(menuBar(shell.window).first(),
                     file + "rename open! openCopy! export addExisting! openAttic " + teamItems);

        // Trash focused with nothing selected: no item commands at all.
        shell.navigation().setSelectedCollection(nullptr);
        shell.navigation().setFocus(ContentViewFocus::trash);
        QCOMPARE(menuBar(shell.window).first(), file + teamItems);
    }

    void shortcutsFireWithTheMenusClosed()
    {
        Footage team;
        Shell shell(team.fixture.root());
        shell.window.show();
        QApplication::setActiveWindow(&shell.window);
        QVERIFY(QTest::qWaitForWindowActive(&shell.window));
        const auto reels = selectReels(shell);
        QVERIFY(reels);
        const auto press = [&](QKeyCombination keys) {
            QTest::keyClick(&shell.window, keys.key(), keys.keyboardModifiers());
        };
        const auto sheetIs = [&](auto kind) {
            const bool shown = shell.sheet.sheet() && std::holds_alternative<decltype(kind)>(*shell.sheet.sheet());
            shell.sheet.setSheet(std::nullopt);
            return shown;
        };
        const auto importerAsked = [&] {
            const bool asked = bool(shell.importer.action());
            shell.importer.setAction({});
            return asked;
        };

        // The collection's commands.
        press(Qt::CTRL | Qt::Key_R);
        QVERIFY(sheetIs(SheetModel::RenameItem{}));
        press(Qt::CTRL | Qt::Key_N);
        QVERIFY(sheetIs(SheetModel::CreateNewCollection{}));
        press(Qt::SHIFT | Qt::CTRL | Qt::Key_N);
        QVERIFY(sheetIs(SheetModel::NewFinalCutLibrary{}));
        press(Qt::SHIFT | Qt::CTRL | Qt::Key_A);
        QVERIFY(sheetIs(SheetModel::AddExisting{}));
        press(Qt::CTRL | Qt::Key_I);
        QVERIFY(importerAsked());
        press(Qt::SHIFT | Qt::CTRL | Qt::Key_E);
        QVERIFY(importerAsked());

        // Forward from the collection list selects the first document, on the next turn.
        press(Qt::CTRL | Qt::Key_BracketRight);
        QVERIFY(!shell.navigation().selectedDocument());
        QTRY_COMPARE(shell.navigation().selectedDocument(), findDocument(reels, QStringLiteral("Cut")));
        // The desktop's keys go back and forward too.
        press(Qt::ALT | Qt::Key_Left);
        QTRY_VERIFY(!shell.navigation().selectedDocument());
        press(Qt::ALT | Qt::Key_Right);
        QTRY_COMPARE(shell.navigation().selectedDocument(), findDocument(reels, QStringLiteral("Cut")));

        // The document's commands.
        selectDocument(shell, reels, QStringLiteral("Film"));
        QTRY_VERIFY(item(shell.window, "open")->isEnabled());
        press(Qt::CTRL | Qt::Key_E);
        QVERIFY(sheetIs(SheetModel::NewFinalCutEvent{}));
        press(Qt::SHIFT | Qt::CTRL | Qt::Key_A);
        QVERIFY(sheetIs(SheetModel::AddExisting{}));
        press(Qt::SHIFT | Qt::CTRL | Qt::Key_E);
        QVERIFY(importerAsked());
        press(Qt::SHIFT | Qt::CTRL | Qt::Key_O);
        QTRY_COMPARE(shell.opened.size(), 1);
        press(Qt::CTRL | Qt::Key_O);
        QTRY_COMPARE(shell.opened.size(), 2);
        QTRY_VERIFY(findDocument(reels, QStringLiteral("Film"))->isLocked());

        // Back, then home.
        press(Qt::CTRL | Qt::Key_BracketLeft);
        QTRY_VERIFY(!shell.navigation().selectedDocument());
        press(Qt::SHIFT | Qt::CTRL | Qt::Key_H);
        QTRY_VERIFY(!shell.navigation().selectedCollection());
        press(Qt::CTRL | Qt::Key_Q);
        QCOMPARE(shell.quits, 1);
    }

    void logsAreCollectedIntoDownloadsAndRevealed()
    {
        Footage team;
        Shell shell(team.fixture.root());
        QTRY_COMPARE(shell.setup->state().kind(), Case::loaded);
        item(shell.window, "collectLogs")->trigger();
        QCOMPARE(shell.progress.state().text(), Strings::collectingLogsProgress());
        QTRY_COMPARE(shell.workspace->revealedPaths.size(), 1);
        QVERIFY(!shell.progress.state().isBusy());
        const QString archive = shell.workspace->revealedPaths.first();
        QCOMPARE(QFileInfo(archive).absolutePath(), shell.files->downloadsFolder());
        QVERIFY(zipEntries(archive).contains(QFileInfo(shell.team()->bundle()->log().logFilePath()).fileName()));

        // A destination that can't be made is an alert, and nothing is revealed.
        writeFile(shell.local.filePath("blocked"), "a file");
        shell.files->downloads = shell.local.filePath("blocked/downloads");
        item(shell.window, "collectLogs")->trigger();
        QTRY_VERIFY(shell.alert.details());
        QCOMPARE(shell.alert.details()->title, Strings::collectLogsFailedTitle());
        QTRY_VERIFY(!shell.progress.state().isBusy());
        QCOMPARE(shell.workspace->revealedPaths.size(), 1);

        // Collected but not shown: the alert gives the desktop's reason, not a failed collection.
        shell.alert.setDetails(std::nullopt);
        shell.files->downloads = QFileInfo(archive).absolutePath();
        shell.workspace->failure = LaunchError(LaunchError::Case::noFileManager, QStringLiteral("/logs.zip"));
        item(shell.window, "collectLogs")->trigger();
        QTRY_VERIFY(shell.alert.details());
        QCOMPARE(shell.alert.details()->title, shell.workspace->failure->failureReason().value());
        QCOMPARE(shell.alert.details()->message, shell.workspace->failure->localizedDescription());
        QCOMPARE(shell.workspace->revealedPaths.size(), 2);
    }

    void testCrashAbortsWithTheUsersName()
    {
        QVERIFY(!makeDebugMenu(build(QStringLiteral("1.0β")), nullptr));
        qputenv("VANTREL_USER_NAME", "%s%n ana");
        ChildProcess child;
        const QString errors = m_data.filePath(QStringLiteral("crash.err"));
        QVERIFY(child.start(QStringLiteral(VANTREL_MENU_CRASH_CHILD), {}, ChildInput::none(), errors));
        const int status = child.reap();
        qunsetenv("VANTREL_USER_NAME");
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT, qPrintable(child.describe()));
        QVERIFY2(contentOf(errors).contains("Developer test crash by %s%n ana"), qPrintable(child.describe()));
    }

private:
    QTemporaryDir m_data;
};

QTEST_MAIN(MenuBarTest)
#include "menu_bar_test.moc"
