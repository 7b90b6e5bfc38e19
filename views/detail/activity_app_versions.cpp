#include "views/detail/activity_app_versions.h"

#include "foundation/error.h"

namespace vantrel {

namespace {

std::optional<QString> differing(const std::optional<QString>& written,
                                 const std::optional<InstalledApplication>& installed)
{
    if (!installed)
        return written;
    if (!written)
        return std::nullopt;
    if (!installed->version)
        return written;
    if (*installed->version == *written)
        return std::nullopt;
    return written;
}

} // namespace

QHash<IdFor<Versions>, std::optional<QString>>
differingAppVersions(const VersioningService& service, const std::optional<InstalledApplication>& installed,
                     const QList<IdFor<Versions>>& versions, const std::function<void(const QString&)>& logFailure)
{
    QHash<IdFor<Versions>, std::optional<QString>> found;
    for (const auto& version : versions) {
        if (found.contains(version))
            continue;
        std::optional<QString> written;
        try {
            written = service.documentApplicationForVersion(version).writerVersion;
        } catch (const Error& error) {
            logFailure(QStringLiteral("The application version of %1 could not be read: %2")
                           .arg(version.toString(), error.debugDescription()));
        } catch (const std::exception& error) {
            logFailure(QStringLiteral("The application version of %1 could not be read: %2")
                           .arg(version.toString(), QString::fromLocal8Bit(error.what())));
        }
        found.insert(version, differing(written, installed));
    }
    return found;
}

} // namespace vantrel
