#include "bench/share_bench_newcomers.h"

#include "desktop/system_services.h"
#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "support/sync_wait.h"

#include <QFile>
#include <QThread>

namespace vantrel::bench {

using vantrel::testing::syncWait;

NewcomerFigures measureNewcomers(const QString& root, const Clients& clients, const IdFor<VersionBundle>& document,
                                 int versionsBefore, int rounds, const std::function<double(int versions)>& seenFromNow)
{
    NewcomerFigures figures;
    Random random(0x4E4557ULL);
    for (int round = 0; round < rounds; ++round) {
        note(QStringLiteral("newcomer round %1 of %2").arg(round + 1).arg(rounds));
        // At any moment of the watcher's poll.
        QThread::msleep(static_cast<unsigned long>(250 + 2000 * random.uniform()));
        const QString client = QStringLiteral("newcomer%1").arg(round + 1);
        const auto team = clients.open(root, client);
        const auto service =
            syncWait(VersioningService::open(VersioningServiceType::document, document, std::nullopt, std::nullopt,
                                             team, nullptr, nullptr, defaultS3Factory()));
        const QString workingCopy = syncWait(service->checkOut({}, {.autoSave = false}, defaultS3Factory()));
        QFile file(workingCopy);
        if (!file.open(QIODevice::Append) || file.write("newcomer\n") != 9)
            fail("edit " + workingCopy.toStdString());
        file.close();
        syncWait(service->checkIn(QStringLiteral("First work"), defaultS3Factory()));
        const double seen = seenFromNow(versionsBefore + round + 1);
        if (seen < 0)
            ++figures.missed;
        else
            figures.seen.push_back(seen);
    }
    return figures;
}

} // namespace vantrel::bench
