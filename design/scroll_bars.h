#pragma once

class QKeyEvent;
class QScrollBar;

namespace vantrel::design {

// A slim vertical bar over the dark background: a rounded handle and no arrows, for lists that
// show where they are scrolled to without a trough of their own.
void makeSlim(QScrollBar& bar);

// Scrolls `bar` for a reading key (the arrows up and down, Page Up and Down, Home, End), as a
// list read rather than chosen from does; false for any other key, which is left alone.
bool scrollByKey(QScrollBar& bar, const QKeyEvent& event);

} // namespace vantrel::design
