// share_bench: how fast a brand-new client's first check-in, made through one mount, reaches a
// client polling through the other one. The watcher's listing of the journal is cached (sshfs:
// 20 s), so it must find the newcomer by name (its register entry), not by that listing.

#pragma once

#include "bench/bench_support.h"
#include "engine/id_for.h"

#include <QString>

#include <functional>
#include <vector>

namespace vantrel::bench {

struct NewcomerFigures {
    std::vector<double> seen; // from the end of a newcomer's first check-in to the watcher's state
    int missed = 0;           // check-ins not seen within the limit
};

// `rounds` brand-new clients, one after the other, each opening the team bundle at `root` and
// checking `document` out and in. `seenFromNow(versions)`, called as a check-in ends, waits for
// the watcher to show `versions` and returns the seconds it took, or a negative number.
NewcomerFigures measureNewcomers(const QString& root, const Clients& clients, const IdFor<VersionBundle>& document,
                                 int versionsBefore, int rounds,
                                 const std::function<double(int versions)>& seenFromNow);

} // namespace vantrel::bench
