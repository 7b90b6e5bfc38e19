// One member of a team working in a team bundle, in a process of its own, which group_share_test
// starts as another user. Prints one line per step:
//
//   id <bundle id>                           (create)
//   writable | read-only <title>\t<message>  (edit: what the open said)
//   result ok | result error <title>\t<message>
//
//   group_child <team bundle> <local folder> <client id> create <document>
//       Creates the team bundle, imports the document into a new collection and checks it out.
//   group_child <team bundle> <local folder> <client id> edit <document id> <another document>
//       Takes the document's lock (a force unlock), changes it and checks it in, imports the
//       other document, and writes a line to the log.
//
// Exit status: 0 when the steps ran, 1 when the team bundle could not be opened, 2 on bad arguments.

#include "desktop/system_services.h"
#include "engine/storage/storage_error.h"
#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "foundation/error.h"
#include "support/sync_wait.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

using namespace vantrel;
using vantrel::testing::syncWait;

namespace {

QString alertOf(const Error& error)
{
    QString message = error.localizedDescription();
    message.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return error.failureReason().value_or(QStringLiteral("Error")) + QLatin1Char('\t') + message;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    const auto say = [&out](const QString& line) { out << line << Qt::endl; };
    const QStringList arguments = application.arguments().mid(1);
    if (arguments.size() < 5)
        return 2;
    const QString& path = arguments[0];
    const QString& local = arguments[1];
    const QString& operation = arguments[3];
    const auto files = std::make_shared<SystemFileManager>(
        local + QStringLiteral("/data"), local + QStringLiteral("/cache"), local + QStringLiteral("/downloads"));
    const auto workspace = std::make_shared<RecordingWorkspace>();
    const ClientIdentity identity{arguments[2], UserIdentity{arguments[2], arguments[2], QStringLiteral("studio")}};
    const auto import = [&](const std::shared_ptr<TeamBundle>& team, const QString& source) {
        return syncWait(VersioningService::import(VersioningServiceType::document, source, std::nullopt, std::nullopt,
                                                  std::nullopt, QStringLiteral("Imported"), DocumentApplication::none(),
                                                  team, files, workspace));
    };

    std::shared_ptr<TeamBundle> team;
    try {
        team = operation == QLatin1String("create") ? TeamBundle::create(path, files, workspace, identity)
                                                    : TeamBundle::open(path, files, workspace, identity);
        team->setPollInterval(std::chrono::hours(1));
    } catch (const Error& error) {
        std::fprintf(stderr, "group_child: %s\n", qPrintable(error.debugDescription()));
        return 1;
    }
    try {
        if (operation == QLatin1String("create")) {
            const auto collection =
                syncWait(VersioningService::createCollection(QStringLiteral("Dailies"), team, files, workspace));
            const auto document = import(team, arguments[4]);
            syncWait(collection->addNestedVersionBundle(document, QString(), defaultS3Factory()));
            syncWait(document->checkOut({}, {.autoSave = false}, defaultS3Factory()));
            say(QStringLiteral("id ") + document->id().toString());
        } else if (operation == QLatin1String("edit") && arguments.size() == 6) {
            const auto& problem = team->writeProblem();
            say(problem ? QStringLiteral("read-only ") + alertOf(*problem) : QStringLiteral("writable"));
            const auto id = IdFor<VersionBundle>::fromString(arguments[4]);
            if (!id)
                return 2;
            team->log().event(QStringLiteral("Editing as ") + arguments[2], QStringLiteral("edit"));
            const auto document =
                syncWait(VersioningService::open(VersioningServiceType::document, *id, std::nullopt, std::nullopt, team,
                                                 files, workspace, defaultS3Factory()));
            const QString workingCopy = syncWait(
                document->checkOut({}, {.takeover = LockTakeover::forceUnlock, .autoSave = false}, defaultS3Factory()));
            QFile file(workingCopy);
            if (!file.open(QIODevice::Append) || file.write("\n<!-- cut -->") < 0)
                throw Error(QStringLiteral("The working copy could not be changed."));
            file.close();
            syncWait(document->checkIn(QStringLiteral("Cut"), defaultS3Factory()));
            import(team, arguments[5]);
        } else {
            return 2;
        }
        say(QStringLiteral("result ok"));
    } catch (const Error& error) {
        say(QStringLiteral("result error ") + alertOf(error));
    }
    return 0;
}
