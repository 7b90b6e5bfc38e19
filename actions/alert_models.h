#pragma once

#include "actions/presented_flag.h"
#include "foundation/error.h"
#include "foundation/observable_object.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace vantrel {

// A button of an alert or a dialog: its title and what pressing it does.
struct ButtonAction {
    QString title;
    std::function<void()> action;
};

// What an alert shows.
class AlertDetails {
public:
    AlertDetails(QString title, QString message, QList<ButtonAction> buttons = {});

    // The alert for a failure: its reason as the title (the localized "Error" when it has none),
    // its description as the message, and no buttons of its own.
    static AlertDetails fromError(const Error& error);

    QString title;
    QString message;
    QList<ButtonAction> buttons;

    // The alert as it goes into the log.
    QString debugDescription() const;
};

// The alert a window shows. There is no queue: a new alert replaces one that is still showing.
class AlertModel : public ObservableObject {
    Q_OBJECT
public:
    explicit AlertModel(QObject* parent = nullptr);

    std::optional<AlertDetails> details() const { return m_details(); }
    // Shows (or, with nothing, dismisses) an alert; nothing is logged.
    void setDetails(std::optional<AlertDetails> details);

    // Where shown failures are logged; replaceable, by default nowhere.
    std::function<void(const QString&)> log = &AlertModel::ignoreLog;
    static void ignoreLog(const QString&);

    // Shows the alert for `error`, then logs it.
    void show(const Error& error);

Q_SIGNALS:
    void detailsChanged();

private:
    Published<std::optional<AlertDetails>> m_details{this, &AlertModel::detailsChanged};
};

// Whether `model`'s alert is showing; dismissing it clears the details.
PresentedFlag<AlertModel> presentedFlag(AlertModel* model);

} // namespace vantrel
