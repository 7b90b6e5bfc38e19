#include "app/url_handler.h"

#include "engine/team_bundle.h"

#include <QFileInfo>

namespace vantrel {

namespace {

const QString fileScheme = QStringLiteral("file");

// The host of `url` with its letters as written: what stands between "scheme://" (or a leading
// "//") and the path, without user information and port. Empty when the text has no authority.
QString writtenHost(const QString& url)
{
    const qsizetype colon = url.indexOf(u':');
    const qsizetype slash = url.indexOf(u'/');
    // A colon after the first slash belongs to the path, not to a scheme.
    qsizetype start = (colon >= 0 && (slash < 0 || colon < slash)) ? colon + 1 : 0;
    if (!QStringView(url).mid(start).startsWith(u"//"))
        return {};
    start += 2;
    qsizetype end = start;
    while (end < url.size() && url[end] != u'/' && url[end] != u'?' && url[end] != u'#')
        ++end;
    QString authority = url.mid(start, end - start);
    if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0)
        authority = authority.mid(at + 1);
    if (authority.startsWith(u'['))
        return authority.left(authority.indexOf(u']') + 1);
    if (const qsizetype port = authority.lastIndexOf(u':'); port >= 0)
        authority.truncate(port);
    return authority;
}

template<typename Closure, typename... Arguments>
void callIfSet(const Closure& closure, Arguments&&... arguments)
{
    if (closure)
        closure(std::forward<Arguments>(arguments)...);
}

} // namespace

URLHandler::URLHandler(CheckForUpdates checkForUpdates, OpenTeamBundle openTeamBundle, SelectItem selectItem, Quit quit,
                       Restart restart, Log log)
    : m_checkForUpdates(std::move(checkForUpdates)),
      m_openTeamBundle(std::move(openTeamBundle)),
      m_selectItem(std::move(selectItem)),
      m_quit(std::move(quit)),
      m_restart(std::move(restart)),
      m_log(std::move(log))
{
}

std::optional<QUrl> URLHandler::localTeamBundle(const QString& text)
{
    const QUrl url(text);
    if (!url.isValid())
        return std::nullopt;
    // The extension alone makes a bundle, whatever the scheme or host: a host names no machine
    // that files are read from, so the path is taken as one on this machine.
    const QString path = url.path(QUrl::FullyDecoded);
    if (path.isEmpty())
        return std::nullopt;
    // Bundles are folders: "x.vantrelteam/" names the same bundle as "x.vantrelteam".
    const QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    // The same test as the engine's when it opens a bundle.
    if (QFileInfo(absolute).suffix() != TeamBundle::fileExtension)
        return std::nullopt;
    return QUrl::fromLocalFile(absolute);
}

void URLHandler::handle(const QString& text) const
{
    if (const auto bundle = localTeamBundle(text)) {
        callIfSet(m_openTeamBundle, *bundle);
        return;
    }
    const QUrl url(text);
    if (!url.isValid())
        return;
    const QString host = url.host();
    // QUrl lower-cases host names; a command is only a host written exactly as its name.
    if (host.isEmpty() || writtenHost(text) != host)
        return;

    if (host == u"quit") {
        callIfSet(m_quit);
        callIfSet(m_log, QStringLiteral("Quit called"));
    } else if (host == u"update") {
        callIfSet(m_checkForUpdates);
        callIfSet(m_log, QStringLiteral("Check for updated called"));
    } else if (host == u"restart") {
        callIfSet(m_restart);
        callIfSet(m_log, QStringLiteral("Restart called"));
    } else if (host == u"select") {
        const QString path = url.path(QUrl::FullyDecoded);
        // A link that names no item selects nothing: the current selection is cleared.
        callIfSet(m_selectItem, ItemSelection::fromPath(path));
        callIfSet(m_log, QStringLiteral("Select item called: ") + path);
    }
}

void URLHandler::handle(const QUrl& url) const
{
    handle(url.toString(QUrl::FullyEncoded));
}

QString URLHandler::urlFromArgument(const QString& argument, const QString& urlScheme, const QString& currentDirectory)
{
    if (argument.isEmpty())
        return {};
    const auto hasScheme = [&argument](const QString& scheme) {
        return !scheme.isEmpty() && argument.startsWith(scheme + QStringLiteral("://"), Qt::CaseInsensitive);
    };
    if (hasScheme(urlScheme) || hasScheme(fileScheme))
        return argument;
    const QString path = QDir::cleanPath(QDir(currentDirectory).absoluteFilePath(argument));
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

} // namespace vantrel
