#pragma once

#include "actions/alert_models.h"

#include <QMessageBox>

namespace vantrel {

// The message box that shows `details` over `window` (see makeMessageBox()): one button per
// button of the alert, in order, each running its action; closing the box writes `presented`
// false.
QMessageBox* makeAlertBox(const AlertDetails& details, PresentedFlag<AlertModel> presented, QWidget* window);

} // namespace vantrel
