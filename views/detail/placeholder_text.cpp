#include "views/detail/placeholder_text.h"

#include "design/palette.h"

#include <QLabel>
#include <QVBoxLayout>

namespace vantrel {

PlaceholderText::PlaceholderText(const QString& string, QWidget* parent)
    : QWidget(parent),
      m_label(new QLabel(string, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);
    layout->addWidget(m_label, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    // Shown verbatim: a name in the text is never read as markup.
    m_label->setTextFormat(Qt::PlainText);
    m_label->setAlignment(Qt::AlignCenter);
    QFont font = m_label->font();
    font.setPointSizeF(font.pointSizeF() - 1);
    font.setWeight(QFont::Medium);
    m_label->setFont(font);
    QPalette palette = m_label->palette();
    palette.setColor(QPalette::WindowText, design::neutral(2));
    m_label->setPalette(palette);
}

QString PlaceholderText::string() const
{
    return m_label->text();
}

void PlaceholderText::setString(const QString& string)
{
    m_label->setText(string);
}

} // namespace vantrel
