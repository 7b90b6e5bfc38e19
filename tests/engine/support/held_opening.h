// Holding an opening of a file, to make a test land in the middle of an operation.

#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vantrel::testing {

// Holds the first opening of a file in `folder` whose name starts with `prefix` until release()
// (through fanotify, which needs privileges); every other opening goes through at once. The
// lock table sets a lock record aside by renaming it to "<bundle>.lock.tmp-..." and opens it
// next: holding that opening holds the moment when the bundle has no lock record.
class HeldOpening {
public:
    HeldOpening(const QString& folder, QString prefix);
    ~HeldOpening();
    HeldOpening(const HeldOpening&) = delete;
    HeldOpening& operator=(const HeldOpening&) = delete;

    bool isWatching() const { return m_fanotify >= 0; }
    QString failure() const { return m_failure; }

    // Waits until an opening is held; false after `timeout`.
    bool waitUntilHeld(std::chrono::milliseconds timeout);
    void release();

private:
    void wake();
    void allow(int fd);
    void answer();

    QString m_prefix;
    int m_fanotify = -1;
    int m_wake = -1;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_used = false;
    bool m_released = false;
    bool m_stopping = false;
    int m_heldFd = -1;
    QString m_failure;
    std::thread m_thread;
};

} // namespace vantrel::testing
