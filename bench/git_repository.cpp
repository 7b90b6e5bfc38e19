#include "bench/git_repository.h"

#include "bench/bench_support.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <stdexcept>

namespace vantrel::bench {

namespace {

// Only the repository's own settings count: none of the user's or the system's.
QProcessEnvironment gitEnvironment(const QString& gitDir, const QString& workTree)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("GIT_DIR"), gitDir);
    environment.insert(QStringLiteral("GIT_WORK_TREE"), workTree);
    environment.insert(QStringLiteral("GIT_CONFIG_NOSYSTEM"), QStringLiteral("1"));
    environment.insert(QStringLiteral("GIT_CONFIG_GLOBAL"), QStringLiteral("/dev/null"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    return environment;
}

} // namespace

GitRepository::GitRepository(QString gitDir, QString workTree)
    : m_gitDir(std::move(gitDir)),
      m_workTree(std::move(workTree))
{
}

QString GitRepository::version()
{
    try {
        return runProgram(QStringLiteral("git"), {QStringLiteral("--version")},
                          QProcessEnvironment::systemEnvironment());
    } catch (const std::exception&) {
        return {};
    }
}

void GitRepository::create() const
{
    run({QStringLiteral("init"), QStringLiteral("-q")});
    run({QStringLiteral("config"), QStringLiteral("gc.auto"), QStringLiteral("0")});
    run({QStringLiteral("config"), QStringLiteral("user.name"), QStringLiteral("Bench Editor")});
    run({QStringLiteral("config"), QStringLiteral("user.email"), QStringLiteral("bench@example.invalid")});
    run({QStringLiteral("config"), QStringLiteral("commit.gpgSign"), QStringLiteral("false")});
}

void GitRepository::commitFirst(const QString& message) const
{
    run({QStringLiteral("-c"), QStringLiteral("core.looseCompression=0"), QStringLiteral("add"), QStringLiteral("-A")});
    run({QStringLiteral("commit"), QStringLiteral("-q"), QStringLiteral("-m"), message});
}

double GitRepository::timedCommit(const QString& message) const
{
    const auto start = Clock::now();
    runProgram(QStringLiteral("/bin/sh"),
               {QStringLiteral("-c"), QStringLiteral("git add -A && git commit -q -m \"$0\""), message},
               gitEnvironment(m_gitDir, m_workTree));
    syncFileSystemOf(m_gitDir);
    return secondsSince(start);
}

QString GitRepository::head() const
{
    return run({QStringLiteral("rev-parse"), QStringLiteral("HEAD")});
}

void GitRepository::resetSoft(const QString& commit) const
{
    run({QStringLiteral("reset"), QStringLiteral("-q"), QStringLiteral("--soft"), commit});
}

qint64 GitRepository::objectBytes() const
{
    return treeTotals(m_gitDir + QStringLiteral("/objects")).bytes;
}

QString GitRepository::run(const QStringList& arguments) const
{
    return runProgram(QStringLiteral("git"), arguments, gitEnvironment(m_gitDir, m_workTree));
}

} // namespace vantrel::bench
