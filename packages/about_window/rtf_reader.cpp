#include "packages/about_window/rtf_reader.h"

#include <QStringDecoder>

#include <array>
#include <cctype>
#include <map>
#include <string_view>
#include <vector>

namespace vantrel {

namespace {

// Destinations whose content is never text of the document.
bool isSkippedDestination(std::string_view word)
{
    static constexpr std::array<std::string_view, 27> words{
        "colortbl",     "stylesheet", "listtable", "listoverridetable", "revtbl",
        "rsidtbl",      "info",       "pict",      "nonshppict",        "object",
        "objdata",      "fldinst",    "header",    "headerl",           "headerr",
        "headerf",      "footer",     "footerl",   "footerr",           "footerf",
        "footnote",     "generator",  "xmlnstbl",  "themedata",         "colorschememapping",
        "latentstyles", "datastore",
    };
    for (const auto candidate : words)
        if (candidate == word)
            return true;
    return false;
}

// Characters named by a control word of their own.
char16_t namedCharacter(std::string_view word)
{
    struct Named {
        std::string_view word;
        char16_t character;
    };
    static constexpr std::array<Named, 18> names{{
        {"par", u'\n'},
        {"line", u'\n'},
        {"sect", u'\n'},
        {"page", u'\n'},
        {"row", u'\n'},
        {"tab", u'\t'},
        {"cell", u'\t'},
        {"emdash", u'\u2014'},
        {"endash", u'\u2013'},
        {"emspace", u'\u2003'},
        {"enspace", u'\u2002'},
        {"qmspace", u'\u2005'},
        {"bullet", u'\u2022'},
        {"lquote", u'\u2018'},
        {"rquote", u'\u2019'},
        {"ldblquote", u'\u201C'},
        {"rdblquote", u'\u201D'},
        {"zwj", u'\u200D'},
    }};
    for (const auto& named : names)
        if (named.word == word)
            return named.character;
    return 0;
}

// Bytes 0x80 to 0x9F of Windows-1252; the others are those of Latin-1. Used when the platform's
// converters do not know the code page.
constexpr std::array<char16_t, 32> windows1252High{
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0xFFFD,
};

// The code page of a font's \fcharset; 0 for the document's own (ANSI, default and symbol).
int charsetCodePage(int charset)
{
    switch (charset) {
    case 77:
        return 10000;
    case 128:
        return 932;
    case 129:
        return 949;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 255:
        return 437;
    default:
        return 0;
    }
}

QString codePageName(int codePage)
{
    switch (codePage) {
    case 65001:
        return QStringLiteral("UTF-8");
    case 10000:
        return QStringLiteral("macintosh");
    case 932:
        return QStringLiteral("Shift_JIS");
    case 936:
        return QStringLiteral("GBK");
    case 949:
        return QStringLiteral("EUC-KR");
    case 950:
        return QStringLiteral("Big5");
    default:
        if (codePage == 874 || (codePage >= 1250 && codePage <= 1258))
            return QStringLiteral("windows-%1").arg(codePage);
        return QStringLiteral("IBM%1").arg(codePage);
    }
}

class Reader {
public:
    explicit Reader(const QByteArray& document) : m_in(document) {}

    QString read()
    {
        while (m_pos < m_in.size() && !m_finished) {
            const char c = m_in[m_pos++];
            switch (c) {
            case '{':
                flushBytes();
                m_groups.push_back(m_groups.empty() ? Group{} : m_groups.back());
                m_fallbackToSkip = 0;
                break;
            case '}':
                flushBytes();
                if (!m_groups.empty())
                    m_groups.pop_back();
                m_finished = m_groups.empty();
                m_fallbackToSkip = 0;
                break;
            case '\\':
                controlSequence();
                break;
            case '\r':
            case '\n':
                break;
            default:
                textByte(c);
            }
        }
        flushBytes();
        return m_out;
    }

private:
    struct Group {
        bool skipped = false;
        bool fontTable = false;
        int unicodeFallbackLength = 1;
        int font = -1; // the document's default font
    };

    bool skipping() const { return m_groups.empty() || m_groups.back().skipped; }

    // Consumes one fallback character after \uN when one is due.
    bool consumeFallback()
    {
        if (m_fallbackToSkip == 0)
            return false;
        --m_fallbackToSkip;
        return true;
    }

    void textByte(char c)
    {
        if (consumeFallback() || skipping())
            return;
        const int codePage = currentCodePage();
        if (codePage != m_bytesCodePage)
            flushBytes();
        m_bytesCodePage = codePage;
        m_bytes.append(c);
    }

    int currentCodePage() const
    {
        const int font = m_groups.empty() || m_groups.back().font < 0 ? m_defaultFont : m_groups.back().font;
        const auto charset = m_fontCharsets.find(font);
        const int fontCodePage = charset == m_fontCharsets.end() ? 0 : charsetCodePage(charset->second);
        return fontCodePage != 0 ? fontCodePage : m_documentCodePage;
    }

    void character(char16_t c)
    {
        if (skipping())
            return;
        flushBytes();
        m_out.append(QChar(c));
    }

    void flushBytes()
    {
        if (m_bytes.isEmpty())
            return;
        auto decoder = m_decoders.find(m_bytesCodePage);
        if (decoder == m_decoders.end())
            decoder =
                m_decoders
                    .emplace(m_bytesCodePage, QStringDecoder(codePageName(m_bytesCodePage).toLatin1().constData()))
                    .first;
        if (decoder->second.isValid()) {
            m_out.append(decoder->second.decode(m_bytes));
        } else {
            for (const char byte : std::as_const(m_bytes)) {
                const auto b = static_cast<unsigned char>(byte);
                m_out.append(QChar(b >= 0x80 && b < 0xA0 ? windows1252High[b - 0x80] : char16_t(b)));
            }
        }
        m_bytes.clear();
    }

    void setCodePage(int codePage)
    {
        flushBytes();
        m_documentCodePage = codePage;
    }

    void controlSequence()
    {
        if (m_pos >= m_in.size())
            return;
        const char c = m_in[m_pos];
        if (std::isalpha(static_cast<unsigned char>(c)))
            controlWord();
        else
            controlSymbol();
    }

    void controlSymbol()
    {
        const char c = m_in[m_pos++];
        if (c == '*') {
            if (!m_groups.empty())
                m_groups.back().skipped = true;
            return;
        }
        if (c == '\'') {
            const QByteArray hex = m_in.mid(m_pos, 2);
            m_pos += hex.size();
            bool ok = false;
            const int byte = hex.toInt(&ok, 16);
            if (ok)
                textByte(char(byte));
            return;
        }
        if (consumeFallback())
            return;
        switch (c) {
        case '\\':
        case '{':
        case '}':
            textByte(c);
            break;
        case '~':
            character(u'\u00A0');
            break;
        case '_':
            character(u'\u2011');
            break;
        case '\r':
        case '\n':
            character(u'\n');
            break;
        default:
            // \- (optional hyphen), \: and \| show nothing.
            break;
        }
    }

    void controlWord()
    {
        const qsizetype start = m_pos;
        while (m_pos < m_in.size() && std::isalpha(static_cast<unsigned char>(m_in[m_pos])))
            ++m_pos;
        const std::string_view word(m_in.constData() + start, size_t(m_pos - start));

        std::optional<int> parameter;
        const qsizetype numberStart = m_pos;
        if (m_pos < m_in.size() && m_in[m_pos] == '-')
            ++m_pos;
        while (m_pos < m_in.size() && std::isdigit(static_cast<unsigned char>(m_in[m_pos])))
            ++m_pos;
        if (m_pos > numberStart) {
            bool ok = false;
            const int value = m_in.mid(numberStart, m_pos - numberStart).toInt(&ok);
            if (ok)
                parameter = value;
        }
        if (m_pos < m_in.size() && m_in[m_pos] == ' ')
            ++m_pos;

        if (word == "bin") {
            // Binary data may hold any byte, braces included.
            m_pos += qMax(0, parameter.value_or(0));
            return;
        }
        if (consumeFallback() || m_groups.empty())
            return;
        Group& group = m_groups.back();
        if (group.fontTable) {
            // Only the character set of each font matters: it gives the code page of its bytes.
            if (word == "f" && parameter)
                m_fontDefinition = *parameter;
            else if (word == "fcharset" && parameter)
                m_fontCharsets[m_fontDefinition] = *parameter;
            return;
        }
        if (word == "fonttbl") {
            group.skipped = true;
            group.fontTable = true;
            return;
        }
        if (isSkippedDestination(word)) {
            group.skipped = true;
            return;
        }

        if (word == "ansicpg" && parameter) {
            setCodePage(*parameter);
        } else if (word == "ansi") {
            setCodePage(1252);
        } else if (word == "mac") {
            setCodePage(10000);
        } else if (word == "pc") {
            setCodePage(437);
        } else if (word == "pca") {
            setCodePage(850);
        } else if (word == "deff" && parameter) {
            m_defaultFont = *parameter;
        } else if (word == "f" && parameter) {
            group.font = *parameter;
        } else if (word == "plain") {
            group.font = -1;
        } else if (word == "uc") {
            group.unicodeFallbackLength = qMax(0, parameter.value_or(1));
        } else if (word == "u" && parameter) {
            character(char16_t(*parameter < 0 ? *parameter + 65536 : *parameter));
            m_fallbackToSkip = group.unicodeFallbackLength;
        } else if (const char16_t named = namedCharacter(word)) {
            character(named);
        }
    }

    const QByteArray& m_in;
    qsizetype m_pos = 0;
    bool m_finished = false;
    std::vector<Group> m_groups;
    int m_fallbackToSkip = 0;
    int m_documentCodePage = 1252;
    int m_defaultFont = -1;
    int m_fontDefinition = -1;
    std::map<int, int> m_fontCharsets;
    QByteArray m_bytes;
    int m_bytesCodePage = 1252;
    std::map<int, QStringDecoder> m_decoders;
    QString m_out;
};

} // namespace

std::optional<QString> rtfPlainText(const QByteArray& document)
{
    if (!document.startsWith("{\\rtf"))
        return std::nullopt;
    return Reader(document).read();
}

} // namespace vantrel
