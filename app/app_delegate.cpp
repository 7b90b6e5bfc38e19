#include "app/app_delegate.h"

#include "app/termination_signals.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QWidget>

#include <cstdio>
#include <utility>

namespace vantrel {

// The state behind one request's reply, shared by every copy of it: the first answer counts,
// and when the last copy goes without an answer the request is over, as if refused.
struct VantrelAppDelegate::PendingReply {
    QPointer<VantrelAppDelegate> delegate;
    std::function<void()> granted;
    bool answered = false;

    PendingReply(VantrelAppDelegate* delegate, std::function<void()> granted)
        : delegate(delegate),
          granted(std::move(granted))
    {
    }
    PendingReply(const PendingReply&) = delete;
    PendingReply& operator=(const PendingReply&) = delete;

    ~PendingReply()
    {
        if (!answered && delegate)
            delegate->finishAsking(false, {});
    }

    void answer(bool shouldClose)
    {
        if (answered)
            return;
        answered = true;
        if (delegate)
            delegate->finishAsking(shouldClose, std::move(granted));
    }
};

VantrelAppDelegate::VantrelAppDelegate(QObject* parent) : VantrelAppDelegate([] { QCoreApplication::quit(); }, parent)
{
}

VantrelAppDelegate::VantrelAppDelegate(std::function<void()> terminate, QObject* parent)
    : QObject(parent),
      m_terminate(std::move(terminate))
{
}

VantrelAppDelegate::~VantrelAppDelegate() = default;

bool VantrelAppDelegate::installAlertBeforeClosing(AlertBeforeClosing closure)
{
    if (m_alertBeforeClosing || !closure)
        return false;
    m_alertBeforeClosing = std::move(closure);
    return true;
}

void VantrelAppDelegate::installWhenActive(AlertBeforeClosing closure, QWidget* mainWindow)
{
    if (m_alertBeforeClosing || !closure)
        return;
    m_pendingInstall = std::move(closure);
    if (mainWindow) {
        m_showWatched = mainWindow;
        mainWindow->installEventFilter(this);
    }
    if ((qGuiApp && qGuiApp->applicationState() == Qt::ApplicationActive) || (mainWindow && mainWindow->isVisible())) {
        installPending();
        return;
    }
    if (qGuiApp && !m_activation) {
        m_activation =
            connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive)
                    installPending();
            });
    }
}

void VantrelAppDelegate::installPending()
{
    if (m_pendingInstall)
        installAlertBeforeClosing(std::exchange(m_pendingInstall, nullptr));
    disconnect(m_activation);
    if (m_showWatched && m_showWatched != m_closeWatched)
        m_showWatched->removeEventFilter(this);
    m_showWatched = nullptr;
}

void VantrelAppDelegate::handleClosesOf(QWidget* window)
{
    if (m_closeWatched && m_closeWatched != m_showWatched)
        m_closeWatched->removeEventFilter(this);
    m_closeWatched = window;
    if (window)
        window->installEventFilter(this);
}

bool VantrelAppDelegate::handleClose(QCloseEvent* event)
{
    if (!m_terminating)
        requestQuit();
    // Granted at once, or earlier: the window closes with the application.
    if (m_terminating)
        return false;
    event->ignore();
    return true;
}

bool VantrelAppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_showWatched && event->type() == QEvent::Show)
        installPending();
    if (watched == m_closeWatched && event->type() == QEvent::Close)
        return handleClose(static_cast<QCloseEvent*>(event));
    return QObject::eventFilter(watched, event);
}

bool VantrelAppDelegate::handleTerminationSignals()
{
    if (m_signals)
        return true;
    m_signals = TerminationSignals::install();
    if (!m_signals)
        return false;
    connect(m_signals.get(), &TerminationSignals::received, this, &VantrelAppDelegate::requestQuit);
    return true;
}

void VantrelAppDelegate::requestQuit()
{
    ask([this] { terminate(); });
}

void VantrelAppDelegate::requestRestart()
{
    ask([this] { restart(); });
}

void VantrelAppDelegate::ask(std::function<void()> granted)
{
    std::fputs("app should terminate\n", stdout);
    std::fflush(stdout);
    // One question at a time; and once granted, the application is already on its way out.
    if (m_asking || m_terminating)
        return;
    if (!m_alertBeforeClosing) {
        granted();
        return;
    }
    m_asking = true;
    auto pending = std::make_shared<PendingReply>(this, std::move(granted));
    // The closure is kept for the whole call: it is never replaced, but it may drop its reply.
    const AlertBeforeClosing alert = m_alertBeforeClosing;
    alert([pending](bool shouldClose) { pending->answer(shouldClose); });
}

void VantrelAppDelegate::finishAsking(bool shouldClose, std::function<void()> granted)
{
    m_asking = false;
    if (shouldClose && granted)
        granted();
}

void VantrelAppDelegate::terminate()
{
    m_terminating = true;
    if (m_terminate)
        m_terminate();
}

void VantrelAppDelegate::restart()
{
    if (beforeRestart)
        beforeRestart();
    const QString program = QCoreApplication::applicationFilePath();
    if (!launch || !launch(program)) {
        if (restartFailed)
            restartFailed(tr("The application could not be restarted: %1 did not start.").arg(program));
        return;
    }
    terminate();
}

bool VantrelAppDelegate::launchDetached(const QString& program)
{
    return QProcess::startDetached(program, {});
}

} // namespace vantrel
