// Locks and check-outs as the bundle sees them: ending a check-out, giving locks up (now or as
// soon as the share allows), and what each poll reads of the locks, such as a check-out of ours
// whose lock somebody took.

#include "engine/team_bundle.h"

#include "engine/engine_errors.h"

#include <QFileInfo>
#include <QScopeGuard>

namespace vantrel {

void TeamBundle::endCheckout(const IdFor<VersionBundle>& bundle, const QList<IdFor<VersionBundle>>& locked,
                             const std::optional<ReleaseNote>& note)
{
    {
        std::lock_guard ending(m_endingMutex);
        m_ending.insert(bundle);
    }
    const auto ended = qScopeGuard([this, &bundle] {
        std::lock_guard ending(m_endingMutex);
        m_ending.remove(bundle);
    });
    // The lock first: the record outlives it, never the other way round (a lock of ours without
    // a record would wait for a force unlock, its working copy unknown to this client), unless
    // the lock is noted as to be given up.
    giveUpLocks(bundle, locked, note);
    m_checkouts->remove(bundle);
}

void TeamBundle::giveUpLocks(const IdFor<VersionBundle>& initiator, const QList<IdFor<VersionBundle>>& locked,
                             const std::optional<ReleaseNote>& note)
{
    const QString failure =
        m_releases->run(PendingRelease{initiator, locked, note}, std::chrono::milliseconds(m_releaseWaitMs.load()));
    if (!failure.isEmpty())
        m_log->event(QStringLiteral("The locks are given up as soon as the share allows it: ") + escapedForLog(failure),
                     QStringLiteral("giveUpLocks"), Logger::Level::warning);
}

void TeamBundle::setReleaseWaitForTesting(std::chrono::milliseconds wait)
{
    m_releaseWaitMs = wait.count();
}

void TeamBundle::settleReleases(const QList<IdFor<VersionBundle>>& ids, const IdFor<VersionBundle>& initiator)
{
    finishReleases();
    m_releases->keep(ids, initiator);
}

void TeamBundle::finishReleases()
{
    if (m_releases->isEmpty())
        return;
    // Short tries: the next poll tries again.
    for (const QString& failure : m_releases->finish(heldOpenBound::retriedByPoll))
        m_log->event(QStringLiteral("The locks are given up as soon as the share allows it: ") + escapedForLog(failure),
                     QStringLiteral("poll"), Logger::Level::warning);
}

QSet<IdFor<VersionBundle>> TeamBundle::rereadLocks(const QSet<IdFor<VersionBundle>>& named)
{
    // A lock taken or given up elsewhere shows in a listing of locks/ only once the share's
    // cache of it expires (20 s with sshfs's defaults); the records that go with it (a check-out,
    // a check-in, a discard) are read by name at once, and so are the lock files they name. A
    // lock is given up just after its record is written, so it is read again for a while; and
    // for as long as the listing does not show it as it is, lest the listing undo it.
    constexpr auto watchSpan = std::chrono::seconds(30);
    const auto now = std::chrono::steady_clock::now();
    QSet<IdFor<VersionBundle>> watched;
    {
        std::lock_guard lock(m_lockWatchMutex);
        for (const auto& id : named)
            m_lockWatch.insert(id, now + watchSpan);
        for (auto it = m_lockWatch.cbegin(); it != m_lockWatch.cend(); ++it)
            watched.insert(it.key());
    }
    const auto holderText = [this](const IdFor<VersionBundle>& id) {
        const auto holder = m_locks->holder(id);
        return holder ? holder->toJson() : QByteArray();
    };
    QHash<IdFor<VersionBundle>, QByteArray> before;
    for (const auto& id : std::as_const(watched))
        before.insert(id, holderText(id));
    const QSet<IdFor<VersionBundle>> listed = m_locks->refresh();
    m_locks->reread(watched);
    QSet<IdFor<VersionBundle>> changed = listed;
    std::lock_guard lock(m_lockWatchMutex);
    for (const auto& id : std::as_const(watched)) {
        if (holderText(id) != before.value(id))
            changed.insert(id);
        else
            changed.remove(id); // only the listing disagreed, and the file read by name won
        // Given up (or never taken: an import), or read for long enough, once the listing agrees.
        const auto until = m_lockWatch.constFind(id);
        if (until != m_lockWatch.cend() && (*until <= now || !m_locks->holder(id)) && !listed.contains(id))
            m_lockWatch.erase(until);
    }
    return changed;
}

QSet<IdFor<VersionBundle>> TeamBundle::refreshLocks(QHash<IdFor<VersionBundle>, QString>& forceUnlockedBy,
                                                    const QSet<IdFor<VersionBundle>>& named)
{
    QSet<IdFor<VersionBundle>> changed = rereadLocks(named);
    // A check-out of ours whose lock is no longer ours: somebody broke it. The working copy
    // stays where it is; a copy of it goes to the attic, once. A check-out this client is ending
    // has given up its lock itself, and one that has ended is gone: both are left alone.
    for (const Checkout& listed : m_checkouts->all()) {
        std::lock_guard ending(m_endingMutex);
        const auto checkout = m_checkouts->find(listed.bundle);
        const auto holder = checkout ? m_locks->holder(checkout->bundle) : std::nullopt;
        if (checkout && checkout->displaced && m_locks->isMine(checkout->bundle, checkout->bundle)
            && holder->date.isValid() && holder->date <= checkout->date) {
            // The lock this check-out took names it after all (it read otherwise for a while):
            // the check-out is ours again, its working copy where it was, and the copy in the
            // attic stays. A lock taken since (a new check-out under way) is not that lock.
            m_checkouts->update(checkout->bundle, [](Checkout& kept) { kept.displaced = false; });
            changed.insert(checkout->bundle);
            continue;
        }
        if (!checkout || checkout->displaced || m_ending.contains(checkout->bundle)
            || m_locks->isMine(checkout->bundle, checkout->bundle))
            continue;
        if (holder && holder->forced)
            forceUnlockedBy.insert(checkout->bundle, displayName(holder->fullName, holder->userName));
        changed.insert(checkout->bundle);
        try {
            // The copy kept is noted as the last one, so that a refused check-in keeps no second
            // entry of the same.
            QString kept;
            if (QFileInfo::exists(checkout->workingCopy))
                kept = keepInAttic(checkout->bundle, checkout->workingCopy, QStringLiteral("force unlocked")).toHex();
            m_checkouts->update(checkout->bundle, [&kept](Checkout& saved) {
                saved.displaced = true;
                if (!kept.isEmpty())
                    saved.lastSavedManifest = kept;
            });
        } catch (const Error& error) {
            m_log->event(escapedForLog(error.localizedDescription()), QStringLiteral("refreshLocks"),
                         Logger::Level::error);
        }
    }
    return changed;
}

} // namespace vantrel
