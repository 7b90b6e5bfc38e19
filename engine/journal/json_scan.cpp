#include "engine/journal/json_scan.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cctype>

namespace vantrel::json_scan {

namespace {

// A cursor over JSON text that checks as it goes.
class Scanner {
public:
    explicit Scanner(QByteArrayView text) : m_at(text.data()), m_end(text.data() + text.size()) {}

    const char* at() const { return m_at; }
    bool atEnd() const { return m_at == m_end; }

    void skipSpace()
    {
        while (m_at < m_end && (*m_at == ' ' || *m_at == '\t' || *m_at == '\n' || *m_at == '\r'))
            ++m_at;
    }
    bool take(char c)
    {
        if (m_at < m_end && *m_at == c) {
            ++m_at;
            return true;
        }
        return false;
    }

    // Steps over one value, checking it.
    bool value(int depth)
    {
        if (m_at == m_end || depth > maxDepth)
            return false;
        switch (*m_at) {
        case '"':
            return string();
        case '{':
            return object(depth + 1, nullptr);
        case '[':
            return array(depth + 1, nullptr);
        case 't':
            return word("true");
        case 'f':
            return word("false");
        case 'n':
            return word("null");
        default:
            return number();
        }
    }

    // Steps over an object; collects its members when asked to.
    bool object(int depth, Members* members)
    {
        ++m_at; // '{'
        skipSpace();
        if (take('}'))
            return true;
        for (;;) {
            skipSpace();
            const char* keyStart = m_at;
            if (m_at == m_end || *m_at != '"' || !string())
                return false;
            const QByteArrayView key(keyStart + 1, m_at - keyStart - 2);
            skipSpace();
            if (!take(':'))
                return false;
            skipSpace();
            const char* valueStart = m_at;
            if (!value(depth))
                return false;
            if (members)
                members->append(Member{key, QByteArrayView(valueStart, m_at - valueStart)});
            skipSpace();
            if (take('}'))
                return true;
            if (!take(','))
                return false;
        }
    }

    bool array(int depth, QVarLengthArray<QByteArrayView, 16>* elements)
    {
        ++m_at; // '['
        skipSpace();
        if (take(']'))
            return true;
        for (;;) {
            skipSpace();
            const char* start = m_at;
            if (!value(depth))
                return false;
            if (elements)
                elements->append(QByteArrayView(start, m_at - start));
            skipSpace();
            if (take(']'))
                return true;
            if (!take(','))
                return false;
        }
    }

private:
    bool word(const char* text)
    {
        for (; *text; ++text, ++m_at) {
            if (m_at == m_end || *m_at != *text)
                return false;
        }
        return true;
    }

    bool digits()
    {
        const char* start = m_at;
        while (m_at < m_end && *m_at >= '0' && *m_at <= '9')
            ++m_at;
        return m_at > start;
    }

    // A number as QJsonDocument reads one: digits, a fraction and an exponent each optional, so
    // long as the whole converts ("1." and ".5" do, "-" and "1e" do not; "01" stops after "0").
    bool number()
    {
        const char* start = m_at;
        take('-');
        if (!take('0'))
            digits();
        if (take('.'))
            digits();
        if (take('e') || take('E')) {
            if (!take('+'))
                take('-');
            digits();
        }
        if (m_at == start)
            return false;
        bool ok = false;
        QByteArray::fromRawData(start, m_at - start).toDouble(&ok);
        return ok;
    }

    // A string: \u escapes well formed, valid UTF-8 (checked by the caller over the whole text).
    // Control characters are taken as they are, as QJsonDocument takes them.
    bool string()
    {
        ++m_at; // '"'
        while (m_at < m_end) {
            const unsigned char c = static_cast<unsigned char>(*m_at++);
            if (c == '"')
                return true;
            if (c != '\\')
                continue;
            if (m_at == m_end)
                return false;
            switch (*m_at++) {
            case 'u':
                for (int i = 0; i < 4; ++i, ++m_at) {
                    if (m_at == m_end || !std::isxdigit(static_cast<unsigned char>(*m_at)))
                        return false;
                }
                break;
            default:
                // Any other escaped character stands for itself, as QJsonDocument reads it.
                if (static_cast<unsigned char>(m_at[-1]) >= 0x80)
                    return false;
                break;
            }
        }
        return false;
    }

    const char* m_at;
    const char* m_end;
};

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

// The text of a string's inside (between its quotes), escapes decoded; none when an escape
// names half a surrogate pair.
std::optional<QString> unescaped(QByteArrayView inside)
{
    if (!inside.contains('\\'))
        return QString::fromUtf8(inside);
    QString text;
    text.reserve(inside.size());
    qsizetype plainFrom = 0;
    for (qsizetype i = 0; i < inside.size();) {
        if (inside[i] != '\\') {
            ++i;
            continue;
        }
        text += QString::fromUtf8(inside.sliced(plainFrom, i - plainFrom));
        const char kind = inside[i + 1];
        i += 2;
        switch (kind) {
        case 'b': text += u'\b'; break;
        case 'f': text += u'\f'; break;
        case 'n': text += u'\n'; break;
        case 'r': text += u'\r'; break;
        case 't': text += u'\t'; break;
        case 'u': {
            const auto unit = [&](qsizetype at) {
                return char16_t(hexDigit(inside[at]) << 12 | hexDigit(inside[at + 1]) << 8
                                | hexDigit(inside[at + 2]) << 4 | hexDigit(inside[at + 3]));
            };
            const char16_t first = unit(i);
            i += 4;
            if (QChar::isLowSurrogate(first))
                return std::nullopt;
            text += QChar(first);
            if (QChar::isHighSurrogate(first)) {
                if (i + 6 > inside.size() || inside[i] != '\\' || inside[i + 1] != 'u'
                    || !QChar::isLowSurrogate(unit(i + 2)))
                    return std::nullopt;
                text += QChar(unit(i + 2));
                i += 6;
            }
            break;
        }
        default: text += QLatin1Char(kind); break; // '"', '\\', '/', or any other that stands for itself
        }
        plainFrom = i;
    }
    text += QString::fromUtf8(inside.sliced(plainFrom));
    return text;
}

bool whole(Scanner& scanner)
{
    scanner.skipSpace();
    return scanner.atEnd();
}

} // namespace

bool Member::is(QLatin1StringView name) const
{
    if (!key.contains('\\'))
        return key == QByteArrayView(name.data(), name.size());
    const auto text = unescaped(key);
    return text && *text == name;
}

bool objectMembers(QByteArrayView text, Members& members)
{
    members.clear();
    if (!text.isValidUtf8())
        return false;
    Scanner scanner(text);
    scanner.skipSpace();
    if (scanner.atEnd() || *scanner.at() != '{' || !scanner.object(1, &members) || !whole(scanner)) {
        members.clear();
        return false;
    }
    return true;
}

bool arrayElements(QByteArrayView text, QVarLengthArray<QByteArrayView, 16>& elements)
{
    elements.clear();
    if (!text.isValidUtf8())
        return false;
    Scanner scanner(text);
    scanner.skipSpace();
    if (scanner.atEnd() || *scanner.at() != '[' || !scanner.array(1, &elements) || !whole(scanner)) {
        elements.clear();
        return false;
    }
    return true;
}

std::optional<QString> stringValue(QByteArrayView value)
{
    if (value.size() < 2 || value.front() != '"' || value.back() != '"')
        return std::nullopt;
    return unescaped(value.sliced(1, value.size() - 2));
}

std::optional<qint64> wholeNumber(QByteArrayView value)
{
    if (value.isEmpty() || value.size() > 15 + 8)
        return std::nullopt;
    // Most are plain digits; anything else (a fraction, an exponent) as a double.
    qint64 number = 0;
    bool plain = value.size() <= 15;
    for (char c : value) {
        if (c < '0' || c > '9') {
            plain = false;
            break;
        }
        number = number * 10 + (c - '0');
    }
    if (plain)
        return number;
    bool ok = false;
    const double real = QByteArray::fromRawData(value.data(), value.size()).toDouble(&ok);
    if (!ok || real < 0 || real > 9.0e15 || real != static_cast<double>(static_cast<qint64>(real)))
        return std::nullopt;
    return static_cast<qint64>(real);
}

QJsonValue jsonValue(QByteArrayView value)
{
    if (value.isEmpty())
        return QJsonValue(QJsonValue::Undefined);
    switch (value.front()) {
    case '"':
        if (auto text = stringValue(value))
            return *text;
        return QJsonValue(QJsonValue::Undefined);
    case '{':
        return QJsonDocument::fromJson(value.toByteArray()).object();
    case '[':
        return QJsonDocument::fromJson(value.toByteArray()).array();
    case 't':
        return true;
    case 'f':
        return false;
    case 'n':
        return QJsonValue(QJsonValue::Null);
    default: {
        // A number, read as the one element of an array.
        const QJsonArray array = QJsonDocument::fromJson('[' + value.toByteArray() + ']').array();
        return array.size() == 1 ? array.at(0) : QJsonValue(QJsonValue::Undefined);
    }
    }
}

} // namespace vantrel::json_scan
