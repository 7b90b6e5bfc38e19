#include "model/text_format.h"

#include <optional>

namespace vantrel {

namespace {

struct Placeholder {
    qsizetype length = 0; // from the '%' up to and including the conversion character
    int position = 0;     // 1-based argument number, or 0 for the next sequential argument
};

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Reads the placeholder whose '%' is at `start`; nothing when the sequence is not one that
// formatText() understands.
std::optional<Placeholder> readPlaceholder(QStringView format, qsizetype start)
{
    const qsizetype size = format.size();
    qsizetype at = start + 1;
    Placeholder placeholder;

    qsizetype digitsEnd = at;
    while (digitsEnd < size && isAsciiDigit(format[digitsEnd]))
        ++digitsEnd;
    if (digitsEnd > at) {
        if (digitsEnd == size || format[digitsEnd] != u'$')
            return std::nullopt;
        bool ok = false;
        const int position = format.sliced(at, digitsEnd - at).toInt(&ok);
        if (!ok || position < 1)
            return std::nullopt;
        placeholder.position = position;
        at = digitsEnd + 1;
    }

    int lengthModifiers = 0;
    while (at < size && lengthModifiers < 2 && format[at] == u'l') {
        ++lengthModifiers;
        ++at;
    }
    if (at == size)
        return std::nullopt;

    const QChar conversion = format[at];
    const bool isText = conversion == u'@' && lengthModifiers == 0;
    const bool isInteger = conversion == u'd' || conversion == u'i' || conversion == u'u';
    if (!isText && !isInteger)
        return std::nullopt;

    placeholder.length = at + 1 - start;
    return placeholder;
}

} // namespace

QString formatText(const QString& format, const QList<FormatArgument>& arguments)
{
    const QStringView source(format);
    const qsizetype size = source.size();
    QString result;
    result.reserve(size);

    qsizetype nextSequential = 0;
    qsizetype at = 0;
    while (at < size) {
        const qsizetype percent = source.indexOf(u'%', at);
        if (percent < 0) {
            result.append(source.sliced(at));
            break;
        }
        result.append(source.sliced(at, percent - at));

        if (percent + 1 < size && source[percent + 1] == u'%') {
            result.append(u'%');
            at = percent + 2;
            continue;
        }

        const std::optional<Placeholder> placeholder = readPlaceholder(source, percent);
        if (!placeholder) {
            // Not a placeholder: the '%' is plain text, and so is whatever follows it.
            result.append(u'%');
            at = percent + 1;
            continue;
        }

        const qsizetype index = placeholder->position > 0 ? placeholder->position - 1 : nextSequential++;
        if (index < arguments.size())
            result.append(arguments[index].text());
        else
            result.append(source.sliced(percent, placeholder->length));
        at = percent + placeholder->length;
    }
    return result;
}

} // namespace vantrel
