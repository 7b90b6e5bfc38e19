#include "views/presenters/alert_box.h"

#include "views/presenters/message_boxes.h"

namespace vantrel {

QMessageBox* makeAlertBox(const AlertDetails& details, PresentedFlag<AlertModel> presented, QWidget* window)
{
    QList<MessageBoxButton> buttons;
    for (const ButtonAction& button : details.buttons)
        buttons.append(MessageBoxButton{button, button.cancels ? QMessageBox::RejectRole : QMessageBox::AcceptRole});
    return makeMessageBox(window, details.title, details.message, buttons,
                          [presented = std::move(presented)] { presented.set(false); });
}

} // namespace vantrel
