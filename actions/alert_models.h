#pragma once

#include "actions/presented_flag.h"
#include "foundation/error.h"
#include "foundation/observable_object.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace vantrel {

// A button of an alert or a dialog: its title and what pressing it does. The cancelling button
// of an alert is also what Escape, or closing the alert without pressing a button, presses. A
// button that destroys or takes something (a discard, a force unlock, a deletion) is never the
// default one, so that Enter does not press it.
struct ButtonAction {
    QString title;
    std::function<void()> action;
    bool cancels = false;
    bool destroys = false;
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
    // A question whose answer someone waits for (whether to quit, say): while it shows, no other
    // alert replaces it. It should have a cancelling button, so that dismissing it answers too.
    bool mustBeAnswered = false;
    // What the alert tells of, when it may stop being true before it is read (a check-out
    // taken away that turns out not to be): AlertModel::withdraw() takes it back. Empty for an
    // alert that stays until dismissed.
    QString topic;

    // The alert as it goes into the log.
    QString debugDescription() const;
};

// The alert a window shows. A new alert replaces one that is still showing, except a question
// that must be answered: alerts raised while it shows wait, in order, and each is shown when the
// one before it is dismissed.
class AlertModel : public ObservableObject {
    Q_OBJECT
public:
    explicit AlertModel(QObject* parent = nullptr);

    std::optional<AlertDetails> details() const { return m_details(); }
    // Shows (or, with nothing, dismisses) an alert; nothing is logged. Dismissing shows the next
    // waiting alert, if any.
    void setDetails(std::optional<AlertDetails> details);
    // Dismisses the alert that shows and every one waiting, without running a button's action.
    void dismissAll();
    // Takes back the alerts about `topic` (see AlertDetails::topic), waiting or showing, without
    // running a button's action; the next waiting alert then shows.
    void withdraw(const QString& topic);
    // How many alerts wait behind the question that shows.
    qsizetype waitingCount() const { return m_waiting.size(); }

    // Where shown failures are logged; replaceable, by default nowhere.
    std::function<void(const QString&)> log = &AlertModel::ignoreLog;
    static void ignoreLog(const QString&);

    // Shows the alert for `error` (or queues it behind a question), then logs it.
    void show(const Error& error);
    // The same for an alert with buttons of its own.
    void show(AlertDetails details);

Q_SIGNALS:
    void detailsChanged();

private:
    Published<std::optional<AlertDetails>> m_details{this, &AlertModel::detailsChanged};
    QList<AlertDetails> m_waiting;
};

// Whether `model`'s alert is showing; dismissing it clears the details.
PresentedFlag<AlertModel> presentedFlag(AlertModel* model);

} // namespace vantrel
