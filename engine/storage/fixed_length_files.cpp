#include "engine/storage/fixed_length_files.h"

#include "engine/storage/atomic_file.h"

#include <chrono>
#include <thread>

namespace vantrel::fixed_length {

namespace {

// A clipped read is tried again this many times, the pauses doubling from the first: a share
// that replaced the file a moment ago may know its size by then. Bounded, so that a file that
// is really damaged costs a decision a fraction of a second.
constexpr int rereads = 3;
constexpr std::chrono::milliseconds firstPause{40};

} // namespace

QByteArray padded(QByteArray bytes, qsizetype length)
{
    if (bytes.size() >= length)
        return bytes;
    bytes.append(length - 1 - bytes.size(), ' ');
    bytes.append('\n');
    return bytes;
}

QByteArray headBytes(qint64 seq)
{
    return QByteArray::number(seq).rightJustified(journalHead - 1, '0') + '\n';
}

QByteArray readSettled(const QString& path, qint64 maxSize, qsizetype length,
                       const std::function<bool(QByteArrayView)>& decodes)
{
    QByteArray bytes = readWholeFile(path, maxSize);
    auto pause = firstPause;
    for (int attempt = 0; attempt < rereads && bytes.size() < length && !decodes(bytes); ++attempt) {
        std::this_thread::sleep_for(pause);
        pause *= 2;
        bytes = readWholeFile(path, maxSize);
    }
    return bytes;
}

} // namespace vantrel::fixed_length
