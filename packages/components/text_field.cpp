#include "packages/components/text_field.h"

#include "packages/components/backdrop.h"
#include "packages/components/component_colors.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

namespace vantrel {

namespace {

QFont fieldFont(bool monospaced)
{
    QFont font = monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QApplication::font();
    if (monospaced)
        font.setStyleHint(QFont::Monospace);
    font.setPixelSize(TextField::fontPixelSize);
    font.setWeight(QFont::Normal);
    return font;
}

} // namespace

TextField::TextField(Binding<QString> value, bool monospaced, const QValidator* formatter, QWidget* parent)
    : QLineEdit(parent),
      m_value(std::move(value)),
      m_monospaced(monospaced),
      m_font(fieldFont(monospaced))
{
    setText(m_value.get());
    setFrame(false);
    QPalette clear = palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    setPalette(clear);
    QWidget::setFont(m_font);
    // QLineEdit keeps 2 and 1 of its own around the text; these make 4 on every side, and the
    // text itself starts 2 further in, as a text line does.
    setTextMargins(textInset, textInset - 1, textInset, textInset - 1);
    setValidator(formatter);

    connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_value.set(text);
        updateValue();
    });
}

void TextField::updateValue()
{
    // Writing the text it already shows would move the caret to the end while typing.
    const QString value = m_value.get();
    if (value != text())
        setText(value);
}

QColor TextField::borderColor(bool editing, bool applicationActive)
{
    return editing && applicationActive ? component_colors::fieldBorderEditing() : component_colors::fieldBorderIdle();
}

QColor TextField::borderColor() const
{
    return borderColor(hasFocus(), QGuiApplication::applicationState() == Qt::ApplicationActive);
}

QRectF TextField::borderRect() const
{
    return QRectF(rect()).adjusted(1, 1, -1, -1);
}

QSize TextField::sizeHint() const
{
    return QSize(QLineEdit::sizeHint().width(), fontMetrics().height() + 2 * textInset);
}

void TextField::paintEvent(QPaintEvent* event)
{
    QLineEdit::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(borderColor(), borderWidth));
    painter.drawRoundedRect(borderRect(), cornerRadius, cornerRadius);
}

void TextField::changeEvent(QEvent* event)
{
    // Nothing changes the font after creation: neither a call nor the surroundings.
    if (event->type() == QEvent::FontChange && font() != m_font)
        QWidget::setFont(m_font);
    QLineEdit::changeEvent(event);
}

PlaceholderField::PlaceholderField(QString placeholder, Binding<QString> value, bool disabled, QWidget* parent)
    : QWidget(parent),
      m_value(value)
{
    m_field = new TextField(value, false);
    m_stack = new Backdrop(
        m_field, value.get().isEmpty(), Qt::AlignLeft | Qt::AlignVCenter,
        [placeholder = std::move(placeholder)] {
            auto* label = new QLabel(placeholder);
            label->setTextFormat(Qt::PlainText);
            label->setMargin(placeholderPadding);
            QFont font = QApplication::font();
            font.setPixelSize(TextField::fontPixelSize);
            label->setFont(font);
            QPalette palette = label->palette();
            palette.setColor(QPalette::WindowText, component_colors::placeholderText());
            label->setPalette(palette);
            return label;
        },
        this);
    if (disabled)
        m_stack->setEnabled(false);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(horizontalPadding, 0, horizontalPadding, 0);
    layout->addWidget(m_stack);

    connect(m_field, &QLineEdit::textEdited, this, &PlaceholderField::updateValue);
}

QLabel* PlaceholderField::placeholderLabel() const
{
    return qobject_cast<QLabel*>(m_stack->content());
}

void PlaceholderField::updateValue()
{
    m_field->updateValue();
    m_stack->setCondition(m_value.get().isEmpty());
}

void PlaceholderField::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setOpacity(0.9);
    painter.setBrush(component_colors::fieldBackground());
    painter.drawRoundedRect(QRectF(m_stack->geometry()), TextField::cornerRadius, TextField::cornerRadius);
}

} // namespace vantrel
