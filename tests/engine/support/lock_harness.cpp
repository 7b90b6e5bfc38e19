#include "support/lock_harness.h"

#include "desktop/system_services.h"
#include "support/engine_test_support.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace vantrel::testing {

Client client(const QString& tag)
{
    return Client{QStringLiteral("CLIENT-") + tag.toUpper(), tag.toLower(), QStringLiteral("Editor ") + tag,
                  QStringLiteral("bay-") + tag.toLower()};
}

// ---- Content --------------------------------------------------------------------------------

void makeLibrary(const QString& path, quint32 seed, int eventCount)
{
    writeFile(path + QStringLiteral("/Settings.plist"), "settings " + QByteArray::number(seed));
    for (int event = 1; event <= eventCount; ++event) {
        const QString folder = path + QStringLiteral("/Day %1.videoevent").arg(event);
        writeFile(folder + QStringLiteral("/Info.plist"), "event " + QByteArray::number(event));
        writeFile(folder + QStringLiteral("/Original Media/clip.mov"), noise(seed * 31u + quint32(event), 3000));
    }
}

void emptyFolder(const QString& path)
{
    for (const QFileInfo& entry :
         QDir(path).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.absoluteFilePath()).removeRecursively();
        else
            QFile::remove(entry.absoluteFilePath());
    }
}

// ---- Child processes ------------------------------------------------------------------------

std::chrono::steady_clock::time_point steadyFromNanoseconds(qint64 nanoseconds)
{
    using Clock = std::chrono::steady_clock;
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(nanoseconds)));
}

QList<Result> LockChild::results() const
{
    QList<Result> results;
    qint64 at = 0;
    for (const PrintedLine& line : lines()) {
        if (line.text.startsWith("at ")) {
            at = line.text.mid(3).toLongLong();
        } else if (line.text.startsWith("result ")) {
            const QString text = QString::fromUtf8(line.text.mid(7));
            Result result;
            result.present = true;
            result.at = steadyFromNanoseconds(at);
            if (text == QLatin1String("ok") || text.startsWith(QLatin1String("ok "))) {
                result.ok = true;
                result.text = text.mid(3);
            } else {
                const QString rest = text.mid(6); // after "error "
                const qsizetype space = rest.indexOf(QLatin1Char(' '));
                result.kind = rest.left(space);
                result.text = space < 0 ? QString() : rest.mid(space + 1);
            }
            results << result;
        }
    }
    return results;
}

Result LockChild::result() const
{
    const auto all = results();
    return all.isEmpty() ? Result{} : all.last();
}

// ---- The team bundle ------------------------------------------------------------------------

Studio::Studio(const QString& lockChild) : m_lockChild(lockChild)
{
    m_root = m_dir.filePath(QStringLiteral("Studio.vantrelteam"));
    m_setup = TeamBundle::create(m_root, fileManager(QStringLiteral("SETUP")), std::make_shared<RecordingWorkspace>(),
                                 identity(client(QStringLiteral("setup"))));
    m_setup->setPollInterval(std::chrono::hours(1));
    QDir().mkpath(m_dir.filePath(QStringLiteral("stderr")));
}

QString Studio::scratch(const QString& name)
{
    const QString path = m_dir.filePath(QStringLiteral("scratch/%1-%2").arg(name).arg(++m_count));
    QDir().mkpath(path);
    return path;
}

Service Studio::import(VersioningServiceType type, const QString& source)
{
    return syncWait(VersioningService::import(type, source, std::nullopt, std::nullopt, std::nullopt,
                                              QStringLiteral("Imported"), DocumentApplication::none(), m_setup, nullptr,
                                              nullptr));
}

Service Studio::importProject(const QString& folder, const QString& fileName, quint32 seed, int fileCount,
                              qsizetype totalSize)
{
    const QString source = scratch(folder) + u'/' + fileName;
    makeProject(source, seed, fileCount, totalSize, 5);
    return import(VersioningServiceType::document, source);
}

std::shared_ptr<TeamBundle> Studio::reader()
{
    const Client who = client(QStringLiteral("reader%1").arg(++m_count));
    auto team = TeamBundle::open(m_root, fileManager(who.id), std::make_shared<RecordingWorkspace>(), identity(who));
    team->setPollInterval(std::chrono::hours(1));
    return team;
}

Service Studio::service(const std::shared_ptr<TeamBundle>& team, VersioningServiceType type,
                        const IdFor<VersionBundle>& id)
{
    return openService(team, type, id);
}

std::unique_ptr<LockChild> Studio::spawn(const Client& who, const QStringList& operation, ChildInput input)
{
    const QStringList arguments = QStringList{m_root, local(who), who.id, who.user, who.fullName, who.host} + operation;
    auto child = std::make_unique<LockChild>();
    child->start(m_lockChild, arguments, input, m_dir.filePath(QStringLiteral("stderr/%1.txt").arg(++m_count)));
    return child;
}

Result Studio::run(const Client& who, const QStringList& operation)
{
    const auto child = spawn(who, operation);
    finish({child.get()});
    const Result result = child->result();
    if (!result.present || !child->exitedCleanly())
        qWarning("lock_child %s: %s", qPrintable(operation.join(u' ')), qPrintable(child->describe()));
    return result;
}

QMap<QString, QByteArray> Studio::exported(const Service& service, std::optional<IdFor<Versions>> version)
{
    return exportedTree(service, version, scratch(QStringLiteral("export")));
}

QMap<QString, QByteArray> Studio::lockFolder() const
{
    QMap<QString, QByteArray> entries;
    const QDir folder(m_root + QStringLiteral("/locks"));
    for (const QString& name :
         folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (name.endsWith(QLatin1String(".released")))
            continue;
        entries.insert(name, contentOf(folder.filePath(name)));
    }
    return entries;
}

QHash<IdFor<VersionBundle>, LockRecord> Studio::lockRecords() const
{
    QHash<IdFor<VersionBundle>, LockRecord> records;
    const auto entries = lockFolder();
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (!it.key().endsWith(QLatin1String(".lock")))
            continue;
        if (const auto id = IdFor<VersionBundle>::fromString(QStringView(it.key()).chopped(5)))
            records.insert(*id, LockRecord::fromJson(it.value()));
    }
    return records;
}

int Studio::storedObjects() const
{
    int count = 0;
    QDirIterator it(m_root + QStringLiteral("/objects"), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (!it.next().contains(QLatin1String("/objects/tmp/")))
            ++count;
    }
    return count;
}

bool Studio::keepsNothingLocally(const Client& who) const
{
    for (const QString& kind : {QStringLiteral("checkouts"), QStringLiteral("working")}) {
        QDirIterator it(local(who) + QStringLiteral("/data/") + kind, QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        if (it.hasNext())
            return false;
    }
    return true;
}

QStringList Studio::atticEntries(const IdFor<VersionBundle>& id) const
{
    QStringList paths;
    const QDir folder(m_root + QStringLiteral("/attic/") + id.toString());
    for (const QString& name : folder.entryList({QStringLiteral("*.json")}, QDir::Files))
        paths << folder.filePath(name);
    return paths;
}

std::shared_ptr<FileManaging> Studio::fileManager(const QString& clientId) const
{
    return localFileManager(m_dir.filePath(QStringLiteral("local/") + clientId));
}

ClientIdentity Studio::identity(const Client& who)
{
    return ClientIdentity{who.id, UserIdentity{who.user, who.fullName, who.host}};
}

int countOf(const QList<ActivityInfo>& activities, ActivityInfo::StateKind kind)
{
    return int(std::count_if(activities.begin(), activities.end(),
                             [kind](const ActivityInfo& info) { return info.state.kind == kind; }));
}

QString joined(const QStringList& list)
{
    return list.join(QStringLiteral(", "));
}

} // namespace vantrel::testing
