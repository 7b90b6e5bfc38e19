#pragma once

#include <QString>

// The few texts the design layer shows by itself. They are translated in the same context as the
// rest of the application's texts, keyed by their English text.
namespace vantrel::design {

// The edition badge shown after the title of a feature of the pro edition.
QString proBadgeText();

} // namespace vantrel::design
