#pragma once

#include <QtGlobal>

// The most the engine reads of each kind of file it keeps. A team bundle is written by every
// member of the team (and may be damaged), so a file there can be any size, or a link to
// /dev/zero: every read is bounded by what the engine itself could have written, with room to
// spare, and a larger file is refused before anything is allocated for it.
namespace vantrel::readLimits {

constexpr qint64 kib = 1024;
constexpr qint64 mib = 1024 * kib;
constexpr qint64 gib = 1024 * mib;

// `journal/<client>/head`: one decimal number.
constexpr qint64 journalHead = 64;
// `team.json`: the format, the team's id and the date it was made.
constexpr qint64 teamMarker = 64 * kib;
// `locks/<bundle>.lock`: a client id, names, a host, an id and a date.
constexpr qint64 lockRecord = 64 * kib;
// `attic/<bundle>/<entry>.json`: a reason, a name, a hash, a user, a host and a date.
constexpr qint64 atticEntry = 64 * kib;
// `journal/<client>/<seq>.json`: one record, which may hold many changes (the import of a
// library with thousands of events is one record of a few hundred bytes per event).
constexpr qint64 journalRecord = 64 * mib;
// `journal/<client>/pack-<seq>.json`: a pack holds at most a few thousand records. A gibibyte
// leaves room and still fails cleanly, instead of taking all the memory of the machine, on a file
// that claims to be more.
constexpr qint64 journalPack = 1 * gib;
// One stored folder tree (a stored content read whole): about 120 bytes per item of the folder,
// so a folder of two million files still fits.
constexpr qint64 folderTree = 256 * mib;
// One stored list of chunks (chunk_list.h): 36 bytes a chunk, so a file of about 1.8 million
// chunks (some 2 TiB in chunks of the usual size, 466 GiB in the smallest ones).
constexpr qint64 chunkList = 64 * mib;

// Files on the local disk, written by this installation only, bounded all the same.
// `checkouts/<bundle>.json`: a check-out with its events.
constexpr qint64 checkoutRecord = 16 * mib;
// A stat cache: at most StatCache::capacity entries of a path and a few numbers each.
constexpr qint64 statCache = 1 * gib;

} // namespace vantrel::readLimits
