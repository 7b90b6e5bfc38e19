#include "views/detail/versioned_item_header_view.h"

#include "design/palette.h"
#include "model/collection.h"
#include "model/document.h"
#include "model/event.h"
#include "views/detail/detail_look.h"

#include <QHBoxLayout>
#include <QLabel>

namespace vantrel {

VersionedItemHeaderView::VersionedItemHeaderView(std::shared_ptr<VersionedItem> item, QWidget* parent)
    : QWidget(parent),
      m_item(std::move(item))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(16);

    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("itemHeaderIcon"));
    m_icon->setFixedSize(iconSize, iconSize);
    m_icon->setAlignment(Qt::AlignCenter);
    row->addWidget(m_icon, 0, Qt::AlignVCenter);

    m_name = plainLabel(this);
    m_name->setObjectName(QStringLiteral("itemHeaderName"));
    m_name->setFont(largeTitleFont(m_name->font()));
    setTextColor(*m_name, design::neutral(0));
    // The name takes its full width when there is room and never forces the window wider.
    m_name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(m_name, 1, Qt::AlignVCenter);

    if (m_item) {
        QObject* source = m_item->object();
        if (auto* collection = qobject_cast<Collection*>(source))
            connect(collection, &Collection::nameChanged, this, &VersionedItemHeaderView::refresh);
        else if (auto* document = qobject_cast<Document*>(source))
            connect(document, &Document::nameChanged, this, &VersionedItemHeaderView::refresh);
        else if (auto* event = qobject_cast<Event*>(source))
            connect(event, &Event::nameChanged, this, &VersionedItemHeaderView::refresh);
    }
    refresh();
}

QString VersionedItemHeaderView::title() const
{
    return m_title;
}

void VersionedItemHeaderView::refresh()
{
    m_title = m_item ? m_item->name() : QString();
    const QIcon icon = itemIcon(m_item ? m_item->icon() : QString());
    m_icon->setPixmap(icon.pixmap(QSize(iconSize, iconSize), devicePixelRatioF()));
    setElidedText(*m_name, oneLine(m_title));
}

} // namespace vantrel
