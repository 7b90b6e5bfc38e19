#include "engine/document_application.h"

#include "engine/desktop_launch.h"
#include "engine/json_coding.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QMutexLocker>
#include <QSet>
#include <QXmlStreamReader>

#include <algorithm>
#include <tuple>

namespace vantrel {

namespace {

QJsonObject requireObject(const QJsonValue& json, const char* what)
{
    if (!json.isObject())
        throw DecodingError(QStringLiteral("Expected %1 object.").arg(QLatin1String(what)));
    return json.toObject();
}

// Orders two parts of a dotted version: a leading number numerically, the rest as text.
int compareVersionParts(const QString& a, const QString& b)
{
    const auto digitCount = [](const QString& text) {
        return qsizetype(std::find_if(text.begin(), text.end(), [](QChar c) { return !c.isDigit(); }) - text.begin());
    };
    const qsizetype aDigits = digitCount(a);
    const qsizetype bDigits = digitCount(b);
    if (aDigits > 0 && bDigits > 0) {
        // Compare the numbers as digit strings without leading zeros, so no size can overflow.
        const auto number = [](const QString& text, qsizetype digits) {
            qsizetype start = 0;
            while (start < digits - 1 && text.at(start) == QLatin1Char('0'))
                ++start;
            return text.mid(start, digits - start);
        };
        const QString aNumber = number(a, aDigits);
        const QString bNumber = number(b, bDigits);
        if (aNumber.size() != bNumber.size())
            return aNumber.size() < bNumber.size() ? -1 : 1;
        if (const int order = aNumber.compare(bNumber); order != 0)
            return order < 0 ? -1 : 1;
        const int order = a.mid(aDigits).compare(b.mid(bDigits));
        return order < 0 ? -1 : (order > 0 ? 1 : 0);
    }
    const int order = a.compare(b);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// Orders two dotted versions over the parts both have, so that a version given to fewer parts
// is not taken for an older one.
int compareVersions(const QString& a, const QString& b)
{
    const QStringList aParts = a.trimmed().split(QLatin1Char('.'));
    const QStringList bParts = b.trimmed().split(QLatin1Char('.'));
    const qsizetype common = std::min(aParts.size(), bParts.size());
    for (qsizetype index = 0; index < common; ++index) {
        if (const int order = compareVersionParts(aParts.at(index), bParts.at(index)); order != 0)
            return order;
    }
    return 0;
}

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

// Kdenlive records its version in a property of the project bin playlist; projects of
// Kdenlive 0.9 and older carry it on the kdenlivedoc element.
std::optional<QString> kdenliveWriterVersion(const QByteArray& head)
{
    QXmlStreamReader xml(head);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("kdenlivedoc")) {
            if (auto version = nonEmpty(xml.attributes().value(QLatin1String("kdenliveversion")).toString()))
                return version;
        } else if (xml.name() == QLatin1String("property")
                   && xml.attributes().value(QLatin1String("name"))
                          == QLatin1String("kdenlive:docproperties.kdenliveversion")) {
            const QString text = xml.readElementText();
            // A value cut off at the end of what was read does not count.
            return xml.hasError() ? std::nullopt : nonEmpty(text);
        }
    }
    return std::nullopt;
}

// Ardour sessions start with <ProgramVersion created-with="Ardour 8.4" modified-with="...">.
std::optional<QString> ardourWriterVersion(const QByteArray& head)
{
    QXmlStreamReader xml(head);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != QLatin1String("ProgramVersion"))
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        QString program = attributes.value(QLatin1String("modified-with")).toString().trimmed();
        if (program.isEmpty())
            program = attributes.value(QLatin1String("created-with")).toString().trimmed();
        const qsizetype space = program.indexOf(QLatin1Char(' '));
        return nonEmpty(space < 0 ? program : program.mid(space + 1));
    }
    return std::nullopt;
}

// Uncompressed Blender files start with "BLENDER", the pointer size ('_' or '-'), the byte order
// ('v' or 'V') and three digits of the version: "279" is 2.79, "402" is 4.2.
std::optional<QString> blenderWriterVersion(const QByteArray& head)
{
    if (head.size() < 12 || !head.startsWith("BLENDER") || (head[7] != '_' && head[7] != '-')
        || (head[8] != 'v' && head[8] != 'V'))
        return std::nullopt;
    for (int index = 9; index < 12; ++index) {
        if (head[index] < '0' || head[index] > '9')
            return std::nullopt;
    }
    const int major = head[9] - '0';
    const int minor = (head[10] - '0') * 10 + (head[11] - '0');
    return major < 3 ? QStringLiteral("%1.%2").arg(major).arg(minor, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1.%2").arg(major).arg(minor);
}

} // namespace

QJsonValue InstalledApplication::toJson() const
{
    return QJsonObject{
        {QStringLiteral("name"), name},
        {QStringLiteral("version"), JsonCoding<std::optional<QString>>::encode(version)},
        {QStringLiteral("desktopEntryId"), desktopEntryId},
    };
}

InstalledApplication InstalledApplication::fromJson(const QJsonValue& json)
{
    const QJsonObject object = requireObject(json, "an installed application");
    return {
        JsonCoding<QString>::decode(object.value(QStringLiteral("name"))),
        JsonCoding<std::optional<QString>>::decode(object.value(QStringLiteral("version"))),
        JsonCoding<QString>::decode(object.value(QStringLiteral("desktopEntryId"))),
    };
}

DocumentApplication DocumentApplication::empty(const DocumentType& documentType)
{
    return {documentType, nonEmpty(documentType.appName()), std::nullopt, std::nullopt};
}

DocumentApplication DocumentApplication::none()
{
    return {};
}

bool DocumentApplication::itemUpdateNeeded() const
{
    return writerVersion && installed && installed->version && compareVersions(*installed->version, *writerVersion) > 0;
}

std::optional<QString> DocumentApplication::incompatibleVersion() const
{
    if (!writerVersion || (installed && installed->version && *installed->version == *writerVersion))
        return std::nullopt;
    return writerVersion;
}

QJsonValue DocumentApplication::toJson() const
{
    return QJsonObject{
        {QStringLiteral("documentType"), documentType.toJson()},
        {QStringLiteral("name"), JsonCoding<std::optional<QString>>::encode(name)},
        {QStringLiteral("writerVersion"), JsonCoding<std::optional<QString>>::encode(writerVersion)},
        {QStringLiteral("installed"), JsonCoding<std::optional<InstalledApplication>>::encode(installed)},
    };
}

DocumentApplication DocumentApplication::fromJson(const QJsonValue& json)
{
    const QJsonObject object = requireObject(json, "a document application");
    return {
        DocumentType::fromJson(object.value(QStringLiteral("documentType"))),
        JsonCoding<std::optional<QString>>::decode(object.value(QStringLiteral("name"))),
        JsonCoding<std::optional<QString>>::decode(object.value(QStringLiteral("writerVersion"))),
        JsonCoding<std::optional<InstalledApplication>>::decode(object.value(QStringLiteral("installed"))),
    };
}

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

std::optional<InstalledApplication> ApplicationLocator::find(const DocumentType& type) const
{
    QMutexLocker locker(&m_mutex);
    if (const auto found = m_found.constFind(type); found != m_found.constEnd())
        return *found;
    if (m_asksDesktop) {
        if (auto chosen = vantrel::desktop::defaultApplication(type.mimeTypes())) {
            m_found.insert(type, chosen);
            return chosen;
        }
    }
    if (!m_entries)
        m_entries = readEntries();

    const QStringList mimeTypes = type.mimeTypes();
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
    m_found.insert(type, result);
    return result;
}

std::optional<InstalledApplication> ApplicationLocator::findAfresh(const DocumentType& type)
{
    {
        QMutexLocker locker(&m_mutex);
        m_found.remove(type);
        m_entries.reset();
    }
    return find(type);
}

void ApplicationLocator::reload()
{
    QMutexLocker locker(&m_mutex);
    m_entries.reset();
    m_found.clear();
}

std::optional<QString> readWriterVersion(const DocumentType& type, const QString& path)
{
    const auto kind = type.kind();
    if (kind != DocumentType::Case::kdenliveProject && kind != DocumentType::Case::ardourSession
        && kind != DocumentType::Case::blenderProject)
        return std::nullopt;
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(64 * 1024);
    switch (kind) {
    case DocumentType::Case::kdenliveProject:
        return kdenliveWriterVersion(head);
    case DocumentType::Case::ardourSession:
        return ardourWriterVersion(head);
    case DocumentType::Case::blenderProject:
        return blenderWriterVersion(head);
    default:
        return std::nullopt;
    }
}

} // namespace vantrel
