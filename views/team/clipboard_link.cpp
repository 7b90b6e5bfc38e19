#include "views/team/clipboard_link.h"

#include <QClipboard>
#include <QGuiApplication>

namespace vantrel {

void copyLink(const std::optional<QUrl>& link)
{
    if (!link || !link->isValid())
        return;
    QGuiApplication::clipboard()->setText(link->toString(QUrl::FullyEncoded));
}

} // namespace vantrel
