// Encoding, decoding and reading chunk lists, checked against their bounds.

#include "engine/storage/chunks/chunk_list.h"

#include "engine/storage/chunks/chunker.h"
#include "engine/storage/content_store.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/storage_error.h"

#include <QtEndian>

#include <cstring>

namespace vantrel {

namespace {

constexpr char magic[4] = {'V', 'C', 'H', 'L'};
constexpr quint32 formatVersion = 1;
constexpr quint32 packedFormatVersion = 2;

} // namespace

namespace little_endian {

void append32(QByteArray& out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

void append64(QByteArray& out, quint64 value)
{
    char bytes[8];
    qToLittleEndian(value, bytes);
    out.append(bytes, 8);
}

} // namespace little_endian

using little_endian::append32;
using little_endian::append64;

qint64 ChunkList::totalSize() const
{
    qint64 total = 0;
    for (const Chunk& chunk : chunks)
        total += chunk.size;
    return total;
}

QByteArray ChunkList::identityBytes() const
{
    QByteArray out;
    out.reserve(qsizetype(headerSize + entrySize * chunks.size()));
    out.append(magic, 4);
    append32(out, formatVersion);
    append64(out, quint64(totalSize()));
    append32(out, quint32(chunks.size()));
    for (const Chunk& chunk : chunks) {
        out.append(reinterpret_cast<const char*>(chunk.hash.data().data()), ContentHash::byteCount);
        append32(out, quint32(chunk.size));
    }
    return out;
}

ContentHash ChunkList::identity() const
{
    return hashBytes(identityBytes());
}

QByteArray ChunkList::encode() const
{
    if (!packed())
        return identityBytes();
    QByteArray out;
    out.reserve(qsizetype(packedHeaderSize + packNameSize * packs.size() + packedEntrySize * chunks.size()));
    out.append(magic, 4);
    append32(out, packedFormatVersion);
    append64(out, quint64(totalSize()));
    append32(out, quint32(chunks.size()));
    append32(out, quint32(packs.size()));
    for (const ContentHash& pack : packs)
        out.append(reinterpret_cast<const char*>(pack.data().data()), ContentHash::byteCount);
    for (const Chunk& chunk : chunks) {
        out.append(reinterpret_cast<const char*>(chunk.hash.data().data()), ContentHash::byteCount);
        append32(out, quint32(chunk.size));
        append32(out, quint32(chunk.pack));
        append64(out, quint64(chunk.offset));
    }
    return out;
}

ChunkList ChunkList::decode(QByteArrayView bytes, qint64 fileSize, const QString& path)
{
    const auto fail = [&](const QString& why) { return StorageError::corrupt(path, why); };
    if (bytes.size() < headerSize || std::memcmp(bytes.data(), magic, 4) != 0)
        throw fail(QStringLiteral("It is not a list of chunks."));
    const auto* data = reinterpret_cast<const uchar*>(bytes.data());
    const quint32 format = qFromLittleEndian<quint32>(data + 4);
    if (format != formatVersion && format != packedFormatVersion)
        throw fail(QStringLiteral("Chunk list format %1 is not supported.").arg(format));
    const bool packed = format == packedFormatVersion;
    const auto size = qFromLittleEndian<quint64>(data + 8);
    const quint32 count = qFromLittleEndian<quint32>(data + 16);
    if (packed && bytes.size() < packedHeaderSize)
        throw fail(QStringLiteral("It is not a list of chunks."));
    const quint32 packCount = packed ? qFromLittleEndian<quint32>(data + 20) : 0;
    // The counts must match the bytes there are, which the read limit bounded: nothing is
    // reserved for what a list merely claims.
    const qint64 header = packed ? packedHeaderSize + packNameSize * qint64(packCount) : headerSize;
    const qint64 entry = packed ? packedEntrySize : entrySize;
    if (bytes.size() > readLimits::chunkList || header > bytes.size() || qint64(count) != (bytes.size() - header) / entry
        || (bytes.size() - header) % entry != 0 || (packed && (packCount == 0 || packCount > count)))
        throw fail(QStringLiteral("The list claims %1 chunks in %2 bytes.").arg(count).arg(bytes.size()));
    if (fileSize < 0 || size != quint64(fileSize))
        throw fail(QStringLiteral("The list is of %1 bytes, its file of %2.").arg(size).arg(fileSize));
    // Each chunk is at most chunking::maxSize, so the sum can't overflow before it is compared.
    // None but the last is shorter than the chunker cuts: a list of many tiny chunks would cost
    // a read of the share for every few bytes.
    qint64 total = 0;
    for (quint32 i = 0; i < count; ++i) {
        const uchar* at = data + header + entry * i + ContentHash::byteCount;
        const quint32 chunkSize = qFromLittleEndian<quint32>(at);
        const qint64 least = i + 1 < count ? chunking::minSize : 1;
        if (chunkSize < least || chunkSize > chunking::maxSize)
            throw fail(QStringLiteral("Chunk %1 claims %2 bytes.").arg(i).arg(chunkSize));
        if (packed
            && (qFromLittleEndian<quint32>(at + 4) >= packCount
                || qFromLittleEndian<quint64>(at + 8) > quint64(chunking::largestPack - chunkSize)))
            throw fail(QStringLiteral("Chunk %1 lies outside its packs.").arg(i));
        total += chunkSize;
    }
    if (total != fileSize)
        throw fail(QStringLiteral("The chunks add up to %1 bytes, the file holds %2.").arg(total).arg(fileSize));
    const auto hashAt = [&](const uchar* at) {
        return *ContentHash::fromBytes(QByteArrayView(reinterpret_cast<const char*>(at), ContentHash::byteCount));
    };
    ChunkList list;
    list.packs.reserve(packCount);
    for (quint32 i = 0; i < packCount; ++i)
        list.packs.append(hashAt(data + packedHeaderSize + packNameSize * i));
    list.chunks.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        const uchar* at = data + header + entry * i;
        Chunk chunk{hashAt(at), qint64(qFromLittleEndian<quint32>(at + ContentHash::byteCount))};
        if (packed) {
            chunk.pack = qint32(qFromLittleEndian<quint32>(at + ContentHash::byteCount + 4));
            chunk.offset = qint64(qFromLittleEndian<quint64>(at + ContentHash::byteCount + 8));
        }
        list.chunks.append(chunk);
    }
    return list;
}

ChunkList ChunkList::read(const ContentStore& store, const ContentHash& hash, qint64 fileSize)
{
    // The list of a file of this size can't hold more entries than it has chunks of the least
    // size (and a last one), nor be longer than the bound.
    const qint64 entries = std::max<qint64>(fileSize, 0) / chunking::minSize + 1;
    // (In format 2 each may name a pack of its own.)
    const qint64 limit = std::min(readLimits::chunkList, packedHeaderSize + (packedEntrySize + packNameSize) * entries);
    return decode(store.readBytes(hash, limit), fileSize, store.pathFor(hash));
}

} // namespace vantrel
