// restic beside the engine: a repository the benchmark backs the same file up into, with the
// restic of the system (Debian's package, installed by bench/run.sh).

#pragma once

#include <QString>

namespace vantrel::bench {

class ResticRepository {
public:
    // The repository's folder `path` (made by create()), its local cache in `cacheFolder`.
    ResticRepository(QString path, QString cacheFolder);

    // The version of the restic on the PATH, e.g. "restic 0.14.0 ..."; empty when there is none.
    static QString version();

    // `restic init`, with a fixed password.
    void create() const;
    // `restic backup PATH`, then syncfs() of the repository's disk: the seconds until the
    // snapshot is on disk.
    double timedBackup(const QString& path) const;
    // The size of every file in the repository (what du would sum).
    qint64 bytes() const;

private:
    QString run(const QStringList& arguments) const;

    QString m_path;
    QString m_cacheFolder;
};

} // namespace vantrel::bench
