// What the suites of real network shares (share_test on sshfs, smb_share_test on SMB) run on a
// studio, each as one test function: failures are reported through QTest and end the scenario.

#pragma once

#include "support/sshfs_team.h"

namespace vantrel::testing {

// Ana works on the first computer; Ben force-unlocks from the other. `delayMs` later her check-in
// must be refused, her working copy kept in the attic, and Ben's check-in accepted: the history
// holds no version of hers.
void forceUnlockRefusesTheVictimsCheckIn(ShareStudio& studio, int delayMs);

// `editorsPerComputer` clients on each computer edit one document in `rounds` rounds of
// check-out, edit, check-in: every check-in reported done is in the final version exactly once,
// nothing else is, no client is stuck, and no lock is left behind.
void everyReportedCheckInIsKeptOnce(ShareStudio& studio, int editorsPerComputer, int rounds);

// One client on each of `computers` of the studio (the first two, then the others) checks out one
// free document at the same moment, `trials` times, the one told it holds the lock then
// discarding: never two holders (each told so holds the lock, as the server's disk shows), and
// every other told who took it.
void simultaneousCheckOutsHaveOneHolder(ShareStudio& studio, int computers, int trials);

// A check-out and a check-in made through one mount reach a client watching through the other
// (through the first computer's mount when `watchFirst`). The first round is a new teammate's
// first work ever, which a share may show late in the listing of the journal: it gets a minute.
void changesReachTheOtherMount(ShareStudio& studio, bool watchFirst);

} // namespace vantrel::testing
