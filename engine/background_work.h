#pragma once

#include <thread>

namespace vantrel {

// The engine finishes work in the background (removing old working copies, polling team
// bundles, looking at files in parallel). A process must not tear down its libraries while such
// work still runs. Every process with a QCoreApplication calls this as its application object is
// destroyed (it is registered as a post routine); call it yourself before leaving main() only
// when there is none. It waits for the work already started and returns when none is left. Safe
// to call more than once, on the main thread.
void waitForBackgroundWork();

namespace detail {
// Hands over a thread that could not be joined where it ended (a team bundle released by its
// own poll); waitForBackgroundWork() joins it.
void adoptFinishingThread(std::thread thread);
} // namespace detail

} // namespace vantrel
