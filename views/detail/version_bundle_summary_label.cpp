#include "views/detail/version_bundle_summary_label.h"

#include "design/palette.h"
#include "model/strings.h"
#include "model/text_format.h"
#include "views/detail/detail_look.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace vantrel {

VersionBundleSummaryLabel::VersionBundleSummaryLabel(VersionBundle::Summary summary, bool displayContainerInfo,
                                                     bool displayTrashedState, QWidget* parent)
    : QWidget(parent),
      m_summary(std::move(summary))
{
    setFixedHeight(displayContainerInfo ? 28 : 24);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("summaryIcon"));
    icon->setFixedSize(iconSize, iconSize);
    icon->setPixmap(itemIcon(m_summary.documentType().icon(m_summary.url()))
                        .pixmap(QSize(iconSize, iconSize), devicePixelRatioF()));
    row->addWidget(icon, 0, Qt::AlignVCenter);

    auto* lines = new QVBoxLayout;
    lines->setSpacing(0);
    m_name = plainLabel(this);
    m_name->setObjectName(QStringLiteral("summaryName"));
    m_name->setFont(semiboldBodyFont(m_name->font()));
    // The trash table shows the names a little dimmed; lists with a second line at full strength.
    setTextColor(*m_name, design::withOpacity(design::neutral(0), displayContainerInfo ? 1.0 : 0.85));
    setElidedText(*m_name, nameText(m_summary, displayTrashedState));
    m_name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lines->addWidget(m_name);
    if (displayContainerInfo) {
        m_containers = plainLabel(this);
        m_containers->setObjectName(QStringLiteral("summaryContainers"));
        m_containers->setFont(captionFont(m_containers->font()));
        setTextColor(*m_containers, design::neutral(2));
        setElidedText(*m_containers, containerText(m_summary, displayTrashedState));
        m_containers->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        lines->addWidget(m_containers);
    }
    row->addLayout(lines, 1);
}

QString VersionBundleSummaryLabel::nameText(const VersionBundle::Summary& summary, bool displayTrashedState)
{
    if (displayTrashedState && summary.isTrashed())
        return summary.name() + QStringLiteral(" (") + Strings::trashTitle() + u')';
    return summary.name();
}

QString VersionBundleSummaryLabel::containerText(const VersionBundle::Summary& summary, bool displayTrashedState)
{
    const auto& containers = displayTrashedState ? summary.activeContainers : summary.activeContainersExcludingTrash;
    if (containers.isEmpty())
        return Strings::trashTitle();
    if (containers.size() == 1)
        return containers.first().name;
    return formatText(Strings::usedInCount(), containers.size(),
                      containers.first().documentType.multipliedShortDescription());
}

} // namespace vantrel
