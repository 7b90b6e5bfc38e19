// One start of the application on some machine, for client_lease_test: the user's data folder
// and the machine are given, everything else comes from the environment as it would.
//
//   identity_child <data folder> <machine id> id [--wait]
//       Prints "id <installation client id>". --wait: prints "ready" first and waits until its
//       standard input ends, so that several processes can be released at the same moment.
//   identity_child <data folder> <machine id> open <team bundle> <local folder> [<client id>]
//       Opens the team bundle as this installation (or as <client id>) and prints
//       "open <client id>", or "error <clientInUse|other> <description>" and ends. Once open,
//       keeps it open until its standard input ends.
//
// Exit status: 0 when it printed its line, 2 on bad arguments.

#include "engine/engine_errors.h"
#include "engine/system_services.h"
#include "engine/team_bundle.h"
#include "engine/user_identity.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <unistd.h>

using namespace vantrel;

namespace {

void say(const QString& line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void waitForEndOfInput()
{
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
}

int usage()
{
    std::fputs("usage: identity_child <data folder> <machine id> id [--wait] | open <team bundle> <local folder> [<client id>]\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return usage();
    // Before anything reads them.
    qputenv("XDG_DATA_HOME", argv[1]);
    qputenv("VANTREL_MACHINE_ID", argv[2]);
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(3);

    if (arguments[0] == QLatin1String("id") && arguments.size() <= 2) {
        if (arguments.size() == 2) {
            if (arguments[1] != QLatin1String("--wait"))
                return usage();
            say(QStringLiteral("ready"));
            waitForEndOfInput();
        }
        say(QStringLiteral("id ") + installationClientId());
        return 0;
    }
    if (arguments[0] != QLatin1String("open") || arguments.size() < 3 || arguments.size() > 4)
        return usage();

    ClientIdentity identity = ClientIdentity::current();
    if (arguments.size() == 4)
        identity.clientId = arguments[3];
    const QString& local = arguments[2];
    std::shared_ptr<TeamBundle> team;
    try {
        team = TeamBundle::open(arguments[1],
                                std::make_shared<SystemFileManager>(local + QStringLiteral("/data"), local + QStringLiteral("/cache"),
                                                                    local + QStringLiteral("/downloads")),
                                std::make_shared<RecordingWorkspace>(), identity);
    } catch (const TeamBundleError& error) {
        const bool inUse = error.which() == TeamBundleError::Case::clientInUse;
        say(QStringLiteral("error %1 %2").arg(inUse ? QStringLiteral("clientInUse") : QStringLiteral("other"),
                                              error.localizedDescription()));
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
