#include "engine/journal.h"

#include "engine/storage/atomic_file.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/storage_error.h"
#include "engine/user_identity.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>
#include <sys/stat.h>
#include <map>

namespace vantrel {

namespace {

constexpr int recordFormat = 1;
constexpr qint64 incompleteRecordGraceSeconds = 60;

QString recordFileName(qint64 seq) { return QStringLiteral("%1.json").arg(seq, 12, 10, QLatin1Char('0')); }
QString packFileName(qint64 seq) { return QStringLiteral("pack-%1.json").arg(seq, 12, 10, QLatin1Char('0')); }

struct Listing {
    qint64 pack = 0;                 // highest pack, 0 when none
    QList<qint64> olderPacks;        // packs superseded by `pack`
    std::map<qint64, QString> files; // single records by sequence
};

QString folderStamp(const QString& folder)
{
    struct stat status {};
    if (::stat(QFile::encodeName(folder).constData(), &status) != 0)
        return {};
    return QStringLiteral("%1.%2").arg(status.st_mtim.tv_sec).arg(status.st_mtim.tv_nsec);
}

Listing listClientFolder(const QString& folder)
{
    static const QRegularExpression recordName(QStringLiteral("^(\\d{1,18})\\.json$"));
    static const QRegularExpression packName(QStringLiteral("^pack-(\\d{1,18})\\.json$"));
    Listing listing;
    QList<qint64> packs;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        if (const auto match = recordName.match(name); match.hasMatch())
            listing.files.emplace(match.captured(1).toLongLong(), name);
        else if (const auto pack = packName.match(name); pack.hasMatch())
            packs << pack.captured(1).toLongLong();
    }
    std::sort(packs.begin(), packs.end());
    if (!packs.isEmpty()) {
        listing.pack = packs.takeLast();
        listing.olderPacks = packs;
    }
    return listing;
}

QString requiredString(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        throw DecodingError(QStringLiteral("The record has no \"%1\".").arg(QLatin1String(key)));
    return value.toString();
}

qint64 requiredInteger(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 0 || number != static_cast<double>(static_cast<qint64>(number)))
        throw DecodingError(QStringLiteral("The record has no valid \"%1\".").arg(QLatin1String(key)));
    return static_cast<qint64>(number);
}

} // namespace

QJsonObject Journal::encodeRecord(const std::vector<JournalRecord>& changes)
{
    Q_ASSERT(!changes.empty());
    const JournalRecord& first = changes.front();
    QJsonArray array;
    for (const auto& change : changes) {
        QJsonObject object = change.fields;
        object.insert(QStringLiteral("bundle"), change.bundle.toString());
        object.insert(QStringLiteral("kind"), change.kind);
        array.append(object);
    }
    return QJsonObject{
        {QStringLiteral("format"), recordFormat},
        {QStringLiteral("lamport"), first.stamp.lamport},
        {QStringLiteral("client"), first.stamp.client},
        {QStringLiteral("seq"), first.stamp.seq},
        {QStringLiteral("date"), first.date.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("user"), first.userName},
        {QStringLiteral("fullName"), first.fullName},
        {QStringLiteral("host"), first.hostName},
        {QStringLiteral("changes"), array},
    };
}

std::vector<JournalRecord> Journal::decodeRecord(const QJsonObject& object)
{
    JournalRecord header;
    header.stamp.lamport = requiredInteger(object, "lamport");
    header.stamp.client = requiredString(object, "client");
    header.stamp.seq = requiredInteger(object, "seq");
    header.date = QDateTime::fromString(requiredString(object, "date"), Qt::ISODateWithMs);
    if (!header.date.isValid())
        throw DecodingError(QStringLiteral("The record's date is not valid."));
    header.userName = object.value(QStringLiteral("user")).toString();
    header.fullName = object.value(QStringLiteral("fullName")).toString();
    header.hostName = object.value(QStringLiteral("host")).toString();
    const QJsonValue changes = object.value(QStringLiteral("changes"));
    if (!changes.isArray() || changes.toArray().isEmpty())
        throw DecodingError(QStringLiteral("The record holds no change."));

    std::vector<JournalRecord> records;
    int sub = 0;
    for (const QJsonValue& value : changes.toArray()) {
        const QJsonObject change = value.toObject();
        JournalRecord record = header;
        record.stamp.sub = sub++;
        record.bundle = IdFor<VersionBundle>::fromJson(change.value(QStringLiteral("bundle")));
        record.kind = requiredString(change, "kind");
        record.fields = change;
        record.fields.remove(QStringLiteral("bundle"));
        record.fields.remove(QStringLiteral("kind"));
        records.push_back(std::move(record));
    }
    return records;
}

Journal::Journal(QString folder, QString writerId) : m_folder(std::move(folder)), m_writerId(std::move(writerId))
{
    const Listing own = listClientFolder(m_folder + QLatin1Char('/') + m_writerId);
    qint64 highest = own.pack;
    if (!own.files.empty())
        highest = std::max(highest, own.files.rbegin()->first);
    m_nextOwnSeq = highest + 1;
    m_unpackedOwnRecords = static_cast<int>(std::count_if(own.files.begin(), own.files.end(),
                                                          [&](const auto& file) { return file.first > own.pack; }));
    // A head left behind by a crash right after a record was published is brought up to date.
    bool headKnown = false;
    qint64 head = 0;
    try {
        head = readWholeFile(m_folder + QLatin1Char('/') + m_writerId + QStringLiteral("/head"), readLimits::journalHead)
                   .trimmed()
                   .toLongLong(&headKnown);
    } catch (const Error&) {
    }
    if (highest > 0 && (!headKnown || head < highest)) {
        m_headPending = true;
        writeHead();
    }
}

void Journal::noteSeen(const JournalRecord& record)
{
    m_highestLamport = std::max(m_highestLamport, record.stamp.lamport);
}

std::vector<JournalRecord> Journal::readClient(const QString& client, qint64 afterSeq, qint64* lastSeq,
                                               QStringList& problems)
{
    const QString folder = m_folder + QLatin1Char('/') + client;
    // The owner may pack its records while we read them; a vanished file means: list again.
    for (int attempt = 0;; ++attempt) {
        std::vector<JournalRecord> records;
        qint64 highest = afterSeq;
        bool vanished = false;
        const Listing listing = listClientFolder(folder);

        const auto take = [&](const QJsonObject& object, const QString& where) {
            try {
                auto changes = decodeRecord(object);
                if (changes.front().stamp.client != client)
                    throw DecodingError(QStringLiteral("The record names another client."));
                if (changes.front().stamp.seq > afterSeq) {
                    highest = std::max(highest, changes.front().stamp.seq);
                    std::move(changes.begin(), changes.end(), std::back_inserter(records));
                }
            } catch (const Error& error) {
                problems << QStringLiteral("%1: %2").arg(where, error.localizedDescription());
            }
        };

        if (listing.pack > afterSeq) {
            const QString path = folder + QLatin1Char('/') + packFileName(listing.pack);
            try {
                const QJsonDocument document = QJsonDocument::fromJson(readWholeFile(path, readLimits::journalPack));
                if (!document.isArray())
                    throw DecodingError(QStringLiteral("The pack is not a list of records."));
                for (const QJsonValue& value : document.array())
                    take(value.toObject(), path);
                highest = std::max(highest, listing.pack);
            } catch (const StorageError& error) {
                if (error.kind() == StorageError::Kind::notFound) {
                    vanished = true;
                } else {
                    problems << QStringLiteral("%1: %2").arg(path, error.localizedDescription());
                }
            } catch (const Error& error) {
                problems << QStringLiteral("%1: %2").arg(path, error.localizedDescription());
            }
        }

        qint64 expected = std::max(afterSeq, listing.pack) + 1;
        for (const auto& [seq, name] : listing.files) {
            if (vanished || seq <= std::max(afterSeq, listing.pack))
                continue;
            if (seq > expected)
                problems << QStringLiteral("%1: records %2 to %3 are missing.").arg(folder).arg(expected).arg(seq - 1);
            expected = seq + 1;
            const QString path = folder + QLatin1Char('/') + name;
            try {
                const QByteArray bytes = readWholeFile(path, readLimits::journalRecord);
                QJsonParseError parseError{};
                const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
                if (!document.isObject())
                    throw DecodingError(parseError.errorString());
                take(document.object(), path);
                highest = std::max(highest, seq);
            } catch (const StorageError& error) {
                if (error.kind() == StorageError::Kind::notFound)
                    vanished = true;
                else
                    problems << QStringLiteral("%1: %2").arg(path, error.localizedDescription());
            } catch (const Error& error) {
                // A record still being written (where files cannot be published atomically)
                // is read again at the next poll; an older one that does not read is damaged.
                const QDateTime written = QFileInfo(path).lastModified();
                if (written.isValid() && written.secsTo(QDateTime::currentDateTime()) < incompleteRecordGraceSeconds)
                    break;
                problems << QStringLiteral("%1: %2").arg(path, error.localizedDescription());
                highest = std::max(highest, seq);
            }
        }

        if (vanished && attempt < 3)
            continue;
        for (const auto& record : records)
            noteSeen(record);
        *lastSeq = highest;
        return records;
    }
}

std::vector<JournalRecord> Journal::readAll(QStringList& problems)
{
    std::lock_guard lock(m_mutex);
    m_cursors.clear();
    std::vector<JournalRecord> all;
    for (const QString& client : QDir(m_folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        qint64 last = 0;
        const QString stamp = folderStamp(m_folder + QLatin1Char('/') + client);
        auto records = readClient(client, 0, &last, problems);
        m_cursors[client] = Cursor{last, stamp};
        std::move(records.begin(), records.end(), std::back_inserter(all));
    }
    return all;
}

std::vector<JournalRecord> Journal::readNew(QStringList& problems)
{
    std::lock_guard lock(m_mutex);
    writeHead();
    std::vector<JournalRecord> fresh;
    for (const QString& client : QDir(m_folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (client == m_writerId)
            continue;
        Cursor& cursor = m_cursors[client];
        const QString folder = m_folder + QLatin1Char('/') + client;
        // The head names the newest record; a client that crashed between publishing a record
        // and rewriting its head leaves the head behind, but its folder changed all the same.
        const QString stamp = folderStamp(folder);
        bool headKnown = false;
        try {
            const qint64 head =
                readWholeFile(folder + QStringLiteral("/head"), readLimits::journalHead).trimmed().toLongLong(&headKnown);
            if (headKnown && head <= cursor.lastSeq && stamp == cursor.folderStamp)
                continue;
        } catch (const StorageError&) {
            // No head yet (a client that crashed before writing it): list the folder instead.
        }
        cursor.folderStamp = stamp;
        qint64 last = cursor.lastSeq;
        auto records = readClient(client, cursor.lastSeq, &last, problems);
        cursor.lastSeq = last;
        std::move(records.begin(), records.end(), std::back_inserter(fresh));
    }
    return fresh;
}

std::vector<JournalRecord> Journal::append(const std::vector<JournalChange>& changes, const UserIdentity& author)
{
    Q_ASSERT(!changes.empty());
    std::lock_guard lock(m_mutex);
    const QString folder = m_folder + QLatin1Char('/') + m_writerId;
    ensureDirectory(folder);

    std::vector<JournalRecord> records;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    int sub = 0;
    for (const auto& change : changes) {
        JournalRecord record;
        record.bundle = change.bundle;
        record.kind = change.kind;
        record.fields = change.fields;
        record.date = now;
        record.userName = author.userName;
        record.fullName = author.fullName;
        record.hostName = author.hostName;
        record.stamp.client = m_writerId;
        record.stamp.sub = sub++;
        records.push_back(std::move(record));
    }
    for (;;) {
        for (auto& record : records) {
            record.stamp.seq = m_nextOwnSeq;
            record.stamp.lamport = m_highestLamport + 1;
        }
        const QByteArray bytes = QJsonDocument(encodeRecord(records)).toJson(QJsonDocument::Compact);
        if (publishFileExclusively(folder + QLatin1Char('/') + recordFileName(m_nextOwnSeq), bytes))
            break;
        ++m_nextOwnSeq; // another process writing as this client took the number
    }
    const qint64 seq = m_nextOwnSeq++;
    noteSeen(records.front());
    m_cursors[m_writerId].lastSeq = seq;
    // The record is published: the change has happened, whatever becomes of the head file,
    // which only spares readers a listing. One that could not be written is written later.
    m_headPending = true;
    writeHead();

    if (++m_unpackedOwnRecords >= packThreshold) {
        try {
            packOwnRecords();
        } catch (const Error& error) {
            qWarning("Packing the journal failed: %s", error.what());
        }
    }
    return records;
}

void Journal::writeHead()
{
    if (!m_headPending || m_nextOwnSeq <= 1)
        return;
    try {
        // Only a hint: readers also notice new records by the folder's stamp.
        writeFileAtomically(m_folder + QLatin1Char('/') + m_writerId + QStringLiteral("/head"),
                            QByteArray::number(m_nextOwnSeq - 1), Durability::replaceable);
        m_headPending = false;
    } catch (const Error& error) {
        qWarning("The journal head could not be written: %s", error.what());
    }
}

void Journal::packOwnRecords()
{
    const QString folder = m_folder + QLatin1Char('/') + m_writerId;
    QStringList problems;
    qint64 last = 0;
    const auto records = readClient(m_writerId, 0, &last, problems);
    if (!problems.isEmpty() || records.empty())
        return; // never pack over a record we could not read: it stays as it is
    QJsonArray array;
    std::vector<JournalRecord> group;
    for (const auto& record : records) {
        if (!group.empty() && group.front().stamp.seq != record.stamp.seq) {
            array.append(encodeRecord(group));
            group.clear();
        }
        group.push_back(record);
    }
    array.append(encodeRecord(group));
    writeFileAtomically(folder + QLatin1Char('/') + packFileName(last), QJsonDocument(array).toJson(QJsonDocument::Compact));

    const Listing listing = listClientFolder(folder);
    for (qint64 older : listing.olderPacks)
        QFile::remove(folder + QLatin1Char('/') + packFileName(older));
    for (const auto& [seq, name] : listing.files) {
        if (seq <= last)
            QFile::remove(folder + QLatin1Char('/') + name);
    }
    m_unpackedOwnRecords = 0;
}

} // namespace vantrel
