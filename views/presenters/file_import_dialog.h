#pragma once

#include "actions/file_importer.h"

#include <QFileDialog>

namespace vantrel {

// Opens a window-modal file dialog over `window` for the request `importer` holds, deleted when
// it closes: titled for the request's purpose, starting in the folder last used for it, the
// desktop's own dialog where there is one. Choosing a file writes the presented flag false, then
// completes the request; cancelling only writes the flag false.
QFileDialog* openFileImportDialog(FileImporter* importer, std::function<void(const Error&)> failed, QWidget* window);

} // namespace vantrel
