#include "onboarding/pages/page_layout.h"

#include "onboarding/page_template.h"

#include "design/palette.h"
#include "design/pro_label_view.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace vantrel::onboarding {

namespace {

QFont fontOfSize(int pixels, QFont::Weight weight = QFont::Normal)
{
    QFont font;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

} // namespace

QFont bodyFont()
{
    return fontOfSize(13);
}

QFont calloutFont()
{
    return fontOfSize(12);
}

QScrollArea* makeMessageArea(const QString& message, QWidget* parent)
{
    auto* area = new QScrollArea(parent);
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    OnboardingPageTemplate::makeSlim(area->verticalScrollBar());
    area->setWidgetResizable(true);
    area->setAutoFillBackground(false);
    area->viewport()->setAutoFillBackground(false);

    auto* label = new QLabel(message);
    label->setObjectName(QStringLiteral("message"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setFont(bodyFont());
    label->setAutoFillBackground(false);
    const int side = (pageWidth - messageLineWidth) / 2;
    label->setContentsMargins(side, 0, pageWidth - messageLineWidth - side, 0);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, design::neutral(1));
    label->setPalette(palette);
    area->setWidget(label);
    return area;
}

int wholeLinesHeight(int available)
{
    return OnboardingPageTemplate::wholeLinesHeight(bodyFont(), messageLineWidth, available);
}

void layOutTemplatePage(QWidget* page, QWidget* icon, const QString& title, const QString& message, bool showProLabel)
{
    page->setFixedSize(pageSize);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new OnboardingPageTemplate(icon, title, message, showProLabel, page), 0,
                      Qt::AlignHCenter | Qt::AlignTop);
}

} // namespace vantrel::onboarding
