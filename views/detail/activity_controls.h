#pragma once

#include "engine/id_for.h"

#include <memory>

class QWidget;

namespace vantrel {

class ActivityActionButtons;
class Document;
class ItemActions;
class VersionedItem;

// The version buttons of a row for `version` of `item`: Revert (asking first), and for a
// document Open a Temporary Copy and Export. The item is held weakly: once it is gone the buttons
// do nothing.
ActivityActionButtons* makeVersionButtons(const std::shared_ptr<VersionedItem>& item, const IdFor<Versions>& version,
                                          bool revertEnabled, ItemActions& itemActions);

// The Force Unlock control of the first row of `document`, 32 high, asking before it forces the
// lock open; null without a document.
QWidget* makeForceUnlockControl(const std::shared_ptr<Document>& document, ItemActions& itemActions);

} // namespace vantrel
