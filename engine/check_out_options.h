// How a check-out takes its locks and keeps its working copy, and how a check-in or discard
// gives it up.

#pragma once

#include <QString>

#include <chrono>

namespace vantrel {

// What a check-out does about a lock somebody else holds.
enum class LockTakeover {
    none,        // the check-out fails naming the holder
    forceUnlock, // the lock is taken over
};

// How a check-out is made. The defaults are the application's: locks held by others are left
// alone, and a working copy that changed goes to the attic every ten minutes.
struct CheckOutOptions {
    LockTakeover takeover = LockTakeover::none;
    bool autoSave = true;                       // keep the changing working copy in the attic
    std::chrono::seconds autoSaveInterval{600}; // at most this often
};

// What a check-in or a discard does when an application still uses the working copy.
enum class WorkingCopyInUse {
    refuse,      // nothing is changed; the failure names the applications
    keepInAttic, // it goes on; the working copy is kept in the attic before it is removed
};

// What a check-in that went through has to say besides.
struct CheckInOutcome {
    // The working copy changed after it was stored, or an application had it open when it was
    // removed: what it held then is kept in the attic, since it is in no version.
    bool keptLateChanges = false;
    // The same, when it could not be kept: the folder it is left in.
    QString lateChangesLeftIn;
};

} // namespace vantrel
