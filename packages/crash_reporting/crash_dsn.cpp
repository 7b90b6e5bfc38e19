#include "packages/crash_reporting/crash_dsn.h"

namespace vantrel::crash_reporting {

namespace {

// A public key goes into a header as it stands: letters, digits, '-' and '_' only.
bool isKey(const QString& text)
{
    for (const QChar c : text)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('-') && c != QLatin1Char('_'))
            return false;
    return !text.isEmpty();
}

bool isDigits(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

std::optional<CrashDsn> failure(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return std::nullopt;
}

} // namespace

std::optional<CrashDsn> CrashDsn::parse(const QString& text, QString* error)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return failure(error, QStringLiteral("The crash-report DSN is empty."));
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid())
        return failure(error, QStringLiteral("The crash-report DSN is not a URL: %1").arg(url.errorString()));
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http"))
        return failure(error, QStringLiteral("The crash-report DSN must be an https or http URL."));
    if (url.host().isEmpty())
        return failure(error, QStringLiteral("The crash-report DSN names no host."));
    if (url.userName().isEmpty())
        return failure(error, QStringLiteral("The crash-report DSN names no public key."));
    if (!isKey(url.userName()))
        return failure(error, QStringLiteral("The public key of the crash-report DSN has characters a key cannot have."));
    if (url.hasQuery() || url.hasFragment())
        return failure(error, QStringLiteral("The crash-report DSN may not have a query or a fragment."));

    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString projectId = path.mid(slash + 1);
    if (!isDigits(projectId))
        return failure(error, QStringLiteral("The crash-report DSN must end in a numeric project id."));

    CrashDsn dsn;
    dsn.m_text = trimmed;
    dsn.m_publicKey = url.userName();
    dsn.m_projectId = projectId;
    dsn.m_base.setScheme(scheme);
    dsn.m_base.setHost(url.host());
    dsn.m_base.setPort(url.port());
    dsn.m_base.setPath(slash > 0 ? path.left(slash) : QString());
    return dsn;
}

QUrl CrashDsn::envelopeUrl() const
{
    QUrl url = m_base;
    url.setPath(m_base.path() + QStringLiteral("/api/") + m_projectId + QStringLiteral("/envelope/"));
    return url;
}

QByteArray CrashDsn::authHeader(const QString& clientVersion) const
{
    return QByteArrayLiteral("Sentry sentry_version=7, sentry_key=") + m_publicKey.toUtf8()
           + QByteArrayLiteral(", sentry_client=vantrel/") + QUrl::toPercentEncoding(clientVersion, "+.");
}

} // namespace vantrel::crash_reporting
