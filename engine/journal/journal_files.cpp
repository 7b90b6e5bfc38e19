#include "engine/journal/journal_files.h"

#include "engine/journal/json_scan.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/content_hash.h"
#include "engine/storage/storage_error.h"
#include "foundation/json_coding.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace vantrel::journal_files {

namespace {

using Outcome = DecodedRecord::Outcome;

constexpr int legacyFormat = 1;
// The checksum member closes every record of format 2: this text, 64 hexadecimal digits, "}.
constexpr QByteArrayView checksumOpening = R"(,"checksum":")";
constexpr qsizetype checksumTailSize = checksumOpening.size() + 2 * ContentHash::byteCount + 2;

// The last member named `key`; the text's last word counts, as for QJsonDocument.
const json_scan::Member* member(const json_scan::Members& members, QLatin1StringView key)
{
    for (auto it = members.crbegin(); it != members.crend(); ++it) {
        if (it->is(key))
            return &*it;
    }
    return nullptr;
}

QString requiredString(const json_scan::Members& members, const char* key)
{
    const auto* found = member(members, QLatin1StringView(key));
    auto text = found ? json_scan::stringValue(found->value) : std::nullopt;
    if (!text)
        throw DecodingError(QStringLiteral("The record has no \"%1\".").arg(QLatin1String(key)));
    return std::move(*text);
}

QString optionalString(const json_scan::Members& members, const char* key)
{
    const auto* found = member(members, QLatin1StringView(key));
    return found ? json_scan::stringValue(found->value).value_or(QString()) : QString();
}

qint64 requiredInteger(const json_scan::Members& members, const char* key)
{
    const auto* found = member(members, QLatin1StringView(key));
    const auto number = found ? json_scan::wholeNumber(found->value) : std::nullopt;
    if (!number)
        throw DecodingError(QStringLiteral("The record has no valid \"%1\".").arg(QLatin1String(key)));
    return *number;
}

// The changes of a record whose bytes are known to be whole (format 1, or format 2 checked);
// `members` are those of `body`.
std::vector<JournalRecord> decodeFields(const QByteArray& body, const json_scan::Members& members)
{
    JournalRecord header;
    header.stamp.lamport = requiredInteger(members, "lamport");
    if (header.stamp.lamport > maxLamport)
        throw DecodingError(
            QStringLiteral("Its Lamport number (%1) is beyond any the journal gives.").arg(header.stamp.lamport));
    header.stamp.client = requiredString(members, "client");
    header.stamp.seq = requiredInteger(members, "seq");
    header.date = QDateTime::fromString(requiredString(members, "date"), Qt::ISODateWithMs);
    if (!header.date.isValid())
        throw DecodingError(QStringLiteral("The record's date is not valid."));
    header.author = std::make_shared<const UserIdentity>(UserIdentity{
        optionalString(members, "user"), optionalString(members, "fullName"), optionalString(members, "host")});
    const auto* changes = member(members, QLatin1StringView("changes"));
    QVarLengthArray<QByteArrayView, 16> elements;
    if (!changes || !json_scan::arrayElements(changes->value, elements) || elements.isEmpty())
        throw DecodingError(QStringLiteral("The record holds no change."));

    std::vector<JournalRecord> records;
    records.reserve(size_t(elements.size()));
    // The fields of all the changes, kept together: each change's members but its address, as
    // written. Never longer than the record itself.
    // Written into a buffer of the record's size, then kept in one of exactly its own size, so
    // that what the team's history holds leaves no gaps in the heap.
    QByteArray written;
    written.reserve(body.size());
    QVarLengthArray<std::pair<qsizetype, qsizetype>, 16> spans;
    int sub = 0;
    json_scan::Members change;
    for (const QByteArrayView element : elements) {
        if (!element.startsWith('{') || !json_scan::objectMembers(element, change))
            throw DecodingError(QStringLiteral("A change of the record is not an object."));
        const qsizetype start = written.size();
        written += '{';
        for (const auto& field : change) {
            if (field.is(QLatin1StringView("bundle")) || field.is(QLatin1StringView("kind")))
                continue;
            if (written.size() > start + 1)
                written += ',';
            written += '"';
            written += field.key;
            written += "\":";
            written += field.value;
        }
        written += '}';
        spans.append({start, written.size() - start});
        JournalRecord record = header;
        record.stamp.sub = sub++;
        const auto* bundle = member(change, QLatin1StringView("bundle"));
        const auto bundleText = bundle ? json_scan::stringValue(bundle->value) : std::nullopt;
        if (!bundleText)
            throw DecodingError(QStringLiteral("Expected an identifier string."));
        const auto id = IdFor<VersionBundle>::fromString(*bundleText);
        if (!id)
            throw DecodingError(QStringLiteral("\"%1\" is not an identifier.").arg(*bundleText));
        record.bundle = *id;
        record.kind = recordKindFromText(requiredString(change, "kind"));
        records.push_back(std::move(record));
    }
    const QByteArray kept(written.constData(), written.size());
    for (size_t i = 0; i < records.size(); ++i)
        records[i].fields = RecordFields::fromCheckedObject(kept, spans[qsizetype(i)].first, spans[qsizetype(i)].second);
    return records;
}

DecodedRecord failure(Outcome outcome, const QString& detail, int format = 0)
{
    DecodedRecord result;
    result.outcome = outcome;
    result.detail = detail;
    result.format = format;
    return result;
}

// The format a record claims, 0 when it names none that could be valid.
int claimedFormat(const json_scan::Members& members)
{
    const auto* found = member(members, QLatin1StringView("format"));
    const auto number = found ? json_scan::wholeNumber(found->value) : std::nullopt;
    return number && *number >= 1 && *number <= 1'000'000 ? int(*number) : 0;
}

// A record decoded from bytes that cannot have changed unnoticed.
DecodedRecord decodeTrusted(const QByteArray& body, const json_scan::Members& members, int format)
{
    try {
        DecodedRecord result;
        result.changes = decodeFields(body, members);
        result.outcome = Outcome::folded;
        result.format = format;
        return result;
    } catch (const Error& error) {
        return failure(Outcome::damaged, error.failureReason().value_or(error.localizedDescription()), format);
    }
}

bool isLowerHex(QByteArrayView text)
{
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

} // namespace

QString recordFileName(qint64 seq)
{
    return QStringLiteral("%1.json").arg(seq, 12, 10, QLatin1Char('0'));
}

QString packFileName(qint64 first, qint64 last)
{
    return QStringLiteral("pack-%1-%2.json")
        .arg(first, 12, 10, QLatin1Char('0'))
        .arg(last, 12, 10, QLatin1Char('0'));
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
                if (pack.first > next && (!best || pack.first < best->first
                                          || (pack.first == best->first && pack.last > best->last)))
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

QByteArray encodeRecord(const std::vector<JournalRecord>& changes)
{
    Q_ASSERT(!changes.empty());
    const JournalRecord& first = changes.front();
    QJsonArray array;
    for (const auto& change : changes) {
        QJsonObject object = change.fields;
        object.insert(QStringLiteral("bundle"), change.bundle.toString());
        object.insert(QStringLiteral("kind"), toText(change.kind));
        array.append(object);
    }
    const QJsonObject record{
        {QStringLiteral("format"), currentFormat},
        {QStringLiteral("lamport"), first.stamp.lamport},
        {QStringLiteral("client"), first.stamp.client},
        {QStringLiteral("seq"), first.stamp.seq},
        {QStringLiteral("date"), first.date.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("user"), first.userName()},
        {QStringLiteral("fullName"), first.fullName()},
        {QStringLiteral("host"), first.hostName()},
        {QStringLiteral("changes"), array},
    };
    const QByteArray body = QJsonDocument(record).toJson(QJsonDocument::Compact);
    Q_ASSERT(body.endsWith('}') && !body.contains('\n'));
    return body.chopped(1) + checksumOpening.toByteArray() + hashBytes(body).toHex().toLatin1()
           + QByteArrayLiteral("\"}");
}

DecodedRecord decodeRecord(QByteArrayView bytes)
{
    // A record that ends with a checksum: the bytes before it are the record, exactly.
    const qsizetype size = bytes.size();
    json_scan::Members members;
    if (size > checksumTailSize + 1 && bytes.endsWith("\"}")
        && bytes.sliced(size - checksumTailSize, checksumOpening.size()) == checksumOpening) {
        const QByteArrayView written = bytes.sliced(size - 2 - 2 * ContentHash::byteCount, 2 * ContentHash::byteCount);
        QByteArray body(size - checksumTailSize + 1, Qt::Uninitialized);
        std::copy_n(bytes.data(), body.size() - 1, body.data());
        body.back() = '}';
        if (!isLowerHex(written) || hashBytes(body).toHex().toLatin1() != written)
            return failure(Outcome::damaged, QStringLiteral("Its checksum does not match its contents."));
        if (!json_scan::objectMembers(body, members))
            return failure(Outcome::damaged, QStringLiteral("Its checked contents are not a record."));
        const int format = claimedFormat(members);
        if (format > currentFormat)
            return failure(Outcome::newer, QStringLiteral("It was written in a newer format (%1).").arg(format),
                           format);
        if (format != currentFormat)
            return failure(Outcome::damaged, QStringLiteral("Its format does not match its checksum."), format);
        return decodeTrusted(body, members, format);
    }

    const QByteArray body = bytes.toByteArray();
    if (!json_scan::objectMembers(body, members)) {
        // Not JSON, or not an object: the parser says where it stops.
        QJsonParseError parseError{};
        const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
        const QString reason = document.isObject() ? QStringLiteral("not an object this version can read")
                                                   : parseError.errorString();
        return failure(Outcome::unreadable, QStringLiteral("It is not a whole record (%1).").arg(reason));
    }
    const int format = claimedFormat(members);
    if (format > currentFormat)
        return failure(Outcome::newer, QStringLiteral("It was written in a newer format (%1).").arg(format), format);
    if (format == legacyFormat && !member(members, QLatin1StringView("checksum")))
        return decodeTrusted(body, members, format); // written before records had checksums: taken as it is
    if (format == 0)
        return failure(Outcome::damaged, QStringLiteral("It names no valid format."));
    return failure(Outcome::damaged, QStringLiteral("It has no valid checksum."), format);
}

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
