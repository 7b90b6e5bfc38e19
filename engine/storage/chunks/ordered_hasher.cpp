// The thread of an ordered hasher.

#include "engine/storage/chunks/ordered_hasher.h"

namespace vantrel {

namespace {

// Pieces waiting to be hashed: chunks of about a mebibyte, so a few mebibytes held.
constexpr size_t waitingLimit = 8;

} // namespace

OrderedHasher::OrderedHasher() : m_thread([this] { run(); }) {}

OrderedHasher::~OrderedHasher()
{
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
        m_waiting.clear();
        m_changed.notify_all();
    }
    m_thread.join();
}

void OrderedHasher::add(QByteArray piece)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_waiting.size() < waitingLimit; });
    m_waiting.push_back(std::move(piece));
    m_changed.notify_all();
}

ContentHash OrderedHasher::finish()
{
    std::unique_lock lock(m_mutex);
    m_ending = true;
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return m_done; });
    return m_hash;
}

void OrderedHasher::run()
{
    Sha256 sha;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return !m_waiting.empty() || m_ending; });
        if (m_waiting.empty())
            break;
        const QByteArray piece = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_changed.notify_all();
        lock.unlock();
        sha.update(piece);
        lock.lock();
    }
    m_hash = sha.finish();
    m_done = true;
    m_changed.notify_all();
}

} // namespace vantrel
