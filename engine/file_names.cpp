#include "engine/file_names.h"

#include <QDir>
#include <QFileInfo>

namespace vantrel {

namespace {

constexpr int maximumBytes = 200;
constexpr int maximumExtensionBytes = 40;

bool isUnsafeCharacter(QChar c)
{
    return c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Format;
}

// Replaces what a file name can't hold, drops leading dots and cuts at a character boundary
// (surrogate pairs stay whole) to stay within `limit` bytes of UTF-8.
QString cleanedName(const QString& name, int limit)
{
    QString safe;
    safe.reserve(name.size());
    for (const QChar c : name)
        safe += isUnsafeCharacter(c) ? u'_' : c;
    safe = safe.trimmed();
    while (safe.startsWith(u'.'))
        safe.replace(0, 1, u'_');
    while (safe.toUtf8().size() > limit)
        safe.chop(safe.size() >= 2 && safe.at(safe.size() - 1).isLowSurrogate() ? 2 : 1);
    return safe.trimmed();
}

QString withExtension(const QString& base, const QString& extension)
{
    return extension.isEmpty() ? base : base + QLatin1Char('.') + extension;
}

} // namespace

QString safeFileName(const QString& name)
{
    const QString safe = cleanedName(name, maximumBytes);
    return safe.isEmpty() ? QStringLiteral("Untitled") : safe;
}

QString safeExtension(const QString& extension)
{
    QString trimmed = extension.trimmed();
    while (trimmed.startsWith(u'.'))
        trimmed.remove(0, 1);
    return cleanedName(trimmed, maximumExtensionBytes);
}

QString uniqueFileName(const QString& folder, const QString& givenBase, const QString& givenExtension,
                       QSet<QString>* taken)
{
    const QString base = safeFileName(givenBase);
    const QString extension = safeExtension(givenExtension);
    QSet<QString> present;
    if (!folder.isEmpty()) {
        for (const QString& entry :
             QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            present.insert(entry.toCaseFolded());
    }
    const auto isTaken = [&](const QString& candidate) {
        const QString folded = candidate.toCaseFolded();
        return present.contains(folded) || (taken && taken->contains(folded))
               || (!folder.isEmpty() && QFileInfo::exists(folder + QLatin1Char('/') + candidate));
    };
    QString candidate = withExtension(base, extension);
    for (int number = 2; isTaken(candidate); ++number)
        candidate = withExtension(base + QLatin1Char(' ') + QString::number(number), extension);
    if (taken)
        taken->insert(candidate.toCaseFolded());
    return candidate;
}

} // namespace vantrel
