#include "support/sshfs_team.h"

#include "desktop/system_services.h"
#include "support/engine_test_support.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace vantrel::testing {

namespace {

ClientIdentity identityOf(const Client& who)
{
    return ClientIdentity{who.id, UserIdentity{who.user, who.fullName, who.host}};
}

} // namespace

QString ShareStudio::missing()
{
    return qEnvironmentVariableIsEmpty("VANTREL_SHARE_MOUNTS") ? SshfsShare::missing() : QString();
}

ShareStudio::ShareStudio(const QString& lockChild, const StudioShareMaker& makeShare, const QStringList& mountOptions)
    : m_lockChild(lockChild)
{
    const QStringList given = qEnvironmentVariable("VANTREL_SHARE_MOUNTS").split(u':', Qt::SkipEmptyParts);
    QStringList mounts;
    if (makeShare) {
        StudioShare made = makeShare(m_dir.path());
        mounts = made.mounts;
        m_serverFolder = made.serverFolder;
        m_stopShare = made.stop;
        m_bundleName = QStringLiteral("Studio.vantrelteam");
        m_error = made.error;
    } else if (given.isEmpty()) {
        m_share = std::make_unique<SshfsShare>(m_dir.path());
        mounts << m_share->mount(QStringLiteral("cached"), mountOptions)
               << m_share->mount(QStringLiteral("uncached"), QStringList{QStringLiteral("cache=no")} + mountOptions);
        m_serverFolder = m_share->exportFolder();
        m_bundleName = QStringLiteral("Studio.vantrelteam");
        m_error = m_share->error();
    } else if (given.size() == 2) {
        // A share that outlives the test: a team bundle of its own each time.
        mounts = given;
        m_serverFolder = given[0];
        m_bundleName = QStringLiteral("Studio-%1.vantrelteam").arg(QFileInfo(m_dir.path()).fileName());
    } else {
        m_error = QStringLiteral("VANTREL_SHARE_MOUNTS must name two mounts, separated by a colon");
        return;
    }
    m_cached = computer(QStringLiteral("bay-cached"), mounts.value(0));
    m_uncached = computer(QStringLiteral("bay-uncached"), mounts.value(1));
    for (qsizetype other = 2; other < mounts.size(); ++other)
        m_others << computer(QStringLiteral("bay-%1").arg(other + 1), mounts[other]);
    if (m_cached.mount.isEmpty() || m_uncached.mount.isEmpty()) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("the share could not be mounted twice");
        return;
    }
    m_error.clear();
    // Ids of this studio's own (the test process's) clients differ from another studio's: two
    // suites may run at once, and an id is one process's at a time on this computer.
    const Client setup = client(m_cached, QStringLiteral("setup-") + studioTag());
    try {
        m_setup = TeamBundle::create(root(m_cached), localFileManager(m_dir.filePath(QStringLiteral("setup"))),
                                     std::make_shared<RecordingWorkspace>(), identityOf(setup));
        m_setup->setPollInterval(std::chrono::hours(1));
    } catch (const Error& error) {
        m_error = QStringLiteral("cannot make the team bundle on the share: ") + error.debugDescription();
    }
}

// The team bundle is closed before the share goes away.
ShareStudio::~ShareStudio()
{
    m_setup.reset();
    if (m_share)
        m_share->stop();
    if (m_stopShare)
        m_stopShare();
}

QString ShareStudio::studioTag() const
{
    return QFileInfo(m_dir.path()).fileName().right(6);
}

Computer ShareStudio::computer(const QString& name, const QString& mount)
{
    Computer made{name, mount, m_dir.filePath(name), QStringLiteral("machine-") + name};
    // A runtime folder is private to its user.
    QDir().mkpath(made.local + QStringLiteral("/runtime"));
    QFile::setPermissions(made.local + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return made;
}

Client ShareStudio::client(const Computer& on, const QString& tag)
{
    return Client{QStringLiteral("CLIENT-%1-%2").arg(tag.toUpper(), on.name.toUpper()), tag.toLower(),
                  QStringLiteral("Editor ") + tag, on.name};
}

QString ShareStudio::scratch(const QString& name)
{
    const QString path = m_dir.filePath(QStringLiteral("scratch/%1-%2").arg(name).arg(++m_count));
    QDir().mkpath(path);
    return path;
}

Service ShareStudio::import(const QString& source)
{
    return syncWait(VersioningService::import(VersioningServiceType::document, source, std::nullopt, std::nullopt,
                                              std::nullopt, QStringLiteral("Imported"), DocumentApplication::none(),
                                              m_setup, nullptr, nullptr));
}

std::unique_ptr<LockChild> ShareStudio::spawn(const Computer& on, const Client& who, const QStringList& operation,
                                              ChildInput input)
{
    const QString home = on.local + QStringLiteral("/home/") + who.user;
    const QStringList arguments =
        QStringList{QStringLiteral("XDG_RUNTIME_DIR=") + on.local + QStringLiteral("/runtime"),
                    QStringLiteral("HOME=") + home,
                    QStringLiteral("XDG_DATA_HOME=") + home + QStringLiteral("/.local/share"),
                    QStringLiteral("XDG_CACHE_HOME=") + home + QStringLiteral("/.cache"),
                    QStringLiteral("VANTREL_MACHINE_ID=") + on.machineId,
                    m_lockChild,
                    root(on),
                    home + QStringLiteral("/vantrel"),
                    who.id,
                    who.user,
                    who.fullName,
                    who.host}
        + operation;
    auto child = std::make_unique<LockChild>();
    QDir().mkpath(home);
    child->start(QStandardPaths::findExecutable(QStringLiteral("env")), arguments, input,
                 scratch(QStringLiteral("stderr")) + QStringLiteral("/") + who.user + QStringLiteral(".txt"));
    return child;
}

Result ShareStudio::run(const Computer& on, const Client& who, const QStringList& operation)
{
    const auto child = spawn(on, who, operation);
    finish({child.get()}, std::chrono::seconds(120));
    const Result result = child->result();
    if (!result.present || !child->exitedCleanly())
        qWarning("lock_child %s: %s", qPrintable(operation.join(u' ')), qPrintable(child->describe()));
    return result;
}

std::shared_ptr<TeamBundle> ShareStudio::reader()
{
    const Client who =
        client(Computer{QStringLiteral("server")}, QStringLiteral("reader%1-%2").arg(++m_count).arg(studioTag()));
    auto team = TeamBundle::open(m_serverFolder + u'/' + m_bundleName, localFileManager(m_dir.filePath(who.id)),
                                 std::make_shared<RecordingWorkspace>(), identityOf(who));
    team->setPollInterval(std::chrono::hours(1));
    return team;
}

} // namespace vantrel::testing
