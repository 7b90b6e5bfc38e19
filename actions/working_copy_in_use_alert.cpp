#include "actions/working_copy_in_use_alert.h"

#include "model/strings.h"
#include "model/text_format.h"

#include <QLocale>

namespace vantrel {

AlertDetails workingCopyInUseAlert(const WorkingCopyInUseError& error, GivingUpWorkingCopy what,
                                   std::function<void()> goOn)
{
    const QString applications = QLocale().createSeparatedList(error.applicationNames());
    const bool checkingIn = what == GivingUpWorkingCopy::checkIn;
    const QString message =
        formatText(checkingIn ? Strings::checkInWhileInUseMessage() : Strings::discardWhileInUseMessage(),
                   error.itemName(), applications);
    ButtonAction cancel{Strings::cancelActionTitle(), {}, true};
    ButtonAction anyway{checkingIn ? Strings::checkInAnywayButtonTitle() : Strings::discardAnywayButtonTitle(),
                        std::move(goOn), false, true};
    return AlertDetails(formatText(Strings::workingCopyInUseTitle(), applications), message, {cancel, anyway});
}

void reportGivingUp(const std::function<void(const Error&)>& showError,
                    const std::function<void(AlertDetails)>& showAlert, const Error& error, GivingUpWorkingCopy what,
                    std::function<void()> goOn)
{
    const auto* inUse = dynamic_cast<const WorkingCopyInUseError*>(&error);
    if (inUse && showAlert)
        showAlert(workingCopyInUseAlert(*inUse, what, std::move(goOn)));
    else
        showError(error);
}

} // namespace vantrel
