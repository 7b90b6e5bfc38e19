#include "engine/locks/checkout_registry.h"

#include "engine/storage/atomic_file.h"
#include "engine/storage/read_limits.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace vantrel {

QByteArray Checkout::toJson() const
{
    QJsonArray included;
    for (const auto& event : events)
        included.append(QJsonObject{{QStringLiteral("id"), event.id.toString()},
                                    {QStringLiteral("folder"), event.folder},
                                    {QStringLiteral("baseVersion"), event.baseVersion.toString()}});
    return QJsonDocument(QJsonObject{{QStringLiteral("bundle"), bundle.toString()},
                                     {QStringLiteral("workingCopy"), workingCopy},
                                     {QStringLiteral("baseVersion"), baseVersion.toString()},
                                     {QStringLiteral("events"), included},
                                     {QStringLiteral("date"), date.toUTC().toString(Qt::ISODateWithMs)},
                                     {QStringLiteral("autoSave"), autoSave},
                                     {QStringLiteral("autoSaveInterval"), autoSaveInterval},
                                     {QStringLiteral("lastAutoSave"), lastAutoSave.toUTC().toString(Qt::ISODateWithMs)},
                                     {QStringLiteral("lastSavedManifest"), lastSavedManifest},
                                     {QStringLiteral("displaced"), displaced},
                                     {QStringLiteral("checkingIn"), checkingIn}})
        .toJson();
}

Checkout Checkout::fromJson(const QByteArray& json)
{
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    Checkout checkout;
    checkout.bundle = IdFor<VersionBundle>::fromJson(object.value(QStringLiteral("bundle")));
    checkout.workingCopy = object.value(QStringLiteral("workingCopy")).toString();
    checkout.baseVersion = IdFor<Versions>::fromJson(object.value(QStringLiteral("baseVersion")));
    for (const QJsonValue& value : object.value(QStringLiteral("events")).toArray()) {
        const QJsonObject event = value.toObject();
        checkout.events.append({IdFor<VersionBundle>::fromJson(event.value(QStringLiteral("id"))),
                                event.value(QStringLiteral("folder")).toString(),
                                IdFor<Versions>::fromJson(event.value(QStringLiteral("baseVersion")))});
    }
    checkout.date = QDateTime::fromString(object.value(QStringLiteral("date")).toString(), Qt::ISODateWithMs);
    checkout.autoSave = object.value(QStringLiteral("autoSave")).toBool();
    checkout.autoSaveInterval = object.value(QStringLiteral("autoSaveInterval")).toInt(600);
    checkout.lastAutoSave =
        QDateTime::fromString(object.value(QStringLiteral("lastAutoSave")).toString(), Qt::ISODateWithMs);
    checkout.lastSavedManifest = object.value(QStringLiteral("lastSavedManifest")).toString();
    checkout.displaced = object.value(QStringLiteral("displaced")).toBool();
    checkout.checkingIn = object.value(QStringLiteral("checkingIn")).toString();
    if (checkout.workingCopy.isEmpty())
        throw DecodingError(QStringLiteral("The check-out names no working copy."));
    return checkout;
}

CheckoutRegistry::CheckoutRegistry(QString folder) : m_folder(std::move(folder))
{
    for (const QString& name : QDir(m_folder).entryList({QStringLiteral("*.json")}, QDir::Files)) {
        try {
            const Checkout checkout =
                Checkout::fromJson(readWholeFile(m_folder + QLatin1Char('/') + name, readLimits::checkoutRecord));
            m_checkouts.insert(checkout.bundle, checkout);
        } catch (const Error& error) {
            qWarning("A check-out record could not be read: %s", error.what());
        }
    }
}

std::optional<Checkout> CheckoutRegistry::find(const IdFor<VersionBundle>& bundle) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_checkouts.constFind(bundle);
    if (found == m_checkouts.cend())
        return std::nullopt;
    return *found;
}

QList<Checkout> CheckoutRegistry::all() const
{
    std::lock_guard lock(m_mutex);
    return m_checkouts.values();
}

// Writers take turns, so that the file and the table change together; readers only wait for
// the table.
void CheckoutRegistry::save(const Checkout& checkout)
{
    std::lock_guard writing(m_writeMutex);
    write(checkout);
}

bool CheckoutRegistry::update(const IdFor<VersionBundle>& bundle, const std::function<void(Checkout&)>& change)
{
    std::lock_guard writing(m_writeMutex);
    auto checkout = find(bundle);
    if (!checkout)
        return false;
    change(*checkout);
    write(*checkout);
    return true;
}

void CheckoutRegistry::remove(const IdFor<VersionBundle>& bundle)
{
    std::lock_guard writing(m_writeMutex);
    QFile::remove(m_folder + QLatin1Char('/') + bundle.toString() + QStringLiteral(".json"));
    std::lock_guard lock(m_mutex);
    m_checkouts.remove(bundle);
}

void CheckoutRegistry::write(const Checkout& checkout)
{
    ensureDirectory(m_folder);
    writeFileAtomically(m_folder + QLatin1Char('/') + checkout.bundle.toString() + QStringLiteral(".json"),
                        checkout.toJson());
    std::lock_guard lock(m_mutex);
    m_checkouts.insert(checkout.bundle, checkout);
}

} // namespace vantrel
