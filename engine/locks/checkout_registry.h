#pragma once

#include "engine/id_for.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>

namespace vantrel {

// One check-out held by this installation: where its working copy is and what it was made from.
struct Checkout {
    struct IncludedEvent {
        IdFor<VersionBundle> id;
        QString folder; // its folder inside the working copy
        IdFor<Versions> baseVersion;
    };
    IdFor<VersionBundle> bundle;
    QString workingCopy; // the file or package the user edits
    IdFor<Versions> baseVersion;
    QList<IncludedEvent> events;
    QDateTime date;
    bool autoSave = false;
    int autoSaveInterval = 600; // seconds
    QDateTime lastAutoSave;
    QString lastSavedManifest; // of the last copy kept in the attic, to save only what changed
    bool displaced = false;    // the lock was taken by somebody else and the copy kept in the attic
    QString checkingIn;        // the version a check-in is writing; once it exists, the check-in is done

    QByteArray toJson() const;
    static Checkout fromJson(const QByteArray& json); // throws DecodingError
};

// The check-outs of this installation for one team bundle, kept on the local disk (never on
// the share): one small file per check-out.
class CheckoutRegistry {
public:
    explicit CheckoutRegistry(QString folder);

    std::optional<Checkout> find(const IdFor<VersionBundle>& bundle) const;
    QList<Checkout> all() const;
    void save(const Checkout& checkout); // throws StorageError
    // Changes the check-out of `bundle` by `change` and saves it, unless it was removed
    // meanwhile (false then): a check-out that ended is never written back. Throws StorageError.
    bool update(const IdFor<VersionBundle>& bundle, const std::function<void(Checkout&)>& change);
    void remove(const IdFor<VersionBundle>& bundle);

private:
    void write(const Checkout& checkout); // with m_writeMutex held

    QString m_folder;
    std::mutex m_writeMutex;    // held by save(), update() and remove()
    mutable std::mutex m_mutex; // of the table
    QHash<IdFor<VersionBundle>, Checkout> m_checkouts;
};

} // namespace vantrel
