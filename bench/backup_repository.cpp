#include "bench/backup_repository.h"

#include "bench/bench_support.h"

#include <QProcessEnvironment>

#include <exception>

namespace vantrel::bench {

namespace {

QString program(BackupRepository::Tool tool)
{
    return tool == BackupRepository::Tool::restic ? QStringLiteral("restic") : QStringLiteral("borg");
}

} // namespace

BackupRepository::BackupRepository(Tool tool, const QString& folder)
    : m_tool(tool),
      m_path(folder + u'/' + program(tool)),
      m_cacheFolder(m_path + QStringLiteral("-cache"))
{
}

QString BackupRepository::version(Tool tool)
{
    try {
        return runProgram(program(tool),
                          {tool == Tool::restic ? QStringLiteral("version") : QStringLiteral("--version")},
                          QProcessEnvironment::systemEnvironment())
            .section(u'\n', 0, 0);
    } catch (const std::exception&) {
        return {};
    }
}

void BackupRepository::create() const
{
    if (m_tool == Tool::restic)
        run({QStringLiteral("init")});
    else
        run({QStringLiteral("init"), QStringLiteral("--encryption=repokey-blake2"), m_path});
}

double BackupRepository::timedBackup(const QString& path) const
{
    const auto start = Clock::now();
    if (m_tool == Tool::restic)
        run({QStringLiteral("backup"), path});
    else // borg fills in the time: every snapshot gets a name of its own
        run({QStringLiteral("create"), m_path + QStringLiteral("::{now:%Y-%m-%dT%H:%M:%S.%f}"), path});
    syncFileSystemOf(m_path);
    return secondsSince(start);
}

qint64 BackupRepository::bytes() const
{
    return treeTotals(m_path).bytes;
}

QString BackupRepository::run(const QStringList& arguments) const
{
    // A fixed password; the tool's cache (borg: its keys, security notes and files cache too) in
    // the run's folder, never the user's home.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    if (m_tool == Tool::restic) {
        environment.insert(QStringLiteral("RESTIC_PASSWORD"), QStringLiteral("bench"));
        environment.insert(QStringLiteral("RESTIC_CACHE_DIR"), m_cacheFolder);
        return runProgram(program(m_tool),
                          QStringList{QStringLiteral("--quiet"), QStringLiteral("--repo"), m_path} + arguments,
                          environment);
    }
    environment.insert(QStringLiteral("BORG_PASSPHRASE"), QStringLiteral("bench"));
    environment.insert(QStringLiteral("BORG_BASE_DIR"), m_cacheFolder);
    environment.insert(QStringLiteral("BORG_RELOCATED_REPO_ACCESS_IS_OK"), QStringLiteral("yes"));
    return runProgram(program(m_tool), arguments, environment);
}

} // namespace vantrel::bench
