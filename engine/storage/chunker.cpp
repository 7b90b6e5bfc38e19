// The table and the boundary rules of the chunker.

#include "engine/storage/chunker.h"

#include <array>

namespace vantrel {

namespace {

// splitmix64 from a fixed seed: 256 well-mixed 64-bit values, the same on every build.
constexpr std::array<std::uint64_t, 256> makeGear()
{
    std::array<std::uint64_t, 256> table{};
    std::uint64_t state = 0x5661'6e74'7265'6c21; // "Vantrel!"
    for (std::uint64_t& value : table) {
        state += 0x9e37'79b9'7f4a'7c15;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xbf58'476d'1ce4'e5b9;
        z = (z ^ (z >> 27)) * 0x94d0'49bb'1331'11eb;
        value = z ^ (z >> 31);
    }
    return table;
}

constexpr std::array<std::uint64_t, 256> gear = makeGear();

constexpr std::uint64_t topBits(int count)
{
    return ~(~std::uint64_t(0) >> count);
}

constexpr std::uint64_t strictMask = topBits(22);
constexpr std::uint64_t looseMask = topBits(18);

} // namespace

qsizetype Chunker::cut(const char* data, qsizetype size)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    qsizetype i = 0;
    // The first minSize bytes of a chunk can't end it: they are not hashed at all.
    if (m_length < chunking::minSize) {
        const qsizetype skip = qsizetype(std::min<qint64>(chunking::minSize - m_length, size));
        m_length += skip;
        i = skip;
    }
    std::uint64_t hash = m_hash;
    const auto end = [&](qsizetype at) {
        m_hash = 0;
        m_length = 0;
        return at;
    };
    // Strictly until normalSize, then loosely until maxSize.
    for (; i < size && m_length < chunking::normalSize; ++i) {
        hash = (hash << 1) + gear[bytes[i]];
        ++m_length;
        if ((hash & strictMask) == 0)
            return end(i + 1);
    }
    for (; i < size; ++i) {
        hash = (hash << 1) + gear[bytes[i]];
        ++m_length;
        if ((hash & looseMask) == 0 || m_length == chunking::maxSize)
            return end(i + 1);
    }
    m_hash = hash;
    return -1;
}

} // namespace vantrel
