#include "engine/journal/record_kind.h"

#include <array>
#include <utility>

namespace vantrel {

namespace {

// The texts are stored in every team bundle: they never change.
constexpr std::array<std::pair<RecordKind, QLatin1String>, 12> texts{{
    {RecordKind::create, QLatin1String("create")},
    {RecordKind::version, QLatin1String("version")},
    {RecordKind::revert, QLatin1String("revert")},
    {RecordKind::rename, QLatin1String("rename")},
    {RecordKind::nest, QLatin1String("nest")},
    {RecordKind::unnest, QLatin1String("unnest")},
    {RecordKind::trash, QLatin1String("trash")},
    {RecordKind::restore, QLatin1String("restore")},
    {RecordKind::deletePermanently, QLatin1String("delete")},
    {RecordKind::lock, QLatin1String("lock")},
    {RecordKind::editing, QLatin1String("editing")},
    {RecordKind::discard, QLatin1String("discard")},
}};

} // namespace

QString toText(RecordKind kind)
{
    for (const auto& [known, text] : texts) {
        if (known == kind)
            return text;
    }
    return QString();
}

RecordKind recordKindFromText(const QString& text)
{
    for (const auto& [known, name] : texts) {
        if (text == name)
            return known;
    }
    return RecordKind::unknown;
}

} // namespace vantrel
