#include "app/crash_reporter.h"

#include "model/key_value_storage.h"
#include "model/strings.h"

#include <QDir>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>

namespace vantrel {

crash_reporting::AppIdentity crashIdentity(const AppInfo& appInfo)
{
    const auto environment = [](AppInfo::ReleaseType type) {
        switch (type) {
        case AppInfo::ReleaseType::alpha: return QStringLiteral("alpha");
        case AppInfo::ReleaseType::beta: return QStringLiteral("beta");
        case AppInfo::ReleaseType::production: break;
        }
        return QStringLiteral("production");
    };
    return {appInfo.name(), appInfo.version(), appInfo.buildNumber(), environment(appInfo.releaseType())};
}

CrashReporter::CrashReporter(const AppInfo& appInfo, std::shared_ptr<KeyValueStorage> storage, QString folder,
                             QObject* parent)
    : QObject(parent),
      m_storage(std::move(storage)),
      m_client(new crash_reporting::CrashReportingClient(crashIdentity(appInfo),
                                                         folder.isEmpty() ? defaultFolder() : std::move(folder), this))
{
}

CrashReporter::~CrashReporter() = default;

QString CrashReporter::defaultFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Vantrel/crash-reports");
}

void CrashReporter::start()
{
    m_client->start([this](crash_reporting::CrashReportingOptions& options) { configure(options); });
}

void CrashReporter::configure(crash_reporting::CrashReportingOptions& options)
{
    options.dsn = configuredDsn();
    options.debug = false;
    options.beforeSend = [self = QPointer<CrashReporter>(this)](const crash_reporting::CrashReport&,
                                                                 std::function<void(bool)> send) {
        if (self)
            self->askUserToSend(std::move(send));
    };
}

void CrashReporter::askUserToSend(Answer answer)
{
    m_question(std::move(answer));
}

void CrashReporter::showSendAlert(Answer answer)
{
    auto* box = new QMessageBox();
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText);
    box->setText(Strings::unexpectedErrorTitle());
    box->setInformativeText(Strings::crashReportMessage());
    QPushButton* send = box->addButton(Strings::sendButtonTitle(), QMessageBox::AcceptRole);
    box->addButton(Strings::dontSendButtonTitle(), QMessageBox::RejectRole);
    box->setDefaultButton(send);
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, send, answer = std::move(answer)] { answer(box->clickedButton() == send); });
    box->show(); // application-modal without blocking the caller
}

QString CrashReporter::configuredDsn() const
{
    const QString fromEnvironment = qEnvironmentVariable(dsnVariable).trimmed();
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return m_storage ? m_storage->string(dsnKey).value_or(QString()).trimmed() : QString();
}

} // namespace vantrel
