// Reading and writing the hyphenated text form of UUIDs.

#include "foundation/uuid_text.h"

namespace vantrel {

std::optional<QUuid> parseUuidString(QStringView text)
{
    static constexpr int groups[] = {8, 4, 4, 4, 12};
    if (text.size() != 36)
        return std::nullopt;
    int position = 0;
    for (int group = 0; group < 5; ++group) {
        if (group > 0) {
            if (text[position] != u'-')
                return std::nullopt;
            ++position;
        }
        for (int i = 0; i < groups[group]; ++i, ++position) {
            const char16_t c = text[position].unicode();
            const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
            if (!hex)
                return std::nullopt;
        }
    }
    return QUuid::fromString(text);
}

QString uuidString(const QUuid& uuid)
{
    return uuid.toString(QUuid::WithoutBraces).toUpper();
}

} // namespace vantrel
