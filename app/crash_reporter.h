#pragma once

#include "packages/components/app_info.h"
#include "packages/crash_reporting/crash_reporting_client.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace vantrel {

class KeyValueStorage;

// Crash reporting with the user's consent. When a DSN is configured, start() installs the crash
// handlers; at the next start each report they wrote is offered to the user ("Send" or
// "Don't Send") on the interface thread, once the event loop runs, before anything is sent.
//
// The DSN comes from the environment variable VANTREL_CRASH_DSN, else from the user's settings
// under `dsnKey`; with neither, nothing is installed and nothing is asked.
class CrashReporter final : public QObject {
    Q_OBJECT
public:
    using Answer = std::function<void(bool send)>;
    // Asks the user whether to send a report and answers once, maybe later.
    using Question = std::function<void(Answer)>;

    static inline const QString dsnKey = QStringLiteral("crashReporting/dsn");
    static constexpr char dsnVariable[] = "VANTREL_CRASH_DSN";

    // Reports are kept in `folder`; by default the crash-reports folder of the user's data.
    CrashReporter(const AppInfo& appInfo, std::shared_ptr<KeyValueStorage> storage, QString folder = {},
                  QObject* parent = nullptr);
    ~CrashReporter() override;

    static QString defaultFolder();

    // Replaces the alert, for tests.
    void setQuestion(Question question) { m_question = std::move(question); }

    // Starts crash reporting with the options of configure(); called once.
    void start();
    // Fills in the options: the DSN, and the consent hook, which holds this reporter weakly (a
    // report offered once it is gone stays for a later start).
    void configure(crash_reporting::CrashReportingOptions& options);
    // Asks the user whether to send a report; `answer(true)` for "Send".
    void askUserToSend(Answer answer);
    // The application-modal consent alert; every way of closing it other than "Send" answers false.
    static void showSendAlert(Answer answer);

    crash_reporting::CrashReportingClient& client() const { return *m_client; }

private:
    QString configuredDsn() const;

    std::shared_ptr<KeyValueStorage> m_storage;
    crash_reporting::CrashReportingClient* m_client = nullptr;
    Question m_question = &CrashReporter::showSendAlert;
};

// The crash reporting identity of `appInfo`: its name, version, build and release type.
crash_reporting::AppIdentity crashIdentity(const AppInfo& appInfo);

} // namespace vantrel
