#include "views/presenters/confirmation_box.h"

#include "model/strings.h"
#include "views/presenters/message_boxes.h"

namespace vantrel {

QMessageBox* makeConfirmationBox(const ConfirmationDialog& dialog, PresentedFlag<ConfirmationDialogModel> presented,
                                 QWidget* window)
{
    const QList<MessageBoxButton> buttons{
        {dialog.confirmButton(), QMessageBox::AcceptRole},
        {ButtonAction{Strings::cancelActionTitle(), {}}, QMessageBox::RejectRole},
    };
    return makeMessageBox(window, dialog.title(), dialog.messageText(), buttons,
                          [presented = std::move(presented)] { presented.set(false); });
}

} // namespace vantrel
