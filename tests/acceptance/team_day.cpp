#include "acceptance/team_day.h"

#include "app/main_window.h"
#include "engine/engine_errors.h"
#include "onboarding/onboarding_model.h"
#include "onboarding/onboarding_view.h"
#include "open_team/team.h"
#include "views/detail/activity_content.h"
#include "views/detail/activity_feed.h"
#include "views/detail/activity_item.h"
#include "views/detail/activity_line.h"
#include "views/detail/check_in_view.h"
#include "views/detail/name_input_view.h"
#include "views/detail/selected_item_header_view.h"
#include "views/detail/versioned_item_header_view.h"
#include "views/team/collection_content_view.h"
#include "views/team/collection_list.h"
#include "views/team/item_list_view.h"
#include "views/team/nested_item_list.h"
#include "views/team/team_view.h"
#include "views/team/team_window.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace vantrel::acceptance {

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

TeamDay::TeamDay(DesktopOpener& desktop) : m_desktop(desktop)
{
    m_firstCut = QByteArrayLiteral("<mlt title=\"Cut\">first cut</mlt>\n");
    writeBytes(m_footage.filePath(QStringLiteral("Cut.kdenlive")), m_firstCut);
    const QString library = m_footage.filePath(QStringLiteral("Show.videolibrary"));
    QDir().mkpath(library + QStringLiteral("/Day 1.videoevent"));
    QDir().mkpath(library + QStringLiteral("/Day 2.videoevent"));
    writeBytes(library + QStringLiteral("/Settings.plist"), "settings");
    writeBytes(library + QStringLiteral("/Day 1.videoevent/Info.plist"), "day one");
    writeBytes(library + QStringLiteral("/Day 2.videoevent/Info.plist"), "day two");
}

TeamDay::~TeamDay()
{
    if (m_secondEditor && m_secondEditor->state() != QProcess::NotRunning) {
        m_secondEditor->kill();
        m_secondEditor->waitForFinished();
    }
}

bool TeamDay::run()
{
    const std::pair<const char*, void (TeamDay::*)()> stages[] = {
        {"create a team and import", &TeamDay::createTeamAndImport},
        {"check in a change", &TeamDay::checkInAChange},
        {"take the library back", &TeamDay::takeTheLibraryBack},
        {"tidy up", &TeamDay::tidyUp},
        {"revert and export", &TeamDay::revertAndExport},
        {"quit while checked out", &TeamDay::quitWhileCheckedOut},
        {"follow a link", &TeamDay::followALink},
        {"quit at the end", &TeamDay::quitAtTheEnd},
    };
    for (const auto& [name, step] : stages) {
        m_stage = QString::fromLatin1(name);
        QElapsedTimer clock;
        clock.start();
        (this->*step)();
        qInfo("%s: %lld ms", name, clock.elapsed());
        if (QTest::currentTestFailed()) {
            if (MainWindow* window = mainWindow())
                screenshot(window, QStringLiteral("failed"));
            return false;
        }
    }
    return true;
}

void TeamDay::selectDocument(const QString& name)
{
    QTRY_VERIFY_WITH_TIMEOUT(collectionView() && rowNamed(collectionView()->documentList()->view(), name) >= 0,
                             longWait);
    ItemListView& rows = collectionView()->documentList()->view();
    clickRow(rows, rowNamed(rows, name));
    QTRY_COMPARE(shownItemName(), name);
}

void TeamDay::checkIn(const QString& message)
{
    QTRY_VERIFY_WITH_TIMEOUT(checkInPanel(), longWait);
    // The window is the active one again once the dialogs before have closed, as on a desktop.
    mainWindow()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(mainWindow()));
    QPlainTextEdit* editor = checkInPanel()->editor();
    QTest::mouseClick(editor->viewport(), Qt::LeftButton);
    QTest::keyClicks(editor, message);
    QCOMPARE(editor->toPlainText(), message);
    QTest::keyClick(editor, Qt::Key_Return, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(!checkInPanel(), longWait);
    QTRY_COMPARE_WITH_TIMEOUT(topMessage(), message, longWait);
    QCOMPARE(topUser(), QStringLiteral("Ana Editor"));
    QCOMPARE(topKind(), QStringLiteral("created a new version"));
}

void TeamDay::confirm(const QString& title, const QString& message, const QString& button)
{
    DialogPresenter* presenter = mainWindow()->content()->confirmationPresenter();
    QTRY_VERIFY_WITH_TIMEOUT(shownBox(presenter), longWait);
    QMessageBox* box = shownBox(presenter);
    QCOMPARE(box->text(), title);
    QVERIFY2(box->informativeText().startsWith(message), qPrintable(describe(box)));
    QVERIFY2(describe(box).endsWith(QStringLiteral("[%1, Cancel]").arg(button)), qPrintable(describe(box)));
    QVERIFY(press(box, button));
    QTRY_VERIFY(!shownBox(presenter));
}

QString TeamDay::openedWorkingCopy(int count) const
{
    const QStringList opened = m_desktop.opened();
    return opened.size() == count ? opened.last() : QString();
}

void TeamDay::createTeamAndImport()
{
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow() && mainWindow()->isVisible(), longWait);
    MainWindow* window = mainWindow();
    // Nothing was opened before: the onboarding greets the user.
    QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<OnboardingView*>(window->content()->onboarding()), longWait);
    auto* onboarding = qobject_cast<OnboardingView*>(window->content()->onboarding());
    QTRY_VERIFY(onboarding->isVisible() && onboarding->nextButton()->isVisible());
    screenshot(window, QStringLiteral("1_onboarding"));
    for (int page = 0; page < 12 && !onboarding->finalButtons(); ++page) {
        const OnboardingPage shown = onboarding->model()->currentPage();
        QPushButton* next = onboarding->nextButton();
        QTRY_VERIFY(next->isVisible() && next->isEnabled());
        QTest::mouseClick(next, Qt::LeftButton, {}, next->rect().center());
        QTRY_VERIFY(onboarding->model()->currentPage() != shown);
    }
    QTRY_VERIFY(onboarding->finalButtons() && onboarding->finalButtons()->isVisible());
    auto* create = onboarding->findChild<QPushButton*>(QStringLiteral("createNewTeamButton"));
    QVERIFY(create);
    QCOMPARE(create->text(), QStringLiteral("Create a New Team..."));
    QTRY_VERIFY(create->isVisible());
    QTest::mouseClick(create, Qt::LeftButton, {}, create->rect().center());

    // The team's name, then the folder it goes into.
    QTRY_VERIFY_WITH_TIMEOUT(namingSheet(), longWait);
    typeName(namingSheet(), QStringLiteral("Cutting Room"));
    QTRY_VERIFY_WITH_TIMEOUT(fileDialog(), longWait);
    QCOMPARE(fileDialog()->fileMode(), QFileDialog::Directory);
    choosePath(fileDialog(), m_share.path());
    QTRY_VERIFY_WITH_TIMEOUT(teamView(), longWait);
    QVERIFY(QFileInfo(m_share.filePath(QStringLiteral("Cutting Room.vantrelteam"))).isDir());
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("teamName"))->text(), QStringLiteral("Cutting Room"));
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("userName"))->text(), QStringLiteral("Ana Editor"));

    // A collection, from the welcome view.
    auto* createCollection = teamView()->findChild<QPushButton*>(QStringLiteral("createCollectionButton"));
    QTRY_VERIFY(createCollection && createCollection->isVisible());
    QTest::mouseClick(createCollection, Qt::LeftButton, {}, createCollection->rect().center());
    QTRY_VERIFY_WITH_TIMEOUT(namingSheet(), longWait);
    typeName(namingSheet(), QStringLiteral("Reels"));
    QTRY_COMPARE_WITH_TIMEOUT(rowNames(collectionRows()), QStringList{QStringLiteral("Reels")}, longWait);
    clickRow(collectionRows(), rowNamed(collectionRows(), QStringLiteral("Reels")));
    QTRY_COMPARE(shownItemName(), QStringLiteral("Reels"));

    // The project, from the collection's Add Document menu.
    auto* addDocument = headerButton(QStringLiteral("addDocumentMenu"));
    QTRY_VERIFY(addDocument && addDocument->isVisible());
    QAction* import = menuItem(addDocument->menu(), QStringLiteral("Import"));
    QVERIFY(import);
    import->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(fileDialog(), longWait);
    choosePath(fileDialog(), m_footage.filePath(QStringLiteral("Cut.kdenlive")));
    QTRY_VERIFY_WITH_TIMEOUT(rowNamed(collectionView()->documentList()->view(), QStringLiteral("Cut")) >= 0, longWait);

    // The library, from File ▸ Import: opening its folder in the dialog chooses it.
    QAction* fileImport = menuCommand(QStringLiteral("Import"));
    QVERIFY(fileImport && fileImport->isEnabled());
    fileImport->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(fileDialog(), longWait);
    QTRY_VERIFY_WITH_TIMEOUT(
        !fileDialog() || openEntry(fileDialog(), m_footage.path(), QStringLiteral("Show.videolibrary")), longWait);
    QTRY_VERIFY_WITH_TIMEOUT(rowNamed(collectionView()->documentList()->view(), QStringLiteral("Show")) >= 0, longWait);
    QCOMPARE(rowNames(collectionView()->documentList()->view()).size(), 2);
    ACCEPTANCE_STEP(selectDocument(QStringLiteral("Show")));
    QTRY_VERIFY_WITH_TIMEOUT(collectionView()->eventList(), longWait);
    QTRY_COMPARE_WITH_TIMEOUT(rowNames(collectionView()->eventList()->view()),
                              (QStringList{QStringLiteral("Day 1"), QStringLiteral("Day 2")}), longWait);
    screenshot(window, QStringLiteral("1_imported"));
}

void TeamDay::checkInAChange()
{
    ACCEPTANCE_STEP(selectDocument(QStringLiteral("Cut")));
    auto* open = headerButton(QStringLiteral("openDocumentButton"));
    QVERIFY(open);
    QCOMPARE(open->text(), QStringLiteral("Open Project"));
    // Enabled once the application that opens projects is found.
    QTRY_VERIFY_WITH_TIMEOUT(open->isVisible() && open->isEnabled(), longWait);
    QTest::mouseClick(open, Qt::LeftButton, {}, open->rect().center());

    // The working copy is handed to the desktop to open; the editor changes it there.
    QTRY_VERIFY_WITH_TIMEOUT(!openedWorkingCopy(1).isEmpty(), longWait);
    const QString workingCopy = openedWorkingCopy(1);
    QCOMPARE(QFileInfo(workingCopy).fileName(), QStringLiteral("Cut.kdenlive"));
    QCOMPARE(readBytes(workingCopy), m_firstCut);
    QVERIFY(writeBytes(workingCopy, "<mlt title=\"Cut\">second cut</mlt>\n"));
    QTRY_VERIFY_WITH_TIMEOUT(checkInPanel(), longWait);
    screenshot(mainWindow(), QStringLiteral("2_checked_out"));
    ACCEPTANCE_STEP(checkIn(QStringLiteral("Tightened the opening")));
    screenshot(mainWindow(), QStringLiteral("2_checked_in"));
}

} // namespace vantrel::acceptance
