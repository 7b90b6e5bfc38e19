// One start of the application on some machine, for client_lease_test; the rest comes from the
// environment as it would.
//   identity_child <data folder> <machine id> id [--wait]
//       Prints "id <installation client id>"; with --wait, prints "ready" first and waits for the
//       end of its standard input, so that several processes can be released at the same moment.
//   identity_child <data folder> <machine id> open <team bundle> <local folder> [<client id>]
//       Opens the team bundle as this installation (or as <client id>), prints "open <client id>"
//       and keeps it open until its standard input ends; or prints "error <clientInUse|other> <why>".

#include "desktop/system_services.h"
#include "desktop/user_identity.h"
#include "engine/engine_errors.h"
#include "engine/team_bundle.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

using namespace vantrel;

namespace {

void say(const QString& line)
{
    std::puts(line.toUtf8().constData());
    std::fflush(stdout);
}

void waitForEndOfInput()
{
    for (char buffer[64]; ::read(STDIN_FILENO, buffer, sizeof buffer) > 0;) {
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    qputenv("XDG_DATA_HOME", argv[1]); // before anything reads them
    qputenv("VANTREL_MACHINE_ID", argv[2]);
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(3);
    if (arguments[0] == QLatin1String("id")) {
        if (arguments.contains(QLatin1String("--wait"))) {
            say(QStringLiteral("ready"));
            waitForEndOfInput();
        }
        say(QStringLiteral("id ") + installationClientId());
        return 0;
    }
    if (arguments[0] != QLatin1String("open") || arguments.size() < 3)
        return 2;
    ClientIdentity identity = ClientIdentity::current();
    identity.clientId = arguments.value(3, identity.clientId);
    std::shared_ptr<TeamBundle> team;
    try {
        team = TeamBundle::open(arguments[1],
                                std::make_shared<SystemFileManager>(arguments[2] + QStringLiteral("/data"),
                                                                    arguments[2] + QStringLiteral("/cache"),
                                                                    arguments[2] + QStringLiteral("/downloads")),
                                std::make_shared<RecordingWorkspace>(), identity);
    } catch (const TeamBundleError& error) {
        const bool inUse = error.kind() == TeamBundleError::Case::clientInUse;
        say(QStringLiteral("error %1 %2")
                .arg(inUse ? QStringLiteral("clientInUse") : QStringLiteral("other"), error.localizedDescription()));
        return 0;
    } catch (const Error& error) {
        say(QStringLiteral("error other ") + error.debugDescription().replace(QLatin1Char('\n'), QLatin1Char(' ')));
        return 0;
    }
    team->setPollInterval(std::chrono::hours(1));
    say(QStringLiteral("open ") + team->clientId());
    waitForEndOfInput();
    return 0;
}
