// The check-in panel in a collection's content over a real team bundle: it appears with the
// check-out, saves a new version from Ctrl+Return, discards after the confirmation, refuses blank
// messages and a second save, keeps the message when the engine refuses the check-in, asks
// to close an editor that still has the working copy open (also before opening again replaces
// it), and keeps a check-out that its
// application did not open, with an alert.

#include "actions/selected_item_commands.h"
#include "design/dark_theme.h"
#include "desktop/desktop_launch.h"
#include "desktop/launched_applications.h"
#include "model/strings.h"
#include "views/detail/check_in_view.h"
#include "views/presenters/alert_box.h"
#include "views/support/open_team.h"
#include "views/team/collection_content_view.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

// A window's content with the project "Cut" selected and checked out, the pane focus on the panel
// as the check-out action leaves it.
struct CheckedOut {
    OpenTeam window;
    std::shared_ptr<Collection> reels = newCollection(window.bundle, QStringLiteral("Reels"));
    std::shared_ptr<Document> cut;
    std::unique_ptr<CollectionContentView> content;
    QString workingCopy;

    // `open` stands in for the desktop; the document is checked out unless `checkOut` is false.
    explicit CheckedOut(
        item_action::OpenURL open = [](const QUrl&) { return completedTask(); }, bool checkOut = true)
        : window(std::move(open))
    {
        syncWait(
            reels->createNestedItem(writeProject(window.fixture, QStringLiteral("p"), QStringLiteral("Cut.kdenlive"))));
        cut = findDocument(reels, QStringLiteral("Cut"));
        NavigationModel& navigation = window.team->navigation();
        content = std::make_unique<CollectionContentView>(reels, navigation, window.team->itemActions(), &window.alert);
        windowBackground(*content);
        content->resize(1150, 600);
        content->show();
        content->activateWindow();
        navigation.setSelectedDocument(cut);
        QTest::qWait(0);
        if (!checkOut)
            return;
        workingCopy = syncWait(cut->checkOut());
        navigation.setFocus(ContentViewFocus::checkinView);
    }

    CheckInView* panel() const { return content->checkInView(); }
    QPlainTextEdit* editor() const { return panel()->editor(); }
    void type(const QString& text) { QTest::keyClicks(editor(), text); }
    void pressSave() { QTest::keyClick(editor(), Qt::Key_Return, Qt::ControlModifier); }
    // A process standing in for `application` started on the working copy, until killed.
    void startEditor(QProcess& editor, const QString& application) const
    {
        editor.start(QStringLiteral("sleep"), {QStringLiteral("600")});
        QVERIFY(editor.waitForStarted());
        LaunchedApplications::shared().remember({editor.processId(), workingCopy, application});
    }
    qsizetype versionCount() const { return cut->versioningService()->versionIDs().size(); }
    int atticEntries() const
    {
        return QDir(window.fixture.root() + QStringLiteral("/attic/") + cut->id().toString())
            .entryList({QStringLiteral("*.json")})
            .size();
    }
};

QAbstractButton* buttonTitled(const QMessageBox& box, const QString& title)
{
    for (QAbstractButton* button : box.buttons()) {
        if (button->text() == title)
            return button;
    }
    return nullptr;
}

} // namespace

class CheckInViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void savesANewVersionFromTheKeyboard()
    {
        CheckedOut fixture;
        QTRY_VERIFY(fixture.content->checkInArea()->isVisible());
        QVERIFY(fixture.panel()->isVisible());
        QTRY_VERIFY(fixture.editor()->hasFocus());
        QVERIFY(!fixture.panel()->saveButton()->isEnabled());
        QCOMPARE(fixture.editor()->placeholderText(), Strings::describeChangesPlaceholder());

        fixture.type(QStringLiteral("Tightened the opening"));
        QCOMPARE(fixture.cut->commitMessage(), QStringLiteral("Tightened the opening"));
        QVERIFY(fixture.panel()->saveButton()->isEnabled());
        QTest::qWait(50);
        saveScreenshot(*fixture.content, QStringLiteral("check_in_view_1150x600"));

        // Two quick presses: one check-in, no alert.
        fixture.pressSave();
        fixture.pressSave();
        QVERIFY(!fixture.panel()->saveButton()->isEnabled());
        QTRY_VERIFY(!fixture.cut->isCheckedOut());
        QTRY_VERIFY(!fixture.window.progress.state().isBusy());
        QCOMPARE(fixture.versionCount(), 2);
        QVERIFY(!fixture.window.alert.details());
        QVERIFY(fixture.cut->commitMessage().isEmpty());
        QVERIFY(fixture.editor()->toPlainText().isEmpty());
        QVERIFY(!fixture.content->checkInArea()->isVisible());
        QCOMPARE(fixture.window.team->navigation().focus(), ContentViewFocus::documentList);
    }

    void blankMessagesAndBusyDocumentsCannotBeSaved()
    {
        CheckedOut fixture;
        QTRY_VERIFY(fixture.editor()->hasFocus());
        fixture.type(QStringLiteral("  "));
        QTest::keyClick(fixture.editor(), Qt::Key_Return);
        fixture.type(QStringLiteral(" "));
        QCOMPARE(fixture.cut->commitMessage(), QStringLiteral("  \n "));
        QVERIFY(!fixture.panel()->saveButton()->isEnabled());
        fixture.pressSave();
        QTest::qWait(50);
        QVERIFY(fixture.cut->isCheckedOut());
        QCOMPARE(fixture.versionCount(), 1);

        // The document's message shows in the editor; a busy document allows nothing.
        fixture.cut->setCommitMessage(QStringLiteral("From elsewhere"));
        QCOMPARE(fixture.editor()->toPlainText(), QStringLiteral("From elsewhere"));
        fixture.cut->setIsInitiating(true);
        QVERIFY(!fixture.panel()->saveButton()->isEnabled());
        QVERIFY(!fixture.panel()->discardButton()->isEnabled());
        QVERIFY(fixture.editor()->isReadOnly());
        QTest::keyClick(fixture.editor(), Qt::Key_Escape);
        QVERIFY(!fixture.window.confirmation.dialog());
        fixture.cut->setIsInitiating(false);
        QVERIFY(fixture.panel()->saveButton()->isEnabled());

        // Pane focus and keyboard focus follow each other.
        NavigationModel& navigation = fixture.window.team->navigation();
        navigation.setFocus(ContentViewFocus::documentList);
        QVERIFY(!fixture.editor()->hasFocus());
        fixture.editor()->setFocus();
        QCOMPARE(navigation.focus(), ContentViewFocus::checkinView);
    }

    void escapeDiscardsAfterTheConfirmation()
    {
        CheckedOut fixture;
        QTRY_VERIFY(fixture.editor()->hasFocus());
        fixture.type(QStringLiteral("Not worth keeping"));
        QTest::keyClick(fixture.editor(), Qt::Key_Escape);
        const auto dialog = fixture.window.confirmation.dialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->messageText(), QStringLiteral("All unsaved changes in Cut will be discarded."));
        QVERIFY(fixture.cut->isCheckedOut());

        dialog->confirmButton().action();
        QTRY_VERIFY(!fixture.cut->isCheckedOut());
        QVERIFY(!fixture.content->checkInArea()->isVisible());
        QCOMPARE(fixture.versionCount(), 1);
        QTRY_VERIFY(fixture.cut->commitMessage().isEmpty());
        QVERIFY(!fixture.window.alert.details());
    }

    void aForceUnlockMakesTheSaveFailAndKeepsTheMessage()
    {
        CheckedOut fixture;
        QTRY_VERIFY(fixture.editor()->hasFocus());
        const auto ben = fixture.window.fixture.client(QStringLiteral("ben"));
        syncWait(openAs(ben, VersioningServiceType::document, fixture.cut->id())
                     ->checkOut({}, {.takeover = LockTakeover::forceUnlock, .autoSave = false}, &s3Factory));
        fixture.window.bundle->poll();

        fixture.type(QStringLiteral("My changes"));
        fixture.panel()->saveButton()->click();
        QTRY_VERIFY(fixture.window.alert.details());
        QTRY_VERIFY(!fixture.window.progress.state().isBusy());
        // The engine's own words, naming who took the lock.
        QVERIFY(fixture.window.alert.details()->message.startsWith(QStringLiteral("ben Editor force unlocked")));
        QCOMPARE(fixture.cut->commitMessage(), QStringLiteral("My changes"));
        QCOMPARE(fixture.editor()->toPlainText(), QStringLiteral("My changes"));
        QCOMPARE(fixture.versionCount(), 1);
        QVERIFY(fixture.panel()->saveButton()->isEnabled());
    }

    // The editor this program started on the working copy still runs: saving asks to close it
    // first (Cancel being the default), changing nothing; going on anyway checks in and keeps the
    // working copy in the attic. Discarding asks the same way.
    void anEditorStillOpenIsNamedBeforeTheWorkingCopyGoes()
    {
        CheckedOut fixture;
        QProcess editor;
        fixture.startEditor(editor, QStringLiteral("Kdenlive"));
        QTRY_VERIFY(fixture.editor()->hasFocus());
        fixture.type(QStringLiteral("Trimmed the ending"));
        fixture.pressSave();
        QTRY_VERIFY(fixture.window.alert.details());
        QTRY_VERIFY(!fixture.window.progress.state().isBusy());
        const AlertDetails alert = *fixture.window.alert.details();
        QCOMPARE(alert.title, QStringLiteral("Save and Close Kdenlive First"));
        QVERIFY(alert.message.startsWith(QStringLiteral("“Cut” is still open in Kdenlive,")));
        QCOMPARE(fixture.versionCount(), 1);
        QVERIFY(fixture.cut->isCheckedOut());
        QCOMPARE(fixture.cut->commitMessage(), QStringLiteral("Trimmed the ending"));

        QPointer<QMessageBox> box = makeAlertBox(alert, presentedFlag(&fixture.window.alert), fixture.content.get());
        box->open();
        QCOMPARE(box->defaultButton()->text(), Strings::cancelActionTitle());
        QTest::qWait(50);
        saveScreenshot(*fixture.content, *box, QStringLiteral("working_copy_in_use_alert_1150x600"));
        buttonTitled(*box, Strings::checkInAnywayButtonTitle())->click();
        QTRY_VERIFY(!fixture.cut->isCheckedOut());
        QTRY_VERIFY(!fixture.window.progress.state().isBusy());
        QCOMPARE(fixture.versionCount(), 2);
        QCOMPARE(fixture.atticEntries(), 1);
        QVERIFY(!fixture.window.alert.details());

        // Checked out again on the same path, which the editor still has.
        QCOMPARE(syncWait(fixture.cut->checkOut()), fixture.workingCopy);
        fixture.panel()->discard();
        fixture.window.confirmation.dialog()->confirmButton().action();
        QTRY_VERIFY(fixture.window.alert.details());
        QVERIFY(fixture.cut->isCheckedOut());
        box =
            makeAlertBox(*fixture.window.alert.details(), presentedFlag(&fixture.window.alert), fixture.content.get());
        box->open();
        QCOMPARE(box->defaultButton()->text(), Strings::cancelActionTitle());
        buttonTitled(*box, Strings::discardAnywayButtonTitle())->click();
        QTRY_VERIFY(!fixture.cut->isCheckedOut());
        QCOMPARE(fixture.atticEntries(), 2);
        editor.kill();
        editor.waitForFinished();
    }

    // Opening again once the lock was lost (here its record removed by hand) replaces the working
    // copy left behind: while the editor still has it, the same question is asked first.
    void openingAgainAsksBeforeReplacingTheCopyAnEditorHas()
    {
        CheckedOut fixture;
        QProcess editor;
        fixture.startEditor(editor, QStringLiteral("Mousepad"));
        writeFile(fixture.workingCopy, "stale");
        QVERIFY(QFile::remove(fixture.window.fixture.root() + QStringLiteral("/locks/") + fixture.cut->id().toString()
                              + QStringLiteral(".lock")));
        fixture.window.bundle->poll();
        const int kept = fixture.atticEntries();

        SelectedItemCommands::checkOut(fixture.cut, fixture.window.team->itemActions().checkOut());
        QTRY_VERIFY(fixture.window.alert.details());
        QTRY_VERIFY(!fixture.window.progress.state().isBusy());
        const AlertDetails alert = *fixture.window.alert.details();
        QCOMPARE(alert.title, QStringLiteral("Save and Close Mousepad First"));
        QVERIFY2(
            alert.message.startsWith(QStringLiteral("An earlier working copy of “Cut” is still open in Mousepad.")),
            qPrintable(alert.message));
        QCOMPARE(contentOf(fixture.workingCopy), QByteArray("stale"));
        QCOMPARE(fixture.atticEntries(), kept);

        QPointer<QMessageBox> box = makeAlertBox(alert, presentedFlag(&fixture.window.alert), fixture.content.get());
        box->open();
        QCOMPARE(box->defaultButton()->text(), Strings::cancelActionTitle());
        QTest::qWait(50);
        saveScreenshot(*fixture.content, *box, QStringLiteral("open_while_in_use_alert_1150x600"));
        buttonTitled(*box, Strings::openAnywayButtonTitle())->click();
        QTRY_VERIFY(fixture.cut->isCheckedOut());
        QTRY_VERIFY(!fixture.window.progress.state().isBusy());
        QVERIFY(contentOf(fixture.workingCopy) != QByteArray("stale"));
        QCOMPARE(fixture.atticEntries(), kept + 1);
        editor.kill();
        editor.waitForFinished();
    }

    // The share goes away under a check-in: the alert says that nothing was checked in and
    // that the working copy and the message are kept; once the share is back the same check-in
    // goes through.
    void aCheckInWhileTheShareIsGoneKeepsEverythingForLater()
    {
        CheckedOut fixture;
        QTRY_VERIFY(fixture.editor()->hasFocus());
        fixture.type(QStringLiteral("Graded the night scenes"));
        const QString root = fixture.window.fixture.root();
        const QString away = root + QStringLiteral(".away");
        QVERIFY(QDir().rename(root, away));
        fixture.pressSave();
        QTRY_VERIFY(fixture.window.alert.details());
        QTRY_VERIFY(!fixture.window.progress.state().isBusy());
        const AlertDetails alert = *fixture.window.alert.details();
        QVERIFY2(alert.message.contains(QStringLiteral("nothing was checked in")), qPrintable(alert.message));
        QVERIFY(fixture.cut->isCheckedOut());
        QVERIFY(QFileInfo::exists(fixture.workingCopy));
        QCOMPARE(fixture.cut->commitMessage(), QStringLiteral("Graded the night scenes"));
        QPointer<QMessageBox> box = makeAlertBox(alert, presentedFlag(&fixture.window.alert), fixture.content.get());
        box->open();
        QTest::qWait(50);
        saveScreenshot(*fixture.content, *box, QStringLiteral("share_gone_check_in_alert_1150x600"));
        box->done(0);

        QVERIFY(QDir().rename(away, root));
        QVERIFY(fixture.window.bundle->checkReachable());
        QTRY_VERIFY(fixture.panel()->saveButton()->isEnabled());
        fixture.panel()->saveButton()->click();
        QTRY_VERIFY2(!fixture.cut->isCheckedOut(),
                     qPrintable(fixture.window.alert.details() ? fixture.window.alert.details()->message : QString()));
        QTRY_VERIFY(!fixture.window.progress.state().isBusy());
        QCOMPARE(fixture.versionCount(), 2);
    }

    void aCheckOutThatDoesNotOpenStaysCheckedOutAndSaysWhy()
    {
        // The desktop's words when the application ends as soon as it started.
        CheckedOut fixture(
            [](const QUrl& url) -> QCoro::Task<> {
                throw LaunchError(LaunchError::Case::exitedAtOnce, QFileInfo(url.toLocalFile()).fileName(),
                                  QStringLiteral("Kdenlive"), QStringLiteral("exit status 1"));
                co_return;
            },
            false);
        SelectedItemCommands::checkOut(fixture.cut, fixture.window.team->itemActions().checkOut());
        QTRY_VERIFY(fixture.window.alert.details());
        const AlertDetails alert = *fixture.window.alert.details();
        QCOMPARE(alert.title, Strings::documentNotOpenedTitle());
        QVERIFY2(alert.message.startsWith(QStringLiteral("Cut is checked out to you, but it didn’t open. Kdenlive "
                                                         "closed right after it started, without opening “Cut")),
                 qPrintable(alert.message));
        QVERIFY(alert.message.contains(QStringLiteral("It stays checked out")));
        // The check-out stands, and the check-in view offers the way on: open again or discard.
        QVERIFY(fixture.cut->isCheckedOut());
        QTRY_VERIFY(fixture.content->checkInArea()->isVisible());
        QTRY_VERIFY(!fixture.window.progress.state().isBusy());

        QPointer<QMessageBox> box = makeAlertBox(alert, presentedFlag(&fixture.window.alert), fixture.content.get());
        box->open();
        QTest::qWait(50);
        saveScreenshot(*fixture.content, *box, QStringLiteral("launch_failure_alert_1150x600"));
        box->done(0);
    }
};

QTEST_MAIN(CheckInViewTest)
#include "check_in_view_test.moc"
