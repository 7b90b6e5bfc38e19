#include "engine/bounded_change.h"

namespace vantrel {

namespace {

thread_local ChangeToken* currentToken = nullptr;

} // namespace

bool ChangeToken::abandon()
{
    auto expected = State::running;
    return m_state.compare_exchange_strong(expected, State::abandoned);
}

ChangeToken* ChangeToken::current()
{
    return currentToken;
}

void ChangeToken::beginPublishing(const QString& root)
{
    if (!currentToken)
        return;
    auto expected = State::running;
    if (!currentToken->m_state.compare_exchange_strong(expected, State::committing) && expected == State::abandoned)
        throw TeamBundleError(TeamBundleError::Case::unreachable, root);
}

void ChangeToken::published()
{
    if (currentToken)
        currentToken->m_state.store(State::published);
}

void ChangeToken::stopIfAbandoned(const QString& root)
{
    if (currentToken && currentToken->m_state.load() == State::abandoned)
        throw TeamBundleError(TeamBundleError::Case::unreachable, root);
}

ChangeToken::Scope::Scope(ChangeToken* token) : m_previous(std::exchange(currentToken, token)) {}

ChangeToken::Scope::~Scope()
{
    currentToken = m_previous;
}

namespace bounded_change {

QThreadPool& pool()
{
    // Never destroyed: a thread stuck on a hung share must not hold up the end of the process.
    static QThreadPool* changes = [] {
        auto* created = new QThreadPool();
        created->setMaxThreadCount(64);
        return created;
    }();
    return *changes;
}

void admit(TeamBundle& team, TeamBundleError::Attempt attempt)
{
    if (team.changesGivenUp() > 0)
        throw TeamBundleError::unreachableDuring(attempt, team.rootPath());
}

void logLateEnd(TeamBundle& team, ChangeToken::State state)
{
    team.log().event(state == ChangeToken::State::abandoned
                         ? QStringLiteral("A change no longer waited for while the share did not answer ended "
                                          "without being published.")
                         : QStringLiteral("A change no longer waited for while the share did not answer ended after "
                                          "it began to publish."),
                     QStringLiteral("outage"), Logger::Level::warning);
}

} // namespace bounded_change

} // namespace vantrel
