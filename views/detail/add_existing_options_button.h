#pragma once

class QToolButton;
class QWidget;

namespace vantrel {

class AddExistingVersionBundle;

// The add-existing picker's options: a small slider button whose menu chooses the name order
// ("Alphabetical sorting": ascending or descending) and whether the live items or the trash are
// listed. Choosing sets the option on `model`.
QToolButton* makeAddExistingOptionsButton(AddExistingVersionBundle& model, QWidget* parent);

} // namespace vantrel
