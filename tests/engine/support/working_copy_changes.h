// A package in which each folder takes one kind of change, for the tests of watched working
// copies: what it holds, the changes, and the folders a watch must find changed.

#pragma once

#include <QSet>
#include <QString>

namespace vantrel::testing {

// Writes the package at `path` (which must not exist).
void makeChangingPackage(const QString& path);

// Changes `package` every way an editing application or a person can: a file edited in place,
// added, removed, renamed, made executable; a folder renamed, moved in from `outside` and moved
// out to it; a file deep inside folders that did not change; a new folder made, then filled;
// folders made and filled at once. `outside` is a folder on the same file system, outside the
// package. Folders that must not change ("untouched/...", the root) are left alone.
void changeEveryWay(const QString& package, const QString& outside);

// The folders (relative to the package) that changeEveryWay() changes.
QSet<QString> foldersChangedEveryWay();

// Rewrites a file of "untouched/u" through a hard link made in `outside`: no watch of the
// package sees that, only a walk of it does.
void changeUnseen(const QString& package, const QString& outside);

} // namespace vantrel::testing
