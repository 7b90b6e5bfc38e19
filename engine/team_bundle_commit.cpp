// Writing a change into the team bundle and reading it back by name: what a commit reports rests
// on what the bundle as it is now holds, never on what this client wrote into a folder that was
// replaced meanwhile.

#include "engine/team_bundle.h"

#include "engine/bounded_change.h"
#include "engine/journal/journal_files.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/storage_error.h"
#include "engine/versioning_support.h"
#include "foundation/json_coding.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>

namespace vantrel {

namespace {

// The root trees the changes of one record name.
QSet<ContentHash> treesNamed(const std::vector<JournalRecord>& records)
{
    QSet<ContentHash> trees; // one record may name a tree many times
    for (const auto& record : records) {
        if (const auto tree = ContentHash::fromHex(record.fields.string(QLatin1StringView("manifest"))))
            trees.insert(*tree);
    }
    return trees;
}

QString recordText(const JournalStamp& stamp)
{
    return QStringLiteral("record %1 of client %2").arg(QString::number(stamp.seq), stamp.client);
}

} // namespace

std::vector<JournalRecord> TeamBundle::commit(const std::vector<JournalChange>& changes, ContentStore::Written* written)
{
    if (m_commitObserver)
        m_commitObserver(CommitStep::checking);
    // The trees the versions name are read by name before the record is written too: a share
    // replaced by an older copy while the contents were stored is then refused before it holds
    // a record naming contents it lacks.
    QSet<ContentHash> named;
    for (const auto& change : changes) {
        if (const auto tree = ContentHash::fromHex(change.fields.value(QStringLiteral("manifest")).toString()))
            named.insert(*tree);
    }
    confirmTrees(named);
    if (m_commitObserver)
        m_commitObserver(CommitStep::publishing);
    // A change no longer waited for (its share stopped answering) stops here and publishes
    // nothing; one that gets past this is no longer given up as not done.
    ChangeToken::beginPublishing(m_root);
    // A failure from here on may leave the record on the share: its contents stay.
    if (written)
        written->keep();
    auto records = m_journal->append(changes, m_identity.user);
    ChangeToken::published();
    // From here on the change is published: the team may have read it, whatever follows.
    if (m_commitObserver)
        m_commitObserver(CommitStep::published);
    switch (readBack(records.front().stamp, treesNamed(records), false)) {
    case Readback::held:
        break;
    case Readback::unreachable:
        // Published, so never reported as failed: it is read back at the next poll that reaches
        // the share, and reported as a problem should it be missing then.
        m_log->event(QStringLiteral("The %1 was published but could not be read back: the team bundle can't be "
                                    "reached. It is checked again once it can.")
                         .arg(recordText(records.front().stamp)),
                     QStringLiteral("commit"), Logger::Level::warning);
        {
            std::lock_guard lock(m_unconfirmedMutex);
            m_unconfirmed.push_back(records);
        }
        break;
    case Readback::recordMissing:
        // Not folded: the bundle as it is now doesn't hold it, and a retry builds on what it has.
        throw TeamBundleError(TeamBundleError::Case::replacedUnderChange, m_root);
    case Readback::contentsMissing:
        // The record is there for everybody to read, its contents are not: it is folded as the
        // team folds it, and withdrawn so that no client takes its versions for current.
        publish(m_model.apply(records));
        withdraw(records);
        throw TeamBundleError(TeamBundleError::Case::replacedUnderChange, m_root);
    }
    if (m_journal->packDue())
        requestPack(); // written by the background thread, never by the commit
    publish(m_model.apply(records));
    return records;
}

TeamBundle::Readback TeamBundle::readBack(const JournalStamp& record, const QSet<ContentHash>& trees,
                                          bool everyContent) const
{
    // Each read by name, never from a listing nor from what is kept in memory: the share may
    // have been replaced by an older copy of itself (a restore, a failover) between storing the
    // contents and publishing the record, or it may be gone. Something missing counts only while
    // the marker still reads: a share that went away meanwhile is unreachable, not replaced.
    const auto markerReads = [this] {
        try {
            readWholeFile(m_root + QStringLiteral("/team.json"), readLimits::teamMarker);
            return true;
        } catch (const StorageError&) {
            return false;
        }
    };
    const auto missing = [&](Readback what) { return markerReads() ? what : Readback::unreachable; };
    if (!markerReads())
        return Readback::unreachable;
    const QString folder = m_root + QStringLiteral("/journal/") + record.client;
    try {
        readWholeFile(folder + QLatin1Char('/') + journal_files::recordFileName(record.seq), readLimits::journalRecord);
    } catch (const StorageError& error) {
        if (error.kind() != StorageError::Kind::notFound)
            return error.kind() == StorageError::Kind::corrupt ? Readback::recordMissing : Readback::unreachable;
        // Packed in the meantime by the writer's background thread.
        const auto packs = journal_files::listFolder(folder).packs;
        const qint64 seq = record.seq;
        if (std::none_of(packs.begin(), packs.end(),
                         [seq](const journal_files::PackFile& pack) { return pack.first <= seq && seq <= pack.last; }))
            return missing(Readback::recordMissing);
    }
    try {
        if (everyContent) {
            // Every tree from the share (never the trees kept in memory), every content opened
            // by name, of the size its tree gives.
            for (const auto& tree : trees) {
                TreeReader reader(*m_contents, false);
                for (const auto& entry : readTree(reader, tree).entries) {
                    if (entry.kind != ManifestEntry::Kind::file)
                        continue;
                    if (!m_contents->holds({entry.hash, entry.size, entry.chunks}))
                        return Readback::contentsMissing;
                }
            }
        } else {
            confirmTrees(trees);
        }
    } catch (const TeamBundleError&) {
        return missing(Readback::contentsMissing);
    } catch (const StorageError& error) {
        if (error.kind() == StorageError::Kind::notFound)
            return missing(Readback::contentsMissing);
        return error.kind() == StorageError::Kind::corrupt ? Readback::contentsMissing : Readback::unreachable;
    } catch (const DecodingError&) {
        return Readback::contentsMissing;
    }
    return Readback::held;
}

bool TeamBundle::holdsWhole(const JournalStamp& record, const QSet<ContentHash>& trees) const
{
    switch (readBack(record, trees, true)) {
    case Readback::held:
        return true;
    case Readback::unreachable:
        throw TeamBundleError(TeamBundleError::Case::unreachable, m_root);
    default:
        return false;
    }
}

void TeamBundle::withdraw(const std::vector<JournalRecord>& records)
{
    // Every client folds a withdrawal, older ones too: a revert to the version before, or the
    // removal of a bundle the record created. Only versions still current are withdrawn: one
    // saved over them since is left to stand.
    const auto snapshot = m_model.snapshot();
    std::vector<JournalChange> withdrawals;
    for (const auto& record : records) {
        const auto state = snapshot->find(record.bundle);
        if (!state)
            continue;
        if (record.kind == RecordKind::create) {
            withdrawals.push_back({record.bundle, RecordKind::deletePermanently, {}});
            continue;
        }
        const VersionInfo* now = state->currentVersion();
        if ((record.kind != RecordKind::version && record.kind != RecordKind::revert) || !now
            || now->stamp != record.stamp)
            continue;
        // The newest version before it whose root tree the bundle holds: the one before may be
        // missing too, when the older copy predates it.
        const VersionInfo* previous = nullptr;
        int looked = 0;
        for (auto version = state->versions.crbegin(); version != state->versions.crend() && !previous; ++version) {
            if (!(version->stamp < record.stamp))
                continue;
            if (++looked > 16)
                break;
            try {
                confirmTrees({version->manifest});
                previous = &*version;
            } catch (const Error&) {
            }
        }
        if (!previous)
            continue;
        QJsonObject fields = versioning::versionFields(IdFor<Versions>::make(), previous->manifest, previous->message,
                                                       previous->application, VersionOrigin::reverted);
        fields.insert(QStringLiteral("target"), previous->id.toString());
        withdrawals.push_back({record.bundle, RecordKind::revert, fields});
    }
    const QString what = recordText(records.front().stamp);
    if (withdrawals.empty()) {
        reportProblem(QStringLiteral("The %1 names contents the team bundle doesn't hold.").arg(what));
        return;
    }
    try {
        const auto written = m_journal->append(withdrawals, m_identity.user);
        publish(m_model.apply(written));
        m_log->event(QStringLiteral("The %1 names contents the team bundle doesn't hold (it was replaced by an older "
                                    "copy while they were saved); it is withdrawn.")
                         .arg(what),
                     QStringLiteral("commit"), Logger::Level::error);
    } catch (const Error& error) {
        reportProblem(
            QStringLiteral("The %1 names contents the team bundle doesn't hold, and could not be withdrawn: %2")
                .arg(what, error.localizedDescription()));
    }
}

void TeamBundle::reportProblem(const QString& problem)
{
    m_log->event(escapedForLog(problem), QStringLiteral("commit"), Logger::Level::error);
    std::lock_guard lock(m_problemsMutex);
    if (!m_problems.contains(problem))
        m_problems << problem;
}

void TeamBundle::confirmUnconfirmed()
{
    std::vector<std::vector<JournalRecord>> pending;
    {
        std::lock_guard lock(m_unconfirmedMutex);
        pending.swap(m_unconfirmed);
    }
    std::vector<std::vector<JournalRecord>> later;
    for (auto& records : pending) {
        switch (readBack(records.front().stamp, treesNamed(records), false)) {
        case Readback::held:
            m_log->event(QStringLiteral("The %1 is in the team bundle.").arg(recordText(records.front().stamp)),
                         QStringLiteral("poll"), Logger::Level::info);
            break;
        case Readback::unreachable:
            later.push_back(std::move(records));
            break;
        case Readback::recordMissing:
            reportProblem(QStringLiteral("The %1, saved here while the team bundle could not be reached, is not in "
                                         "it as it is now.")
                              .arg(recordText(records.front().stamp)));
            break;
        case Readback::contentsMissing:
            withdraw(records);
            break;
        }
    }
    if (!later.empty()) {
        std::lock_guard lock(m_unconfirmedMutex);
        std::move(later.begin(), later.end(), std::back_inserter(m_unconfirmed));
    }
}

void TeamBundle::confirmTrees(const QSet<ContentHash>& trees) const
{
    for (const auto& tree : trees) {
        try {
            m_contents->readBytes(tree);
        } catch (const StorageError& error) {
            if (error.kind() == StorageError::Kind::notFound)
                throw TeamBundleError(TeamBundleError::Case::replacedUnderChange, m_root);
            throw;
        }
    }
}

void TeamBundle::setCommitObserverForTesting(std::function<void(CommitStep)> observe)
{
    m_commitObserver = std::move(observe);
}

std::vector<JournalRecord> TeamBundle::commit(RecordKind kind, const IdFor<VersionBundle>& bundle,
                                              const QJsonObject& fields)
{
    return commit({JournalChange{bundle, kind, fields}});
}

} // namespace vantrel
