// A client collecting a team bundle's garbage, for garbage_collection_test, which runs it under a
// clock set days or a year off (libfaketime) while the test's own client stores contents it has
// not published yet.
//
//   collect_child <team bundle> <local folder> <client id> <grace period in seconds>
//
// It prints "clock <ms since the epoch>" (this process's time, which the test checks is the one it
// asked for), opens the team bundle, collects with the grace period given and prints
// "removed <n>". Exit status: 0 once collected, 1 when opening or collecting failed, 2 on bad
// arguments.

#include "desktop/system_services.h"
#include "engine/team_bundle.h"
#include "foundation/error.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QStringList>

#include <chrono>
#include <cstdio>

using namespace vantrel;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    bool counted = false;
    const qint64 grace = arguments.value(3).toLongLong(&counted);
    if (arguments.size() != 4 || !counted || grace < 0) {
        std::fputs("usage: collect_child <team bundle> <local folder> <client id> <grace period in seconds>\n", stderr);
        return 2;
    }
    std::printf("clock %lld\n", static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
    std::fflush(stdout);
    const QString& local = arguments[1];
    try {
        const auto team = TeamBundle::open(
            arguments[0],
            std::make_shared<SystemFileManager>(local + QStringLiteral("/data"), local + QStringLiteral("/cache"),
                                                local + QStringLiteral("/downloads")),
            std::make_shared<RecordingWorkspace>(),
            ClientIdentity{arguments[2], UserIdentity{QStringLiteral("collector"), QStringLiteral("Collector"),
                                                      QStringLiteral("skewed-host")}});
        team->setPollInterval(std::chrono::hours(1));
        std::printf("removed %d\n", team->collectGarbage(std::chrono::seconds(grace)));
    } catch (const Error& error) {
        std::fprintf(stderr, "collect_child: %s\n", qPrintable(error.debugDescription()));
        return 1;
    }
    return 0;
}
