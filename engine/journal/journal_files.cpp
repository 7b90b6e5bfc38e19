// The names of a client's journal files, and listing its folder: records, packs and what a
// lagging listing would leave out.

#include "engine/journal/journal_files.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <sys/stat.h>

namespace vantrel::journal_files {

QString recordFileName(qint64 seq)
{
    return QStringLiteral("%1.json").arg(seq, 12, 10, QLatin1Char('0'));
}

QString packFileName(qint64 first, qint64 last)
{
    return QStringLiteral("pack-%1-%2.json").arg(first, 12, 10, QLatin1Char('0')).arg(last, 12, 10, QLatin1Char('0'));
}

std::vector<PackFile> packsToRead(const std::vector<PackFile>& packs, qint64 afterSeq)
{
    std::vector<PackFile> chosen;
    qint64 next = afterSeq + 1;
    for (;;) {
        const PackFile* best = nullptr;
        for (const auto& pack : packs) {
            if (pack.first <= next && pack.last >= next && (!best || pack.last > best->last))
                best = &pack;
        }
        if (!best) {
            // Nothing holds `next`: the nearest pack after it, the records between from files.
            for (const auto& pack : packs) {
                if (pack.first > next
                    && (!best || pack.first < best->first || (pack.first == best->first && pack.last > best->last)))
                    best = &pack;
            }
        }
        if (!best)
            return chosen;
        chosen.push_back(*best);
        next = best->last + 1;
    }
}

QString folderStamp(const QString& folder)
{
    struct stat status {};
    if (::stat(QFile::encodeName(folder).constData(), &status) != 0)
        return {};
    return QStringLiteral("%1.%2").arg(status.st_mtim.tv_sec).arg(status.st_mtim.tv_nsec);
}

bool isClientFolderName(const QString& name)
{
    return !name.isEmpty() && name.size() <= 255 && !name.startsWith(QLatin1Char('.'))
           && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

bool writtenWithin(const QString& path, std::chrono::milliseconds span)
{
    const QDateTime written = QFileInfo(path).lastModified();
    return written.isValid() && written.msecsTo(QDateTime::currentDateTime()) < span.count();
}

Listing listFolder(const QString& folder, std::chrono::milliseconds lag)
{
    static const QRegularExpression recordName(QStringLiteral("^(\\d{1,12})\\.json$"));
    static const QRegularExpression packName(QStringLiteral("^pack-(?:(\\d{1,12})-)?(\\d{1,12})\\.json$"));
    const auto young = [&](const QString& name) {
        return lag.count() > 0 && writtenWithin(folder + QLatin1Char('/') + name, lag);
    };
    Listing listing;
    qint64 firstHidden = -1;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        if (const auto match = recordName.match(name); match.hasMatch()) {
            const qint64 seq = match.captured(1).toLongLong();
            listing.files.emplace(seq, name);
            if (young(name))
                firstHidden = firstHidden < 0 ? seq : std::min(firstHidden, seq);
        } else if (const auto pack = packName.match(name); pack.hasMatch()) {
            // A pack of an older version holds every record from the first.
            const qint64 first = pack.capturedLength(1) > 0 ? pack.captured(1).toLongLong() : 1;
            const qint64 last = pack.captured(2).toLongLong();
            if (first < 1 || first > last)
                continue;
            if (young(name))
                listing.hiddenUpTo = std::max(listing.hiddenUpTo, last);
            else
                listing.packs.push_back({first, last, name});
        }
    }
    // A lagging listing shows a client's folder as it was: nothing after the first file it lacks.
    if (firstHidden >= 0) {
        listing.hiddenUpTo = std::max(listing.hiddenUpTo, listing.files.rbegin()->first);
        listing.files.erase(listing.files.find(firstHidden), listing.files.end());
    }
    std::sort(listing.packs.begin(), listing.packs.end(), [](const PackFile& a, const PackFile& b) {
        return a.first != b.first ? a.first < b.first : a.last < b.last;
    });
    for (const auto& pack : listing.packs)
        listing.packedUpTo = std::max(listing.packedUpTo, pack.last);
    return listing;
}

} // namespace vantrel::journal_files
