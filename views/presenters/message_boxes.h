#pragma once

#include "actions/alert_models.h"

#include <QList>
#include <QMessageBox>

#include <functional>

namespace vantrel {

// A button of a window's message box, with its role in the box.
struct MessageBoxButton {
    ButtonAction button;
    QMessageBox::ButtonRole role = QMessageBox::AcceptRole;
};

// The least width of a message box's content, in pixels.
constexpr int messageBoxMinimumWidth = 360;

// A window-modal message box over `window`, deleted when it closes; the caller opens it. `title`
// is its main text and `message` the text below it, both shown as plain text. The buttons come in
// the given order, the first one that destroys nothing being the default (Enter never presses one
// that destroys something); without buttons the box has the platform's OK button. A box with one
// RejectRole button presses it on Escape. However the box is closed, `dismissed` runs first, then
// the action of the button that was pressed or, when it was closed without pressing one (its
// window closed, say), the action of its RejectRole button, if any.
QMessageBox* makeMessageBox(QWidget* window, const QString& title, const QString& message,
                            const QList<MessageBoxButton>& buttons, std::function<void()> dismissed);

} // namespace vantrel
