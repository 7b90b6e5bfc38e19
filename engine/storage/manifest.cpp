#include "engine/storage/manifest.h"

#include "engine/json_coding.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>

namespace vantrel {

namespace {

constexpr int formatVersion = 1;
// Sizes are JSON numbers: whole numbers are exact up to 2^53.
constexpr double largestExactSize = 9007199254740992.0;

QString kindName(ManifestEntry::Kind kind)
{
    switch (kind) {
    case ManifestEntry::Kind::file:
        return QStringLiteral("file");
    case ManifestEntry::Kind::directory:
        return QStringLiteral("directory");
    case ManifestEntry::Kind::symlink:
        return QStringLiteral("symlink");
    }
    return {};
}

ManifestEntry::Kind kindFromName(const QString& name)
{
    if (name == u"file")
        return ManifestEntry::Kind::file;
    if (name == u"directory")
        return ManifestEntry::Kind::directory;
    if (name == u"symlink")
        return ManifestEntry::Kind::symlink;
    throw DecodingError(QStringLiteral("\"%1\" is not a kind of manifest entry.").arg(name));
}

QJsonValue member(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key));
}

ManifestEntry entryFromJson(const QJsonValue& json)
{
    if (!json.isObject())
        throw DecodingError(QStringLiteral("A manifest entry is not an object."));
    const QJsonObject object = json.toObject();
    ManifestEntry entry;
    entry.path = JsonCoding<QString>::decode(member(object, "path"));
    entry.kind = kindFromName(JsonCoding<QString>::decode(member(object, "kind")));
    switch (entry.kind) {
    case ManifestEntry::Kind::file: {
        entry.hash = ContentHash::fromJson(member(object, "hash"));
        const QJsonValue size = member(object, "size");
        const double number = size.toDouble(-1);
        if (!size.isDouble() || number < 0 || number > largestExactSize || std::trunc(number) != number)
            throw DecodingError(QStringLiteral("The size of \"%1\" is not a whole number of bytes.").arg(entry.path));
        entry.size = static_cast<qint64>(number);
        const QJsonValue executable = member(object, "executable");
        if (!executable.isUndefined())
            entry.executable = JsonCoding<bool>::decode(executable);
        break;
    }
    case ManifestEntry::Kind::directory:
        break;
    case ManifestEntry::Kind::symlink:
        entry.target = JsonCoding<QString>::decode(member(object, "target"));
        break;
    }
    return entry;
}

} // namespace

bool isValidManifestName(QStringView name)
{
    if (name.isEmpty() || name == u"." || name == u"..")
        return false;
    for (const QChar c : name) {
        if (c == u'/' || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

bool isValidManifestPath(QStringView path)
{
    if (path.isEmpty())
        return false;
    for (const QStringView name : path.split(u'/')) {
        if (!isValidManifestName(name))
            return false;
    }
    return true;
}

QByteArray Manifest::toJson() const
{
    QJsonArray list;
    for (const ManifestEntry& entry : entries) {
        QJsonObject object{{QStringLiteral("path"), entry.path}, {QStringLiteral("kind"), kindName(entry.kind)}};
        switch (entry.kind) {
        case ManifestEntry::Kind::file:
            object.insert(QStringLiteral("hash"), entry.hash.toJson());
            object.insert(QStringLiteral("size"), double(entry.size));
            object.insert(QStringLiteral("executable"), entry.executable);
            break;
        case ManifestEntry::Kind::directory:
            break;
        case ManifestEntry::Kind::symlink:
            object.insert(QStringLiteral("target"), entry.target);
            break;
        }
        list.append(object);
    }
    const QJsonObject root{
        {QStringLiteral("format"), formatVersion},
        {QStringLiteral("root"), rootKind == RootKind::file ? QStringLiteral("file") : QStringLiteral("directory")},
        {QStringLiteral("entries"), list},
    };
    return jsonText(root);
}

Manifest Manifest::fromJson(const QByteArray& json)
{
    const QJsonValue document = parseJsonText(json);
    if (!document.isObject())
        throw DecodingError(QStringLiteral("A manifest is not an object."));
    const QJsonObject object = document.toObject();
    const int format = JsonCoding<int>::decode(member(object, "format"));
    if (format != formatVersion)
        throw DecodingError(QStringLiteral("Manifest format %1 is not supported.").arg(format));

    Manifest manifest;
    const QString root = JsonCoding<QString>::decode(member(object, "root"));
    if (root == u"file")
        manifest.rootKind = RootKind::file;
    else if (root == u"directory")
        manifest.rootKind = RootKind::directory;
    else
        throw DecodingError(QStringLiteral("\"%1\" is not a kind of manifest root.").arg(root));

    const QJsonValue list = member(object, "entries");
    if (!list.isArray())
        throw DecodingError(QStringLiteral("The manifest has no list of entries."));
    for (const QJsonValue& item : list.toArray())
        manifest.entries.append(entryFromJson(item));

    manifest.validate();
    return manifest;
}

void Manifest::validate() const
{
    if (rootKind == RootKind::file) {
        if (entries.size() != 1 || entries.first().kind != ManifestEntry::Kind::file || !entries.first().path.isEmpty())
            throw DecodingError(QStringLiteral("A single-file manifest must hold exactly one unnamed file."));
        return;
    }

    QSet<QString> folders;
    const QString* previous = nullptr;
    for (const ManifestEntry& entry : entries) {
        if (!isValidManifestPath(entry.path))
            throw DecodingError(QStringLiteral("\"%1\" is not a valid path in a manifest.").arg(entry.path));
        if (previous && !(*previous < entry.path))
            throw DecodingError(
                QStringLiteral("The manifest entry \"%1\" is out of order or repeated.").arg(entry.path));
        const auto slash = entry.path.lastIndexOf(u'/');
        if (slash >= 0 && !folders.contains(entry.path.first(slash)))
            throw DecodingError(QStringLiteral("The folder of \"%1\" is not in the manifest.").arg(entry.path));
        if (entry.kind == ManifestEntry::Kind::directory)
            folders.insert(entry.path);
        if (entry.kind == ManifestEntry::Kind::symlink && (entry.target.isEmpty() || entry.target.contains(QChar(0))))
            throw DecodingError(QStringLiteral("The link \"%1\" has no valid target.").arg(entry.path));
        previous = &entry.path;
    }
}

qint64 Manifest::totalSize() const
{
    qint64 total = 0;
    for (const ManifestEntry& entry : entries) {
        if (entry.kind == ManifestEntry::Kind::file)
            total += entry.size;
    }
    return total;
}

QSet<ContentHash> Manifest::contentHashes() const
{
    QSet<ContentHash> hashes;
    for (const ManifestEntry& entry : entries) {
        if (entry.kind == ManifestEntry::Kind::file)
            hashes.insert(entry.hash);
    }
    return hashes;
}

} // namespace vantrel
