#include "onboarding/page_template.h"

#include "design/palette.h"
#include "design/pro_label_view.h"
#include "design/scroll_bars.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace vantrel {

void OnboardingPageTemplate::makeSlim(QScrollBar* bar)
{
    design::makeSlim(*bar);
}

int OnboardingPageTemplate::wholeLinesHeight(const QFont& font, int width, int available)
{
    // The step between lines as a label lays them out, which can differ from the font's spacing.
    QLabel probe;
    probe.setFont(font);
    probe.setWordWrap(true);
    probe.setText(QStringLiteral("A"));
    const int one = probe.heightForWidth(width);
    probe.setText(QStringLiteral("A\nA\nA"));
    const int line = (probe.heightForWidth(width) - one) / 2;
    return line > 0 ? available / line * line : available;
}

OnboardingPageTemplate::OnboardingPageTemplate(QWidget* illustration, const QString& title, const QString& message,
                                               bool showProLabel, QWidget* parent)
    : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);

    // The illustration slot: always 140 high; the illustration is centred in it at its own width.
    m_iconSlot = new QWidget(this);
    m_iconSlot->setObjectName(QStringLiteral("onboardingIllustration"));
    m_iconSlot->setFixedHeight(iconHeight);
    auto* slotLayout = new QHBoxLayout(m_iconSlot);
    slotLayout->setContentsMargins(0, 0, 0, 0);
    if (illustration) {
        illustration->setParent(m_iconSlot);
        illustration->setMaximumHeight(iconHeight);
        slotLayout->addWidget(illustration, 0, Qt::AlignCenter);
    }
    column->addWidget(m_iconSlot);

    m_textBlock = new QWidget(this);
    m_textBlock->setObjectName(QStringLiteral("onboardingTextBlock"));
    m_textBlock->setFixedSize(textBlockSize);
    auto* text = new QVBoxLayout(m_textBlock);
    text->setContentsMargins(0, 0, 0, 0);
    text->setSpacing(textSpacing);

    // The title row: the title, and the badge beside it, centred together.
    auto* titleRow = new QHBoxLayout;
    titleRow->setContentsMargins(0, 0, 0, 0);
    titleRow->addStretch(1);
    m_title = new QLabel(title, m_textBlock);
    m_title->setObjectName(QStringLiteral("onboardingTitle"));
    m_title->setTextFormat(Qt::PlainText);
    QFont titleFont = m_title->font();
    titleFont.setPixelSize(22);
    titleFont.setBold(true);
    m_title->setFont(titleFont);
    QPalette titlePalette = m_title->palette();
    titlePalette.setColor(QPalette::WindowText, design::neutral(0));
    m_title->setPalette(titlePalette);
    titleRow->addWidget(m_title);
    if (showProLabel) {
        m_proLabel = new design::StaticProLabelView(false, m_textBlock);
        titleRow->addWidget(m_proLabel, 0, Qt::AlignVCenter);
    }
    titleRow->addStretch(1);
    text->addLayout(titleRow);

    // The message: centred lines 316 wide; a long one scrolls inside the block.
    m_scroll = new QScrollArea(m_textBlock);
    m_scroll->setObjectName(QStringLiteral("onboardingMessageScroll"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->setWidgetResizable(true);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_scroll->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    auto* holder = new QWidget;
    holder->setAutoFillBackground(false);
    auto* holderLayout = new QVBoxLayout(holder);
    const int inset = (textBlockSize.width() - messageWidth) / 2;
    holderLayout->setContentsMargins(inset, 0, inset, 0);
    m_message = new QLabel(message, holder);
    m_message->setObjectName(QStringLiteral("onboardingMessage"));
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QPalette messagePalette = m_message->palette();
    messagePalette.setColor(QPalette::WindowText, design::neutral(1));
    m_message->setPalette(messagePalette);
    holderLayout->addWidget(m_message);
    holderLayout->addStretch(1);
    m_scroll->setWidget(holder);
    makeSlim(m_scroll->verticalScrollBar());
    const int available = textBlockSize.height() - m_title->sizeHint().height() - textSpacing;
    m_scroll->setFixedHeight(wholeLinesHeight(m_message->font(), messageWidth, available));
    text->addWidget(m_scroll);
    text->addStretch(1);

    column->addWidget(m_textBlock, 0, Qt::AlignHCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

} // namespace vantrel
