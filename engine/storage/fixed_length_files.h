#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

// Files that are replaced in place and read by name (lock records, release notes, journal heads,
// `team.json`) are written at one fixed length per kind.
//
// A share may serve a file's size from a cache for seconds after the file was replaced through
// another mount: sshfs does (20 s by default), and the kernel then reads the new contents only up
// to the old size, so a record of 74 bytes replacing one of 12 comes back as its first 12. Where
// every version of a file has the same length, the size a share remembers is always right.
// Readers still take a file shorter than its length that does not decode for one that may be
// clipped (written by an older client, unpadded, or replaced in between) and read it again a few
// times before they conclude. JSON allows whitespace after its value, and heads were always read
// trimmed, so older clients read the padded files as before.
namespace vantrel::fixed_length {

inline constexpr qsizetype lockRecord = 1024;
inline constexpr qsizetype releaseNote = 256;
inline constexpr qsizetype teamMarker = 512;
// Twelve digits (every sequence number fits) and a line end; older readers take 64 bytes at most.
inline constexpr qsizetype journalHead = 13;

// `bytes` padded with spaces to `length`, the last one a line end; `bytes` as they are when they
// don't fit (callers bound what they write so that it does).
QByteArray padded(QByteArray bytes, qsizetype length);

// The bytes of a head naming `seq`: zero-padded to twelve digits.
QByteArray headBytes(qint64 seq);

// Reads the file at `path` by name, at most `maxSize` bytes, and again (a few times, a moment
// apart) while `decodes` refuses what was read and it is shorter than `length`: what a share
// clipped to a size it remembered. Returns the last bytes read, decoded or not. Throws
// StorageError as readWholeFile() does.
QByteArray readSettled(const QString& path, qint64 maxSize, qsizetype length,
                       const std::function<bool(QByteArrayView)>& decodes);

} // namespace vantrel::fixed_length
