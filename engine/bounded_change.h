#pragma once

#include "engine/check_out_options.h"
#include "engine/engine_errors.h"
#include "engine/share_outage.h"
#include "engine/team_bundle.h"
#include "foundation/worker.h"

#include <QCoroFuture>
#include <QCoroTask>
#include <QFuture>
#include <QPromise>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

namespace vantrel {

// What a change run on a worker shares with the one who awaits it. A read or write on a share
// whose server hangs returns only when the server answers again, so the worker may stay stuck
// for minutes; the awaiting side then stops waiting for it and reports the change as not done.
// Exactly one of the two decides: the awaiting side abandons the change only while it is
// running, and the worker begins to publish it (its record, or ending a check-out) only while
// it is not abandoned. A worker that finds its change abandoned stops there and publishes nothing.
class ChangeToken {
public:
    enum class State { running, abandoned, committing, published };

    State state() const { return m_state.load(); }
    // From the awaiting side: true when the change had not begun to publish, which it now never does.
    bool abandon();

    // The change the calling thread is making, if any.
    static ChangeToken* current();
    // Right before the step that publishes the change: from then on it can't be abandoned. Throws
    // TeamBundleError unreachable when it was abandoned. Nothing to do on a thread making no
    // change, or once the change began to publish.
    static void beginPublishing(const QString& root);
    // The step that publishes the change is done (the record is written).
    static void published();
    // Throws TeamBundleError unreachable when the change was abandoned: it goes no further.
    static void stopIfAbandoned(const QString& root);

    // Makes `token` the change of the calling thread while it lives.
    class Scope {
    public:
        explicit Scope(ChangeToken* token);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        ChangeToken* m_previous;
    };

private:
    std::atomic<State> m_state{State::running};
};

namespace bounded_change {

// How long a change is still waited for once a look for the team bundle's marker failed while it
// ran, the share answering errors: a share that went away for good fails the change itself within
// that time, with its own words.
constexpr auto grace = std::chrono::seconds(2);
// How long a look for the marker must go unanswered before a change is no longer waited for. A
// share that is only slow (a busy server, a loaded computer) answers a look late, past the look's
// own bound; one that hangs never does.
constexpr auto unanswered = std::chrono::seconds(5);
// How often the awaiting side looks at the team bundle's reachability (read from memory).
constexpr auto watchInterval = std::chrono::milliseconds(100);

// The threads that run changes, apart from every other pool: a change stuck on a hung share
// keeps its thread, and must not hold up polls, reads or the next change.
QThreadPool& pool();

// Refuses at once (TeamBundleError::unreachableDuring) a change of `team` while one of its
// changes that was no longer waited for is still stuck: at most one thread per team bundle stays
// stuck, and a change tried again never runs beside the one it replaces.
void admit(TeamBundle& team, TeamBundleError::Attempt attempt);

// The watch of one change: its token, the outcome the awaiting side gets, and whether that was
// given by the worker or without it.
template<typename R>
struct Watch {
    explicit Watch(std::shared_ptr<TeamBundle> bundle);
    ~Watch();
    // From the worker: its outcome, unless the awaiting side no longer waited for it.
    void finish(detail::WorkerOutcome<R> outcome);
    // From the awaiting side, every watchInterval.
    void look(TeamBundleError::Attempt attempt);

    std::shared_ptr<TeamBundle> team;
    ChangeToken token;
    QPromise<detail::WorkerOutcome<R>> promise;
    std::mutex mutex;
    bool settled = false;
    bool gaveUp = false; // settled by the awaiting side while the worker is stuck
    unsigned long long failedLooks = 0;
    std::optional<std::chrono::steady_clock::time_point> unreachableSince;
};

// Logs, on the worker that finished it, a change that was no longer waited for.
void logLateEnd(TeamBundle& team, ChangeToken::State state);
// Whether a published change whose worker is stuck after it is reported done: one that returns
// nothing, or a check-in (the window learns of the rest from the poll).
template<typename R>
constexpr bool doneWithoutResult = std::is_void_v<R> || std::is_same_v<R, CheckInOutcome>;

template<typename R>
Watch<R>::Watch(std::shared_ptr<TeamBundle> bundle) : team(std::move(bundle))
{
    team->countChange(1, 0);
    failedLooks = team->failedLooks();
    promise.start();
}

template<typename R>
Watch<R>::~Watch() = default;

template<typename R>
void Watch<R>::finish(detail::WorkerOutcome<R> outcome)
{
    bool late = false;
    {
        std::lock_guard lock(mutex);
        if (!settled) {
            settled = true;
            promise.addResult(std::move(outcome));
            promise.finish();
        }
        late = gaveUp;
    }
    if (late)
        logLateEnd(*team, token.state());
    team->countChange(-1, late ? -1 : 0);
}

template<typename R>
void Watch<R>::look(TeamBundleError::Attempt attempt)
{
    const auto now = std::chrono::steady_clock::now();
    if (!unreachableSince) {
        // A look made since the change began failed.
        if (team->failedLooks() != failedLooks)
            unreachableSince = now;
        return;
    }
    if (team->isReachable()) {
        // Back: waited for as long as it answers.
        unreachableSince.reset();
        failedLooks = team->failedLooks();
        return;
    }
    if (const auto waited = team->lookUnansweredFor(); waited > std::chrono::steady_clock::duration{}) {
        if (waited < unanswered)
            return; // slow, perhaps: answered late, it is waited for again
    } else if (now - *unreachableSince < grace) {
        return;
    }
    std::lock_guard lock(mutex);
    if (settled)
        return;
    detail::WorkerOutcome<R> outcome;
    if (token.abandon()) {
        outcome.failure = std::make_exception_ptr(TeamBundleError::unreachableDuring(attempt, team->rootPath()));
    } else if (doneWithoutResult<R> && token.state() == ChangeToken::State::published) {
        if constexpr (doneWithoutResult<R> && !std::is_void_v<R>)
            outcome.value.emplace();
    } else {
        outcome.failure = std::make_exception_ptr(TeamBundleError::unconfirmedDuring(attempt, team->rootPath()));
    }
    settled = true;
    gaveUp = true;
    team->countChange(0, 1);
    promise.addResult(std::move(outcome));
    promise.finish();
}

} // namespace bounded_change

// Runs change `work` of `team` on a worker of its own, worded as wordedForOutage() does, and
// resumes the awaiting coroutine on its thread when it ends, or, when the team bundle can't be
// reached while it runs and the change does not end within bounded_change::grace, without it:
// a change not yet publishing ends as TeamBundleError::unreachableDuring(attempt) and never
// lands later; one caught publishing ends as published (a check-in, or a change returning
// nothing, once its record is written) or as to be confirmed once the share answers.
// The awaiting thread must run an event loop (it watches with a timer); the share is never
// touched from it. Name the lambda before awaiting it (see onWorker).
template<typename F>
auto boundedChange(std::shared_ptr<TeamBundle> team, TeamBundleError::Attempt attempt, F work,
                   std::function<bool()> landed = {}) -> QCoro::Task<std::invoke_result_t<F>>
{
    using R = std::invoke_result_t<F>;
    bounded_change::admit(*team, attempt);
    auto watch = std::make_shared<bounded_change::Watch<R>>(team);
    auto worded = wordedForOutage(team, attempt, std::move(work), std::move(landed));
    QFuture<detail::WorkerOutcome<R>> future = watch->promise.future();
    bounded_change::pool().start([watch, worded = std::move(worded)]() mutable {
        auto outcome = [&] {
            ChangeToken::Scope scope(&watch->token);
            return detail::outcomeOf(worded);
        }();
        watch->finish(std::move(outcome));
    });
    QTimer timer;
    timer.setInterval(bounded_change::watchInterval);
    QObject::connect(&timer, &QTimer::timeout, [watch, attempt] { watch->look(attempt); });
    timer.start();
    auto outcome = co_await future;
    timer.stop();
    if (outcome.failure)
        std::rethrow_exception(outcome.failure);
    if constexpr (!std::is_void_v<R>)
        co_return std::move(*outcome.value);
}

} // namespace vantrel
