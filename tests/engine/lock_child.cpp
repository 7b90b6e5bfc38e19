// One client of a team bundle in a process of its own, for lock_process_test. It opens the
// team bundle as the client it is given, with its own local folders, prints "open", performs
// one operation on one bundle and prints what came of it, one line each:
//
//   result ok <working copy>                  (check-out)
//   result ok                                 (check-in, cancel)
//   result error <kind> <description>         kind: a VersioningError case, storage-<kind>,
//                                             unreachable (TeamBundleError), or other
//   at <steady-clock nanoseconds>             printed just before every result line
//
//   lock_child <team bundle> <local folder> <client id> <user> <full name> <host> <operation> <type> <bundle id> [...]
//
// Operations:
//   checkout [--force] [--wait] [--events <id>,<id>...]
//       --wait: prints "ready" and waits until its standard input ends before checking out, so
//       that many processes can be released at the same moment.
//   checkin <message>
//   cancel
//   hold <poll milliseconds>
//       Checks out, then keeps running with that poll interval and prints every change of the
//       bundle it is told of: "change <steady-clock nanoseconds> <forced 0|1> <checked out 0|1> <name>".
//       Reads commands from standard input: "checkin" (prints a result), "quit". Prints every
//       change of whether the team bundle can be reached: "reachable <steady-clock nanoseconds> <0|1>".
//   edit-loop <rounds> [--lag <milliseconds>]
//       Rounds of check-out, edit, check-in on a document holding one text file: each round
//       appends "<client> <round>" as a line (for a library: to Log.txt in each of its events, all
//       checked out with it) and prints "done <client> <round>" once its check-in
//       succeeded. A check-out refused because somebody holds the lock, or whose base has not
//       arrived yet, is tried again; a refused check-in is discarded and the round tried again.
//       --lag simulates a share whose listings show other clients' records that much later.
//   revert-loop <rounds>
//       Rounds of revert to the bundle's first version, as its last poll (every 200 ms) shows it, each printing "reverted <client> <round>"
//       once it succeeded. A revert refused because somebody holds the lock, or whose base has not
//       arrived yet, is tried again.
//   race
//       Keeps the bundle open and reads commands from standard input, one result each: "checkout"
//       (prints the path of the working copy), "cancel" (discards the check-out), "quit". Many
//       such clients sent "checkout" together race for one free lock, trial after trial.
//   watch <poll milliseconds>
//       Keeps the bundle open without checking it out, polling with that interval, and prints
//       its state at the start and at every change it is told of: "state <steady-clock
//       nanoseconds> <versions> <lock holder's client id, or ->". Ends with its standard input.
//   export <folder>
//       Exports the current version into the folder (a short process, run many times).
//
// Exit status: 0 when a result was printed, 1 when the client could not be opened, 2 on bad arguments.

#include "desktop/system_services.h"
#include "engine/engine_errors.h"
#include "engine/storage/storage_error.h"
#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "foundation/error.h"
#include "support/sync_wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <mutex>
#include <string>
#include <unistd.h>

using namespace vantrel;
using vantrel::testing::syncWait;

namespace {

std::mutex outputMutex;

void say(const QString& line)
{
    std::lock_guard lock(outputMutex);
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

qint64 steadyNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString oneLine(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

QString caseName(VersioningError::Case which)
{
    using C = VersioningError::Case;
    switch (which) {
    case C::itemNotFound:
        return QStringLiteral("itemNotFound");
    case C::itemInTrash:
        return QStringLiteral("itemInTrash");
    case C::itemNotInTrash:
        return QStringLiteral("itemNotInTrash");
    case C::versionNotFound:
        return QStringLiteral("versionNotFound");
    case C::noVersion:
        return QStringLiteral("noVersion");
    case C::itemLocked:
        return QStringLiteral("itemLocked");
    case C::wrongKind:
        return QStringLiteral("wrongKind");
    case C::destinationExists:
        return QStringLiteral("destinationExists");
    case C::invalidName:
        return QStringLiteral("invalidName");
    case C::notCheckedOut:
        return QStringLiteral("notCheckedOut");
    case C::lockLost:
        return QStringLiteral("lockLost");
    case C::outdatedBase:
        return QStringLiteral("outdatedBase");
    case C::changesNotArrived:
        return QStringLiteral("changesNotArrived");
    case C::workNotKept:
        return QStringLiteral("workNotKept");
    }
    return QStringLiteral("unknown");
}

QString kindName(StorageError::Kind kind)
{
    using K = StorageError::Kind;
    switch (kind) {
    case K::notFound:
        return QStringLiteral("storage-notFound");
    case K::alreadyExists:
        return QStringLiteral("storage-alreadyExists");
    case K::permissionDenied:
        return QStringLiteral("storage-permissionDenied");
    case K::readOnly:
        return QStringLiteral("storage-readOnly");
    case K::diskFull:
        return QStringLiteral("storage-diskFull");
    case K::corrupt:
        return QStringLiteral("storage-corrupt");
    case K::io:
        return QStringLiteral("storage-io");
    }
    return QStringLiteral("storage-unknown");
}

// Runs `operation` and prints its result line.
template<typename F>
void report(F operation)
{
    QString result;
    try {
        const QString output = operation();
        result = output.isEmpty() ? QStringLiteral("result ok") : QStringLiteral("result ok ") + output;
    } catch (const VersioningError& error) {
        result =
            QStringLiteral("result error %1 %2").arg(caseName(error.kind()), oneLine(error.localizedDescription()));
    } catch (const StorageError& error) {
        result =
            QStringLiteral("result error %1 %2").arg(kindName(error.kind()), oneLine(error.localizedDescription()));
    } catch (const TeamBundleError& error) {
        const bool unreachable = error.kind() == TeamBundleError::Case::unreachable;
        result = QStringLiteral("result error %1 %2")
                     .arg(unreachable ? QStringLiteral("unreachable") : QStringLiteral("other"),
                          oneLine(unreachable ? error.localizedDescription() : error.debugDescription()));
    } catch (const Error& error) {
        result = QStringLiteral("result error other %1").arg(oneLine(error.debugDescription()));
    } catch (const std::exception& error) {
        result = QStringLiteral("result error other %1").arg(QString::fromLocal8Bit(error.what()));
    }
    say(QStringLiteral("at %1").arg(steadyNow()));
    say(result);
}

std::optional<VersioningServiceType> typeNamed(const QString& name)
{
    if (name == QLatin1String("document"))
        return VersioningServiceType::document;
    if (name == QLatin1String("library"))
        return VersioningServiceType::library;
    return std::nullopt;
}

QString editLoop(TeamBundle& team, const std::shared_ptr<VersioningService>& service, const QString& client, int rounds)
{
    int attempts = 0;
    for (int round = 1; round <= rounds;) {
        if (++attempts > 20000)
            throw std::runtime_error("too many attempts");
        QString workingCopy;
        QList<IdFor<VersionBundle>> events;
        if (service->type() == VersioningServiceType::library) {
            if (const auto state = team.snapshot()->find(service->id()))
                events = state->children;
        }
        try {
            workingCopy = syncWait(service->checkOut(events, {.autoSave = false}, defaultS3Factory()));
        } catch (const VersioningError& error) {
            if (error.kind() != VersioningError::Case::itemLocked
                && error.kind() != VersioningError::Case::changesNotArrived)
                throw;
            QThread::msleep(1 + QRandomGenerator::global()->bounded(8));
            team.poll();
            continue;
        } catch (const TeamBundleError& error) {
            // Told the share can't be reached (a mount that failed a request, or a look that went
            // unanswered on a loaded computer): tried again, as the alert asks, and counted.
            if (error.kind() != TeamBundleError::Case::unreachable)
                throw;
            say(QStringLiteral("unreached %1 %2 check-out").arg(client).arg(round));
            QThread::msleep(200);
            continue;
        }
        // A document is one text file; a library gets the line in the log of each of its events.
        QStringList logs{workingCopy};
        if (!events.isEmpty()) {
            logs.clear();
            for (const QString& folder : QDir(workingCopy).entryList({QStringLiteral("*.videoevent")}, QDir::Dirs))
                logs << workingCopy + QLatin1Char('/') + folder + QStringLiteral("/Log.txt");
        }
        for (const QString& log : std::as_const(logs)) {
            QFile file(log);
            if (!file.open(QIODevice::Append))
                throw std::runtime_error("cannot edit the working copy");
            file.write(QStringLiteral("%1 %2\n").arg(client).arg(round).toUtf8());
        }
        try {
            // Nothing was checked in when the share is said to be away: the working copy and the
            // message are kept, and the same check-in is tried again.
            for (int away = 0;; ++away) {
                try {
                    syncWait(service->checkIn(QStringLiteral("Round %1").arg(round), defaultS3Factory()));
                    break;
                } catch (const TeamBundleError& error) {
                    if (error.kind() != TeamBundleError::Case::unreachable || away == 50)
                        throw;
                    say(QStringLiteral("unreached %1 %2 check-in").arg(client).arg(round));
                    QThread::msleep(200);
                }
            }
        } catch (const VersioningError& error) {
            if (error.kind() != VersioningError::Case::outdatedBase && error.kind() != VersioningError::Case::lockLost)
                throw;
            say(QStringLiteral("refused %1 %2 %3").arg(client).arg(round).arg(caseName(error.kind())));
            syncWait(service->cancelCheckout(defaultS3Factory()));
            continue;
        }
        say(QStringLiteral("done %1 %2").arg(client).arg(round));
        ++round;
    }
    return QString();
}

QString revertLoop(TeamBundle& team, const std::shared_ptr<VersioningService>& service, const QString& client,
                   int rounds)
{
    int attempts = 0;
    for (int round = 1; round <= rounds;) {
        if (++attempts > 20000)
            throw std::runtime_error("too many attempts");
        // As the application does: from what the last poll read, which may lag the share.
        const auto state = team.snapshot()->find(service->id());
        if (!state || state->versions.isEmpty())
            throw std::runtime_error("nothing to revert to");
        try {
            syncWait(service->revertVersionBundle(state->versions.first().id, defaultS3Factory()));
        } catch (const VersioningError& error) {
            if (error.kind() != VersioningError::Case::itemLocked
                && error.kind() != VersioningError::Case::changesNotArrived)
                throw;
            QThread::msleep(1 + QRandomGenerator::global()->bounded(4));
            continue;
        }
        say(QStringLiteral("reverted %1 %2").arg(client).arg(round));
        ++round;
        QThread::msleep(QRandomGenerator::global()->bounded(10));
    }
    return QString();
}

int usage()
{
    std::fputs(
        "usage: lock_child <team bundle> <local folder> <client id> <user> <full name> <host> "
        "<checkout|checkin|cancel|hold|edit-loop|revert-loop|race|watch|export> <document|library> <bundle id> [...]\n",
        stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    if (arguments.size() < 9)
        return usage();
    const QString& local = arguments[1];
    const QString& operation = arguments[6];
    const auto type = typeNamed(arguments[7]);
    const auto bundle = IdFor<VersionBundle>::fromString(arguments[8]);
    const QStringList options = arguments.mid(9);
    if (!type || !bundle)
        return usage();

    std::shared_ptr<TeamBundle> team;
    std::shared_ptr<VersioningService> service;
    try {
        team = TeamBundle::open(arguments[0],
                                std::make_shared<SystemFileManager>(local + QStringLiteral("/data"),
                                                                    local + QStringLiteral("/cache"),
                                                                    local + QStringLiteral("/downloads")),
                                std::make_shared<RecordingWorkspace>(),
                                ClientIdentity{arguments[2], UserIdentity{arguments[3], arguments[4], arguments[5]}});
        team->setPollInterval(std::chrono::hours(1));
        service = syncWait(VersioningService::open(*type, *bundle, std::nullopt, std::nullopt, team, nullptr, nullptr,
                                                   defaultS3Factory()));
    } catch (const Error& error) {
        std::fprintf(stderr, "lock_child: %s\n", qPrintable(error.debugDescription()));
        return 1;
    }
    say(QStringLiteral("open"));

    if (operation == QLatin1String("checkout")) {
        QList<IdFor<VersionBundle>> events;
        LockTakeover takeover = LockTakeover::none;
        bool wait = false;
        for (qsizetype i = 0; i < options.size(); ++i) {
            if (options[i] == QLatin1String("--force")) {
                takeover = LockTakeover::forceUnlock;
            } else if (options[i] == QLatin1String("--wait")) {
                wait = true;
            } else if (options[i] == QLatin1String("--events") && i + 1 < options.size()) {
                for (const QString& id : options[++i].split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                    const auto event = IdFor<VersionBundle>::fromString(id);
                    if (!event)
                        return usage();
                    events << *event;
                }
            } else {
                return usage();
            }
        }
        if (wait) {
            say(QStringLiteral("ready"));
            char buffer[64];
            while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
            }
        }
        report([&] {
            return syncWait(service->checkOut(events, {.takeover = takeover, .autoSave = false}, defaultS3Factory()));
        });
    } else if (operation == QLatin1String("checkin") && options.size() == 1) {
        report([&] {
            syncWait(service->checkIn(options[0], defaultS3Factory()));
            return QString();
        });
    } else if (operation == QLatin1String("cancel") && options.isEmpty()) {
        report([&] {
            syncWait(service->cancelCheckout(defaultS3Factory()));
            return QString();
        });
    } else if (operation == QLatin1String("hold") && options.size() == 1) {
        report([&] { return syncWait(service->checkOut({}, {.autoSave = false}, defaultS3Factory())); });
        // Delivered on the thread that found the change: the poller's, or this one.
        auto watch = service->remoteDatabaseChanges().sink([service](const RemoteDatabaseChange& change) {
            say(QStringLiteral("change %1 %2 %3 %4")
                    .arg(steadyNow())
                    .arg(change.forceUnlocked ? 1 : 0)
                    .arg(service->isCheckedOut() ? 1 : 0)
                    .arg(change.name));
        });
        auto reachability = team->reachabilityChanges().sink(
            [](bool reachable) { say(QStringLiteral("reachable %1 %2").arg(steadyNow()).arg(reachable ? 1 : 0)); });
        team->setPollInterval(std::chrono::milliseconds(options[0].toInt()));
        for (std::string command; std::getline(std::cin, command);) {
            if (command == "checkin") {
                report([&] {
                    syncWait(service->checkIn(QStringLiteral("Checked in while held"), defaultS3Factory()));
                    return QString();
                });
            } else if (command == "quit") {
                break;
            }
        }
        reachability.cancel();
        watch.cancel();
    } else if (operation == QLatin1String("edit-loop") && !options.isEmpty()) {
        const int rounds = options[0].toInt();
        if (options.size() == 3 && options[1] == QLatin1String("--lag"))
            team->setJournalListingLagForTesting(std::chrono::milliseconds(options[2].toInt()));
        report([&] { return editLoop(*team, service, arguments[2], rounds); });
    } else if (operation == QLatin1String("revert-loop") && options.size() == 1) {
        team->setPollInterval(std::chrono::milliseconds(200));
        report([&] { return revertLoop(*team, service, arguments[2], options[0].toInt()); });
    } else if (operation == QLatin1String("race") && options.isEmpty()) {
        for (std::string command; std::getline(std::cin, command) && command != "quit";) {
            if (command == "checkout")
                report([&] { return syncWait(service->checkOut({}, {.autoSave = false}, defaultS3Factory())); });
            else if (command == "cancel")
                report([&] {
                    syncWait(service->cancelCheckout(defaultS3Factory()));
                    return QString();
                });
        }
    } else if (operation == QLatin1String("watch") && options.size() == 1) {
        const auto state = [service, team] {
            const auto holder = team->locks().holder(service->id());
            say(QStringLiteral("state %1 %2 %3")
                    .arg(steadyNow())
                    .arg(service->versionIDs().size())
                    .arg(holder ? holder->clientId : QStringLiteral("-")));
        };
        state();
        auto watch = service->remoteDatabaseChanges().sink([state](const RemoteDatabaseChange&) { state(); });
        team->setPollInterval(std::chrono::milliseconds(options[0].toInt()));
        for (std::string command; std::getline(std::cin, command) && command != "quit";) {
        }
        watch.cancel();
    } else if (operation == QLatin1String("export") && options.size() == 1) {
        report([&] { return syncWait(service->exportVersion(std::nullopt, options[0], defaultS3Factory())); });
    } else {
        return usage();
    }
    return 0;
}
