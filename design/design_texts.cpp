#include "design/design_texts.h"

#include <QCoreApplication>

namespace vantrel::design {

QString proBadgeText()
{
    //: The edition badge shown after a title of a feature of the pro edition
    return QCoreApplication::translate("Strings", "PRO");
}

} // namespace vantrel::design
