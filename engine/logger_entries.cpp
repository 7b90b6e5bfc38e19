// The text of log entries: one line per entry and its continuation lines, with every control
// character and direction override escaped.

#include "engine/logger.h"

#include "engine/logger_state.h"

#include <QDateTime>
#include <QStringList>

#include <cstring>

namespace vantrel {

namespace {

QString levelName(Logger::Level level)
{
    switch (level) {
    case Logger::Level::trace:
        return QStringLiteral("TRACE");
    case Logger::Level::debug:
        return QStringLiteral("DEBUG");
    case Logger::Level::info:
        return QStringLiteral("INFO");
    case Logger::Level::warning:
        return QStringLiteral("WARNING");
    case Logger::Level::error:
        return QStringLiteral("ERROR");
    }
    return QStringLiteral("LEVEL%1").arg(static_cast<int>(level));
}

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case u'\n':
    case u'\r':
    case u'\v':
    case u'\f':
    case 0x85:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

// The lines of `text`; "\r\n" is one break, and breaks at the end make no empty lines.
QStringList splitLines(const QString& text)
{
    QStringList lines;
    QString current;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!isLineBreak(c)) {
            current += c;
            continue;
        }
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        lines.append(current);
        current.clear();
    }
    lines.append(current);
    while (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool isBidiControl(char16_t c)
{
    return c == 0x061c || c == 0x200e || c == 0x200f || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

// Appends `c`, or a visible escape for it when it is a control character (C0, DEL, C1, a line
// or paragraph separator) or changes the direction of the text around it: nothing read from
// a team bundle can colour a terminal, hide text, reorder a line or break it.
void appendEscaped(QString& text, QChar c)
{
    const char16_t u = c.unicode();
    if (u == u'\n')
        text += QStringLiteral("\\n");
    else if (u == u'\r')
        text += QStringLiteral("\\r");
    else if (u == u'\t')
        text += QStringLiteral("\\t");
    else if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
        text += QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QLatin1Char('0'));
    else if (isBidiControl(u) || u == 0x2028 || u == 0x2029)
        text += QStringLiteral("\\u{%1}").arg(unsigned(u), 4, 16, QLatin1Char('0'));
    else
        text += c;
}

// `text` with its control characters escaped; line breaks are escaped too unless
// `breaksBecomeSpaces`.
QString escaped(const QString& text, bool breaksBecomeSpaces)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (breaksBecomeSpaces && isLineBreak(c))
            result += u' ';
        else
            appendEscaped(result, c);
    }
    return result;
}

} // namespace

QString escapedForLog(const QString& value)
{
    return escaped(value, false);
}

namespace log_text {

QString singleLine(const QString& text)
{
    return escaped(text, true);
}

QByteArray entry(const QString& message, const QString& callingMethod, Logger::Level level, const QString& userAtHost)
{
    // The line breaks of a message make its continuation lines; whatever else it holds is
    // escaped (lines hold no break any more).
    const QStringList lines = splitLines(message);
    QString text = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + u' ' + levelName(level) + u' '
                   + userAtHost + QStringLiteral(" [") + singleLine(callingMethod) + QStringLiteral("] ")
                   + escaped(lines.first(), false) + u'\n';
    for (qsizetype i = 1; i < lines.size(); ++i)
        text += QStringLiteral("  ") + escaped(lines[i], false) + u'\n';
    return text.toUtf8();
}

QString systemReason(const QString& what, int error)
{
    return what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

} // namespace log_text

} // namespace vantrel
