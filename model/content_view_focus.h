#pragma once

namespace vantrel {

// The focusable panes of a team window.
enum class ContentViewFocus { trash, home, collectionList, documentList, checkinView, eventList };

} // namespace vantrel
