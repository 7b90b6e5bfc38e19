#include "engine/storage/manifest.h"

#include "foundation/json_coding.h"

namespace vantrel {

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
