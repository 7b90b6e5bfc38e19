// A client writing records to a journal, for journal_packing_test, which kills it at chosen
// moments. It prints "ready" once the journal is open, then writes its records. As a team bundle
// does, it packs on a thread of its own while it goes on writing; a pack asked for before the
// last record is made before it exits.
//
//   journal_child <journal folder> <client id> <records> <pack threshold> [crash-after-pack]
//
// Record n of the run holds two changes, "<client> <n>" and "<client> <n>, too". With
// crash-after-pack it stops dead right after its first pack is written, before the records the
// pack holds are removed. Exit status: 0 when every record was written, 2 on bad arguments.

#include "desktop/user_identity.h"
#include "engine/journal/journal.h"

#include <QCoreApplication>
#include <QStringList>

#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>

using namespace vantrel;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    bool counted = false, threshold = false;
    const int records = arguments.value(2).toInt(&counted);
    const int packThreshold = arguments.value(3).toInt(&threshold);
    if (arguments.size() < 4 || !counted || !threshold) {
        std::fputs("usage: journal_child <journal folder> <client id> <records> <pack threshold> [crash-after-pack]\n",
                   stderr);
        return 2;
    }
    Journal journal(arguments[0], arguments[1]);
    journal.setPackThresholdForTesting(packThreshold);
    journal.setCrashAfterPackForTesting(arguments.value(4) == QLatin1String("crash-after-pack"));
    std::puts("ready");
    std::fflush(stdout);
    std::mutex mutex;
    std::condition_variable wake;
    bool requested = false, done = false;
    std::thread packer([&] {
        for (;;) {
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return requested || done; });
                if (!requested)
                    return;
                requested = false;
            }
            try {
                journal.packIfDue();
            } catch (const std::exception& error) {
                std::fprintf(stderr, "packing failed: %s\n", error.what());
            }
        }
    });
    const UserIdentity author{QStringLiteral("child"), QStringLiteral("Journal Child"), QStringLiteral("child-host")};
    for (int n = 1; n <= records; ++n) {
        const QString name = QStringLiteral("%1 %2").arg(arguments[1]).arg(n);
        const auto bundle = IdFor<VersionBundle>::make();
        journal.append({JournalChange{bundle, RecordKind::create, {{QStringLiteral("name"), name}}},
                        JournalChange{bundle, RecordKind::rename, {{QStringLiteral("name"), name + QStringLiteral(", too")}}}},
                       author);
        if (journal.packDue()) {
            std::lock_guard lock(mutex);
            requested = true;
            wake.notify_one();
        }
    }
    {
        std::lock_guard lock(mutex);
        done = true;
        wake.notify_one();
    }
    packer.join();
    return 0;
}
