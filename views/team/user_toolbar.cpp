#include "views/team/user_toolbar.h"

#include "design/icon_provider.h"
#include "design/palette.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace vantrel {

namespace {

constexpr int kAvatarSize = 24;
constexpr int kSymbolSize = 14;

// The avatar: a faint disc with a white flask on it.
QPixmap avatar(qreal devicePixelRatio)
{
    QPixmap pixmap(QSize(kAvatarSize, kAvatarSize) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(design::neutral(3));
    painter.drawEllipse(QRectF(0, 0, kAvatarSize, kAvatarSize));
    const int inset = (kAvatarSize - kSymbolSize) / 2;
    design::IconProvider::icon(QStringLiteral("flask"), QColor(Qt::white))
        .paint(&painter, QRect(inset, inset, kSymbolSize, kSymbolSize));
    return pixmap;
}

QLabel* nameLabel(const QString& text, int pixelSize, const QColor& color, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

} // namespace

UserToolbar::UserToolbar(const QString& teamName, const QString& fullUserName, QWidget* parent)
    : QWidget(parent),
      m_userName(nameLabel(fullUserName, 12, design::neutral(1), this)),
      m_teamName(nameLabel(teamName, 10, design::neutral(2), this))
{
    m_userName->setObjectName(QStringLiteral("userName"));
    m_teamName->setObjectName(QStringLiteral("teamName"));

    auto* picture = new QLabel(this);
    picture->setFixedSize(kAvatarSize, kAvatarSize);
    picture->setPixmap(avatar(devicePixelRatioF()));

    auto* names = new QVBoxLayout;
    names->setContentsMargins(0, 0, 0, 0);
    names->setSpacing(0);
    names->addWidget(m_userName);
    names->addWidget(m_teamName);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 4, 8, 4);
    row->setSpacing(16);
    row->addWidget(picture);
    row->addLayout(names);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
}

void UserToolbar::enterEvent(QEnterEvent* event)
{
    m_hover = true;
    update();
    QWidget::enterEvent(event);
}

void UserToolbar::leaveEvent(QEvent* event)
{
    m_hover = false;
    update();
    QWidget::leaveEvent(event);
}

void UserToolbar::paintEvent(QPaintEvent*)
{
    if (!m_hover)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath background;
    background.addRoundedRect(QRectF(rect()), 6, 6);
    painter.fillPath(background, design::withOpacity(QColor(Qt::white), 0.1));
}

} // namespace vantrel
