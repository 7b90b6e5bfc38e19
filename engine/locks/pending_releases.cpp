#include "engine/locks/pending_releases.h"

#include "engine/engine_errors.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/read_limits.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace vantrel {

QByteArray PendingRelease::toJson() const
{
    QJsonArray ids;
    for (const auto& id : locks)
        ids.append(id.toString());
    QJsonObject object{{QStringLiteral("initiator"), initiator.toString()}, {QStringLiteral("locks"), ids}};
    if (note)
        object.insert(QStringLiteral("note"), QJsonDocument::fromJson(note->toJson()).object());
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

PendingRelease PendingRelease::fromJson(const QByteArray& json)
{
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    PendingRelease release;
    const auto initiator = IdFor<VersionBundle>::fromString(object.value(QStringLiteral("initiator")).toString());
    if (!initiator)
        throw DecodingError(QStringLiteral("The pending release names no bundle."));
    release.initiator = *initiator;
    for (const QJsonValue& value : object.value(QStringLiteral("locks")).toArray()) {
        if (const auto id = IdFor<VersionBundle>::fromString(value.toString()))
            release.locks << *id;
    }
    if (object.contains(QStringLiteral("note")))
        release.note = ReleaseNote::fromJson(QJsonDocument(object.value(QStringLiteral("note")).toObject()).toJson());
    return release;
}

PendingReleases::PendingReleases(QString folder, LockTable& locks, std::function<void(const QString&)> dropped)
    : m_folder(std::move(folder)),
      m_locks(locks),
      m_dropped(std::move(dropped))
{
    for (const QString& name : QDir(m_folder).entryList({QStringLiteral("*.json")}, QDir::Files)) {
        try {
            const PendingRelease release =
                PendingRelease::fromJson(readWholeFile(m_folder + QLatin1Char('/') + name, readLimits::checkoutRecord));
            m_pending.insert(release.initiator, release);
            m_count = m_pending.size();
        } catch (const Error& error) {
            qWarning("A pending release could not be read: %s", error.what());
        }
    }
}

QString PendingReleases::pathFor(const IdFor<VersionBundle>& initiator) const
{
    return m_folder + QLatin1Char('/') + initiator.toString() + QStringLiteral(".json");
}

void PendingReleases::save(const PendingRelease& release) noexcept
{
    try {
        if (release.locks.isEmpty() && !release.note) {
            QFile::remove(pathFor(release.initiator));
            return;
        }
        ensureDirectory(m_folder);
        writeFileAtomically(pathFor(release.initiator), release.toJson());
    } catch (const std::exception& error) {
        // The local disk refused: the release is still tried now, and by the polls of this run.
        qWarning("A pending release could not be noted: %s", error.what());
    }
}

QString PendingReleases::run(const PendingRelease& release, std::chrono::milliseconds heldOpen)
{
    std::lock_guard lock(m_mutex);
    PendingRelease& pending = m_pending[release.initiator];
    m_count = m_pending.size();
    pending.initiator = release.initiator;
    for (const auto& id : release.locks) {
        if (!pending.locks.contains(id))
            pending.locks << id;
    }
    if (release.note)
        pending.note = release.note;
    save(pending);
    return runLocked(pending, heldOpen);
}

bool PendingReleases::keepOnlyOurs(PendingRelease& release, QString& failure)
{
    bool known = true;
    const qsizetype removed = release.locks.removeIf([&](const IdFor<VersionBundle>& id) {
        try {
            if (m_locks.isMineNow(id, release.initiator))
                return false;
        } catch (const Error& error) {
            // Unknown for now (the share can't be read, or can't be reached): it stays, to be
            // asked again, lest a lock of ours be left held.
            known = false;
            if (failure.isEmpty())
                failure = error.debugDescription();
            return false;
        }
        if (m_dropped) {
            const auto holder = m_locks.holder(id);
            m_dropped(holder ? QStringLiteral("The lock of %1 is held by %2 now: it is left to them, and so is its "
                                              "release note.")
                                   .arg(id.toString(), holder->holderDescription())
                             : QStringLiteral("The lock of %1 was given up meanwhile: its release note is left as it "
                                              "is.")
                                   .arg(id.toString()));
        }
        return true;
    });
    if (removed > 0)
        save(release);
    return known;
}

QString PendingReleases::runLocked(PendingRelease& release, std::chrono::milliseconds heldOpen)
{
    QString failure;
    const auto initiator = release.initiator;
    // The note only for locks still this check-out's, read by name: a lock taken meanwhile (a
    // force unlock) carries its new holder's note, which names the record its next holder must
    // wait for; ours would send it back to an older one.
    if (release.note && keepOnlyOurs(release, failure)) {
        try {
            // Every lock's note before any lock: whoever takes one next waits for the record.
            m_locks.leaveReleaseNote(release.locks, *release.note, heldOpen);
            release.note.reset();
        } catch (const Error& error) {
            failure = error.debugDescription();
        }
    }
    if (!release.note) {
        const qsizetype before = release.locks.size();
        release.locks = m_locks.tryRelease(release.locks, initiator, heldOpen, failure);
        if (release.locks.size() != before || release.locks.isEmpty())
            save(release);
    }
    if (release.locks.isEmpty() && !release.note) {
        m_pending.remove(initiator);
        m_lastFailure.remove(initiator);
        m_count = m_pending.size();
    }
    return failure;
}

QStringList PendingReleases::finish(std::chrono::milliseconds heldOpen)
{
    // A release running now (on this thread too: a poll made while a lock is given up) is left
    // to finish; the next poll does the rest.
    std::unique_lock lock(m_mutex, std::try_to_lock);
    QStringList failures;
    if (!lock.owns_lock())
        return failures;
    for (const auto& initiator : m_pending.keys()) {
        const QString failure = runLocked(m_pending[initiator], heldOpen);
        if (!failure.isEmpty() && m_lastFailure.value(initiator) != failure) {
            m_lastFailure.insert(initiator, failure);
            failures << failure;
        }
    }
    return failures;
}

void PendingReleases::keep(const QList<IdFor<VersionBundle>>& ids, const IdFor<VersionBundle>& initiator)
{
    std::lock_guard lock(m_mutex);
    // Only the release of the same initiator: a lock whose record names another one is not the
    // new check-out's (acquire() refuses it), and left here it is given up as soon as it may be.
    const auto release = m_pending.find(initiator);
    if (release == m_pending.end())
        return;
    if (release->locks.removeIf([&](const auto& id) { return ids.contains(id); }) > 0)
        save(*release);
    if (release->locks.isEmpty() && !release->note)
        m_pending.erase(release);
    m_count = m_pending.size();
}

bool PendingReleases::isEmpty() const
{
    return m_count.load() == 0;
}

} // namespace vantrel
