#pragma once

#include <chrono>
#include <functional>

namespace vantrel {

// On a share with Windows share modes (SMB), a file that another client has open can't be
// replaced, renamed or removed until it is closed: a rename over it answers EEXIST, a rename of
// it or its removal EBUSY (ETXTBSY where the server says the file is in use). Other clients only
// ever hold lock records, heads and notes open for the moment of a read, so such a step is
// tried again for a while before it counts as failed.

// How long a step is tried again. Before a change is published a failure leaves everything as
// it was, so the user learns soon; after it, what remains (the head, the release note, giving
// the lock up) must be done, so it is tried for longer before it is left to the poll.
namespace heldOpenBound {
inline constexpr std::chrono::milliseconds beforePublishing{8000};
inline constexpr std::chrono::milliseconds afterPublishing{30000};
// Steps that the next poll does again anyway (the journal's head).
inline constexpr std::chrono::milliseconds retriedByPoll{2000};
} // namespace heldOpenBound

// Whether `error` is how a share says that another client has the file open. EEXIST only counts
// for a rename that replaces a file (`replacing`), where POSIX never answers it.
bool isHeldOpenError(int error, bool replacing);

// Runs `step` (which returns 0 or an errno) until it succeeds, fails otherwise, or `bound` has
// passed, waiting a little longer each time with some randomness, so that clients that met on a
// file don't meet again. Returns the last result of `step`.
int retryWhileHeldOpen(std::chrono::milliseconds bound, bool replacing, const std::function<int()>& step);

} // namespace vantrel
