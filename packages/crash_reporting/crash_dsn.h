#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace vantrel::crash_reporting {

// Where crash reports go and the key that lets them in, read from a DSN:
// `https://<public key>@<host>[:port][/<path>]/<project id>` (http for a local server).
class CrashDsn {
public:
    // The DSN read from `text` (surrounding white space ignored); absent with a one-line reason in
    // `error` when it is not one.
    static std::optional<CrashDsn> parse(const QString& text, QString* error = nullptr);

    const QString& publicKey() const { return m_publicKey; }
    const QString& projectId() const { return m_projectId; }
    // The DSN as it was given, without surrounding white space.
    const QString& text() const { return m_text; }

    // `<scheme>://<host>[:port][/<path>]/api/<project id>/envelope/`.
    QUrl envelopeUrl() const;
    // The value of the X-Sentry-Auth header for a client of the given version.
    QByteArray authHeader(const QString& clientVersion) const;

private:
    CrashDsn() = default;

    QString m_text;
    QUrl m_base; // scheme, host, port and path prefix
    QString m_publicKey;
    QString m_projectId;
};

} // namespace vantrel::crash_reporting
