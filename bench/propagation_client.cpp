// propagation_client: one client of a team bundle, run as a separate process by checkout_bench
// to measure how fast a change made by one client reaches the others.
//
//   propagation_client TEAM_BUNDLE LOCAL_FOLDER CLIENT POLL_MS
//
// Opens TEAM_BUNDLE as the installation BENCH-<CLIENT> (its local folders in LOCAL_FOLDER), polls
// every POLL_MS milliseconds, and writes one line to standard output for each event:
//   ready <seconds to open and index> <bundles>
//   seen <CLOCK_MONOTONIC ns> <bundle id> <name>    for each bundle the team change publisher names
//   state <CLOCK_MONOTONIC ns> <bundle id> <versions> <lock holder's client id, or ->
//                                                   after each "seen" line
//   renamed <CLOCK_MONOTONIC ns before> <ns after>  once a rename asked for has been written
//   error <text>
// Commands, one a line on standard input: "rename <bundle id> <new name>" and "quit" (as does the
// end of the input). CLOCK_MONOTONIC is the same for every process of a machine, so the times
// of several clients can be compared.

#include "desktop/system_services.h"
#include "desktop/user_identity.h"
#include "engine/team_bundle.h"
#include "engine/version_bundles.h"
#include "engine/versioning_service.h"
#include "support/sync_wait.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

using namespace vantrel;
using vantrel::testing::syncWait;

namespace {

long long monotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Lines come from the poll thread and from the main thread: one at a time, flushed at once.
class Output {
public:
    void line(const std::string& text)
    {
        const std::lock_guard lock(m_mutex);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

private:
    std::mutex m_mutex;
};

int run(const QStringList& arguments, Output& output)
{
    if (arguments.size() != 4) {
        std::fprintf(stderr, "usage: propagation_client TEAM_BUNDLE LOCAL_FOLDER CLIENT POLL_MS\n");
        return 2;
    }
    const QString root = arguments.at(0);
    const QString local = arguments.at(1);
    const QString client = arguments.at(2);
    const int pollMs = arguments.at(3).toInt();
    if (pollMs <= 0) {
        std::fprintf(stderr, "propagation_client: POLL_MS must be a positive number\n");
        return 2;
    }

    const auto fileManager = std::make_shared<SystemFileManager>(
        local + QStringLiteral("/data"), local + QStringLiteral("/cache"), local + QStringLiteral("/downloads"));
    const QString user = client.toLower();
    const ClientIdentity identity{QStringLiteral("BENCH-") + client.toUpper(),
                                  UserIdentity{user, user + QStringLiteral(" Editor"), QStringLiteral("host-") + user}};

    const auto start = std::chrono::steady_clock::now();
    const auto team = TeamBundle::open(root, fileManager, std::make_shared<RecordingWorkspace>(), identity);
    team->setPollInterval(std::chrono::milliseconds(pollMs));
    const auto bundles = team->versionBundles().liveIndex().all.size();
    const double opened = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // The team change publisher delivers on the thread that found the change (the poll thread).
    const TeamBundle* const observed = team.get();
    const auto seen = [observed, &output](const TeamBundleChange& change) {
        const long long now = monotonicNs();
        const auto snapshot = observed->snapshot();
        for (const auto& id : change.bundles) {
            const auto state = snapshot->find(id);
            output.line("seen " + std::to_string(now) + ' ' + id.toString().toStdString() + ' '
                        + (state ? state->name.toStdString() : std::string()));
            const auto holder = observed->locks().holder(id);
            output.line("state " + std::to_string(now) + ' ' + id.toString().toStdString() + ' '
                        + std::to_string(state ? state->versions.size() : 0) + ' '
                        + (holder ? holder->clientId.toStdString() : std::string("-")));
        }
    };
    const Cancellable subscription = team->changes().sink(seen);
    output.line("ready " + std::to_string(opened) + ' ' + std::to_string(bundles));

    std::string command;
    while (std::getline(std::cin, command)) {
        if (command == "quit")
            break;
        if (command.rfind("rename ", 0) != 0) {
            output.line("error unknown command: " + command);
            continue;
        }
        try {
            const QString rest = QString::fromStdString(command.substr(7));
            const qsizetype space = rest.indexOf(u' ');
            const auto id = IdFor<VersionBundle>::fromString(rest.left(space));
            if (space < 0 || !id)
                throw std::runtime_error("not a bundle id and a name: " + command);
            const QString name = rest.mid(space + 1);
            const auto service =
                syncWait(VersioningService::open(VersioningServiceType::document, *id, std::nullopt, std::nullopt, team,
                                                 nullptr, nullptr, defaultS3Factory()));
            const long long before = monotonicNs();
            syncWait(service->rename(name));
            const long long after = monotonicNs();
            output.line("renamed " + std::to_string(before) + ' ' + std::to_string(after));
        } catch (const std::exception& error) {
            output.line(std::string("error ") + error.what());
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Output output;
    try {
        return run(app.arguments().mid(1), output);
    } catch (const std::exception& error) {
        output.line(std::string("error ") + error.what());
        return 1;
    }
}
