#pragma once

#include "actions/alert_models.h"

#include <QMessageBox>

namespace vantrel {

// The message box that shows `details` over `window` (see makeMessageBox()): one button per
// button of the alert, in order, each running its action; the alert's cancelling button is the
// box's RejectRole button, which Escape presses and which answers when the box is closed without
// a button. Closing the box writes `presented` false.
QMessageBox* makeAlertBox(const AlertDetails& details, PresentedFlag<AlertModel> presented, QWidget* window);

} // namespace vantrel
