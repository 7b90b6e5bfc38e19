#pragma once

#include <QUrl>

#include <optional>

namespace vantrel {

// Replaces the clipboard's contents with the link as one plain string; without a link the
// clipboard is left as it is.
void copyLink(const std::optional<QUrl>& link);

} // namespace vantrel
