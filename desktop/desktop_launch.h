#pragma once

// The desktop's own choice of applications, and starting them, through GIO: the user's defaults
// (mimeapps.list), the desktop entries and the MIME database are read as the desktop reads them.
// No GLib type appears here.

#include "desktop/installed_application.h"
#include "foundation/error.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <optional>

namespace vantrel {

// Something the desktop could not open or show.
class LaunchError : public Error {
public:
    enum class Case {
        noApplication, // nothing on this computer opens this kind of file
        noFileManager, // nothing on this computer shows folders
        launchFailed,  // the application could not be started; the reason says why
        exitedAtOnce,  // the application ended with a failure right after it started
    };
    // `target` is the file, folder or address as the user knows it; `reason` the system's words
    // (launchFailed) or how the program ended (exitedAtOnce).
    LaunchError(Case which, const QString& target, const QString& applicationName = {}, const QString& reason = {});
    Case kind() const { return m_case; }

protected:
    QString typeName() const override;

private:
    Case m_case;
};

namespace desktop {

// The user's application for the first of `mimeTypes` that has one, as the desktop picks it: the
// default of mimeapps.list, else an application whose entry lists the type, for the type and
// then for its parent types (a subtitle file is also plain text).
std::optional<InstalledApplication> defaultApplication(const QStringList& mimeTypes);
// The user's application for addresses of `scheme` ("https").
std::optional<InstalledApplication> defaultApplicationForScheme(const QString& scheme);
// The MIME type the desktop gives the file or folder at `path`, from its name and contents.
QString contentType(const QString& path);
// The MIME types the desktop's database gives files whose name ends in `extension` (without the
// dot), best first; none for "".
QStringList mimeTypesForExtension(const QString& extension);
// The MIME database's name of `mimeType` for people, in the user's language ("Matroska video");
// "" for a type it does not know.
QString mimeTypeDescription(const QString& mimeType);

// Starts the application of desktop entry `desktopEntryId` on `uri`, in a session of its own so
// that it outlives this program and no terminal signal reaches it. Returns the process id, or 0
// when the desktop started the application another way (D-Bus activation). Throws LaunchError
// (launchFailed); `target` and `applicationName` are for its text.
qint64 launch(const QString& desktopEntryId, const QString& uri, const QString& target, const QString& applicationName);

// Watches a process started by launch() for its first moments without blocking the event loop:
// fails with LaunchError (exitedAtOnce) when it ends with a failure within `window`; completes
// when it is still running then or ended well (it may have handed the file to a running copy of
// itself). Whenever the process ends, it is reaped.
QCoro::Task<> watchStart(qint64 pid, QString target, QString applicationName, int windowMilliseconds = 1500);

} // namespace desktop

} // namespace vantrel
