#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <concepts>
#include <type_traits>
#include <utility>

namespace vantrel {

namespace detail {

template<typename T>
concept CharacterType = std::same_as<T, char> || std::same_as<T, wchar_t> || std::same_as<T, char8_t> || std::same_as<
    T, char16_t> || std::same_as<T, char32_t>;

// Integers that may be given to a placeholder. bool and the character types are kept out so
// that a stray `true` or 'x' does not silently turn into a number.
template<typename T>
concept FormatInteger = std::integral<T> && !std::same_as<T, bool> && !CharacterType<T>;

} // namespace detail

// One value for a placeholder of formatText(). Text and integers both end up as text: an
// integer is kept as its plain decimal form (no locale grouping), which is what `%d` shows
// and also what `%@` shows when it is given a number.
class FormatArgument {
public:
    FormatArgument(QString text) : m_text(std::move(text)) {}
    FormatArgument(QStringView text) : m_text(text.toString()) {}
    // UTF-8 text; a null pointer is the empty text.
    FormatArgument(const char* utf8Text) : m_text(QString::fromUtf8(utf8Text)) {}

    template<detail::FormatInteger T>
    FormatArgument(T value)
    {
        if constexpr (std::is_signed_v<T>)
            m_text = QString::number(static_cast<qlonglong>(value));
        else
            m_text = QString::number(static_cast<qulonglong>(value));
    }

    template<typename T>
    requires(std::integral<T> && !detail::FormatInteger<T>) FormatArgument(T)
    = delete;

    // What the argument shows as in the output.
    const QString& text() const { return m_text; }

private:
    QString m_text;
};

// Fills the printf-like placeholders of `format` in a single left-to-right pass; text that was
// inserted is never read again, so arguments are shown exactly as they are.
//
//   %@                 the next argument, as text
//   %d %i %u           the next argument, as a decimal integer (also with the l and ll
//                      length modifiers: %ld, %lld, %lu, ...)
//   %N$@ %N$d ...      argument N (1-based); does not move the sequential counter
//   %%                 a single "%"
//
// Mismatched kinds are accepted: `%d` given text inserts the text. A placeholder without a
// matching argument, and any `%` sequence not listed above, stays in the output as it
// stands. Arguments that no placeholder uses are ignored.
QString formatText(const QString& format, const QList<FormatArgument>& arguments);

template<typename... Args>
requires(std::constructible_from<FormatArgument, const Args&>&&...) QString
    formatText(const QString& format, const Args&... args)
{
    return formatText(format, QList<FormatArgument>{FormatArgument(args)...});
}

} // namespace vantrel
