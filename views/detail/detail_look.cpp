#include "views/detail/detail_look.h"

#include "design/icon_provider.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHash>
#include <QLabel>
#include <QPalette>

namespace vantrel {

namespace {

QFont sized(QFont font, int pixels, QFont::Weight weight)
{
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

const char* const kFullTextProperty = "vantrelFullText";

void elide(QLabel& label)
{
    const QString text = fullText(label);
    const QString shown = QFontMetrics(label.font()).elidedText(text, Qt::ElideRight, label.width());
    label.setText(shown);
    label.setToolTip(shown == text ? QString() : text);
}

// Elides a label again whenever its width or font changes.
class ElisionFilter final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize || event->type() == QEvent::FontChange) {
            if (auto* label = qobject_cast<QLabel*>(watched))
                elide(*label);
        }
        return false;
    }
};

} // namespace

QFont largeTitleFont(QFont base)
{
    return sized(std::move(base), 26, QFont::Bold);
}

QFont semiboldBodyFont(QFont base)
{
    return sized(std::move(base), 13, QFont::DemiBold);
}

QFont subheadlineFont(QFont base)
{
    return sized(std::move(base), 11, QFont::Normal);
}

QFont captionFont(QFont base)
{
    return sized(std::move(base), 10, QFont::Normal);
}

QFont bodyFont(QFont base)
{
    return sized(std::move(base), 13, QFont::Normal);
}

QFont calloutFont(QFont base)
{
    return sized(std::move(base), 12, QFont::Normal);
}

int measuredOnce(const QString& key, const std::function<int()>& measure)
{
    static QHash<QString, int> measured;
    if (const auto it = measured.constFind(key); it != measured.cend())
        return it.value();
    const int value = measure();
    measured.insert(key, value);
    return value;
}

QFont calloutMediumFont(QFont base)
{
    return sized(std::move(base), 12, QFont::Medium);
}

QIcon itemIcon(const QString& iconName)
{
    design::IconProvider::installIconTheme();
    if (!iconName.isEmpty() && QIcon::hasThemeIcon(iconName))
        return QIcon::fromTheme(iconName);
    return QIcon::fromTheme(QStringLiteral("application-x-generic"));
}

QLabel* plainLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(false);
    return label;
}

void setElidedText(QLabel& label, const QString& text)
{
    if (!label.property(kFullTextProperty).isValid())
        label.installEventFilter(new ElisionFilter(&label));
    label.setProperty(kFullTextProperty, text);
    elide(label);
}

QString oneLine(const QString& text)
{
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    for (QChar& c : line) {
        if (c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator || c == QChar(0x85))
            c = u' ';
    }
    return line;
}

QString fullText(const QLabel& label)
{
    return label.property(kFullTextProperty).toString();
}

void setTextColor(QWidget& widget, const QColor& color)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget.setPalette(palette);
}

} // namespace vantrel
