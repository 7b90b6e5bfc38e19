#include "support/engine_test_support.h"

#include "desktop/system_services.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/storage_error.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::testing {

QStringList entriesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QStringList objectsIn(const QString& storeFolder)
{
    QStringList objects;
    for (const QString& shard : entriesIn(storeFolder)) {
        if (shard != u"tmp" && shard != u"packs")
            objects += entriesIn(storeFolder + u'/' + shard);
    }
    return objects;
}

QStringList packsIn(const QString& storeFolder)
{
    QStringList packs;
    const QString folder = storeFolder + QStringLiteral("/packs");
    for (const QString& shard : entriesIn(folder)) {
        if (!shard.startsWith(u'.'))
            for (const QString& name : entriesIn(folder + u'/' + shard))
                packs << shard + u'/' + name;
    }
    return packs;
}

TeamFixture::TeamFixture(const QString& localParent)
    : m_localParent(localParent.isEmpty() ? m_dir.filePath(QStringLiteral("local")) : localParent)
{
    m_root = m_dir.filePath(QStringLiteral("Studio.vantrelteam"));
    TeamBundle::create(
        m_root,
        std::make_shared<SystemFileManager>(localFolder(QStringLiteral("creator")) + QStringLiteral("/data"),
                                            localFolder(QStringLiteral("creator")) + QStringLiteral("/cache"),
                                            localFolder(QStringLiteral("creator")) + QStringLiteral("/downloads")),
        std::make_shared<RecordingWorkspace>(),
        ClientIdentity{QStringLiteral("CREATOR"),
                       UserIdentity{QStringLiteral("creator"), QStringLiteral("Creator"), QStringLiteral("setup")}});
}

TeamFixture::~TeamFixture() = default;

QString TeamFixture::scratch(const QString& name) const
{
    const QString path = m_dir.filePath(QStringLiteral("scratch/") + name);
    QDir().mkpath(path);
    return path;
}

std::shared_ptr<TeamBundle> TeamFixture::client(const QString& userName)
{
    auto& team = m_clients[userName];
    if (!team) {
        const QString local = localFolder(userName);
        team = TeamBundle::open(m_root,
                                std::make_shared<SystemFileManager>(local + QStringLiteral("/data"),
                                                                    local + QStringLiteral("/cache"),
                                                                    local + QStringLiteral("/downloads")),
                                std::make_shared<RecordingWorkspace>(),
                                ClientIdentity{QStringLiteral("CLIENT-") + userName.toUpper(),
                                               UserIdentity{userName, userName + QStringLiteral(" Editor"),
                                                            QStringLiteral("host-") + userName}});
        team->setPollInterval(std::chrono::hours(1)); // tests poll by hand
    }
    return team;
}

QMap<QString, QByteArray> describeTree(const QString& root)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        const QString relative = QDir(root).relativeFilePath(path);
        if (info.isSymLink()) {
            QByteArray target(4096, '\0');
            const auto length = ::readlink(QFile::encodeName(path).constData(), target.data(), target.size());
            tree.insert(relative, "-> " + target.left(length < 0 ? 0 : length));
        } else if (info.isDir()) {
            tree.insert(relative, "dir");
        } else if (!info.isFile()) {
            tree.insert(relative, "special"); // a pipe or socket: never opened
        } else {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            tree.insert(relative, file.readAll() + (info.isExecutable() ? "+x" : ""));
        }
    }
    return tree;
}

void setAge(const QString& path, qint64 seconds)
{
    const timespec then{::time(nullptr) - seconds, 0};
    const timespec times[2] = {then, then};
    if (::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        qFatal("cannot age %s", qPrintable(path));
}

QString recordPath(const QString& journal, const QString& client, qint64 seq)
{
    return QStringLiteral("%1/%2/%3.json").arg(journal, client).arg(seq, 12, 10, QLatin1Char('0'));
}

QByteArray noise(quint32 seed, qsizetype size)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; i += 4) {
        const quint32 word = generator.generate();
        for (qsizetype j = 0; j < 4 && i + j < size; ++j)
            bytes[i + j] = char(word >> (8 * j));
    }
    return bytes;
}

void makeProject(const QString& path, quint32 seed, int fileCount, qsizetype totalSize, int reelCount)
{
    QRandomGenerator sizes(seed ^ 0x5eedu);
    const qsizetype mean = totalSize / fileCount;
    writeFile(path + QStringLiteral("/project.drp"), "<project seed=\"" + QByteArray::number(seed) + "\"/>");
    for (int i = 1; i < fileCount; ++i) {
        const qsizetype size = mean / 2 + qsizetype(sizes.bounded(quint32(mean)));
        writeFile(path + QStringLiteral("/media/reel%1/clip%2.bin").arg(i % reelCount).arg(i),
                  noise(seed * 7919u + quint32(i), size));
    }
    writeFile(path + QStringLiteral("/render.sh"), "#!/bin/sh\necho " + QByteArray::number(seed) + "\n");
    QFile::setPermissions(path + QStringLiteral("/render.sh"),
                          QFile::permissions(path + QStringLiteral("/render.sh")) | QFile::ExeOwner);
    QDir().mkpath(path + QStringLiteral("/cache/empty"));
    QFile::link(QStringLiteral("project.drp"), path + QStringLiteral("/current.drp"));
}

QByteArray storedContent(const ContentStore& store, const ManifestEntry& entry)
{
    if (!entry.chunks)
        return store.readBytes(entry.hash);
    const ChunkList list = ChunkList::read(store, *entry.chunks, entry.size);
    if (list.packed()) {
        // Checked by the copy-out itself, chunk by chunk and against the list.
        QTemporaryDir out;
        const QString file = out.filePath(QStringLiteral("content"));
        store.copyOut({entry.hash, entry.size, entry.chunks}, file, false);
        return contentOf(file);
    }
    QByteArray bytes;
    for (const ChunkList::Chunk& chunk : list.chunks)
        bytes += store.readBytes(chunk.hash, chunk.size);
    if (hashBytes(bytes) != entry.hash)
        throw StorageError::corrupt(store.pathFor(*entry.chunks), QStringLiteral("The chunks don't add up."));
    return bytes;
}

QMap<QString, QByteArray> storedTree(const ContentStore& store, const ContentHash& manifestHash)
{
    QMap<QString, QByteArray> tree;
    for (const ManifestEntry& entry : readTree(store, manifestHash).entries) {
        switch (entry.kind) {
        case ManifestEntry::Kind::directory:
            tree.insert(entry.path, "dir");
            break;
        case ManifestEntry::Kind::symlink:
            tree.insert(entry.path, "-> " + QFile::encodeName(entry.target));
            break;
        case ManifestEntry::Kind::file:
            tree.insert(entry.path, storedContent(store, entry) + (entry.executable ? "+x" : ""));
            break;
        }
    }
    return tree;
}

std::shared_ptr<FileManaging> localFileManager(const QString& localFolder)
{
    return std::make_shared<SystemFileManager>(localFolder + QStringLiteral("/data"),
                                               localFolder + QStringLiteral("/cache"),
                                               localFolder + QStringLiteral("/downloads"));
}

std::shared_ptr<VersioningService> openService(const std::shared_ptr<TeamBundle>& team, VersioningServiceType type,
                                               const IdFor<VersionBundle>& id)
{
    return syncWait(
        VersioningService::open(type, id, std::nullopt, std::nullopt, team, nullptr, nullptr, defaultS3Factory()));
}

QMap<QString, QByteArray> exportedTree(const std::shared_ptr<VersioningService>& service,
                                       const std::optional<IdFor<Versions>>& version, const QString& folder)
{
    const QString path = syncWait(service->exportVersion(version, folder, defaultS3Factory()));
    const QMap<QString, QByteArray> tree = describeTree(path);
    QDir(folder).removeRecursively();
    return tree;
}

} // namespace vantrel::testing
