#pragma once

#include "actions/alert_models.h"
#include "engine/engine_errors.h"

#include <functional>

namespace vantrel {

// What was about to take the working copy away: a check-out (or force unlock) replaces one left
// behind in its folder.
enum class GivingUpWorkingCopy { checkIn, discard, replace };

// The question asked when a check-in, discard or check-out was refused because applications still have the
// working copy open: it names them and asks to save and close them first. Cancel comes first and
// is the default, so that Enter never takes the file from under the editor; the other button
// goes on anyway with `goOn`.
AlertDetails workingCopyInUseAlert(const WorkingCopyInUseError& error, GivingUpWorkingCopy what,
                                   std::function<void()> goOn);

// Shows `error` with `showError`; when it is a working copy still in use and `showAlert` is
// given, asks the question above with it instead.
void reportGivingUp(const std::function<void(const Error&)>& showError,
                    const std::function<void(AlertDetails)>& showAlert, const Error& error, GivingUpWorkingCopy what,
                    std::function<void()> goOn);

} // namespace vantrel
