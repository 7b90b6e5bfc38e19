// The SHA-256 of a whole file computed on a thread of its own from its pieces, in order, while
// the pieces are worked on elsewhere (cut into chunks, written out).
#pragma once

#include "engine/storage/content_hash.h"

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace vantrel {

class OrderedHasher {
public:
    OrderedHasher();
    // Stops the thread, whether finish() was called or not.
    ~OrderedHasher();
    OrderedHasher(const OrderedHasher&) = delete;
    OrderedHasher& operator=(const OrderedHasher&) = delete;

    // The next piece, shared, not copied. Waits while a few pieces are waiting already.
    void add(QByteArray piece);
    // The hash of every piece added, once it is done.
    ContentHash finish();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_waiting;
    bool m_ending = false;
    bool m_done = false;
    ContentHash m_hash;
    std::thread m_thread; // last: started once the rest is ready
};

} // namespace vantrel
