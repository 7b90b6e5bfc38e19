#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHashFunctions>
#include <QJsonValue>
#include <QString>
#include <QStringView>

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

struct evp_md_ctx_st;

namespace vantrel {

// The SHA-256 of a stored content: the name it is stored under and the check made on every read.
class ContentHash {
public:
    static constexpr qsizetype byteCount = 32;

    // All zero bytes; no content has this hash (it stands for "none" in a folder entry).
    ContentHash() = default;
    // Exactly 32 bytes; absent otherwise.
    static std::optional<ContentHash> fromBytes(QByteArrayView bytes);
    // 64 hexadecimal digits in either case; absent otherwise.
    static std::optional<ContentHash> fromHex(QStringView text);

    QByteArray bytes() const;
    // 64 lower-case hexadecimal digits.
    QString toHex() const;
    bool isNull() const;

    // JSON: the lower-case hexadecimal string. fromJson throws DecodingError.
    QJsonValue toJson() const;
    static ContentHash fromJson(const QJsonValue& json);

    const std::array<std::uint8_t, byteCount>& data() const { return m_bytes; }

    friend bool operator==(const ContentHash&, const ContentHash&) = default;
    friend auto operator<=>(const ContentHash&, const ContentHash&) = default;
    friend size_t qHash(const ContentHash& hash, size_t seed = 0) noexcept
    {
        return qHashBits(hash.m_bytes.data(), hash.m_bytes.size(), seed);
    }

private:
    std::array<std::uint8_t, byteCount> m_bytes{};
};

// An incremental SHA-256.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(Sha256&& other) noexcept;
    Sha256& operator=(Sha256&& other) noexcept;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, size_t size);
    void update(QByteArrayView data) { update(data.data(), static_cast<size_t>(data.size())); }
    // The hash of everything passed to update(); the object must not be used afterwards.
    ContentHash finish();

private:
    evp_md_ctx_st* m_context;
};

ContentHash hashBytes(QByteArrayView data);

} // namespace vantrel

template<>
struct std::hash<vantrel::ContentHash> {
    size_t operator()(const vantrel::ContentHash& hash) const noexcept { return qHash(hash); }
};
