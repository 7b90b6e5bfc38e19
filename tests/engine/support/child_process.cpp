#include "support/child_process.h"

#include "engine/storage/manifest.h"
#include "support/engine_test_support.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vantrel::testing {

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

QMap<QString, QByteArray> storedTree(const ContentStore& store, const ContentHash& manifestHash)
{
    QMap<QString, QByteArray> tree;
    for (const ManifestEntry& entry : Manifest::fromJson(store.readBytes(manifestHash)).entries) {
        switch (entry.kind) {
        case ManifestEntry::Kind::directory:
            tree.insert(entry.path, "dir");
            break;
        case ManifestEntry::Kind::symlink:
            tree.insert(entry.path, "-> " + QFile::encodeName(entry.target));
            break;
        case ManifestEntry::Kind::file:
            tree.insert(entry.path, store.readBytes(entry.hash) + (entry.executable ? "+x" : ""));
            break;
        }
    }
    return tree;
}

std::shared_ptr<FileManaging> localFileManager(const QString& localFolder)
{
    return std::make_shared<SystemFileManager>(localFolder + QStringLiteral("/data"), localFolder + QStringLiteral("/cache"),
                                               localFolder + QStringLiteral("/downloads"));
}

std::shared_ptr<VersioningService> openService(const std::shared_ptr<TeamBundle>& team, VersioningServiceType type,
                                               const IdFor<VersionBundle>& id)
{
    return syncWait(VersioningService::open(type, id, std::nullopt, std::nullopt, team, nullptr, nullptr, defaultS3Factory()));
}

QMap<QString, QByteArray> exportedTree(const std::shared_ptr<VersioningService>& service,
                                       const std::optional<IdFor<Versions>>& version, const QString& folder)
{
    const QString path = syncWait(service->exportVersion(version, folder, defaultS3Factory()));
    const QMap<QString, QByteArray> tree = describeTree(path);
    QDir(folder).removeRecursively();
    return tree;
}

pid_t spawnChild(QList<QByteArray> argv, const QByteArray& errorPath, int input, int& output, QString& failure)
{
    std::vector<char*> pointers;
    for (QByteArray& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    output = -1;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        failure = QStringLiteral("pipe failed");
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (input >= 0)
        posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    else if (input == nullInput)
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0].constData(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (spawned != 0) {
        ::close(pipeEnds[0]);
        failure = QStringLiteral("cannot start %1: %2").arg(QString::fromLocal8Bit(argv[0]), QString::fromLocal8Bit(strerror(spawned)));
        return -1;
    }
    output = pipeEnds[0];
    return pid;
}

int reapChild(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace vantrel::testing
