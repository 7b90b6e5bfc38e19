#pragma once

class QScrollBar;

namespace vantrel::design {

// A slim vertical bar over the dark background: a rounded handle and no arrows, for lists that
// show where they are scrolled to without a trough of their own.
void makeSlim(QScrollBar& bar);

} // namespace vantrel::design
