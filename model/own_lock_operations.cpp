#include "model/own_lock_operations.h"

namespace vantrel {

OwnLockOperations& OwnLockOperations::shared()
{
    static OwnLockOperations operations;
    return operations;
}

std::optional<quint64> OwnLockOperations::settledSerial(const IdFor<VersionBundle>& bundle) const
{
    const Entry entry = m_entries.value(bundle);
    if (entry.running > 0)
        return std::nullopt;
    return entry.serial;
}

void OwnLockOperations::begin(const IdFor<VersionBundle>& bundle)
{
    Entry& entry = m_entries[bundle];
    ++entry.serial;
    ++entry.running;
}

void OwnLockOperations::end(const IdFor<VersionBundle>& bundle)
{
    Entry& entry = m_entries[bundle];
    ++entry.serial;
    entry.running = std::max(0, entry.running - 1);
    Q_EMIT ended(bundle);
}

void OwnLockOperations::acknowledgeLostCheckout(const IdFor<VersionBundle>& bundle)
{
    Q_EMIT lostCheckoutAcknowledged(bundle);
}

} // namespace vantrel
