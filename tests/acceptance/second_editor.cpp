// A second editor on the same team bundle, in a process of its own and on a machine of its own
// (its own client id, user and local folders), working through the engine as the application
// would. It checks a library out with all its events, edits its working copy, and then waits for
// a line on its standard input before checking in. It prints one line per step:
//
//   checked-out <working copy>
//   check-in ok | check-in refused <VersioningError case number> <holder> | check-in error <text>
//   attic kept <path of the kept copy, below the materialized attic> | attic missing
//
//   second_editor <team bundle> <local folder> <library id> <note file name> <note text>
//
// Exit status: 0 when every step ran, 1 when the team bundle or the library could not be opened
// or checked out, 2 on bad arguments.

#include "desktop/system_services.h"
#include "engine/engine_errors.h"
#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "foundation/error.h"
#include "support/sync_wait.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QThread>

#include <cstdio>
#include <iostream>
#include <string>

using namespace vantrel;
using vantrel::testing::syncWait;

namespace {

void say(const QString& line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The first file below `folder` whose bytes are `content`.
QString findContent(const QString& folder, const QByteArray& content)
{
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly) && file.readAll() == content)
            return path;
    }
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    const auto library = arguments.size() == 5 ? IdFor<VersionBundle>::fromString(arguments[2]) : std::nullopt;
    if (!library) {
        std::fputs("usage: second_editor <team bundle> <local folder> <library id> <note name> <note text>\n", stderr);
        return 2;
    }
    const QString& local = arguments[1];
    const QString& noteName = arguments[3];
    const QByteArray note = arguments[4].toUtf8();

    std::shared_ptr<TeamBundle> team;
    std::shared_ptr<VersioningService> service;
    QString workingCopy;
    try {
        team = TeamBundle::open(arguments[0],
                                std::make_shared<SystemFileManager>(local + QStringLiteral("/data"),
                                                                    local + QStringLiteral("/cache"),
                                                                    local + QStringLiteral("/downloads")),
                                std::make_shared<RecordingWorkspace>(),
                                ClientIdentity{QStringLiteral("CLIENT-BEN"),
                                               UserIdentity{QStringLiteral("ben"), QStringLiteral("Ben Editor"),
                                                            QStringLiteral("host-ben")}});
        team->setPollInterval(std::chrono::hours(1)); // reads the share when it acts
        team->poll();
        const auto state = team->snapshot()->find(*library);
        if (!state)
            throw Error(QStringLiteral("The library is not in the team bundle."));
        service = syncWait(VersioningService::open(VersioningServiceType::library, *library, std::nullopt, std::nullopt,
                                                   team, nullptr, nullptr, defaultS3Factory()));
        workingCopy = syncWait(service->checkOut(state->children, {.autoSave = false}, defaultS3Factory()));
        QFile edit(workingCopy + QLatin1Char('/') + noteName);
        if (!edit.open(QIODevice::WriteOnly) || edit.write(note) != note.size())
            throw Error(QStringLiteral("The working copy cannot be edited."));
    } catch (const Error& error) {
        std::fprintf(stderr, "second_editor: %s\n", qPrintable(error.debugDescription()));
        return 1;
    }
    say(QStringLiteral("checked-out ") + workingCopy);

    // The first editor acts meanwhile; any line goes on.
    std::string line;
    std::getline(std::cin, line);

    try {
        syncWait(service->checkIn(QStringLiteral("Ben's pass"), defaultS3Factory()));
        say(QStringLiteral("check-in ok"));
    } catch (const VersioningError& error) {
        say(QStringLiteral("check-in refused %1 %2")
                .arg(static_cast<int>(error.kind()))
                .arg(error.localizedDescription().replace(QLatin1Char('\n'), QLatin1Char(' '))));
    } catch (const Error& error) {
        say(QStringLiteral("check-in error ") + error.debugDescription());
    }

    try {
        const QString attic = team->materializeAttic(*library);
        const QString kept = findContent(attic, note);
        say(kept.isEmpty() ? QStringLiteral("attic missing")
                           : QStringLiteral("attic kept ") + kept.mid(attic.size() + 1));
    } catch (const Error& error) {
        say(QStringLiteral("attic error ") + error.debugDescription());
    }
    return 0;
}
