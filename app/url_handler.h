#pragma once

#include "model/item_selection.h"

#include <QDir>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace vantrel {

// Turns the URLs handed to the application from outside (its command line, or a second start
// forwarding its own) into commands:
//
// - a URL whose last path component has the team-bundle extension, whatever its scheme or host
//   (a plain path counts as a file URL): openTeamBundle() with the file URL of that path on this
//   machine, made absolute (no trailing slash, no query or fragment). A host names no other
//   machine we could read from, so the bundle is opened by its path here;
// - otherwise the URL's host names a command, matched by its exact letters:
//     "quit"    quit()             log "Quit called"
//     "update"  checkForUpdates()  log "Check for updated called"
//     "restart" restart()          log "Restart called"
//     "select"  selectItem(...)    log "Select item called: " + the URL's path
//   "select" takes the selection from the URL's path (ItemSelection::fromPath); a path that names
//   no selection hands over none, which clears the selection. The scheme, query and fragment are
//   not read.
// - anything else (no host, an unknown host, an unparsable URL) is ignored: nothing is called and
//   nothing is logged.
//
// Each command calls exactly one closure and then the log closure once, synchronously, on the
// caller's thread. Opening a bundle logs nothing. A closure left empty is skipped.
class URLHandler {
public:
    using CheckForUpdates = std::function<void()>;
    using OpenTeamBundle = std::function<void(const QUrl&)>;
    using SelectItem = std::function<void(std::optional<ItemSelection>)>;
    using Quit = std::function<void()>;
    using Restart = std::function<void()>;
    using Log = std::function<void(const QString&)>;

    URLHandler(CheckForUpdates checkForUpdates, OpenTeamBundle openTeamBundle, SelectItem selectItem, Quit quit,
               Restart restart, Log log);

    // The URL as it was received, as text. Host names are compared by their exact letters, which
    // a QUrl no longer knows (it lower-cases host names when it parses them), so URLs that come
    // from outside are handed over in this form. A scheme-less text is a path reference: a
    // relative one is taken against the current folder.
    void handle(const QString& url) const;
    // An already parsed URL: its host has been lower-cased by QUrl.
    void handle(const QUrl& url) const;

    // The URL text for one command-line argument: a URL of the application's own scheme
    // (`urlScheme`, e.g. "vantrel://select/...") or a file URL ("file://...") as it is, anything
    // else a local path, made absolute against `currentDirectory`, as a file URL. An empty
    // argument gives an empty text, which handle() ignores.
    static QString urlFromArgument(const QString& argument, const QString& urlScheme,
                                   const QString& currentDirectory = QDir::currentPath());

    // The file URL of the team bundle that `url` (in handle()'s text form) names on this machine;
    // absent when it names none.
    static std::optional<QUrl> localTeamBundle(const QString& url);

private:
    CheckForUpdates m_checkForUpdates;
    OpenTeamBundle m_openTeamBundle;
    SelectItem m_selectItem;
    Quit m_quit;
    Restart m_restart;
    Log m_log;
};

} // namespace vantrel
