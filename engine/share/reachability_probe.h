#pragma once

#include <QString>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

namespace vantrel {

// Whether a file of a share can be read by name, asked so that a dead mount never holds up the
// one who asks. The read runs on a thread of its own; one that does not answer within the bound
// counts as "can't be reached". A read on a hung mount may return only when the mount does, so
// that thread is left to finish on its own and is not asked again: until it returns, every check
// answers "can't be reached" at once, and the next check after it returned starts a new read.
class ReachabilityProbe {
public:
    ReachabilityProbe(const QString& path, std::chrono::milliseconds bound);

    // Opens the file by name and reads it (at most a few bytes): true when that worked within
    // the bound. Safe to call from several threads; blocks for at most the bound.
    bool check();
    // How long the read under way has been waited for; zero when none is under way (the last
    // one answered, or none was made).
    std::chrono::steady_clock::duration unansweredFor();

private:
    struct Attempt;
    std::string m_path;
    std::chrono::milliseconds m_bound;
    std::mutex m_mutex;
    std::shared_ptr<Attempt> m_last;
};

} // namespace vantrel
