#pragma once

#include "engine/id_for.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

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
    QString lastSavedManifest; // of the last auto-save, to save only what changed
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
    void remove(const IdFor<VersionBundle>& bundle);

private:
    QString m_folder;
    mutable std::mutex m_mutex;
    QHash<IdFor<VersionBundle>, Checkout> m_checkouts;
};

} // namespace vantrel
