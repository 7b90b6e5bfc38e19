#include "bench/restic_repository.h"

#include "bench/bench_support.h"

#include <QProcessEnvironment>

#include <stdexcept>

namespace vantrel::bench {

namespace {

QProcessEnvironment resticEnvironment(const QString& cacheFolder)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RESTIC_PASSWORD"), QStringLiteral("bench"));
    environment.insert(QStringLiteral("RESTIC_CACHE_DIR"), cacheFolder);
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    return environment;
}

} // namespace

ResticRepository::ResticRepository(QString path, QString cacheFolder)
    : m_path(std::move(path)),
      m_cacheFolder(std::move(cacheFolder))
{
}

QString ResticRepository::version()
{
    try {
        return runProgram(QStringLiteral("restic"), {QStringLiteral("version")},
                          QProcessEnvironment::systemEnvironment());
    } catch (const std::exception&) {
        return {};
    }
}

void ResticRepository::create() const
{
    run({QStringLiteral("init")});
}

double ResticRepository::timedBackup(const QString& path) const
{
    const auto start = Clock::now();
    run({QStringLiteral("backup"), path});
    syncFileSystemOf(m_path);
    return secondsSince(start);
}

qint64 ResticRepository::bytes() const
{
    return treeTotals(m_path).bytes;
}

QString ResticRepository::run(const QStringList& arguments) const
{
    return runProgram(QStringLiteral("restic"),
                      QStringList{QStringLiteral("--quiet"), QStringLiteral("--repo"), m_path} + arguments,
                      resticEnvironment(m_cacheFolder));
}

} // namespace vantrel::bench
