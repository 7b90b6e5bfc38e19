#pragma once

#include "actions/confirmation_dialogs.h"

#include <QMessageBox>

namespace vantrel {

// The message box that asks `dialog` over `window` (see makeMessageBox()): the confirm button,
// which runs the case's action, and Cancel, which runs nothing. Either answer writes `presented`
// false.
QMessageBox* makeConfirmationBox(const ConfirmationDialog& dialog, PresentedFlag<ConfirmationDialogModel> presented,
                                 QWidget* window);

} // namespace vantrel
