// Backup tools beside the engine: a repository the benchmark backs the same files up into, with
// the tool of the system (Debian's package, installed by bench/run.sh).

#pragma once

#include <QString>
#include <QStringList>

namespace vantrel::bench {

class BackupRepository {
public:
    // restic: `restic init`, `restic backup PATH`. Borg with its defaults: `borg init
    // --encryption=repokey-blake2` (a key in the repository), `borg create REPOSITORY::<time> PATH`
    // (lz4 compression).
    enum class Tool { restic, borg };

    // The repository in `folder`/<tool> (made by create()), the tool's local cache beside it in
    // `folder`/<tool>-cache.
    BackupRepository(Tool tool, const QString& folder);

    // The first line the tool prints for its version, e.g. "restic 0.14.0 ..."; empty when it is
    // not on the PATH.
    static QString version(Tool tool);

    // Makes the repository, with a fixed password.
    void create() const;
    // A backup of `path` into a new snapshot, then syncfs() of the repository's disk: the seconds
    // until the snapshot is on disk.
    double timedBackup(const QString& path) const;
    // The size of every file in the repository (what du would sum).
    qint64 bytes() const;

private:
    QString run(const QStringList& arguments) const;

    Tool m_tool;
    QString m_path;
    QString m_cacheFolder;
};

} // namespace vantrel::bench
