#pragma once

#include "packages/crash_reporting/crash_dsn.h"
#include "packages/crash_reporting/crash_handlers.h"
#include "packages/crash_reporting/crash_report.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace vantrel::crash_reporting {

// What the application decides when it starts crash reporting.
struct CrashReportingOptions {
    // Where reports go; empty or invalid means crash reporting stays off.
    QString dsn;
    // Logs every report offered, sent, declined or kept.
    bool debug = false;
    // Asked on the interface thread for each pending report before it is sent; `send(true)` sends
    // it, `send(false)` deletes it. It may answer later, once, from the interface thread. Unset:
    // every report is sent.
    std::function<void(const CrashReport& report, std::function<void(bool send)> send)> beforeSend;
};

// Crash reporting of this process: installs the crash handlers and, once the event loop runs,
// offers the reports of earlier runs one at a time and posts each accepted one, asynchronously,
// to the DSN's envelope endpoint. A report is deleted once the server accepted it (any 2xx
// answer) or the user declined it; it stays for the next start when sending failed.
class CrashReportingClient final : public QObject {
    Q_OBJECT
public:
    enum class Outcome { sent, declined, kept };
    Q_ENUM(Outcome)

    // `folder` holds the reports; `app` is this application, as its reports will name it.
    CrashReportingClient(AppIdentity app, QString folder, QObject* parent = nullptr);
    ~CrashReportingClient() override;

    // Lets `configure` fill in the options, then starts. False, logged, when the DSN is missing or
    // invalid or the report file cannot be prepared: then nothing is installed and nothing sent.
    bool start(const std::function<void(CrashReportingOptions&)>& configure);

    bool isStarted() const { return m_dsn.has_value(); }
    const QString& folder() const { return m_folder; }

Q_SIGNALS:
    // One pending report's fate.
    void reportHandled(const QString& path, vantrel::crash_reporting::CrashReportingClient::Outcome outcome);
    // Every pending report of this start was answered and every sending has ended.
    void pendingReportsHandled();

private:
    void offerNext();
    void answer(const CrashReport& report, bool send);
    void send(const CrashReport& report);
    void sent(QNetworkReply* reply, const QString& path);
    void finishOne(const QString& path, Outcome outcome);

    const AppIdentity m_app;
    const QString m_folder;
    CrashReportingOptions m_options;
    std::optional<CrashDsn> m_dsn;
    QList<CrashReport> m_pending;
    int m_sending = 0;
    bool m_asking = false;
    QNetworkAccessManager* m_network = nullptr;
};

} // namespace vantrel::crash_reporting
