// The bytes of lock records and release notes, as `locks/` holds them.

#include "engine/locks/lock_table.h"

#include "engine/engine_errors.h"
#include "engine/storage/fixed_length_files.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace vantrel {

namespace {

// The longest user, full or host name a lock record holds; shorter ones where the record would
// not fit its length otherwise (names made of escaped characters).
constexpr qsizetype maxNameLength = 200;

QString boundedName(const QString& name, qsizetype longest)
{
    if (name.size() <= longest)
        return name;
    // Never half of a surrogate pair.
    const qsizetype cut = longest > 0 && name.at(longest - 1).isHighSurrogate() ? longest - 1 : longest;
    return name.left(cut);
}

} // namespace

QByteArray LockRecord::toJson() const
{
    // Names are bounded so that the record always fits its fixed length: a share that remembers
    // the size of the record it replaces then reads this one whole.
    for (qsizetype longest = maxNameLength;; longest /= 2) {
        QJsonObject object{{QStringLiteral("client"), clientId},
                           {QStringLiteral("user"), boundedName(userName, longest)},
                           {QStringLiteral("fullName"), boundedName(fullName, longest)},
                           {QStringLiteral("host"), boundedName(hostName, longest)},
                           {QStringLiteral("initiator"), initiator.toString()},
                           {QStringLiteral("date"), date.toUTC().toString(Qt::ISODateWithMs)},
                           {QStringLiteral("forced"), forced}};
        if (forced) {
            object.insert(QStringLiteral("previousClient"), boundedName(previousClientId, longest));
            object.insert(QStringLiteral("previousUser"), boundedName(previousUserName, longest));
        }
        QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Compact);
        if (bytes.size() < fixed_length::lockRecord || longest == 0)
            return fixed_length::padded(std::move(bytes), fixed_length::lockRecord);
    }
}

LockRecord LockRecord::fromJson(const QByteArray& json)
{
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    LockRecord record;
    record.clientId = object.value(QStringLiteral("client")).toString();
    if (record.clientId.isEmpty())
        throw DecodingError(QStringLiteral("The lock record names no client."));
    record.userName = object.value(QStringLiteral("user")).toString();
    record.fullName = object.value(QStringLiteral("fullName")).toString();
    record.hostName = object.value(QStringLiteral("host")).toString();
    record.initiator = IdFor<VersionBundle>::fromJson(object.value(QStringLiteral("initiator")));
    record.date = QDateTime::fromString(object.value(QStringLiteral("date")).toString(), Qt::ISODateWithMs);
    record.forced = object.value(QStringLiteral("forced")).toBool();
    record.previousClientId = object.value(QStringLiteral("previousClient")).toString();
    record.previousUserName = object.value(QStringLiteral("previousUser")).toString();
    return record;
}

QByteArray ReleaseNote::toJson() const
{
    return fixed_length::padded(
        QJsonDocument(QJsonObject{{QStringLiteral("client"), clientId}, {QStringLiteral("seq"), seq}})
            .toJson(QJsonDocument::Compact),
        fixed_length::releaseNote);
}

ReleaseNote ReleaseNote::fromJson(const QByteArray& json)
{
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    ReleaseNote note;
    note.clientId = object.value(QStringLiteral("client")).toString();
    const double seq = object.value(QStringLiteral("seq")).toDouble(-1);
    if (note.clientId.isEmpty() || seq < 1 || seq > 9e15 || seq != static_cast<double>(static_cast<qint64>(seq)))
        throw DecodingError(QStringLiteral("The release note names no record."));
    note.seq = static_cast<qint64>(seq);
    return note;
}

QString LockRecord::holderDescription() const
{
    const QString who = displayName(fullName, userName);
    return hostName.isEmpty() ? who : QStringLiteral("%1 on %2").arg(who, hostName);
}

} // namespace vantrel
