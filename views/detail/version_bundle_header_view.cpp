#include "views/detail/version_bundle_header_view.h"

#include "design/palette.h"
#include "model/document_category.h"
#include "model/strings.h"
#include "model/text_format.h"
#include "views/detail/detail_look.h"
#include "model/relative_date.h"

#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QPainter>
#include <QSet>
#include <QVBoxLayout>

#include <algorithm>

namespace vantrel {

namespace {

// The stack leaves room for the shifted and tilted icons around the upright one.
constexpr int kStackMargin = 10;
constexpr int kStackSide = VersionBundleHeaderView::iconSize + 2 * kStackMargin;

QList<VersionBundle::Summary> distinct(const QList<VersionBundle::Summary>& selection)
{
    QList<VersionBundle::Summary> unique;
    QSet<IdFor<VersionBundle>> seen;
    for (const auto& summary : selection) {
        if (!seen.contains(summary.id())) {
            seen.insert(summary.id());
            unique.append(summary);
        }
    }
    return unique;
}

bool drawnBefore(const VersionBundle::Summary& a, const DocumentTypeCategory& categoryA,
                 const VersionBundle::Summary& b, const DocumentTypeCategory& categoryB)
{
    if (categoryA < categoryB)
        return true;
    if (categoryB < categoryA)
        return false;
    const int byName = QString::compare(a.name(), b.name());
    if (byName != 0)
        return byName < 0;
    return a.id() < b.id();
}

// Up to three icons: the first tilted to the upper right, the second to the upper left, the third
// upright in front; a single icon stands upright in the middle.
QPixmap stackPixmap(const QList<VersionBundle::Summary>& summaries, qreal devicePixelRatio)
{
    QPixmap canvas(QSize(kStackSide, kStackSide) * devicePixelRatio);
    canvas.setDevicePixelRatio(devicePixelRatio);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const qsizetype count = std::min<qsizetype>(summaries.size(), 3);
    const int side = VersionBundleHeaderView::iconSize;
    for (qsizetype i = 0; i < count; ++i) {
        const auto& summary = summaries.at(i);
        QPointF offset(0, 0);
        qreal degrees = 0;
        if (i == 0 && summaries.size() >= 2) {
            offset = {6, -6};
            degrees = 8;
        } else if (i == 1) {
            offset = {-6, -6};
            degrees = -8;
        }
        painter.save();
        painter.translate(QPointF(kStackSide / 2.0, kStackSide / 2.0) + offset);
        painter.rotate(degrees);
        const QPixmap icon =
            itemIcon(summary.documentType().icon(summary.url())).pixmap(QSize(side, side), devicePixelRatio);
        painter.drawPixmap(QRectF(-side / 2.0, -side / 2.0, side, side), icon, QRectF(icon.rect()));
        painter.restore();
    }
    return canvas;
}

} // namespace

VersionBundleHeaderView::VersionBundleHeaderView(QList<VersionBundle::Summary> selection, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(16 - kStackMargin);

    m_icons = new QLabel(this);
    m_icons->setObjectName(QStringLiteral("bundleHeaderIcons"));
    m_icons->setFixedSize(kStackSide, kStackSide);
    row->addWidget(m_icons, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    m_title = plainLabel(this);
    m_title->setObjectName(QStringLiteral("bundleHeaderTitle"));
    m_title->setFont(largeTitleFont(m_title->font()));
    m_title->setWordWrap(true);
    setTextColor(*m_title, design::neutral(0));
    m_subtitle = plainLabel(this);
    m_subtitle->setObjectName(QStringLiteral("bundleHeaderSubtitle"));
    m_subtitle->setFont(subheadlineFont(m_subtitle->font()));
    setTextColor(*m_subtitle, design::withOpacity(design::neutral(9), 0.55));
    texts->addWidget(m_title);
    texts->addWidget(m_subtitle);
    row->addLayout(texts, 1);

    setSelection(std::move(selection));
}

void VersionBundleHeaderView::setSelection(QList<VersionBundle::Summary> selection)
{
    m_selection = distinct(selection);
    refresh();
}

QString VersionBundleHeaderView::title(const QList<VersionBundle::Summary>& selection)
{
    const auto unique = distinct(selection);
    if (unique.size() == 1)
        return unique.first().name();
    // "0 Items" as well as "5 Items": the zero form is the plural one.
    return Strings::plural(Strings::itemCountOther(), Strings::itemCountOne(), Strings::itemCountOther(),
                           unique.size());
}

QString VersionBundleHeaderView::subtitle(const QList<VersionBundle::Summary>& selection, const QDateTime& now)
{
    const auto unique = distinct(selection);
    if (unique.size() == 1)
        return formatText(Strings::editedDate(), relativeDescription(unique.first().modificationDate(), now));
    return Strings::selectedTitle();
}

QList<VersionBundle::Summary> VersionBundleHeaderView::iconSummaries(const QList<VersionBundle::Summary>& selection)
{
    struct Candidate {
        VersionBundle::Summary summary;
        DocumentTypeCategory category;
    };
    // One pass over the selection; the sort only sees one entry per document type.
    QHash<DocumentType, qsizetype> slotOfType;
    QList<Candidate> candidates;
    for (const auto& summary : selection) {
        const auto slot = slotOfType.constFind(summary.documentType());
        if (slot == slotOfType.constEnd()) {
            slotOfType.insert(summary.documentType(), candidates.size());
            candidates.append({summary, category(summary.documentType())});
            continue;
        }
        Candidate& kept = candidates[*slot];
        if (drawnBefore(summary, kept.category, kept.summary, kept.category))
            kept.summary = summary;
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return drawnBefore(a.summary, a.category, b.summary, b.category);
    });
    QList<VersionBundle::Summary> ordered;
    ordered.reserve(candidates.size());
    for (const auto& candidate : candidates)
        ordered.append(candidate.summary);
    return ordered;
}

void VersionBundleHeaderView::refresh()
{
    m_title->setText(title(m_selection));
    m_subtitle->setText(subtitle(m_selection));
    m_icons->setPixmap(stackPixmap(iconSummaries(m_selection), devicePixelRatioF()));
}

} // namespace vantrel
