// The bytes of one journal record: encoded with its checksum, and decoded only from bytes the
// checksum vouches for (or from a record written before records had one).

#include "engine/journal/journal_files.h"

#include "engine/journal/json_scan.h"
#include "foundation/json_coding.h"
#include "engine/storage/content_hash.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

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
        records[i].fields =
            RecordFields::fromCheckedObject(kept, spans[qsizetype(i)].first, spans[qsizetype(i)].second);
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
        const QString reason =
            document.isObject() ? QStringLiteral("not an object this version can read") : parseError.errorString();
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

} // namespace vantrel::journal_files
