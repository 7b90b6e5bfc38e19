#pragma once

// The day of two editors on one team bundle, step by step, each step checking what the first
// editor's window shows. Runs inside the application's event loop; QTest records the failures.

#include "acceptance/window_driver.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace vantrel::acceptance {

// Runs a helper that checks with QTest's macros, and leaves the calling step when it failed.
#define ACCEPTANCE_STEP(call)                                                                                          \
    do {                                                                                                               \
        call;                                                                                                          \
        if (QTest::currentTestFailed())                                                                                \
            return;                                                                                                    \
    } while (false)

// Waits are generous: the machine running the tests may be busy.
inline constexpr int longWait = 30000;

// A file's bytes; empty when it cannot be read.
QByteArray readBytes(const QString& path);
bool writeBytes(const QString& path, const QByteArray& content);

class TeamDay {
public:
    explicit TeamDay(DesktopOpener& desktop);
    ~TeamDay();

    // Runs every step in turn; false as soon as one fails.
    bool run();
    // The step running, or the one that failed.
    const QString& stage() const { return m_stage; }

private:
    // The onboarding, a new team, a collection, a project and a library with two events.
    void createTeamAndImport();
    // Check out, edit the working copy, check in with a message.
    void checkInAChange();
    // The second editor takes the library; the first sees it, takes it back, and the second's
    // work is kept in the attic.
    void takeTheLibraryBack();
    // Rename, trash, restore, delete permanently.
    void tidyUp();
    // Revert to the first version, then export it.
    void revertAndExport();
    // Quitting with a document checked out asks, and Cancel keeps the application running.
    void quitWhileCheckedOut();
    // A later start's link selects an event in the running window.
    void followALink();
    // Quitting with nothing checked out asks nothing.
    void quitAtTheEnd();

    // Clicks a row of the document list of the selected collection.
    void selectDocument(const QString& name);
    // Types a commit message into the check-in panel and presses Ctrl+Return.
    void checkIn(const QString& message);
    // Answers the confirmation question that shows with `title` and `message` by `button`.
    void confirm(const QString& title, const QString& message, const QString& button);
    // The working copy the application last asked the desktop to open, after `count` opens.
    QString openedWorkingCopy(int count) const;

    DesktopOpener& m_desktop;
    QString m_stage;
    QTemporaryDir m_share;
    QTemporaryDir m_footage;
    QTemporaryDir m_exports;
    QTemporaryDir m_otherMachine;
    QByteArray m_firstCut;
    QString m_eventLink;
    std::unique_ptr<QProcess> m_secondEditor;
};

} // namespace vantrel::acceptance
