#pragma once

#include "engine/document_application.h"
#include "engine/id_for.h"
#include "engine/versioning_service.h"

#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace vantrel {

// For each of `versions`, the version of the application that wrote it when it differs from
// the one installed here (`installed`), as AppVersionAware::differingAppVersion() decides; the
// answer is absent when they match. Reads the versions' records, so it runs off the interface
// thread. A record that cannot be read counts as no known version, and its failure goes to
// `logFailure`.
QHash<IdFor<Versions>, std::optional<QString>>
differingAppVersions(const VersioningService& service, const std::optional<InstalledApplication>& installed,
                     const QList<IdFor<Versions>>& versions, const std::function<void(const QString&)>& logFailure);

} // namespace vantrel
