// Reading the desktop entries of the applications folders, and choosing among them.

#include "desktop/application_locator.h"

#include "desktop/desktop_launch.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMutexLocker>
#include <QSet>

#include <tuple>

namespace vantrel {

namespace {

// The escapes of desktop entry string values.
QString unescapeValue(const QString& value)
{
    QString result;
    result.reserve(value.size());
    for (qsizetype index = 0; index < value.size(); ++index) {
        const QChar c = value.at(index);
        if (c != QLatin1Char('\\') || index + 1 == value.size()) {
            result.append(c);
            continue;
        }
        const QChar next = value.at(++index);
        switch (next.unicode()) {
        case 's':
            result.append(QLatin1Char(' '));
            break;
        case 'n':
            result.append(QLatin1Char('\n'));
            break;
        case 't':
            result.append(QLatin1Char('\t'));
            break;
        case 'r':
            result.append(QLatin1Char('\r'));
            break;
        default:
            result.append(next);
            break;
        }
    }
    return result;
}

// The keys of the [Desktop Entry] group of a desktop file; the first of a repeated key counts.
QHash<QString, QString> readDesktopEntryGroup(const QString& path)
{
    QHash<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return keys;
    bool inGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (inGroup)
                break;
            inGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inGroup || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (!keys.contains(key))
            keys.insert(key, unescapeValue(line.mid(equals + 1).trimmed()));
    }
    return keys;
}

bool isTrue(const QHash<QString, QString>& keys, const QString& key)
{
    return keys.value(key) == QLatin1String("true");
}

std::optional<QString> nonEmpty(const QString& text)
{
    const QString trimmed = text.trimmed();
    return trimmed.isEmpty() ? std::nullopt : std::optional<QString>(trimmed);
}

} // namespace

ApplicationLocator::ApplicationLocator() : ApplicationLocator(standardApplicationFolders())
{
    m_asksDesktop = true;
}

ApplicationLocator::ApplicationLocator(QStringList applicationFolders) : m_folders(std::move(applicationFolders)) {}

ApplicationLocator& ApplicationLocator::desktop()
{
    static ApplicationLocator locator;
    return locator;
}

QStringList ApplicationLocator::standardApplicationFolders()
{
    // Relative paths in these variables are invalid and ignored.
    const auto absolute = [](const QString& path) { return !path.isEmpty() && QDir::isAbsolutePath(path); };
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!absolute(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    QStringList dataDirs;
    for (const QString& dir : qEnvironmentVariable("XDG_DATA_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (absolute(dir))
            dataDirs.append(dir);
    }
    if (dataDirs.isEmpty())
        dataDirs = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};

    QStringList folders;
    for (const QString& dir : QStringList{dataHome} + dataDirs) {
        const QString folder = QDir::cleanPath(dir + QStringLiteral("/applications"));
        if (!folders.contains(folder))
            folders.append(folder);
    }
    return folders;
}

QList<ApplicationLocator::DesktopEntry> ApplicationLocator::readEntries() const
{
    QList<DesktopEntry> entries;
    QSet<QString> seenIds;
    for (qsizetype folderIndex = 0; folderIndex < m_folders.size(); ++folderIndex) {
        const QDir folder(m_folders.at(folderIndex));
        QStringList paths;
        QDirIterator files(folder.path(), {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext())
            paths.append(files.next());
        paths.sort();
        for (const QString& path : paths) {
            // The desktop file id is the path below the folder with '/' replaced by '-'.
            const QString id = folder.relativeFilePath(path).replace(QLatin1Char('/'), QLatin1Char('-'));
            if (seenIds.contains(id))
                continue; // overridden by an entry of an earlier folder, also a hidden one
            seenIds.insert(id);
            const QHash<QString, QString> keys = readDesktopEntryGroup(path);
            if (keys.value(QStringLiteral("Type")) != QLatin1String("Application")
                || isTrue(keys, QStringLiteral("Hidden")) || keys.value(QStringLiteral("Name")).isEmpty()
                || keys.value(QStringLiteral("Exec")).isEmpty())
                continue;
            DesktopEntry entry;
            entry.id = id;
            entry.name = keys.value(QStringLiteral("Name"));
            entry.mimeTypes = keys.value(QStringLiteral("MimeType")).split(QLatin1Char(';'), Qt::SkipEmptyParts);
            entry.version = nonEmpty(keys.value(QStringLiteral("X-Vantrel-Version")));
            entry.noDisplay = isTrue(keys, QStringLiteral("NoDisplay"));
            entry.folderIndex = folderIndex;
            entries.append(entry);
        }
    }
    return entries;
}

std::optional<InstalledApplication> ApplicationLocator::find(const QStringList& mimeTypes) const
{
    // The desktop's answer is never kept: it follows its own files (a default chosen with
    // xdg-mime, an application installed), and a kept one would hide that until a restart.
    if (m_asksDesktop) {
        if (auto chosen = vantrel::desktop::defaultApplication(mimeTypes))
            return chosen;
    }
    QMutexLocker locker(&m_mutex);
    if (const auto found = m_found.constFind(mimeTypes); found != m_found.constEnd())
        return *found;
    if (!m_entries)
        m_entries = readEntries();

    const DesktopEntry* best = nullptr;
    std::tuple<qsizetype, bool, qsizetype> bestRank;
    for (const DesktopEntry& entry : std::as_const(*m_entries)) {
        for (qsizetype index = 0; index < mimeTypes.size(); ++index) {
            if (!entry.mimeTypes.contains(mimeTypes.at(index)))
                continue;
            const auto rank = std::tuple(index, entry.noDisplay, entry.folderIndex);
            if (!best || rank < bestRank) {
                best = &entry;
                bestRank = rank;
            }
            break;
        }
    }
    std::optional<InstalledApplication> result;
    if (best)
        result = InstalledApplication{best->name, best->version, best->id};
    m_found.insert(mimeTypes, result);
    return result;
}

std::optional<InstalledApplication> ApplicationLocator::findAfresh(const QStringList& mimeTypes)
{
    {
        QMutexLocker locker(&m_mutex);
        m_found.remove(mimeTypes);
        m_entries.reset();
    }
    return find(mimeTypes);
}

void ApplicationLocator::reload()
{
    QMutexLocker locker(&m_mutex);
    m_entries.reset();
    m_found.clear();
}

} // namespace vantrel
