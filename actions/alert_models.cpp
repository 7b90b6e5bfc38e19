#include "actions/alert_models.h"

#include "model/strings.h"

#include <QStringList>

namespace vantrel {

AlertDetails::AlertDetails(QString title, QString message, QList<ButtonAction> buttons)
    : title(std::move(title)),
      message(std::move(message)),
      buttons(std::move(buttons))
{
}

AlertDetails AlertDetails::fromError(const Error& error)
{
    return AlertDetails(error.failureReason().value_or(Strings::errorTitle()), error.localizedDescription());
}

QString AlertDetails::debugDescription() const
{
    QStringList titles;
    for (const ButtonAction& button : buttons)
        titles << button.title;
    return QStringLiteral("| Alert\n| title:\t") + title + QStringLiteral("\n| Message:\t") + message
           + QStringLiteral("\n| Buttons:\t[") + titles.join(QStringLiteral("][")) + QStringLiteral("]");
}

AlertModel::AlertModel(QObject* parent) : ObservableObject(parent) {}

void AlertModel::setDetails(std::optional<AlertDetails> details)
{
    m_details = std::move(details);
}

void AlertModel::ignoreLog(const QString&) {}

void AlertModel::show(const Error& error)
{
    const AlertDetails details = AlertDetails::fromError(error);
    setDetails(details);
    if (log)
        log(details.debugDescription());
}

PresentedFlag<AlertModel> presentedFlag(AlertModel* model)
{
    return PresentedFlag<AlertModel>(
        model, [](const AlertModel& alerts) { return alerts.details().has_value(); },
        [](AlertModel& alerts) { alerts.setDetails(std::nullopt); });
}

} // namespace vantrel
