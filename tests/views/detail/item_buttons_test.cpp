// The button rows of a selected collection, document and event over a real team bundle: what the
// open button shows for each lock state, the menus, and the alert for an invalid check-out.

#include "design/dark_theme.h"
#include "design/icon_provider.h"
#include "design/menu_button.h"
#include "model/strings.h"
#include "views/detail/collection_buttons.h"
#include "views/detail/document_buttons.h"
#include "views/detail/event_buttons.h"
#include "views/presenters/alert_box.h"
#include "views/support/open_team.h"
#include "views/team/collection_content_view.h"

#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolTip>
#include <QVBoxLayout>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

enum class LockCase { notLocked, lockedByUs, lockedBySomeoneElse, busy, applicationMissing, invalidCheckout };
enum class AddEvent { absent, enabled, disabled };

QStringList menuTitles(design::MenuButton* button)
{
    Q_EMIT button->menu()->aboutToShow();
    QStringList titles;
    for (const QAction* action : button->menu()->actions())
        titles << action->text();
    return titles;
}

// A row on the window background, as wide as a detail pane; with `help`, that button's help shown
// under it as the pointer resting on it shows it.
void screenshotRow(QWidget* row, const QString& name, QPushButton* help = nullptr)
{
    QWidget frame;
    windowBackground(frame);
    auto* layout = new QVBoxLayout(&frame);
    layout->setContentsMargins(16, 12, 16, help ? 44 : 12);
    layout->addWidget(row, 0, Qt::AlignTop);
    frame.resize(640, frame.sizeHint().height());
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    if (!help) {
        saveScreenshot(frame, name);
    } else {
        QToolTip::showText(help->mapToGlobal(QPoint(8, help->height() + 4)), help->toolTip(), help);
        QWidget* tip = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            tip = widget->objectName() == QLatin1String("qtooltip_label") && widget->isVisible() ? widget : tip;
        QVERIFY(tip);
        QPixmap picture = frame.grab();
        QPainter painter(&picture);
        painter.drawPixmap(help->mapTo(&frame, QPoint(8, help->height() + 4)), tip->grab());
        painter.end();
        QVERIFY(picture.save(QDir(QStringLiteral(VANTREL_SCREENSHOT_DIR)).filePath(name + QStringLiteral(".png"))));
        QToolTip::hideText();
    }
    row->setParent(nullptr);
}

} // namespace

Q_DECLARE_METATYPE(LockCase)
Q_DECLARE_METATYPE(AddEvent)

class ItemButtonsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // Only a video editor is installed, for libraries; nothing opens Kdenlive projects.
        QVERIFY(m_applications.isValid());
        const QString home = m_applications.filePath(QStringLiteral("home"));
        writeFile(home + QStringLiteral("/applications/videoeditor.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Video Editor\nExec=videoeditor %F\n"
                  "MimeType=inode/directory;\n");
        // And a player for Matroska clips, a kind of file the table of types does not know (a
        // program that exists: the desktop passes over entries whose program it cannot find).
        writeFile(home + QStringLiteral("/applications/clipplayer.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Clip Player\nExec=true %f\n"
                  "MimeType=video/x-matroska;\n");
        qputenv("XDG_DATA_HOME", QFile::encodeName(home));
        // The system's MIME database, and none of its applications.
        QVERIFY(QDir().mkpath(m_applications.filePath(QStringLiteral("system"))));
        QVERIFY(QFile::link(QStringLiteral("/usr/share/mime"), m_applications.filePath(QStringLiteral("system/mime"))));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_applications.filePath(QStringLiteral("system"))));
        // The user's own choice: MPEG-4 clips open in the clip player too, though its entry does
        // not list them (xdg-mime default).
        writeFile(m_applications.filePath(QStringLiteral("config/mimeapps.list")),
                  "[Default Applications]\nvideo/mp4=clipplayer.desktop\n");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_applications.filePath(QStringLiteral("config"))));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_applications.filePath(QStringLiteral("system-config"))));
        design::applyDarkTheme(*qApp);
    }

    void openButtonFollowsTheLockState_data()
    {
        QTest::addColumn<LockCase>("lockCase");
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<QString>("help");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<AddEvent>("addEvent");

        const QString install = QStringLiteral("Install Video Editor to open this document");
        QTest::newRow("not locked") << LockCase::notLocked << "pencil" << QString() << true << AddEvent::enabled;
        QTest::newRow("locked by us") << LockCase::lockedByUs << "pencil"
                                      << "Document locked by ana Editor on host-ana" << true << AddEvent::disabled;
        QTest::newRow("locked by someone else")
            << LockCase::lockedBySomeoneElse << "lock.fill"
            << "Document locked by ben Editor on host-ben" << false << AddEvent::disabled;
        QTest::newRow("busy") << LockCase::busy << "pencil" << install << false << AddEvent::enabled;
        QTest::newRow("application missing") << LockCase::applicationMissing << "exclamationmark.triangle"
                                             << "Install Kdenlive to open this document" << false << AddEvent::absent;
        QTest::newRow("invalid checkout state")
            << LockCase::invalidCheckout << "pencil" << QString() << true << AddEvent::enabled;
    }

    void openButtonFollowsTheLockState()
    {
        QFETCH(LockCase, lockCase);
        QFETCH(QString, symbol);
        QFETCH(QString, help);
        QFETCH(bool, enabled);
        QFETCH(AddEvent, addEvent);

        OpenTeam window;
        const auto reels = newCollection(window.bundle, QStringLiteral("Reels"));
        const auto document =
            lockCase == LockCase::applicationMissing ? importProject(window, reels) : importLibrary(window, reels);
        auto row = std::make_unique<DocumentButtons>(document, &window.team->itemActions(), &window.alert);
        QVERIFY(row->openButton()->isEnabled() || lockCase == LockCase::applicationMissing);

        // The row is built first; the state changes under it.
        switch (lockCase) {
        case LockCase::notLocked:
        case LockCase::applicationMissing:
            break;
        case LockCase::lockedByUs:
            syncWait(document->checkOut());
            break;
        case LockCase::lockedBySomeoneElse: {
            const auto ben = window.fixture.client(QStringLiteral("ben"));
            syncWait(openAs(ben, VersioningServiceType::library, document->id())
                         ->checkOut({}, {.autoSave = false}, &s3Factory));
            window.bundle->poll();
            syncWait(document->refresh());
            break;
        }
        case LockCase::busy:
            document->setIsInitiating(true);
            break;
        case LockCase::invalidCheckout:
            document->setInvalidCheckoutState(InvalidCheckoutState::forceUnlocked(QStringLiteral("ben Editor")));
            break;
        }

        const auto expectedIcon = design::IconProvider::icon(symbol, design::neutral(9));
        QCOMPARE(row->openButton()->icon().pixmap(14).toImage(), expectedIcon.pixmap(14).toImage());
        QCOMPARE(row->openButton()->toolTip(), help);
        QCOMPARE(row->openButton()->isEnabled(), enabled);
        QCOMPARE(row->exportMenu()->isEnabled(), true);
        switch (addEvent) {
        case AddEvent::absent:
            QVERIFY(!row->addEventMenu());
            break;
        case AddEvent::enabled:
        case AddEvent::disabled:
            QVERIFY(row->addEventMenu());
            QCOMPARE(row->addEventMenu()->isEnabled(), addEvent == AddEvent::enabled);
            break;
        }
        QCOMPARE(window.alert.details().has_value(), lockCase == LockCase::invalidCheckout);

        screenshotRow(
            row.get(),
            QStringLiteral("document_buttons_%1")
                .arg(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'))));
    }

    // A file of a type the table does not know ("Other") opens in the desktop's application for
    // its kind, and is checked out and in like any other; the help names the application, or,
    // when there is none, the kind of file as the desktop names it.
    void anOtherFileOpensInTheDesktopsApplication()
    {
        OpenTeam window;
        const auto reels = newCollection(window.bundle, QStringLiteral("Reels"));
        const auto imported = [&](const QString& name, const QString& extension) {
            syncWait(reels->createNestedItem(writeProject(window.fixture, extension, name + u'.' + extension)));
            return refreshed(findDocument(reels, name));
        };
        const auto clip = imported(QStringLiteral("Clip"), QStringLiteral("mkv"));
        const auto take = imported(QStringLiteral("Take"), QStringLiteral("webm"));
        const auto cut = imported(QStringLiteral("Cut"), QStringLiteral("mp4"));
        DocumentButtons clipRow(clip, &window.team->itemActions(), &window.alert);
        DocumentButtons takeRow(take, &window.team->itemActions(), &window.alert);
        QCOMPARE(clipRow.openButton()->toolTip(), QStringLiteral("Opens in Clip Player"));
        QCOMPARE(DocumentButtons(cut, &window.team->itemActions(), &window.alert).openButton()->toolTip(),
                 QStringLiteral("Opens in Clip Player"));
        QCOMPARE(takeRow.openButton()->toolTip(),
                 QStringLiteral("No application on this computer opens files of the kind “WebM video”"));
        QVERIFY(!takeRow.openButton()->isEnabled());
        screenshotRow(&clipRow, QStringLiteral("document_buttons_other_file"), clipRow.openButton());
        screenshotRow(&takeRow, QStringLiteral("document_buttons_other_file_without_application"),
                      takeRow.openButton());

        QVERIFY(clipRow.openButton()->isEnabled());
        clipRow.openButton()->click();
        QTRY_COMPARE(window.opened.size(), 1);
        QTRY_VERIFY(clip->isCheckedOut());
        writeFile(window.opened.at(0).toLocalFile(), "cut shorter");
        syncWait(clip->checkIn());
        QVERIFY(!clip->isCheckedOut());
        QCOMPARE(clip->versioningService()->versionIDs().size(), 2);
    }

    void theMenusOfADocumentAndACollection()
    {
        OpenTeam window;
        const auto reels = newCollection(window.bundle, QStringLiteral("Reels"));
        const auto show = importLibrary(window, reels);
        DocumentButtons library(show, &window.team->itemActions(), &window.alert);
        QCOMPARE(library.openButton()->text(), QStringLiteral("Open Library"));
        QCOMPARE(library.exportMenu()->text(), QStringLiteral("Export Library"));
        QCOMPARE(menuTitles(library.exportMenu()),
                 (QStringList{QStringLiteral("Open a Temporary Copy"), QStringLiteral("Export...")}));
        QCOMPARE(menuTitles(library.addEventMenu()),
                 (QStringList{QStringLiteral("New Video Event..."), QStringLiteral("Add Existing...")}));

        CollectionButtons collection(reels, &window.team->itemActions());
        QCOMPARE(collection.addDocumentMenu()->text(), QStringLiteral("Add Document"));
        QCOMPARE(menuTitles(collection.addDocumentMenu()),
                 (QStringList{QStringLiteral("New Video Library..."), QStringLiteral("Add Existing..."),
                              QStringLiteral("Import...")}));
        QVERIFY(collection.addDocumentMenu()->isEnabled());
        QCOMPARE(collection.addDocumentMenu()->height(), 32);

        EventButtons event;
        QCOMPARE(event.minimumHeight(), 32);
        QCOMPARE(event.maximumHeight(), 32);

        screenshotRow(&collection, QStringLiteral("collection_buttons"));
        screenshotRow(&event, QStringLiteral("event_buttons"));
    }

    void anInvalidCheckoutIsExplainedOncePerInvalidation()
    {
        OpenTeam window;
        const auto reels = newCollection(window.bundle, QStringLiteral("Reels"));
        const auto cut = importLibrary(window, reels);
        cut->setInvalidCheckoutState(InvalidCheckoutState::forceUnlocked(QStringLiteral("ben Editor")));

        // A row shown for a document whose check-out is already invalid explains it at once.
        DocumentButtons row(cut, &window.team->itemActions(), &window.alert);
        QVERIFY(window.alert.details());
        QCOMPARE(window.alert.details()->title, Strings::untrackedDocumentTitle());
        QVERIFY(window.alert.details()->message.startsWith(QStringLiteral("ben Editor force unlocked this document!")));

        // Another kind of invalidation is explained again; the same one again is not.
        window.alert.setDetails(std::nullopt);
        cut->setInvalidCheckoutState(InvalidCheckoutState::missedCheckout());
        QVERIFY(window.alert.details());
        QVERIFY(window.alert.details()->message.startsWith(QStringLiteral("Someone else beat you")));
        window.alert.setDetails(std::nullopt);
        cut->setInvalidCheckoutState(InvalidCheckoutState::missedCheckout());
        QVERIFY(!window.alert.details());
        cut->setInvalidCheckoutState(InvalidCheckoutState::forceUnlocked(QStringLiteral("ben Editor")));
        QVERIFY(window.alert.details());

        // "OK" acknowledges: the state is cleared, and a later invalidation, even by the same
        // teammate, is explained again.
        const auto buttons = window.alert.details()->buttons;
        QCOMPARE(buttons.size(), 2);
        QCOMPARE(buttons.at(0).title, Strings::okButtonTitle());
        buttons.at(0).action();
        window.alert.setDetails(std::nullopt);
        QVERIFY(!cut->invalidCheckoutState());
        cut->setInvalidCheckoutState(InvalidCheckoutState::forceUnlocked(QStringLiteral("ben Editor")));
        QVERIFY(window.alert.details());
    }

    // A check-out said to be taken away that turns out to be ours after all (its lock read
    // again once the share answered): the explanation is taken back, also while it waits behind
    // a question, and another alert is left alone.
    void anExplanationNoLongerTrueIsTakenBack()
    {
        OpenTeam window;
        const auto reels = newCollection(window.bundle, QStringLiteral("Reels"));
        const auto cut = importLibrary(window, reels);
        DocumentButtons row(cut, &window.team->itemActions(), &window.alert);
        cut->setInvalidCheckoutState(InvalidCheckoutState::missedCheckout());
        QCOMPARE(window.alert.details()->title, Strings::untrackedDocumentTitle());
        cut->setInvalidCheckoutState(std::nullopt);
        QVERIFY(!window.alert.details());

        AlertDetails question(QStringLiteral("Quit?"), {});
        question.mustBeAnswered = true;
        window.alert.setDetails(question);
        cut->setInvalidCheckoutState(InvalidCheckoutState::missedCheckout());
        QCOMPARE(window.alert.waitingCount(), 1);
        cut->setInvalidCheckoutState(std::nullopt);
        QCOMPARE(window.alert.waitingCount(), 0);
        QCOMPARE(window.alert.details()->title, QStringLiteral("Quit?"));
    }

    // The lost working copy is kept in the document's attic: the explanation leads there.
    void aLostCheckOutIsExplainedWithTheWayToItsAttic()
    {
        OpenTeam window;
        const auto reels = newCollection(window.bundle, QStringLiteral("Reels"));
        const auto cut = importProject(window, reels);
        NavigationModel& navigation = window.team->navigation();
        CollectionContentView content(reels, navigation, window.team->itemActions(), &window.alert);
        windowBackground(content);
        content.resize(1150, 600);
        content.show();
        navigation.setSelectedDocument(cut);
        syncWait(cut->checkOut());
        QVERIFY(window.opened.isEmpty());

        const auto ben = window.fixture.client(QStringLiteral("ben"));
        syncWait(openAs(ben, VersioningServiceType::document, cut->id())
                     ->checkOut({}, {.takeover = LockTakeover::forceUnlock, .autoSave = false}, &s3Factory));
        window.bundle->poll();
        QTRY_VERIFY(window.alert.details());
        const AlertDetails notice = *window.alert.details();
        QVERIFY(notice.message.startsWith(QStringLiteral("ben Editor force unlocked this document!")));

        // The notice as the window shows it, over the document.
        QPointer<QMessageBox> box = makeAlertBox(notice, presentedFlag(&window.alert), &content);
        box->open();
        QVERIFY(QTest::qWaitForWindowExposed(box));
        box->setAutoFillBackground(true); // painted by the desktop's window, which a grab leaves out
        QPixmap shot = content.grab();
        const QPixmap sheet = box->grab();
        QPainter painter(&shot);
        const QRect frame((shot.width() - sheet.width()) / 2, 48, sheet.width(), sheet.height());
        painter.drawPixmap(frame.topLeft(), sheet);
        painter.setPen(design::neutral(5));
        painter.drawRect(frame.adjusted(-1, -1, 0, 0));
        painter.end();
        QVERIFY(QDir().mkpath(QStringLiteral(VANTREL_SCREENSHOT_DIR)));
        QVERIFY(shot.save(QStringLiteral(VANTREL_SCREENSHOT_DIR "/force_unlocked_notice_1150x600.png")));

        QAbstractButton* attic = nullptr;
        for (QAbstractButton* button : box->buttons())
            attic = button->text() == Strings::openAtticActionTitle() ? button : attic;
        QVERIFY(attic);
        attic->click();
        QVERIFY(!cut->invalidCheckoutState());
        QTRY_COMPARE(window.opened.size(), 1);
        QCOMPARE(window.opened.at(0), syncWait(window.team->atticURL(cut->id())));
        QVERIFY(!QDir(window.opened.at(0).toLocalFile()).isEmpty());
    }

private:
    // With its application looked up, as the document list has it.
    static std::shared_ptr<Document> refreshed(const std::shared_ptr<Document>& document)
    {
        // A collection's load has its documents follow their changes in the background; these
        // tests act on the document at once.
        document->startFollowing();
        syncWait(document->refresh());
        return document;
    }
    static std::shared_ptr<Document> importLibrary(OpenTeam& window, const std::shared_ptr<Collection>& reels)
    {
        syncWait(reels->createNestedItem(
            writeLibrary(window.fixture, QStringLiteral("a"), QStringLiteral("Show"), {QStringLiteral("Day 1")})));
        return refreshed(findDocument(reels, QStringLiteral("Show")));
    }
    static std::shared_ptr<Document> importProject(OpenTeam& window, const std::shared_ptr<Collection>& reels)
    {
        syncWait(
            reels->createNestedItem(writeProject(window.fixture, QStringLiteral("b"), QStringLiteral("Cut.kdenlive"))));
        return refreshed(findDocument(reels, QStringLiteral("Cut")));
    }

    QTemporaryDir m_applications;
};

QTEST_MAIN(ItemButtonsTest)
#include "item_buttons_test.moc"
