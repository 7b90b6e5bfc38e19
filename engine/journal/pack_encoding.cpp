// The bytes of a pack: one record a line, each kept byte for byte, and the one-line packs of
// older versions.

#include "engine/journal/journal_files.h"

#include "foundation/json_coding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace vantrel::journal_files {

QByteArray encodePack(const QList<QByteArray>& records)
{
    qsizetype size = 4;
    for (const auto& record : records)
        size += record.size() + 2;
    QByteArray pack;
    pack.reserve(size);
    pack += QByteArrayLiteral("[\n");
    for (qsizetype i = 0; i < records.size(); ++i) {
        Q_ASSERT(!records[i].contains('\n'));
        pack += records[i];
        pack += i + 1 < records.size() ? QByteArrayLiteral(",\n") : QByteArrayLiteral("\n");
    }
    pack += QByteArrayLiteral("]\n");
    return pack;
}

SplitPack splitPack(const QByteArray& bytes)
{
    SplitPack split;
    split.data = bytes;
    if (!bytes.contains('\n')) {
        // A pack written before records had checksums: one JSON array of format-1 records.
        QJsonParseError parseError{};
        const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
        if (!document.isArray())
            throw DecodingError(
                QStringLiteral("The pack is not a list of records (%1).").arg(parseError.errorString()));
        for (const QJsonValue& value : document.array())
            split.owned << (value.isObject() ? QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact)
                                             : QByteArray());
        for (const auto& record : std::as_const(split.owned))
            split.entries << PackEntry{record, 1};
        return split;
    }

    // The records are read in place, one a line; the layout around them must be exactly the one
    // encodePack() writes.
    const QByteArrayView all(split.data);
    QList<QByteArrayView> lines;
    for (qsizetype start = 0;;) {
        const qsizetype end = all.indexOf('\n', start);
        lines << (end < 0 ? all.sliced(start) : all.sliced(start, end - start));
        if (end < 0)
            break;
        start = end + 1;
    }
    qsizetype expectedAt = 2; // where the next record starts in an intact pack
    bool intact = all.startsWith("[\n");
    bool lastHadComma = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArrayView line = lines[i];
        const bool opening = i == 0 && line == "[";
        const bool closing = line == "]" && i + 2 == lines.size() && lines.last().isEmpty();
        if (opening || closing || (i + 1 == lines.size() && line.isEmpty()))
            continue;
        // Every record line but the last ends with a comma.
        const QByteArrayView record = line.endsWith(',') ? line.chopped(1) : line;
        const qsizetype at = record.data() - all.data();
        intact = intact && at == expectedAt;
        expectedAt = at + record.size();
        split.entries << PackEntry{record, static_cast<int>(i + 1)};
        // What follows the record: a comma and a line break, or the last line break.
        const QByteArrayView rest = all.sliced(expectedAt);
        const bool comma = rest.startsWith(",\n");
        const bool last = !comma && rest.startsWith("\n");
        intact = intact && (comma || last);
        lastHadComma = comma;
        expectedAt += comma ? 2 : 1;
        if (last)
            intact = intact && all.sliced(std::min(expectedAt, all.size())) == "]\n";
    }
    if (split.entries.isEmpty())
        intact = intact && all == "[\n]\n";
    else
        intact = intact && !lastHadComma && all.sliced(std::min(expectedAt, all.size())) == "]\n";
    split.layoutIntact = intact;
    return split;
}

} // namespace vantrel::journal_files
