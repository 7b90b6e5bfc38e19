#pragma once

#include "engine/id_for.h"

#include <QHash>
#include <QObject>

#include <optional>

namespace vantrel {

// The locking operations (check-out, force unlock, check-in, discard) this program runs, by
// document. A collection's reload lists new Document objects while an older object of the same
// document may still run an operation or be the one shown, so every object of a document must
// know what any of them did: a check-out this program ends is nobody else's doing, and a notice
// about a lost check-out is over once it was acknowledged or a new check-out was taken.
// Interface thread only.
class OwnLockOperations final : public QObject {
    Q_OBJECT
public:
    static OwnLockOperations& shared();

    // Changes whenever an operation on `bundle` starts or ends. Absent while one runs: what is
    // read from the engine then may be undone or made by the operation at any moment.
    std::optional<quint64> settledSerial(const IdFor<VersionBundle>& bundle) const;

    void begin(const IdFor<VersionBundle>& bundle);
    void end(const IdFor<VersionBundle>& bundle);
    // The user acknowledged the notice about the lost check-out of `bundle`.
    void acknowledgeLostCheckout(const IdFor<VersionBundle>& bundle);

Q_SIGNALS:
    void ended(const vantrel::IdFor<vantrel::VersionBundle>& bundle);
    void lostCheckoutAcknowledged(const vantrel::IdFor<vantrel::VersionBundle>& bundle);

private:
    struct Entry {
        quint64 serial = 0;
        int running = 0;
    };
    QHash<IdFor<VersionBundle>, Entry> m_entries;
};

} // namespace vantrel
