#pragma once

#include "actions/sheets.h"

#include <QIcon>

class QDialog;
class QWidget;

namespace vantrel {

class AlertModel;
class ToolbarProgressIndicator;

// Opens the sheet `model` holds as a window-modal dialog over `window`, deleted when it closes;
// null when the model holds no sheet or one this window cannot show (the model then lets go of
// it). However the user closes the sheet, the model lets go of it; a naming sheet hands the
// confirmed name to its case's closure after the sheet has closed. The add-existing sheet reports
// failures through `alert` and its adding through `progress`; without them it is not shown.
QDialog* openSheetDialog(SheetModel* model, QWidget* window, const QIcon& appIcon, AlertModel* alert = nullptr,
                         ToolbarProgressIndicator* progress = nullptr);

} // namespace vantrel
