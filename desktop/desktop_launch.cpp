#include "desktop/desktop_launch.h"

#include <QCoreApplication>
#include <QCoroSignal>
#include <QMimeDatabase>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

// GIO names a structure member `signals`, which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>

namespace vantrel {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Engine", text);
}

QString applicationOrGeneric(const QString& name)
{
    return name.isEmpty() ? tr("The application") : name;
}

QString launchDescription(LaunchError::Case which, const QString& target, const QString& application,
                          const QString& reason)
{
    switch (which) {
    case LaunchError::Case::noApplication:
        return tr("No application on this computer opens “%1”. Install one that opens files of this kind, or "
                  "choose one as the default for them in the desktop’s settings.")
            .arg(target);
    case LaunchError::Case::noFileManager:
        return tr("No file manager on this computer can show “%1”. Install one, or open that folder with another "
                  "program.")
            .arg(target);
    case LaunchError::Case::launchFailed:
        return tr("%1 could not be started to open “%2”: %3").arg(applicationOrGeneric(application), target, reason);
    case LaunchError::Case::exitedAtOnce:
        return tr("%1 closed right after it started, without opening “%2” (%3).")
            .arg(applicationOrGeneric(application), target, reason);
    }
    Q_UNREACHABLE();
}

QString launchTitle(LaunchError::Case which)
{
    switch (which) {
    case LaunchError::Case::noApplication:
        return tr("No Application for This File");
    case LaunchError::Case::noFileManager:
        return tr("No File Manager");
    case LaunchError::Case::launchFailed:
        return tr("The Application Did Not Start");
    case LaunchError::Case::exitedAtOnce:
        return tr("The Application Closed at Once");
    }
    Q_UNREACHABLE();
}

template<typename T>
struct GObjectDeleter {
    void operator()(T* object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template<typename T>
using GObjectPointer = std::unique_ptr<T, GObjectDeleter<T>>;

QString fromUtf8(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}

// The record of an application as the rest of the program keeps it: the entry's own name (not a
// translation of it), the version the team noted in it, its desktop file id.
std::optional<InstalledApplication> installedApplication(GAppInfo* info)
{
    if (!info || !G_IS_DESKTOP_APP_INFO(info))
        return std::nullopt;
    auto* entry = G_DESKTOP_APP_INFO(info);
    const QString id = fromUtf8(g_app_info_get_id(info));
    if (id.isEmpty())
        return std::nullopt;
    InstalledApplication application;
    char* name = g_desktop_app_info_get_string(entry, "Name");
    application.name = name ? fromUtf8(name) : fromUtf8(g_app_info_get_name(info));
    g_free(name);
    char* version = g_desktop_app_info_get_string(entry, "X-Vantrel-Version");
    if (const QString trimmed = fromUtf8(version).trimmed(); !trimmed.isEmpty())
        application.version = trimmed;
    g_free(version);
    application.desktopEntryId = id;
    return application;
}

// Runs in the started process before its program: a session of its own detaches it from this
// program's terminal and process group, so closing either leaves the application running.
void startOwnSession(gpointer)
{
    ::setsid();
}

void notePid(GDesktopAppInfo*, GPid pid, gpointer data)
{
    *static_cast<qint64*>(data) = pid;
}

// Reaps one started process when it ends, whenever that is, and says how it ended. The kernel
// tells through a pidfd; where there is none, the process is asked for now and then.
class ChildWatch : public QObject {
    Q_OBJECT
public:
    explicit ChildWatch(pid_t pid) : m_pid(pid)
    {
        m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (m_pidfd >= 0) {
            auto* notifier = new QSocketNotifier(m_pidfd, QSocketNotifier::Read, this);
            connect(notifier, &QSocketNotifier::activated, this, &ChildWatch::check);
        } else {
            auto* poll = new QTimer(this);
            connect(poll, &QTimer::timeout, this, &ChildWatch::check);
            poll->start(250);
        }
    }
    ~ChildWatch() override
    {
        if (m_pidfd >= 0)
            ::close(m_pidfd);
    }

Q_SIGNALS:
    // A wait status, as waitpid() gives it.
    void ended(int status);

private:
    void check()
    {
        int status = 0;
        const pid_t reaped = ::waitpid(m_pid, &status, WNOHANG);
        if (reaped == 0 || (reaped < 0 && errno == EINTR))
            return;
        if (m_done)
            return;
        m_done = true;
        // Someone else reaped it (ECHILD): it is gone, how it ended is unknown.
        Q_EMIT ended(reaped == m_pid ? status : 0);
        deleteLater();
    }

    pid_t m_pid;
    int m_pidfd = -1;
    bool m_done = false;
};

QString endingOf(int status)
{
    if (WIFSIGNALED(status))
        return tr("stopped by signal %1").arg(WTERMSIG(status));
    return tr("exit status %1").arg(WEXITSTATUS(status));
}

} // namespace

LaunchError::LaunchError(Case which, const QString& target, const QString& applicationName, const QString& reason)
    : Error(launchDescription(which, target, applicationName, reason), launchTitle(which)),
      m_case(which)
{
}

QString LaunchError::typeName() const
{
    return QStringLiteral("LaunchError");
}

namespace desktop {

std::optional<InstalledApplication> defaultApplication(const QStringList& mimeTypes)
{
    for (const QString& mimeType : mimeTypes) {
        if (mimeType.isEmpty())
            continue;
        GObjectPointer<GAppInfo> info(g_app_info_get_default_for_type(mimeType.toUtf8().constData(), FALSE));
        if (auto application = installedApplication(info.get()))
            return application;
    }
    return std::nullopt;
}

std::optional<InstalledApplication> defaultApplicationForScheme(const QString& scheme)
{
    if (scheme.isEmpty())
        return std::nullopt;
    GObjectPointer<GAppInfo> info(g_app_info_get_default_for_uri_scheme(scheme.toUtf8().constData()));
    return installedApplication(info.get());
}

QString contentType(const QString& path)
{
    GObjectPointer<GFile> file(g_file_new_for_path(path.toUtf8().constData()));
    GObjectPointer<GFileInfo> info(g_file_query_info(file.get(), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                                     G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
    if (!info)
        return {};
    const char* type = g_file_info_get_content_type(info.get());
    if (!type)
        return {};
    char* mimeType = g_content_type_get_mime_type(type);
    const QString result = fromUtf8(mimeType);
    g_free(mimeType);
    return result;
}

QStringList mimeTypesForExtension(const QString& extension)
{
    QStringList names;
    if (extension.isEmpty())
        return names;
    for (const QMimeType& type : QMimeDatabase().mimeTypesForFileName(QStringLiteral("file.") + extension))
        names.append(type.name());
    return names;
}

QString mimeTypeDescription(const QString& mimeType)
{
    const QMimeType type = QMimeDatabase().mimeTypeForName(mimeType);
    return type.isValid() ? type.comment().trimmed() : QString();
}

qint64 launch(const QString& desktopEntryId, const QString& uri, const QString& target, const QString& applicationName)
{
    GObjectPointer<GDesktopAppInfo> info(g_desktop_app_info_new(desktopEntryId.toUtf8().constData()));
    if (!info)
        throw LaunchError(LaunchError::Case::launchFailed, target, applicationName,
                          tr("its desktop entry “%1” can no longer be read").arg(desktopEntryId));
    const QByteArray uriBytes = uri.toUtf8();
    GList uris{const_cast<char*>(uriBytes.constData()), nullptr, nullptr};
    qint64 pid = 0;
    GError* error = nullptr;
    // No launch context: the environment is this program's own, and nothing depends on which
    // desktop runs (XDG_CURRENT_DESKTOP). The process is not reaped by GLib: watchStart() does it.
    const gboolean started = g_desktop_app_info_launch_uris_as_manager(
        info.get(), &uris, nullptr, GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), startOwnSession,
        nullptr, notePid, &pid, &error);
    if (!started) {
        const QString reason = error ? fromUtf8(error->message) : tr("unknown error");
        g_clear_error(&error);
        throw LaunchError(LaunchError::Case::launchFailed, target, applicationName, reason);
    }
    return pid;
}

QCoro::Task<> watchStart(qint64 pid, QString target, QString applicationName, int windowMilliseconds)
{
    if (pid <= 0)
        co_return;
    auto* watch = new ChildWatch(static_cast<pid_t>(pid));
    const auto ended = co_await qCoro(watch, &ChildWatch::ended, std::chrono::milliseconds(windowMilliseconds));
    if (!ended)
        co_return; // still running: the watch stays to reap it later
    const int status = *ended;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        co_return;
    throw LaunchError(LaunchError::Case::exitedAtOnce, target, applicationName, endingOf(status));
}

} // namespace desktop

} // namespace vantrel

#include "desktop_launch.moc"
