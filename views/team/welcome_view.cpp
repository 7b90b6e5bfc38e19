#include "views/team/welcome_view.h"

#include "design/button_styles.h"
#include "design/icon_provider.h"
#include "design/palette.h"
#include "model/strings.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantrel {

namespace {

constexpr int kIconSize = 60;
constexpr int kTextWidth = 400;
constexpr int kButtonWidth = 220;
// The group sits this much above the middle of the view.
constexpr int kRaise = 42;

void setColor(QWidget& widget, QPalette::ColorRole role, const QColor& color)
{
    QPalette palette = widget.palette();
    palette.setColor(role, color);
    widget.setPalette(palette);
}

} // namespace

WelcomeView::WelcomeView(ItemActions* actions, QWidget* parent)
    : QWidget(parent),
      m_actions(actions),
      m_icon(new QLabel(this)),
      m_title(new QLabel(Strings::welcomeBack(), this)),
      m_message(new QLabel(Strings::welcomeExplainer(), this)),
      m_create(new QPushButton(Strings::createFirstCollectionButtonTitle(), this))
{
    setAutoFillBackground(true);
    setColor(*this, QPalette::Window, design::neutral(7));

    QLabel* icon = m_icon;
    icon->setFixedSize(kIconSize, kIconSize);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(design::IconProvider::icon(QStringLiteral("hand.wave"), design::neutral(3))
                        .pixmap(QSize(kIconSize, kIconSize), devicePixelRatioF()));

    m_title->setObjectName(QStringLiteral("welcomeTitle"));
    m_title->setAlignment(Qt::AlignCenter);
    QFont titleFont = m_title->font();
    titleFont.setPixelSize(20);
    titleFont.setWeight(QFont::DemiBold);
    m_title->setFont(titleFont);
    setColor(*m_title, QPalette::WindowText, design::neutral(0));

    m_message->setObjectName(QStringLiteral("welcomeMessage"));
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setWordWrap(true);
    QFont messageFont = m_message->font();
    messageFont.setPixelSize(13);
    messageFont.setWeight(QFont::Normal);
    m_message->setFont(messageFont);
    setColor(*m_message, QPalette::WindowText, design::neutral(2));

    auto* texts = new QWidget(this);
    texts->setFixedWidth(kTextWidth);
    auto* textColumn = new QVBoxLayout(texts);
    textColumn->setContentsMargins(0, 0, 0, 0);
    textColumn->setSpacing(8);
    textColumn->addWidget(m_title);
    textColumn->addWidget(m_message);

    m_create->setObjectName(QStringLiteral("createCollectionButton"));
    m_create->setIcon(design::IconProvider::icon(QStringLiteral("square.3.layers.3d.down.right"), design::neutral(2)));
    m_create->setIconSize(QSize(16, 16));
    design::SecondaryActionButtonStyle(32, std::nullopt, 0.6).apply(*m_create);
    m_create->setFixedWidth(kButtonWidth);
    // The action asks for the name in the naming sheet and reports its own failures.
    connect(m_create, &QPushButton::clicked, this, [this] { m_actions->createCollection()(); });

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(24);
    column->addStretch(1);
    column->addWidget(icon, 0, Qt::AlignHCenter);
    column->addWidget(texts, 0, Qt::AlignHCenter);
    column->addWidget(m_create, 0, Qt::AlignHCenter);
    column->addStretch(1);
    // Room below the group, twice the raise, lifts its middle by the raise.
    column->addSpacing(2 * kRaise);
}

} // namespace vantrel
