// A team bundle on a folder shared by a group: what any member makes in it is the group's to
// read and write whatever that member's umask, a member of the group works in a bundle another
// made, and a user outside the group opens it for reading and is told why. The part with other
// users runs them as real processes, so it needs root; the modes alone are checked as anybody.

#include "desktop/system_services.h"
#include "engine/storage/shared_folders.h"
#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "support/engine_test_support.h"
#include "support/sync_wait.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

struct User {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
};

constexpr gid_t team = 47100;
const User ana{47101, 47101, {47101, team}};
const User ben{47102, 47102, {47102, team}};
const User eve{47103, 47103, {47103}}; // not in the team's group

// `root` and every entry below it, by path relative to `root`, with its status.
QList<std::pair<QString, struct stat>> statusBelow(const QString& root)
{
    QList<std::pair<QString, struct stat>> all;
    QDirIterator entries(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                         QDirIterator::Subdirectories);
    for (QString path = root; !path.isEmpty(); path = entries.hasNext() ? entries.next() : QString()) {
        struct stat status {};
        ::lstat(QFile::encodeName(path).constData(), &status);
        all.append({path.mid(root.size()), status});
    }
    return all;
}

// The entries (`root` too) whose modes don't let the group use them as a member must, or that
// belong to another group than `group`: each path with its mode in octal and its group.
QStringList notShared(const QString& root, std::optional<gid_t> group = std::nullopt)
{
    QStringList wrong;
    for (const auto& [path, status] : statusBelow(root)) {
        const mode_t wanted = S_ISDIR(status.st_mode) ? (S_IRWXG | S_ISGID) : (S_IRGRP | S_IWGRP);
        if ((status.st_mode & wanted) != wanted || (group && status.st_gid != *group))
            wrong << QStringLiteral("%1 %2 %3").arg(path).arg(status.st_mode & 07777, 0, 8).arg(status.st_gid);
    }
    return wrong;
}

// The entries below `folder` that the group may write.
QStringList groupWritable(const QString& folder)
{
    QStringList writable;
    for (const auto& [path, status] : statusBelow(folder)) {
        if (!path.isEmpty() && (status.st_mode & S_IWGRP))
            writable << path;
    }
    return writable;
}

QJsonObject markerOf(const QString& root)
{
    return QJsonDocument::fromJson(contentOf(root + QStringLiteral("/team.json"))).object();
}

// Writes `sharing` into the marker of the bundle at `root` as the group's file.
void recordSharing(const QString& root, const QJsonValue& sharing)
{
    QJsonObject marker = markerOf(root);
    marker.insert(QStringLiteral("sharing"), sharing);
    const QString path = root + QStringLiteral("/team.json");
    struct stat status {};
    ::stat(QFile::encodeName(path).constData(), &status);
    writeFile(path, QJsonDocument(marker).toJson());
    [[maybe_unused]] const int owned = ::chown(QFile::encodeName(path).constData(), status.st_uid, status.st_gid);
    ::chmod(QFile::encodeName(path).constData(), 0664);
}

// Runs group_child as `user` with umask `mask`; its output, one line each.
QStringList runAs(const User& user, const QStringList& arguments, mode_t mask = 022)
{
    QProcess child;
    child.setChildProcessModifier([user, mask] {
        if (::setgroups(user.groups.size(), user.groups.data()) != 0 || ::setgid(user.gid) != 0
            || ::setuid(user.uid) != 0)
            ::_exit(3);
        ::umask(mask);
    });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), arguments.value(1));
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral(VANTREL_GROUP_CHILD), arguments);
    if (!child.waitForFinished(120000))
        child.kill();
    return QString::fromUtf8(child.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// A folder of the team's group (setgid, group-writable) where a team bundle is to be made, a home
// for each user and two documents to add, for members run as real users.
struct GroupFolder {
    QTemporaryDir dir;
    QString shared = dir.filePath(QStringLiteral("shared"));
    QString root = shared + QStringLiteral("/Team.vantrelteam");

    bool make()
    {
        writeFile(dir.filePath(QStringLiteral("Cut.kdenlive")), "<mlt/>");
        // Large enough to be stored in chunks, in packs of their own.
        writeFile(dir.filePath(QStringLiteral("Titles.srt")), noise(7, 9 << 20));
        return ::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0 && QDir().mkpath(shared)
               && ::chown(QFile::encodeName(shared).constData(), 0, team) == 0
               && ::chmod(QFile::encodeName(shared).constData(), 02775) == 0;
    }
    QString home(const User& user) const
    {
        const QString path = dir.filePath(QStringLiteral("home-%1").arg(user.uid));
        QDir().mkpath(path);
        [[maybe_unused]] const int changed = ::chown(QFile::encodeName(path).constData(), user.uid, user.gid);
        return path;
    }
};

} // namespace

class GroupShareTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void whatIsMadeInAGroupsBundleIsTheGroupsWhateverTheUmask()
    {
        const mode_t umaskBefore = ::umask(022);
        const auto restore = qScopeGuard([umaskBefore] { ::umask(umaskBefore); });
        QTemporaryDir dir;
        const QString shared = dir.filePath(QStringLiteral("shared")), own = dir.filePath(QStringLiteral("own"));
        QVERIFY(QDir().mkpath(shared) && QDir().mkpath(own));
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 02775) == 0);
        const auto files = localFileManager(dir.filePath(QStringLiteral("local")));
        const auto workspace = std::make_shared<RecordingWorkspace>();
        const ClientIdentity client{QStringLiteral("ANA"), {}};
        const QString document = dir.filePath(QStringLiteral("Cut.kdenlive"));
        writeFile(document, "<mlt/>");
        // Everything a client does that makes files: import, check-out, check-in, the attic,
        // the log, and a second client's journal.
        const auto work = [&](const QString& root) {
            const auto bundle = TeamBundle::open(root, files, workspace, client);
            const auto imported = syncWait(VersioningService::import(
                VersioningServiceType::document, document, std::nullopt, std::nullopt, std::nullopt,
                QStringLiteral("First"), DocumentApplication::none(), bundle, files, workspace));
            const QString copy = syncWait(imported->checkOut({}, {.autoSave = false}, defaultS3Factory()));
            writeFile(copy, "<mlt>cut</mlt>");
            syncWait(imported->checkIn(QStringLiteral("Cut"), defaultS3Factory()));
            bundle->keepInAttic(imported->id(), document, QStringLiteral("kept"));
            bundle->log().event(QStringLiteral("worked"), QStringLiteral("test"));
            TeamBundle::open(root, localFileManager(dir.filePath(QStringLiteral("mate"))), workspace,
                             ClientIdentity{QStringLiteral("MATE"), {}})
                ->log()
                .event(QStringLiteral("mate"), QStringLiteral("test"));
        };

        const QString teamRoot = shared + QStringLiteral("/Team.vantrelteam");
        TeamBundle::create(teamRoot, files, workspace, client);
        QCOMPARE(markerOf(teamRoot).value(QStringLiteral("sharing")).toString(), QStringLiteral("group"));
        work(teamRoot);
        QCOMPARE(notShared(teamRoot), QStringList());

        // Elsewhere, and in a bundle whose description says nothing of it (made before), files
        // keep the modes the umask gives.
        const QString own_ = own + QStringLiteral("/Own.vantrelteam");
        TeamBundle::create(own_, files, workspace, client);
        QCOMPARE(markerOf(own_).value(QStringLiteral("sharing")).toString(), QStringLiteral("umask"));
        work(own_);
        QCOMPARE(groupWritable(own_), QStringList());
        const QString older = shared + QStringLiteral("/Older.vantrelteam");
        TeamBundle::create(older, files, workspace, client);
        QJsonObject marker = markerOf(older);
        marker.remove(QStringLiteral("sharing"));
        writeFile(older + QStringLiteral("/team.json"), QJsonDocument(marker).toJson());
        work(older);
        QCOMPARE(groupWritable(older + QStringLiteral("/logs")), QStringList());
        QCOMPARE(groupWritable(older + QStringLiteral("/journal/ANA")), QStringList());
    }

    // A marker whose sharing is neither "group" nor "umask" is damage: reported, and the folder
    // decides, so that a member with umask 077 still makes what the group can read and write.
    void anUnknownSharingIsReportedAndTheFolderDecides()
    {
        const mode_t umaskBefore = ::umask(077);
        const auto restore = qScopeGuard([umaskBefore] { ::umask(umaskBefore); });
        QTemporaryDir dir;
        const QString shared = dir.filePath(QStringLiteral("shared"));
        QVERIFY(QDir().mkpath(shared));
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 02775) == 0);
        const auto files = localFileManager(dir.filePath(QStringLiteral("local")));
        const auto workspace = std::make_shared<RecordingWorkspace>();
        const QString root = shared + QStringLiteral("/Team.vantrelteam");
        TeamBundle::create(root, files, workspace, ClientIdentity{QStringLiteral("ANA"), {}});
        const QString document = dir.filePath(QStringLiteral("Cut.kdenlive"));
        writeFile(document, "<mlt/>");
        int client = 0;
        for (const QJsonValue& sharing : {QJsonValue(QStringLiteral("GROUP")), QJsonValue(1), QJsonValue()}) {
            recordSharing(root, sharing);
            const auto bundle =
                TeamBundle::open(root, files, workspace, ClientIdentity{QStringLiteral("C%1").arg(++client), {}});
            QCOMPARE(bundle->problems().size(), 1);
            QVERIFY2(bundle->problems()[0].contains(QStringLiteral("\"sharing\"")), qPrintable(bundle->problems()[0]));
            syncWait(VersioningService::import(VersioningServiceType::document, document, std::nullopt, std::nullopt,
                                               std::nullopt, QStringLiteral("First"), DocumentApplication::none(),
                                               bundle, files, workspace));
        }
        QCOMPARE(notShared(root), QStringList());
    }

    // The same with real users: a member with umask 077 works in a bundle whose marker was spoiled.
    void aMemberWithAClosedUmaskStillSharesWithTheGroup()
    {
        if (::geteuid() != 0)
            QSKIP("Running processes as other users needs root.");
        GroupFolder folder;
        QVERIFY(folder.make());
        const QTemporaryDir& dir = folder.dir;
        const QString& root = folder.root;
        const auto home = [&folder](const User& user) { return folder.home(user); };
        const QStringList made = runAs(ana, {root, home(ana), QStringLiteral("ANA"), QStringLiteral("create"),
                                             dir.filePath(QStringLiteral("Cut.kdenlive"))});
        QCOMPARE(made.size(), 2);
        recordSharing(root, QStringLiteral("GROUP"));
        const QStringList edited = runAs(ben,
                                         {root, home(ben), QStringLiteral("BEN"), QStringLiteral("edit"),
                                          made[0].mid(3), dir.filePath(QStringLiteral("Titles.srt"))},
                                         077);
        QCOMPARE(edited, (QStringList{QStringLiteral("writable"), QStringLiteral("result ok")}));
        QVERIFY(!QDir(root + QStringLiteral("/objects/packs")).isEmpty(QDir::Dirs | QDir::NoDotAndDotDot));
        QCOMPARE(notShared(root, team), QStringList());
    }

    void membersOfTheGroupWorkInOneBundleAndOthersMayOnlyReadIt()
    {
        if (::geteuid() != 0)
            QSKIP("Running processes as other users needs root.");
        GroupFolder folder;
        QVERIFY(folder.make());
        const QTemporaryDir& dir = folder.dir;
        const QString& root = folder.root;
        const auto home = [&folder](const User& user) { return folder.home(user); };

        // Ana (umask 022) makes the team and holds a document; Ben takes it over and works.
        const QStringList made = runAs(ana, {root, home(ana), QStringLiteral("ANA"), QStringLiteral("create"),
                                             dir.filePath(QStringLiteral("Cut.kdenlive"))});
        QCOMPARE(made.size(), 2);
        QCOMPARE(made[1], QStringLiteral("result ok"));
        const QString id = made[0].mid(3);
        const QStringList edited = runAs(ben, {root, home(ben), QStringLiteral("BEN"), QStringLiteral("edit"), id,
                                               dir.filePath(QStringLiteral("Titles.srt"))});
        QCOMPARE(edited, (QStringList{QStringLiteral("writable"), QStringLiteral("result ok")}));
        QVERIFY(contentOf(root + QStringLiteral("/logs/BEN.log")).contains("Editing as BEN"));
        QCOMPARE(notShared(root, team), QStringList());

        // Eve, outside the group, opens it for reading and is told whose it is and what to ask.
        const QStringList refused = runAs(eve, {root, home(eve), QStringLiteral("EVE"), QStringLiteral("edit"), id,
                                                dir.filePath(QStringLiteral("Titles.srt"))});
        QCOMPARE(refused.size(), 2);
        QVERIFY2(refused[0].startsWith(QStringLiteral("read-only Read-Only Team Bundle\t")), qPrintable(refused[0]));
        for (const QString& named : {QStringLiteral("user 47101"), QStringLiteral("group 47100"),
                                     QStringLiteral("add you to the group 47100"), root})
            QVERIFY2(refused[0].contains(named), qPrintable(refused[0]));
        // The change she tries anyway fails with a plain title, naming the folder and whom to ask.
        QVERIFY2(refused[1].startsWith(QStringLiteral("result error No Permission\t")), qPrintable(refused[1]));
        QVERIFY2(refused[1].contains(QStringLiteral("Team.vantrelteam/"))
                     && refused[1].contains(QStringLiteral("47100"))
                     && !refused[1].contains(QStringLiteral("error 13")),
                 qPrintable(refused[1]));
        // Her log lines are kept on her computer.
        const QString teamId = markerOf(root).value(QStringLiteral("id")).toString();
        QVERIFY(contentOf(home(eve) + QStringLiteral("/data/logs/") + teamId + QStringLiteral("/EVE.local.log"))
                    .contains("Editing as EVE"));
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/logs/EVE.log")));
    }
};

QTEST_MAIN(GroupShareTest)
#include "group_share_test.moc"
