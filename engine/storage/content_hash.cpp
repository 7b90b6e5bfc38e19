#include "engine/storage/content_hash.h"

#include "foundation/json_coding.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <new>
#include <stdexcept>
#include <utility>

namespace vantrel {

namespace {

int hexDigitValue(char16_t digit)
{
    if (digit >= u'0' && digit <= u'9')
        return digit - u'0';
    if (digit >= u'a' && digit <= u'f')
        return digit - u'a' + 10;
    if (digit >= u'A' && digit <= u'F')
        return digit - u'A' + 10;
    return -1;
}

} // namespace

std::optional<ContentHash> ContentHash::fromBytes(QByteArrayView bytes)
{
    if (bytes.size() != byteCount)
        return std::nullopt;
    ContentHash hash;
    for (qsizetype i = 0; i < byteCount; ++i)
        hash.m_bytes[static_cast<size_t>(i)] = static_cast<std::uint8_t>(bytes[i]);
    return hash;
}

std::optional<ContentHash> ContentHash::fromHex(QStringView text)
{
    if (text.size() != 2 * byteCount)
        return std::nullopt;
    ContentHash hash;
    for (qsizetype i = 0; i < byteCount; ++i) {
        const int high = hexDigitValue(text[2 * i].unicode());
        const int low = hexDigitValue(text[2 * i + 1].unicode());
        if (high < 0 || low < 0)
            return std::nullopt;
        hash.m_bytes[static_cast<size_t>(i)] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return hash;
}

QByteArray ContentHash::bytes() const
{
    return QByteArray(reinterpret_cast<const char*>(m_bytes.data()), byteCount);
}

QString ContentHash::toHex() const
{
    static constexpr char16_t digits[] = u"0123456789abcdef";
    QString text(2 * byteCount, Qt::Uninitialized);
    QChar* out = text.data();
    for (const std::uint8_t byte : m_bytes) {
        *out++ = QChar(digits[byte >> 4]);
        *out++ = QChar(digits[byte & 0xf]);
    }
    return text;
}

bool ContentHash::isNull() const
{
    return *this == ContentHash();
}

QJsonValue ContentHash::toJson() const
{
    return toHex();
}

ContentHash ContentHash::fromJson(const QJsonValue& json)
{
    if (!json.isString())
        throw DecodingError(QStringLiteral("Expected a content hash string."));
    if (auto hash = fromHex(json.toString()))
        return *hash;
    throw DecodingError(QStringLiteral("\"%1\" is not a content hash.").arg(json.toString()));
}

namespace {

// OpenSSL frees its state at exit unless told not to; with worker threads of a process still
// hashing at that moment, that ends in heap corruption. The memory goes back with the process.
EVP_MD_CTX* newContext()
{
    static const bool initialized = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
    (void)initialized;
    return EVP_MD_CTX_new();
}

} // namespace

Sha256::Sha256() : m_context(newContext())
{
    if (!m_context || EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(m_context);
        throw std::bad_alloc();
    }
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_context);
}

Sha256::Sha256(Sha256&& other) noexcept : m_context(std::exchange(other.m_context, nullptr)) {}

Sha256& Sha256::operator=(Sha256&& other) noexcept
{
    if (this != &other) {
        EVP_MD_CTX_free(m_context);
        m_context = std::exchange(other.m_context, nullptr);
    }
    return *this;
}

void Sha256::update(const void* data, size_t size)
{
    if (size > 0 && EVP_DigestUpdate(m_context, data, size) != 1)
        throw std::runtime_error("SHA-256 update failed");
}

ContentHash Sha256::finish()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_context, digest, &length) != 1 || length != ContentHash::byteCount)
        throw std::runtime_error("SHA-256 finish failed");
    return *ContentHash::fromBytes(QByteArrayView(reinterpret_cast<const char*>(digest), length));
}

ContentHash hashBytes(QByteArrayView data)
{
    Sha256 sha;
    sha.update(data);
    return sha.finish();
}

} // namespace vantrel
