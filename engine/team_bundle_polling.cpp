// Polling: the background thread that reads what other clients wrote, the heartbeat that looks
// for the bundle's marker, and waiting for the records a check-out must build on.

#include "engine/team_bundle.h"

#include "engine/engine_errors.h"
#include "engine/share/reachability_probe.h"

#include <algorithm>
#include <thread>

namespace vantrel {

namespace {

// How old the last look for the marker may be before the heartbeat looks, for clients that poll
// every few seconds (a window): with the bound of a read of the marker (2.5 s), an outage shows
// within about four seconds. While the bundle can't be reached it looks at every beat, so that its
// return shows at once. While a change runs it looks whatever the poll interval: a change is no
// longer waited for once the share stops answering (see bounded_change.h).
constexpr auto heartbeatSpan = std::chrono::seconds(1);
constexpr auto heartbeatBeat = std::chrono::milliseconds(250);
constexpr auto heartbeatPollLimit = std::chrono::seconds(5);

} // namespace

void TeamBundle::start()
{
    m_poller = std::thread([this, weakSelf = weak_from_this()] { pollLoop(weakSelf); });
    m_heartbeat = std::thread([this] { heartbeatLoop(); });
}

void TeamBundle::heartbeatLoop()
{
    std::unique_lock lock(m_pollMutex);
    while (!m_pollWake.wait_for(lock, heartbeatBeat, [this] { return m_stopping; })) {
        if (m_pollInterval > heartbeatPollLimit && m_changesRunning == 0)
            continue;
        const auto last = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(m_lastLook.load()));
        if (m_reachable && std::chrono::steady_clock::now() - last < heartbeatSpan)
            continue;
        lock.unlock();
        checkReachable();
        lock.lock();
    }
}

void TeamBundle::pollLoop(std::weak_ptr<TeamBundle> weakSelf)
{
    std::chrono::steady_clock::time_point nextPoll;
    {
        std::lock_guard lock(m_pollMutex);
        nextPoll = std::chrono::steady_clock::now() + m_pollInterval;
    }
    for (;;) {
        bool pollNow = false;
        {
            std::unique_lock lock(m_pollMutex);
            for (;;) {
                const bool woken = m_pollWake.wait_until(
                    lock, nextPoll, [this] { return m_stopping || m_pollIntervalChanged || m_packRequested; });
                if (m_stopping)
                    return;
                if (m_pollIntervalChanged) {
                    // A new interval: wait again, for the new one.
                    m_pollIntervalChanged = false;
                    nextPoll = std::chrono::steady_clock::now() + m_pollInterval;
                    continue;
                }
                pollNow = !woken;
                break; // the interval has passed, or a pack is due
            }
            m_packRequested = false;
        }
        auto self = weakSelf.lock();
        if (!self)
            return;
        if (pollNow) {
            try {
                self->poll();
            } catch (const std::exception& error) {
                qWarning("Polling the team bundle failed: %s",
                         qUtf8Printable(escapedForLog(QString::fromUtf8(error.what()))));
            }
        }
        {
            std::lock_guard lock(m_pollMutex);
            if (m_stopping)
                return;
            if (pollNow)
                nextPoll = std::chrono::steady_clock::now() + m_pollInterval;
        }
        self.reset(); // may destroy the team bundle (see the destructor)
        if (weakSelf.expired())
            return;
        // Packing the journal is background work: commits only note that a pack is due. It runs
        // without holding the team bundle: closing it from another thread does not wait for the
        // last reference to go but stops the pack (see the destructor), which joins this thread.
        packJournal();
    }
}

void TeamBundle::requestPack()
{
    {
        std::lock_guard lock(m_pollMutex);
        m_packRequested = true;
    }
    m_pollWake.notify_all();
}

void TeamBundle::packJournal()
{
    try {
        m_journal->packIfDue();
    } catch (const Error& error) {
        // The records stay single and are packed later; nothing is lost.
        m_log->event(QStringLiteral("Packing the journal failed: ") + escapedForLog(error.localizedDescription()),
                     QStringLiteral("packJournal"), Logger::Level::warning);
    } catch (const std::exception& error) {
        qWarning("Packing the journal failed: %s", qUtf8Printable(escapedForLog(QString::fromUtf8(error.what()))));
    }
}

void TeamBundle::setPollInterval(std::chrono::milliseconds interval)
{
    {
        std::lock_guard lock(m_pollMutex);
        m_pollInterval = interval;
        m_pollIntervalChanged = true;
    }
    m_pollWake.notify_all();
}

void TeamBundle::setJournalListingLagForTesting(std::chrono::milliseconds lag)
{
    m_journal->setListingLagForTesting(lag);
}

void TeamBundle::setJournalPackThresholdForTesting(int threshold)
{
    m_journal->setPackThresholdForTesting(threshold);
}

void TeamBundle::setJournalPackObserverForTesting(std::function<void(int)> observe)
{
    m_journal->setPackObserverForTesting(std::move(observe));
}

QStringList TeamBundle::problems() const
{
    std::lock_guard lock(m_problemsMutex);
    return m_problems;
}

void TeamBundle::publish(const QSet<IdFor<VersionBundle>>& changed,
                         QHash<IdFor<VersionBundle>, QString> forceUnlockedBy)
{
    if (!changed.isEmpty() || !forceUnlockedBy.isEmpty())
        m_changes.send(TeamBundleChange{changed, std::move(forceUnlockedBy)});
}

void TeamBundle::announce(const QSet<IdFor<VersionBundle>>& changed)
{
    publish(changed);
}

bool TeamBundle::checkReachable()
{
    // Opened and read, never only looked at: a share answers a file's attributes from a cache
    // (sshfs for 20 s) long after its server stopped.
    const bool reachable = m_markerProbe->check();
    if (!reachable)
        ++m_failedLooks;
    {
        std::lock_guard lock(m_reachabilityMutex);
        m_lastLook = std::chrono::steady_clock::now().time_since_epoch().count();
        if (m_reachable.exchange(reachable) == reachable)
            return reachable;
        m_reachabilityChanges.send(reachable);
    }
    // Last, and without the mutex: the log is written to the share, which may hang.
    m_log->event(reachable ? QStringLiteral("The team bundle can be reached again.")
                           : QStringLiteral("The team bundle can't be reached."),
                 QStringLiteral("poll"), reachable ? Logger::Level::info : Logger::Level::warning);
    return reachable;
}

std::chrono::steady_clock::duration TeamBundle::lookUnansweredFor() const
{
    return m_markerProbe->unansweredFor();
}

void TeamBundle::countChange(int running, int givenUp)
{
    m_changesRunning += running;
    m_changesGivenUp += givenUp;
}

void TeamBundle::poll()
{
    if (!checkReachable())
        return;
    // Temporary files this client could not remove while the share was gone.
    m_contents->removeOwnTemporaries();
    confirmUnconfirmed();
    QStringList problems;
    const auto records = m_journal->readNew(problems);
    const QStringList withdrawn = m_journal->withdrawnProblems();
    if (!problems.isEmpty() || !withdrawn.isEmpty()) {
        std::lock_guard lock(m_problemsMutex);
        for (const auto& problem : withdrawn) {
            if (m_problems.removeAll(problem) > 0)
                m_log->event(QStringLiteral("No longer so: ") + escapedForLog(problem), QStringLiteral("poll"),
                             Logger::Level::info);
        }
        for (const auto& problem : std::as_const(problems)) {
            if (!m_problems.contains(problem)) {
                m_problems << problem;
                m_log->event(escapedForLog(problem), QStringLiteral("poll"), Logger::Level::error);
            }
        }
    }
    // The locks that new records say were taken or given up, with those of the bundles nested
    // in them (a library's check-out holds its events' locks too).
    QSet<IdFor<VersionBundle>> named;
    const auto snapshot = m_model.snapshot();
    for (const auto& record : records) {
        if (record.kind != RecordKind::lock && record.kind != RecordKind::discard && record.kind != RecordKind::version)
            continue;
        named.insert(record.bundle);
        if (const auto state = snapshot->find(record.bundle))
            named.unite(QSet<IdFor<VersionBundle>>(state->children.cbegin(), state->children.cend()));
    }
    QHash<IdFor<VersionBundle>, QString> forceUnlockedBy;
    QSet<IdFor<VersionBundle>> changed = refreshLocks(forceUnlockedBy, named);
    changed += m_model.apply(records);
    publish(changed, std::move(forceUnlockedBy));
    finishReleases();
    autoSave();
}

void TeamBundle::setRecordWaitLimit(std::chrono::milliseconds limit)
{
    m_recordWaitLimitMs = limit.count();
}

void TeamBundle::awaitRecords(const QList<ReleaseNote>& notes, const QString& itemName)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_recordWaitLimitMs.load());
    auto pause = std::chrono::milliseconds(50);
    // A client new to this computer is read by name before a listing of the journal shows it.
    for (const auto& note : notes)
        m_journal->lookFor(note.clientId);
    for (;;) {
        bool missing = false;
        for (const auto& note : notes) {
            switch (m_journal->recordState(note.clientId, note.seq)) {
            case RecordState::read:
                break;
            case RecordState::damaged:
                m_log->event(
                    QStringLiteral("The record %1 of %2 that last changed %3 is damaged; checking out without it.")
                        .arg(note.seq)
                        .arg(escapedForLog(note.clientId), escapedForLog(itemName)),
                    QStringLiteral("awaitRecords"), Logger::Level::error);
                break;
            case RecordState::notYet:
                missing = true;
                break;
            }
        }
        if (!missing)
            return;
        if (std::chrono::steady_clock::now() >= deadline)
            throw VersioningError(VersioningError::Case::changesNotArrived, itemName);
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(1000));
        poll();
    }
}

} // namespace vantrel
