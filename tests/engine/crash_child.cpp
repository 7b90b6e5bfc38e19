// A writer that the crash-safety test kills at chosen moments. It opens a team bundle as one
// fixed client (or the one named last), prints "open" once the bundle is read, performs one
// operation and prints "done".
//
//   crash_child <team bundle> <local folder> import <source> <collection id> [client id]
//   crash_child <team bundle> <local folder> revert <document id> <version id>
//   crash_child <team bundle> <local folder> version <document id> <source>
//
// Exit status: 0 when the operation is complete, 1 when it failed, 2 on bad arguments.

#include "desktop/system_services.h"
#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "foundation/error.h"
#include "support/sync_wait.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

using namespace vantrel;
using vantrel::testing::syncWait;

namespace {

const QString childClientId = QStringLiteral("CRASH-CHILD");

void say(const char* line)
{
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int usage()
{
    std::fputs("usage: crash_child <team bundle> <local folder> import <source> <collection id>\n"
               "       crash_child <team bundle> <local folder> revert <document id> <version id>\n"
               "       crash_child <team bundle> <local folder> version <document id> <source>\n",
               stderr);
    return 2;
}

std::shared_ptr<VersioningService> openService(VersioningServiceType type, const QString& id,
                                               const std::shared_ptr<TeamBundle>& team)
{
    const auto bundle = IdFor<VersionBundle>::fromString(id);
    if (!bundle)
        throw Error(QStringLiteral("“%1” is not a bundle id.").arg(id));
    return syncWait(
        VersioningService::open(type, *bundle, std::nullopt, std::nullopt, team, nullptr, nullptr, defaultS3Factory()));
}

void run(const QStringList& arguments)
{
    const QString& local = arguments[1];
    const auto team = TeamBundle::open(
        arguments[0],
        std::make_shared<SystemFileManager>(local + QStringLiteral("/data"), local + QStringLiteral("/cache"),
                                            local + QStringLiteral("/downloads")),
        std::make_shared<RecordingWorkspace>(),
        ClientIdentity{arguments.value(5, childClientId), UserIdentity{QStringLiteral("crash"), QStringLiteral("Crash Child"),
                                                   QStringLiteral("crash-host")}});
    team->setPollInterval(std::chrono::hours(1));
    say("open");

    const QString& operation = arguments[2];
    if (operation == QLatin1String("import")) {
        const auto collection = openService(VersioningServiceType::collection, arguments[4], team);
        const auto imported = syncWait(VersioningService::import(
            VersioningServiceType::document, arguments[3], std::nullopt, std::nullopt, std::nullopt,
            QStringLiteral("Imported"), DocumentApplication::none(), team, nullptr, nullptr));
        syncWait(collection->addNestedVersionBundle(imported, QString(), defaultS3Factory()));
    } else if (operation == QLatin1String("revert")) {
        const auto document = openService(VersioningServiceType::document, arguments[3], team);
        const auto version = IdFor<Versions>::fromString(arguments[4]);
        if (!version)
            throw Error(QStringLiteral("“%1” is not a version id.").arg(arguments[4]));
        syncWait(document->revertVersionBundle(*version, defaultS3Factory()));
    } else {
        const auto document = openService(VersioningServiceType::document, arguments[3], team);
        syncWait(document->storeVersion(arguments[4], QStringLiteral("Checked in"), VersionOrigin::checkedIn));
    }
    say("done");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    if ((arguments.size() != 5 && (arguments.size() != 6 || arguments[2] != QLatin1String("import")))
        || !QStringList{QStringLiteral("import"), QStringLiteral("revert"), QStringLiteral("version")}.contains(
            arguments[2]))
        return usage();
    try {
        run(arguments);
    } catch (const Error& error) {
        std::fprintf(stderr, "crash_child: %s\n", qPrintable(error.debugDescription()));
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "crash_child: %s\n", error.what());
        return 1;
    }
    return 0;
}
