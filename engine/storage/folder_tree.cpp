#include "engine/storage/folder_tree.h"

#include "engine/storage/content_store.h"
#include "engine/storage/parallel_jobs.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/tree_cache.h"
#include "foundation/json_coding.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace vantrel {

namespace {

constexpr int formatVersion = 2;
// Sizes are JSON numbers: whole numbers are exact up to 2^53.
constexpr double largestExactSize = 9007199254740992.0;
// Folders of one level read at once when there are this many.
constexpr qsizetype parallelReadThreshold = 4;

void appendJsonString(QByteArray& out, const QString& text)
{
    out += '"';
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 0xf];
        } else {
            out += c;
        }
    }
    out += '"';
}

void appendFileFields(QByteArray& out, const FolderEntry& entry)
{
    out += "\"hash\":\"";
    out += entry.hash.toHex().toLatin1();
    out += "\",\"size\":";
    out += QByteArray::number(entry.size);
    if (entry.executable)
        out += ",\"executable\":true";
    if (entry.chunks) {
        out += ",\"chunks\":\"";
        out += entry.chunks->toHex().toLatin1();
        out += '"';
    }
}

QJsonValue member(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key));
}

void readFileFields(const QJsonObject& object, FolderEntry& entry)
{
    entry.kind = FolderEntry::Kind::file;
    entry.hash = ContentHash::fromJson(member(object, "hash"));
    const QJsonValue size = member(object, "size");
    const double number = size.toDouble(-1);
    if (!size.isDouble() || number < 0 || number > largestExactSize || std::trunc(number) != number)
        throw DecodingError(QStringLiteral("The size of \"%1\" is not a whole number of bytes.").arg(entry.name));
    entry.size = static_cast<qint64>(number);
    const QJsonValue executable = member(object, "executable");
    if (!executable.isUndefined())
        entry.executable = JsonCoding<bool>::decode(executable);
    const QJsonValue chunks = member(object, "chunks");
    if (!chunks.isUndefined())
        entry.chunks = ContentHash::fromJson(chunks);
}

FolderEntry entryFromJson(const QJsonValue& json)
{
    if (!json.isObject())
        throw DecodingError(QStringLiteral("An entry of a folder tree is not an object."));
    const QJsonObject object = json.toObject();
    FolderEntry entry;
    entry.name = JsonCoding<QString>::decode(member(object, "name"));
    const QString kind = JsonCoding<QString>::decode(member(object, "kind"));
    if (kind == u"file") {
        readFileFields(object, entry);
    } else if (kind == u"folder") {
        entry.kind = FolderEntry::Kind::directory;
        entry.hash = ContentHash::fromJson(member(object, "tree"));
    } else if (kind == u"link") {
        entry.kind = FolderEntry::Kind::symlink;
        entry.target = JsonCoding<QString>::decode(member(object, "target"));
    } else {
        throw DecodingError(QStringLiteral("\"%1\" is not a kind of folder entry.").arg(kind));
    }
    return entry;
}

std::shared_ptr<const FolderTree> readSubfolder(TreeReader& reader, const ContentHash& hash, const QString& path,
                                                int depth)
{
    if (depth > treeLimits::maxDepth)
        throw DecodingError(QStringLiteral("The folder \"%1\" is nested more than %2 folders deep.")
                                .arg(path)
                                .arg(treeLimits::maxDepth));
    auto tree = reader.read(hash);
    if (tree->isFile)
        throw DecodingError(QStringLiteral("The tree of the folder \"%1\" is a file.").arg(path));
    return tree;
}

} // namespace

QByteArray FolderTree::toJson() const
{
    QByteArray out;
    out.reserve(64 + entries.size() * 120);
    out += "{\"format\":";
    out += QByteArray::number(formatVersion);
    if (isFile) {
        out += ",\"kind\":\"file\",";
        if (!entries.isEmpty())
            appendFileFields(out, entries.first());
        out += '}';
        return out;
    }
    out += ",\"kind\":\"folder\",\"entries\":[";
    bool first = true;
    for (const FolderEntry& entry : entries) {
        if (!first)
            out += ',';
        first = false;
        out += "{\"name\":";
        appendJsonString(out, entry.name);
        switch (entry.kind) {
        case FolderEntry::Kind::file:
            out += ",\"kind\":\"file\",";
            appendFileFields(out, entry);
            break;
        case FolderEntry::Kind::directory:
            out += ",\"kind\":\"folder\",\"tree\":\"";
            out += entry.hash.toHex().toLatin1();
            out += '"';
            break;
        case FolderEntry::Kind::symlink:
            out += ",\"kind\":\"link\",\"target\":";
            appendJsonString(out, entry.target);
            break;
        }
        out += '}';
    }
    out += "]}";
    return out;
}

FolderTree FolderTree::fromJson(const QByteArray& json)
{
    const QJsonValue document = parseJsonText(json);
    if (!document.isObject())
        throw DecodingError(QStringLiteral("A folder tree is not an object."));
    const QJsonObject object = document.toObject();
    const int format = JsonCoding<int>::decode(member(object, "format"));
    if (format != formatVersion)
        throw DecodingError(QStringLiteral("Folder tree format %1 is not supported.").arg(format));

    FolderTree tree;
    const QString kind = JsonCoding<QString>::decode(member(object, "kind"));
    if (kind == u"file") {
        tree.isFile = true;
        FolderEntry entry;
        readFileFields(object, entry);
        tree.entries.append(entry);
    } else if (kind == u"folder") {
        const QJsonValue list = member(object, "entries");
        if (!list.isArray())
            throw DecodingError(QStringLiteral("The folder tree has no list of entries."));
        const QJsonArray array = list.toArray();
        tree.entries.reserve(array.size());
        for (const QJsonValue& item : array)
            tree.entries.append(entryFromJson(item));
    } else {
        throw DecodingError(QStringLiteral("\"%1\" is not a kind of tree.").arg(kind));
    }
    tree.validate();
    return tree;
}

void FolderTree::validate() const
{
    if (isFile) {
        if (entries.size() != 1 || entries.first().kind != FolderEntry::Kind::file || !entries.first().name.isEmpty())
            throw DecodingError(QStringLiteral("The tree of a single file must hold exactly one unnamed file."));
        return;
    }
    const QString* previous = nullptr;
    for (const FolderEntry& entry : entries) {
        if (!isValidManifestName(entry.name))
            throw DecodingError(QStringLiteral("\"%1\" is not a valid name in a folder.").arg(entry.name));
        if (previous && !(*previous < entry.name))
            throw DecodingError(QStringLiteral("The folder entry \"%1\" is out of order or repeated.").arg(entry.name));
        if (entry.kind == FolderEntry::Kind::symlink && (entry.target.isEmpty() || entry.target.contains(QChar(0))))
            throw DecodingError(QStringLiteral("The link \"%1\" has no valid target.").arg(entry.name));
        previous = &entry.name;
    }
}

std::shared_ptr<const FolderTree> TreeReader::read(const ContentHash& hash)
{
    {
        const std::lock_guard lock(m_mutex);
        if (const auto found = m_read.constFind(hash); found != m_read.cend())
            return *found;
    }
    TreeCache& recent = m_store.recentTrees();
    std::shared_ptr<const FolderTree> tree = m_recent == Recent::use ? recent.find(hash) : nullptr;
    if (!tree) {
        tree = std::make_shared<const FolderTree>(FolderTree::fromJson(m_store.readBytes(hash, readLimits::folderTree)));
        if (m_recent != Recent::ignore)
            recent.insert(hash, tree);
    }
    if (!m_keep)
        return tree;
    const std::lock_guard lock(m_mutex);
    return *m_read.insert(hash, std::move(tree));
}

Manifest readTree(const ContentStore& store, const ContentHash& root)
{
    TreeReader reader(store);
    return readTree(reader, root);
}

Manifest readTree(TreeReader& reader, const ContentHash& root)
{
    const auto top = reader.read(root);
    Manifest manifest;
    if (top->isFile) {
        const FolderEntry& file = top->entries.first();
        manifest.rootKind = Manifest::RootKind::file;
        manifest.entries.append(
            {QString(), ManifestEntry::Kind::file, file.hash, file.size, file.executable, QString(), file.chunks});
        return manifest;
    }

    // Level by level, the folders of a level read at once: on a share each read waits.
    struct Pending {
        QString path;
        ContentHash hash;
        std::shared_ptr<const FolderTree> tree;
    };
    QList<Pending> level{{QString(), root, top}};
    qint64 count = top->entries.size();
    for (int depth = 0; !level.isEmpty(); ++depth) {
        if (count > treeLimits::maxEntries)
            throw DecodingError(QStringLiteral("The tree holds more than %1 items.").arg(treeLimits::maxEntries));
        QList<Pending> next;
        for (const Pending& folder : std::as_const(level)) {
            for (const FolderEntry& entry : folder.tree->entries) {
                const QString path = folder.path.isEmpty() ? entry.name : folder.path + u'/' + entry.name;
                ManifestEntry item{path, entry.kind, {}, 0, false, {}};
                if (entry.kind == FolderEntry::Kind::file) {
                    item.hash = entry.hash;
                    item.size = entry.size;
                    item.executable = entry.executable;
                    item.chunks = entry.chunks;
                } else if (entry.kind == FolderEntry::Kind::symlink) {
                    item.target = entry.target;
                } else {
                    next.append({path, entry.hash, nullptr});
                }
                manifest.entries.append(std::move(item));
            }
        }
        Pending* const pending = next.data(); // workers must not touch the list itself
        const auto readOne = [&](qsizetype index) {
            Pending& folder = pending[index];
            folder.tree = readSubfolder(reader, folder.hash, folder.path, depth + 1);
            return qint64(0);
        };
        if (next.size() >= parallelReadThreshold) {
            runInParallel(next.size(), readOne, 0, {});
        } else {
            for (qsizetype index = 0; index < next.size(); ++index)
                readOne(index);
        }
        // Counted before anything of the next level is kept: folders named many times would
        // otherwise be expanded first.
        for (const Pending& folder : std::as_const(next))
            count += folder.tree->entries.size();
        level = std::move(next);
    }
    std::sort(manifest.entries.begin(), manifest.entries.end(),
              [](const ManifestEntry& a, const ManifestEntry& b) { return a.path < b.path; });
    return manifest;
}

ContentHash storeTree(ContentStore& store, const Manifest& manifest)
{
    manifest.validate();
    if (manifest.rootKind == Manifest::RootKind::file) {
        const ManifestEntry& file = manifest.entries.first();
        FolderTree tree{true,
                        {{QString(), FolderEntry::Kind::file, file.hash, file.size, file.executable, {}, file.chunks}}};
        return store.storeBytes(tree.toJson());
    }
    // The manifest lists folders before what they hold, and siblings in the order of their names.
    QHash<QString, FolderTree> folders{{QString(), FolderTree()}};
    for (const ManifestEntry& entry : manifest.entries) {
        const auto slash = entry.path.lastIndexOf(u'/');
        const QString parent = slash < 0 ? QString() : entry.path.first(slash);
        folders[parent].entries.append({entry.path.mid(slash + 1), entry.kind, entry.hash, entry.size, entry.executable,
                                        entry.target, entry.chunks});
        if (entry.kind == ManifestEntry::Kind::directory)
            folders.insert(entry.path, FolderTree());
    }
    // Deepest first, so that every subfolder's hash is known before its folder is written.
    QStringList paths = folders.keys();
    std::sort(paths.begin(), paths.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& path : std::as_const(paths)) {
        FolderTree& tree = folders[path];
        const ContentHash hash = store.storeBytes(tree.toJson());
        if (path.isEmpty())
            return hash;
        const auto slash = path.lastIndexOf(u'/');
        FolderTree& parent = folders[slash < 0 ? QString() : path.first(slash)];
        const QString name = path.mid(slash + 1);
        const auto found =
            std::lower_bound(parent.entries.begin(), parent.entries.end(), name,
                             [](const FolderEntry& entry, const QString& wanted) { return entry.name < wanted; });
        found->hash = hash;
    }
    Q_UNREACHABLE();
}

void collectTreeReferences(TreeReader& reader, const ContentHash& root, QSet<ContentHash>& visitedTrees,
                           QSet<ContentHash>& referenced)
{
    const auto visit = [&](const auto& self, const ContentHash& hash, const QString& path, int depth) -> void {
        if (visitedTrees.contains(hash))
            return;
        const auto tree = depth == 0 ? reader.read(hash) : readSubfolder(reader, hash, path, depth);
        visitedTrees.insert(hash);
        referenced.insert(hash);
        for (const FolderEntry& entry : tree->entries) {
            if (entry.kind == FolderEntry::Kind::file) {
                referenced.insert(entry.hash);
                if (entry.chunks && !visitedTrees.contains(*entry.chunks)) {
                    const ChunkList list = ChunkList::read(reader.store(), *entry.chunks, entry.size);
                    for (const ChunkList::Chunk& chunk : list.chunks)
                        referenced.insert(chunk.hash);
                    // Packs are named apart from objects; a kept list keeps every pack it names.
                    for (const ContentHash& pack : list.packs)
                        referenced.insert(pack);
                    visitedTrees.insert(*entry.chunks);
                    referenced.insert(*entry.chunks);
                }
            } else if (entry.kind == FolderEntry::Kind::directory)
                self(self, entry.hash, path.isEmpty() ? entry.name : path + u'/' + entry.name, depth + 1);
        }
    };
    visit(visit, root, QString(), 0);
}

} // namespace vantrel
