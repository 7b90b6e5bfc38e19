#include "engine/file_names.h"

#include <QDir>
#include <QFileInfo>

namespace vantrel {

namespace {

constexpr int maximumBytes = 200;

QString withExtension(const QString& base, const QString& extension)
{
    return extension.isEmpty() ? base : base + QLatin1Char('.') + extension;
}

} // namespace

QString safeFileName(const QString& name)
{
    QString safe;
    safe.reserve(name.size());
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Format)
            safe += u'_';
        else
            safe += c;
    }
    safe = safe.trimmed();
    while (safe.startsWith(u'.'))
        safe.replace(0, 1, u'_');
    if (safe.isEmpty())
        safe = QStringLiteral("Untitled");
    // Cut at a character boundary (surrogate pairs stay whole) to stay under the byte limit.
    while (safe.toUtf8().size() > maximumBytes) {
        safe.chop(safe.size() >= 2 && safe.at(safe.size() - 1).isLowSurrogate() ? 2 : 1);
    }
    return safe.trimmed().isEmpty() ? QStringLiteral("Untitled") : safe;
}

QString uniqueFileName(const QString& folder, const QString& base, const QString& extension, QSet<QString>* taken)
{
    QSet<QString> present;
    if (!folder.isEmpty()) {
        for (const QString& entry : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
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
