#include "packages/crash_reporting/crash_reporting_client.h"

#include "packages/crash_reporting/crash_envelope.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace vantrel::crash_reporting {

namespace {

constexpr int transferTimeoutMs = 30000;
// The most of the server's answer read before it is cut off.
constexpr qint64 answerLimit = 64 * 1024;

} // namespace

CrashReportingClient::CrashReportingClient(AppIdentity app, QString folder, QObject* parent)
    : QObject(parent),
      m_app(std::move(app)),
      m_folder(std::move(folder))
{
}

CrashReportingClient::~CrashReportingClient() = default;

bool CrashReportingClient::start(const std::function<void(CrashReportingOptions&)>& configure)
{
    if (m_dsn) {
        qWarning("Crash reporting is already started.");
        return false;
    }
    CrashReportingOptions options;
    configure(options);
    if (options.dsn.trimmed().isEmpty()) {
        if (options.debug)
            qInfo("Crash reporting is off: no DSN.");
        return false;
    }
    QString error;
    std::optional<CrashDsn> dsn = CrashDsn::parse(options.dsn, &error);
    if (!dsn) {
        qWarning("Crash reporting is off: %s", qPrintable(error));
        return false;
    }
    if (!installCrashHandlers(m_app, m_folder, &error)) {
        qWarning("Crash reporting is off: %s", qPrintable(error));
        return false;
    }
    m_options = std::move(options);
    m_dsn = std::move(dsn);
    m_network = new QNetworkAccessManager(this);
    m_pending = pendingCrashReports(m_folder, preparedReportPath());
    // Asked once the event loop runs, never while the application is still being built.
    QTimer::singleShot(0, this, &CrashReportingClient::offerNext);
    return true;
}

void CrashReportingClient::offerNext()
{
    if (m_pending.isEmpty()) {
        if (m_sending == 0)
            Q_EMIT pendingReportsHandled();
        return;
    }
    const CrashReport report = m_pending.takeFirst();
    if (m_options.debug)
        qInfo("Offering the crash report %s.", qPrintable(report.path));
    if (!m_options.beforeSend) {
        answer(report, true);
        return;
    }
    // Each answer counts once; one that comes after this client is gone changes nothing.
    auto answered = std::make_shared<bool>(false);
    QPointer<CrashReportingClient> self = this;
    m_asking = true;
    m_options.beforeSend(report, [self, report, answered](bool send) {
        if (*answered || !self)
            return;
        *answered = true;
        self->m_asking = false;
        self->answer(report, send);
    });
}

void CrashReportingClient::answer(const CrashReport& report, bool send)
{
    if (send) {
        this->send(report);
    } else {
        QFile::remove(report.path);
        finishOne(report.path, Outcome::declined);
    }
    offerNext();
}

void CrashReportingClient::send(const CrashReport& report)
{
    QNetworkRequest request(m_dsn->envelopeUrl());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(envelopeContentType));
    request.setRawHeader("X-Sentry-Auth", m_dsn->authHeader(m_app.version));
    request.setTransferTimeout(transferTimeoutMs);
    QNetworkReply* reply = m_network->post(request, crashEnvelope(report, *m_dsn, QDateTime::currentDateTimeUtc()));
    ++m_sending;
    const QString path = report.path;
    // Only the answer's status counts: its body is dropped as it comes, and one that goes on is cut
    // off, since the time limit only ends a transfer that stalls.
    reply->setReadBufferSize(answerLimit);
    auto received = std::make_shared<qint64>(0);
    connect(reply, &QNetworkReply::readyRead, reply, [reply, received] {
        *received += reply->skip(reply->bytesAvailable());
        if (*received > answerLimit)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, path] { sent(reply, path); });
}

void CrashReportingClient::sent(QNetworkReply* reply, const QString& path)
{
    reply->deleteLater();
    --m_sending;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 200 && status < 300) {
        QFile::remove(path);
        finishOne(path, Outcome::sent);
    } else {
        qWarning("The crash report %s was not accepted (%s); it is kept for the next start.", qPrintable(path),
                 qPrintable(status > 0 ? QStringLiteral("HTTP %1").arg(status) : reply->errorString()));
        finishOne(path, Outcome::kept);
    }
    if (m_pending.isEmpty() && !m_asking && m_sending == 0)
        Q_EMIT pendingReportsHandled();
}

void CrashReportingClient::finishOne(const QString& path, Outcome outcome)
{
    if (m_options.debug)
        qInfo("Crash report %s: %s.", qPrintable(path),
              outcome == Outcome::sent ? "sent" : outcome == Outcome::declined ? "declined" : "kept");
    Q_EMIT reportHandled(path, outcome);
}

} // namespace vantrel::crash_reporting
