#pragma once

#include "actions/alert_models.h"
#include "design/ribbon.h"
#include "foundation/clock.h"
#include "foundation/publisher.h"
#include "packages/components/app_info.h"
#include "packages/updates/update_controller.h"

#include <QObject>
#include <QProcessEnvironment>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace vantrel {

// The application's update service over the update controller: it asks the controller to check,
// turns the controller's alerts into the application's alerts, and publishes the update message of
// the team toolbar's ribbon. Lives on the interface thread.
class AppUpdater final : public QObject {
    Q_OBJECT
public:
    using OpenURL = std::function<void(const QUrl&)>;
    using ShowAlert = std::function<void(std::optional<AlertDetails>)>;

    // How long an update message stays in the ribbon after the count last changed.
    static constexpr std::chrono::seconds ribbonDuration{60};

    // `clock` times the ribbon's clearing and must outlive the updater.
    explicit AppUpdater(std::unique_ptr<updates::UpdateController> controller, Clock& clock = TimerClock::shared(),
                        QObject* parent = nullptr);
    ~AppUpdater() override;

    // The alerts to show; fed by checkForUpdates().
    PassthroughSubject<updates::UpdateAlertModel> alerts;
    // The count of newer builds: its current value at once, then every change.
    const AnyPublisher<quint64>& numberOfAvailableUpdates() const { return m_numberOfAvailableUpdates; }
    updates::UpdateController& updateController() const { return *m_updateController; }

    // Starts a check; once it has completed, the controller's alert, if it has one, is sent
    // through `alerts`. Calls made while a check runs are answered by that check, once.
    void checkForUpdates();

    // Shows each alert sent from now on through `show` (on the next turn of the event loop): its
    // first button runs `primaryAction`, a rollback button opens the rollback page through
    // `openURL`, and the last button dismisses it with show(nothing). Replaces the previous
    // subscription.
    void subscribeAlerts(OpenURL openURL, std::function<void()> primaryAction, ShowAlert show);

    // The alert for a controller's alert model, or nothing for a model without buttons or of a type
    // other than update available (2) and build withdrawn (3). A type-2 alert shows the model's
    // first and third buttons; a type-3 alert all three. A button the model lacks after its first
    // is titled "Cancel".
    static std::optional<AlertDetails> makeAlert(const updates::UpdateAlertModel& model,
                                                 std::function<void()> primaryAction, std::function<void()> rollback,
                                                 std::function<void()> dismiss);

    // Opens the page of the newest good build before ours; without one, nothing.
    void rollback(const OpenURL& openURL) const;
    // Opens the download page of the newest build; without one, nothing.
    void download(const OpenURL& openURL) const;

    // The update message of the ribbon: none for no newer build, otherwise "1 update available"
    // or "%u updates available" (rank 1, weight 1.0; clicking checks for updates), shown at each
    // change of the count and cleared `ribbonDuration` after the last change that showed one.
    AnyPublisher<std::optional<design::Ribbon>> updatesPublisher() const;

private:
    std::unique_ptr<updates::UpdateController> m_updateController;
    Clock& m_clock;
    AnyPublisher<quint64> m_numberOfAvailableUpdates;
    bool m_alertAwaitsCheck = false;
    Cancellable m_cancelUpdatingDialogs;
};

// Where beta users leave their feedback.
const QUrl& betaFeedbackURL();

// The beta-feedback message of the ribbon ("Beta - Send Feedback", rank 2, weight 0.5; clicking
// opens betaFeedbackURL()) in alpha and beta builds; production builds publish none.
AnyPublisher<std::optional<design::Ribbon>> betaRibbonPublisher(AppUpdater::OpenURL openURL,
                                                                AppInfo::ReleaseType releaseType);

// The release feed: the environment's VANTREL_UPDATE_FEED_URL when it is set (even to nothing),
// otherwise `builtIn`; an empty text is no feed.
std::optional<QUrl> updateFeedURL(const QProcessEnvironment& environment, const QString& builtIn);

// The controller's settings for this application: its build number and channel, the feed, and
// the log. A build number that is not a whole number above zero checks nothing.
updates::UpdateController::Settings updateSettings(const AppInfo& appInfo, std::optional<QUrl> feedURL,
                                                   std::function<void(const QString&)> log);

} // namespace vantrel
