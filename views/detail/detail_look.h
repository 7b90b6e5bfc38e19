#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

#include <functional>

class QLabel;
class QWidget;

namespace vantrel {

// The type sizes of the detail views, in pixels, from the widget's own font.
QFont largeTitleFont(QFont base);    // headers and the trash title: 26, bold
QFont semiboldBodyFont(QFont base);  // names in labels: 13, semibold
QFont subheadlineFont(QFont base);   // subtitles under a header: 11
QFont captionFont(QFont base);       // second lines of labels: 10
QFont bodyFont(QFont base);          // running text: 13
QFont calloutFont(QFont base);       // messages: 12
QFont calloutMediumFont(QFont base); // placeholders: 12, medium

// The icon of an item's type, from the icon name its document type gives; the generic document
// icon when the theme has no such icon.
QIcon itemIcon(const QString& iconName);

// `measure()`, worked out once for each `key` (a font's key and what else the size depends on)
// and kept for the life of the process: the sizes of fixed parts of a row, measured on a widget
// built once instead of one per row.
int measuredOnce(const QString& key, const std::function<int()>& measure);

// A one-line label that shows its text as plain text, never as markup.
QLabel* plainLabel(QWidget* parent);
void setTextColor(QWidget& widget, const QColor& color);
// Shows `text` on one line, ending in an ellipsis whenever the label is narrower than the text;
// the whole text is then its tooltip. fullText() gives it back.
void setElidedText(QLabel& label, const QString& text);
// `text` with each line break shown as a space. A name may hold line breaks (a pasted name keeps
// them), but a row or a title shows it on one line; the stored name is left as it is.
QString oneLine(const QString& text);
QString fullText(const QLabel& label);

} // namespace vantrel
