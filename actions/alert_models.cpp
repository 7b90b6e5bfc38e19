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
    if (!details) {
        if (m_waiting.isEmpty())
            m_details = std::nullopt;
        else
            m_details = m_waiting.takeFirst();
        return;
    }
    if (m_details() && m_details()->mustBeAnswered) {
        m_waiting.append(std::move(*details));
        return;
    }
    m_details = std::move(details);
}

void AlertModel::dismissAll()
{
    m_waiting.clear();
    m_details = std::nullopt;
}

void AlertModel::withdraw(const QString& topic)
{
    if (topic.isEmpty())
        return;
    m_waiting.removeIf([&topic](const AlertDetails& waiting) { return waiting.topic == topic; });
    if (m_details() && m_details()->topic == topic)
        setDetails(std::nullopt);
}

void AlertModel::ignoreLog(const QString&) {}

void AlertModel::show(const Error& error)
{
    show(AlertDetails::fromError(error));
}

void AlertModel::show(AlertDetails details)
{
    const QString logged = details.debugDescription();
    setDetails(std::move(details));
    if (log)
        log(logged);
}

PresentedFlag<AlertModel> presentedFlag(AlertModel* model)
{
    return PresentedFlag<AlertModel>(
        model, [](const AlertModel& alerts) { return alerts.details().has_value(); },
        [](AlertModel& alerts) { alerts.setDetails(std::nullopt); });
}

} // namespace vantrel
