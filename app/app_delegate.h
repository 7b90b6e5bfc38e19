#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QCloseEvent;
class QWidget;

namespace vantrel {

class TerminationSignals;

// The one way the application ends. Every request to quit (the menu's Quit, closing the main
// window, the "quit" URL, a termination signal from the desktop) and to restart comes here.
// Until a quit confirmation is installed every request is granted at once; afterwards each is
// handed to it, and the application quits when (and only when) it answers true. One question at
// a time: requests that arrive while one waits for its answer are ignored.
class VantrelAppDelegate : public QObject {
    Q_OBJECT
public:
    // The answer to a request: true lets the application quit. Only the first call counts; when
    // every copy is gone without a call, the request is over and the application keeps running.
    using Reply = std::function<void(bool shouldClose)>;
    // Asks whether the application may quit and answers through the reply, at once or later.
    using AlertBeforeClosing = std::function<void(Reply shouldClose)>;

    // `terminate` ends the application; by default QCoreApplication::quit().
    explicit VantrelAppDelegate(QObject* parent = nullptr);
    explicit VantrelAppDelegate(std::function<void()> terminate, QObject* parent = nullptr);
    ~VantrelAppDelegate() override;

    // The quit confirmation; empty until installed.
    const AlertBeforeClosing& alertBeforeClosing() const { return m_alertBeforeClosing; }
    // Installs the quit confirmation the first time; once set it is never replaced, and this
    // returns false.
    bool installAlertBeforeClosing(AlertBeforeClosing closure);
    // Installs `closure` once the application first becomes active, or when `mainWindow` is
    // first shown, whichever comes first (at once when the application already is active).
    void installWhenActive(AlertBeforeClosing closure, QWidget* mainWindow = nullptr);

    // Whether a request waits for its answer.
    bool isAsking() const { return m_asking; }
    // Whether a request was granted: the application is on its way out.
    bool isTerminating() const { return m_terminating; }

    // Closing `window` becomes a request to quit (see handleClose()).
    void handleClosesOf(QWidget* window);
    // For a main window's close event: once quitting was granted the close goes ahead and this
    // returns false; otherwise the close is refused, quitting is requested, and this returns true.
    bool handleClose(QCloseEvent* event);

    // SIGTERM, SIGINT and SIGHUP become requests to quit. False (with a warning) when the
    // handlers cannot be installed, or another object of the process already holds them.
    bool handleTerminationSignals();

    // Restarting, when granted: `beforeRestart` runs (it gives up what the new instance needs,
    // such as the single-instance server), then `launch` starts a new instance of the program
    // detached, then the application quits. When the launch fails the application keeps
    // running and `restartFailed` is told why.
    std::function<void()> beforeRestart;
    std::function<bool(const QString& program)> launch = &VantrelAppDelegate::launchDetached;
    std::function<void(const QString& reason)> restartFailed;

    // Starts `program` with no arguments, detached from this process.
    static bool launchDetached(const QString& program);

public Q_SLOTS:
    // Asks whether the application may quit, and quits when it may.
    void requestQuit();
    // Asks the same question, and restarts when the answer is yes.
    void requestRestart();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct PendingReply;

    void ask(std::function<void()> granted);
    void finishAsking(bool shouldClose, std::function<void()> granted);
    void terminate();
    void restart();
    void installPending();

    AlertBeforeClosing m_alertBeforeClosing;
    AlertBeforeClosing m_pendingInstall;
    QPointer<QWidget> m_showWatched;
    QPointer<QWidget> m_closeWatched;
    std::function<void()> m_terminate;
    QMetaObject::Connection m_activation;
    std::unique_ptr<TerminationSignals> m_signals;
    bool m_asking = false;
    bool m_terminating = false;
};

} // namespace vantrel
