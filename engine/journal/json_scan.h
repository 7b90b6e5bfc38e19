#pragma once

#include <QByteArrayView>
#include <QJsonValue>
#include <QLatin1StringView>
#include <QString>
#include <QVarLengthArray>

#include <optional>

// Reading JSON text in place: the members of an object as spans of the text, without building
// a document. Journal records are read this way, so that opening a large team bundle neither
// parses every record into a tree nor keeps one.
//
// The scanner reads what QJsonDocument reads, the same way, and never what it refuses, so that a
// span it hands out always parses: numbers as lenient as the parser's ("1.", ".5"), any other
// escaped character standing for itself. It is stricter in two corners: text must be valid
// UTF-8 throughout (also after a backslash), and an escape naming half a surrogate pair makes no
// string. Nesting deeper than `maxDepth` is refused.
namespace vantrel::json_scan {

inline constexpr int maxDepth = 1024;

// One member of an object: its key as written (between the quotes, escapes left as they are)
// and its value's text (a string keeps its quotes).
struct Member {
    QByteArrayView key;
    QByteArrayView value;

    // Whether the key is `name`, escapes decoded.
    bool is(QLatin1StringView name) const;
};
using Members = QVarLengthArray<Member, 16>;

// The members of the object that is all of `text` (white space around it allowed), in the order
// written, duplicates kept. Returns false when `text` is not exactly one valid JSON object.
bool objectMembers(QByteArrayView text, Members& members);
// The elements of the array that is all of `text`, as spans. False when it is not one.
bool arrayElements(QByteArrayView text, QVarLengthArray<QByteArrayView, 16>& elements);

// The string a value span holds (quotes included in `value`); none when it is not a string.
std::optional<QString> stringValue(QByteArrayView value);
// A whole number a value span holds in [0, 9e15]; none for anything else.
std::optional<qint64> wholeNumber(QByteArrayView value);
// The value of a span, as QJsonDocument would read it.
QJsonValue jsonValue(QByteArrayView value);

} // namespace vantrel::json_scan
