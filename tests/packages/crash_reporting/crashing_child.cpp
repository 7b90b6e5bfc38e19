// Installs the crash handlers, prints "prepared <report path>", then ends as asked:
//
//   crashing_child <folder> segv|abort|terminate|qfatal|exit
//
// Exit status 0 for "exit", 2 on bad arguments or when the handlers cannot be installed.

#include "packages/crash_reporting/crash_handlers.h"

#include <QByteArray>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

// Global, so that their names reach the report's frames.
__attribute__((noinline)) void crashBySegmentationFault()
{
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

__attribute__((noinline)) void throwUncaught()
{
    throw std::runtime_error("the disk is full\nsecond line \\n");
}

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 3)
        return 2;
    const QByteArray mode = argv[2];
    QString error;
    const auto path = vantrel::crash_reporting::installCrashHandlers(
        {QStringLiteral("Vantrel"), QStringLiteral("2.5β"), QStringLiteral("77"), QStringLiteral("beta")},
        QString::fromLocal8Bit(argv[1]), &error);
    if (!path) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    std::printf("prepared %s\n", qPrintable(*path));
    std::fflush(stdout);

    if (mode == "segv")
        crashBySegmentationFault();
    else if (mode == "abort")
        std::abort();
    else if (mode == "terminate")
        throwUncaught();
    else if (mode == "qfatal")
        qFatal("Invariant broken: %s", "50% of \"frames\"");
    else if (mode == "exit")
        return 0;
    return 2;
}
