// The table and the boundary rules of the chunker.

#include "engine/storage/chunks/chunker.h"

#include "engine/storage/parallel_for.h"

#include <algorithm>
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

constexpr std::uint64_t strictMask = topBits(21);
constexpr std::uint64_t looseMask = topBits(17);

} // namespace

qsizetype Chunker::cut(const char* block, qsizetype size, qsizetype from, const std::vector<GearCandidate>* candidates)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(block);
    qsizetype i = from;
    // The first minSize bytes of a chunk can't end it: they are not hashed at all.
    if (m_length < chunking::minSize) {
        const qsizetype skip = qsizetype(std::min<qint64>(chunking::minSize - m_length, size - i));
        m_length += skip;
        i += skip;
    }
    const auto end = [&](qsizetype at) {
        m_hash = 0;
        m_length = 0;
        m_hashed = 0;
        return at;
    };
    std::uint64_t hash = m_hash;
    // Byte by byte: for good without candidates, else until the hash spans a whole window.
    for (; i < size && (!candidates || m_hashed < 64); ++i) {
        hash = (hash << 1) + gear[bytes[i]];
        ++m_length;
        ++m_hashed;
        const std::uint64_t mask = m_length <= chunking::normalSize ? strictMask : looseMask;
        if ((hash & mask) == 0 || m_length == chunking::maxSize)
            return end(i + 1);
    }
    m_hash = hash;
    if (i == size)
        return -1;
    // The hash at each position is now the candidates' own.
    auto next = std::lower_bound(candidates->begin(), candidates->end(), i,
                                 [](const GearCandidate& candidate, qsizetype at) { return candidate.position < at; });
    for (; next != candidates->end(); ++next) {
        const qint64 length = m_length + (next->position - i) + 1;
        if (length >= chunking::maxSize)
            break;
        if (next->strict || length > chunking::normalSize)
            return end(next->position + 1);
    }
    if (m_length + (size - i) >= chunking::maxSize)
        return end(i + qsizetype(chunking::maxSize - m_length));
    m_length += size - i;
    return -1;
}

std::vector<GearCandidate> findGearCandidates(QByteArrayView before, QByteArrayView block)
{
    constexpr qsizetype segment = 512 << 10;
    const qsizetype count = (block.size() + segment - 1) / segment;
    std::vector<std::vector<GearCandidate>> found(static_cast<size_t>(count));
    const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
    const auto* earlier = reinterpret_cast<const unsigned char*>(before.data());
    parallelFor(count, 1, [&](qsizetype index) {
        const qsizetype from = index * segment;
        const qsizetype to = std::min(from + segment, block.size());
        std::uint64_t hash = 0;
        // The 63 bytes before the segment complete the window of its first position.
        for (qsizetype k = from - 63; k < from; ++k) {
            if (k >= 0)
                hash = (hash << 1) + gear[bytes[k]];
            else if (before.size() + k >= 0)
                hash = (hash << 1) + gear[earlier[before.size() + k]];
        }
        std::vector<GearCandidate>& mine = found[size_t(index)];
        for (qsizetype p = from; p < to; ++p) {
            hash = (hash << 1) + gear[bytes[p]];
            if ((hash & looseMask) == 0)
                mine.push_back({p, (hash & strictMask) == 0});
        }
    });
    std::vector<GearCandidate> all;
    for (const auto& part : found)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

QList<qsizetype> BlockChunker::cuts(QByteArrayView block)
{
    const std::vector<GearCandidate> candidates = findGearCandidates(m_before, block);
    QList<qsizetype> ends;
    for (qsizetype from = 0; from < block.size();) {
        const qsizetype end = m_chunker.cut(block.data(), block.size(), from, &candidates);
        if (end < 0)
            break;
        ends.append(end);
        from = end;
    }
    m_before = block.size() >= 63 ? block.last(63).toByteArray() : (m_before + block.toByteArray()).right(63);
    return ends;
}

} // namespace vantrel
