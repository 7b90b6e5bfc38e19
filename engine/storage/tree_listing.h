#pragma once

#include "engine/storage/folder_listing.h"

#include <QHash>
#include <QString>

#include <functional>

namespace vantrel::listing {

// A folder listed ahead of a walk: its names and the state of each.
struct Listed {
    QList<QByteArray> names;
    std::vector<Looked> looked;
};

// Lists every folder below `source` and looks at every entry before a walk, many folders at a
// time. With nothing cached (the first check-in after the application started, or after the
// system dropped its caches), each listing and lstat waits for the disk, and a walk would wait
// for each folder in turn. A folder that can't be listed here is left to the walk, which fails
// there as it would have; nothing here decides what goes into the version.
// Returns the listings by path (`source`, and each folder below as `source` + "/" + its relative
// path); folders for which `excludeDirectory` holds (given their relative path) are not listed.
// On a network file system (`on`), the listings and looks go a few at a time (see Source).
QHash<QString, Listed> listTreeAhead(const QString& source,
                                     const std::function<bool(const QString& relativePath)>& excludeDirectory,
                                     Source on = Source::local);

} // namespace vantrel::listing
