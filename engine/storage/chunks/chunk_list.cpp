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

} // namespace

qint64 ChunkList::totalSize() const
{
    qint64 total = 0;
    for (const Chunk& chunk : chunks)
        total += chunk.size;
    return total;
}

QByteArray ChunkList::encode() const
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

ChunkList ChunkList::decode(QByteArrayView bytes, qint64 fileSize, const QString& path)
{
    const auto fail = [&](const QString& why) { return StorageError::corrupt(path, why); };
    if (bytes.size() < headerSize || std::memcmp(bytes.data(), magic, 4) != 0)
        throw fail(QStringLiteral("It is not a list of chunks."));
    const auto* data = reinterpret_cast<const uchar*>(bytes.data());
    const quint32 format = qFromLittleEndian<quint32>(data + 4);
    if (format != formatVersion)
        throw fail(QStringLiteral("Chunk list format %1 is not supported.").arg(format));
    const auto size = qFromLittleEndian<quint64>(data + 8);
    const quint32 count = qFromLittleEndian<quint32>(data + 16);
    // The count must match the bytes there are, which the read limit bounded: nothing is
    // reserved for what a list merely claims.
    if (bytes.size() > readLimits::chunkList || qint64(count) != (bytes.size() - headerSize) / entrySize
        || (bytes.size() - headerSize) % entrySize != 0)
        throw fail(QStringLiteral("The list claims %1 chunks in %2 bytes.").arg(count).arg(bytes.size()));
    if (fileSize < 0 || size != quint64(fileSize))
        throw fail(QStringLiteral("The list is of %1 bytes, its file of %2.").arg(size).arg(fileSize));
    // Each chunk is at most chunking::maxSize, so the sum can't overflow before it is compared.
    // None but the last is shorter than the chunker cuts: a list of many tiny chunks would cost
    // a read of the share for every few bytes.
    qint64 total = 0;
    for (quint32 i = 0; i < count; ++i) {
        const quint32 chunkSize =
            qFromLittleEndian<quint32>(data + headerSize + entrySize * i + ContentHash::byteCount);
        const qint64 least = i + 1 < count ? chunking::minSize : 1;
        if (chunkSize < least || chunkSize > chunking::maxSize)
            throw fail(QStringLiteral("Chunk %1 claims %2 bytes.").arg(i).arg(chunkSize));
        total += chunkSize;
    }
    if (total != fileSize)
        throw fail(QStringLiteral("The chunks add up to %1 bytes, the file holds %2.").arg(total).arg(fileSize));
    ChunkList list;
    list.chunks.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        const uchar* entry = data + headerSize + entrySize * i;
        const auto hash =
            ContentHash::fromBytes(QByteArrayView(reinterpret_cast<const char*>(entry), ContentHash::byteCount));
        list.chunks.append({*hash, qint64(qFromLittleEndian<quint32>(entry + ContentHash::byteCount))});
    }
    return list;
}

ChunkList ChunkList::read(const ContentStore& store, const ContentHash& hash, qint64 fileSize)
{
    // The list of a file of this size can't hold more entries than it has chunks of the least
    // size (and a last one), nor be longer than the bound.
    const qint64 entries = std::max<qint64>(fileSize, 0) / chunking::minSize + 1;
    const qint64 limit = std::min(readLimits::chunkList, headerSize + entrySize * entries);
    return decode(store.readBytes(hash, limit), fileSize, store.pathFor(hash));
}

} // namespace vantrel
