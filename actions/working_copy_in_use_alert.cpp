#include "actions/working_copy_in_use_alert.h"

#include "model/strings.h"
#include "model/text_format.h"

#include <QLocale>

#include <utility>

namespace vantrel {

AlertDetails workingCopyInUseAlert(const WorkingCopyInUseError& error, GivingUpWorkingCopy what,
                                   std::function<void()> goOn)
{
    const QString applications = QLocale().createSeparatedList(error.applicationNames());
    const auto [message, goOnTitle] = [what] {
        switch (what) {
        case GivingUpWorkingCopy::checkIn:
            return std::pair(Strings::checkInWhileInUseMessage(), Strings::checkInAnywayButtonTitle());
        case GivingUpWorkingCopy::discard:
            return std::pair(Strings::discardWhileInUseMessage(), Strings::discardAnywayButtonTitle());
        case GivingUpWorkingCopy::replace:
            break;
        }
        return std::pair(Strings::openWhileInUseMessage(), Strings::openAnywayButtonTitle());
    }();
    ButtonAction cancel{Strings::cancelActionTitle(), {}, true};
    ButtonAction anyway{goOnTitle, std::move(goOn), false, true};
    return AlertDetails(formatText(Strings::workingCopyInUseTitle(), applications),
                        formatText(message, error.itemName(), applications), {cancel, anyway});
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
