#include "views/detail/version_bundle_summary_label.h"

#include "design/palette.h"
#include "model/strings.h"
#include "model/text_format.h"
#include "views/detail/detail_look.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace vantrel {

namespace {

constexpr int kSpacing = 8;

// The trash table shows the names a little dimmed; lists with a second line at full strength.
QColor nameColor(bool displayContainerInfo)
{
    return design::withOpacity(design::neutral(0), displayContainerInfo ? 1.0 : 0.85);
}

} // namespace

VersionBundleSummaryLabel::VersionBundleSummaryLabel(VersionBundle::Summary summary, bool displayContainerInfo,
                                                     bool displayTrashedState, QWidget* parent)
    : QWidget(parent),
      m_summary(std::move(summary))
{
    setFixedHeight(labelHeight(displayContainerInfo));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(kSpacing);

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
    setTextColor(*m_name, nameColor(displayContainerInfo));
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

void VersionBundleSummaryLabel::paint(QPainter& painter, const QRect& rect, const VersionBundle::Summary& summary,
                                      bool displayContainerInfo, bool displayTrashedState, const QFont& baseFont)
{
    const QRect iconRect(rect.left(), rect.top() + (rect.height() - iconSize) / 2, iconSize, iconSize);
    const QIcon icon = itemIcon(summary.documentType().icon(summary.url()));
    icon.paint(&painter, iconRect);

    // The lines stand centred beside the icon, each as high as its font, as the widget's labels do;
    // a single line takes the whole height.
    const QFont nameFont = semiboldBodyFont(baseFont);
    const QFont containerFont = captionFont(baseFont);
    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics containerMetrics(containerFont);
    const int textLeft = iconRect.right() + 1 + kSpacing;
    const int width = rect.right() + 1 - textLeft;
    QRect line(textLeft, rect.top(), width, rect.height());
    if (displayContainerInfo) {
        const int linesHeight = nameMetrics.height() + containerMetrics.height();
        line = QRect(textLeft, rect.top() + (rect.height() - linesHeight) / 2, width, nameMetrics.height());
    }
    painter.save();
    painter.setFont(nameFont);
    painter.setPen(nameColor(displayContainerInfo));
    const QString name = oneLine(nameText(summary, displayTrashedState));
    painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     nameMetrics.elidedText(name, Qt::ElideRight, width));
    if (displayContainerInfo) {
        line = QRect(textLeft, line.bottom() + 1, width, containerMetrics.height());
        painter.setFont(containerFont);
        painter.setPen(design::neutral(2));
        const QString containers = oneLine(containerText(summary, displayTrashedState));
        painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         containerMetrics.elidedText(containers, Qt::ElideRight, width));
    }
    painter.restore();
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
