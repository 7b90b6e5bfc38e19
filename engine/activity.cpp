#include "engine/activity.h"

#include "desktop/user_identity.h"
#include "engine/team_bundle.h"

namespace vantrel {

namespace {

const QUuid activityNamespace = QUuid::fromString(QStringLiteral("{5b0c4c38-9a43-4a53-9f8f-8c1e2f1d7a10}"));

QString stampText(const JournalStamp& stamp)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(stamp.lamport, 12, 10, QLatin1Char('0'))
        .arg(stamp.client)
        .arg(stamp.seq)
        .arg(stamp.sub);
}

std::optional<ActivityInfo::StateKind> kindOf(const JournalRecord& record, const BundleState& state)
{
    switch (record.kind) {
    case RecordKind::version: {
        const auto origin = versionOriginFromText(record.fields.value(QStringLiteral("origin")).toString());
        if (origin == VersionOrigin::imported)
            return ActivityInfo::StateKind::imported;
        if (origin == VersionOrigin::created)
            return ActivityInfo::StateKind::created;
        return ActivityInfo::StateKind::newVersion;
    }
    case RecordKind::revert:
        return ActivityInfo::StateKind::revert;
    case RecordKind::lock:
        return ActivityInfo::StateKind::lock;
    case RecordKind::editing:
        return ActivityInfo::StateKind::editing;
    case RecordKind::rename:
        if (record.stamp != state.createdStamp)
            return ActivityInfo::StateKind::descriptionChanged;
        break;
    case RecordKind::discard:
        return ActivityInfo::StateKind::changesDiscarded;
    case RecordKind::trash:
        return ActivityInfo::StateKind::deleted;
    case RecordKind::create:
    case RecordKind::nest:
    case RecordKind::unnest:
    case RecordKind::restore:
    case RecordKind::deletePermanently:
    case RecordKind::unknown:
        break;
    }
    return std::nullopt;
}

} // namespace

QList<ActivityInfo> activities(const std::shared_ptr<TeamBundle>& team, const BundleState& state)
{
    QList<ActivityInfo> list;
    const std::weak_ptr<TeamBundle> weakTeam = team;
    const auto id = state.id;
    for (auto it = state.history.crbegin(); it != state.history.crend(); ++it) {
        const JournalRecord& record = *it;
        const auto kind = kindOf(record, state);
        if (!kind)
            continue;
        ActivityInfo info;
        info.stamp = stampText(record.stamp);
        info.id = IdFor<States>(QUuid::createUuidV5(activityNamespace, info.stamp));
        info.state.kind = *kind;
        info.userName = displayName(record.fullName(), record.userName());
        info.hostName = record.hostName();
        info.date = record.date;
        info.message = record.fields.value(QStringLiteral("message")).toString();
        const bool namesVersion = record.kind == RecordKind::version || record.kind == RecordKind::revert;
        if (namesVersion) {
            const auto version = IdFor<Versions>::fromString(record.fields.value(QStringLiteral("version")).toString());
            info.versionID = version.value_or(IdFor<Versions>());
            info.allowsVersionActions = version.has_value();
            const auto versionID = info.versionID;
            info.isCurrent = [weakTeam, id, versionID] {
                const auto team = weakTeam.lock();
                const auto now = team ? team->snapshot()->find(id) : nullptr;
                return now && now->currentVersion() && now->currentVersion()->id == versionID;
            };
            if (record.kind == RecordKind::revert) {
                info.message.clear();
                if (const auto target =
                        IdFor<Versions>::fromString(record.fields.value(QStringLiteral("target")).toString())) {
                    if (const VersionInfo* reverted = state.version(*target)) {
                        info.state.commitMessage = reverted->message;
                        info.state.modificationDate = reverted->date;
                    }
                }
            }
        } else {
            if (const VersionInfo* version = state.versionAt(record.stamp))
                info.versionID = version->id;
            if (record.kind == RecordKind::rename)
                info.message = record.fields.value(QStringLiteral("name")).toString();
            if (record.kind == RecordKind::lock) {
                const QString client = record.stamp.client;
                info.isCurrent = [weakTeam, id, client] {
                    const auto team = weakTeam.lock();
                    const auto holder = team ? team->locks().holder(id) : std::nullopt;
                    return holder && holder->clientId == client;
                };
            } else {
                info.isCurrent = [] { return false; };
            }
        }
        list.append(std::move(info));
    }
    return list;
}

struct ActivityStore::Shared {
    std::weak_ptr<TeamBundle> team;
    IdFor<VersionBundle> id;
    PassthroughSubject<QList<ActivityInfo>> subject;
    Cancellable onChange;

    QList<ActivityInfo> read() const
    {
        const auto owner = team.lock();
        const auto state = owner ? owner->snapshot()->find(id) : nullptr;
        return state ? activities(owner, *state) : QList<ActivityInfo>();
    }
};

ActivityStore::ActivityStore(std::shared_ptr<TeamBundle> team, IdFor<VersionBundle> id)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->team = team;
    m_shared->id = id;
    std::weak_ptr<Shared> weakShared = m_shared;
    m_shared->onChange = team->changes().sink([weakShared, id](const TeamBundleChange& change) {
        if (!change.bundles.contains(id))
            return;
        if (const auto shared = weakShared.lock())
            shared->subject.send(shared->read());
    });
}

AnyPublisher<QList<ActivityInfo>> ActivityStore::publisher() const
{
    const auto shared = m_shared;
    return AnyPublisher<QList<ActivityInfo>>([shared](Subscriber<QList<ActivityInfo>> subscriber) {
        auto subscription = shared->subject.publisher().subscribe(subscriber);
        subscriber.receive(shared->read());
        return subscription;
    });
}

AnyPublisher<QList<ActivityInfo>> ActivityStore::changes() const
{
    return m_shared->subject.publisher();
}

void ActivityStore::update()
{
    m_shared->subject.send(m_shared->read());
}

QList<ActivityInfo> ActivityStore::current() const
{
    return m_shared->read();
}

} // namespace vantrel
