#include "app/app_updater.h"

#include "foundation/debouncer.h"
#include "model/strings.h"

#include <QPointer>

#include <utility>

namespace vantrel {

using design::Ribbon;
using updates::UpdateAlertModel;

AppUpdater::AppUpdater(std::unique_ptr<updates::UpdateController> controller, Clock& clock, QObject* parent)
    : QObject(parent),
      m_updateController(std::move(controller)),
      m_clock(clock),
      m_numberOfAvailableUpdates(m_updateController->releaseBuildsBehindPublisher())
{
    connect(m_updateController.get(), &updates::UpdateController::checkFinished, this, [this] {
        // Only a check someone asked for shows its result; the periodic ones feed the ribbon.
        if (!std::exchange(m_alertAwaitsCheck, false))
            return;
        if (const auto model = m_updateController->stateAlertModel())
            alerts.send(*model);
    });
}

AppUpdater::~AppUpdater() = default;

void AppUpdater::checkForUpdates()
{
    m_alertAwaitsCheck = true;
    m_updateController->checkForUpdates();
}

void AppUpdater::subscribeAlerts(OpenURL openURL, std::function<void()> primaryAction, ShowAlert show)
{
    QPointer<AppUpdater> self(this);
    m_cancelUpdatingDialogs = alerts.publisher().receiveOn(this).sink(
        [self, openURL = std::move(openURL), primaryAction = std::move(primaryAction),
         show = std::move(show)](const UpdateAlertModel& model) {
            auto rollback = [self, openURL] {
                if (self)
                    self->rollback(openURL);
            };
            auto dismiss = [show] { show(std::nullopt); };
            if (auto details = makeAlert(model, primaryAction, std::move(rollback), std::move(dismiss)))
                show(std::move(*details));
        });
}

std::optional<AlertDetails> AppUpdater::makeAlert(const UpdateAlertModel& model, std::function<void()> primaryAction,
                                                  std::function<void()> rollback, std::function<void()> dismiss)
{
    if (model.buttons.isEmpty())
        return std::nullopt;
    // A button the model does not have, or does not name, still needs a title to be pressed by.
    const auto titleOf = [&model](qsizetype index) {
        if (index < model.buttons.size() && !model.buttons[index].title.isEmpty())
            return model.buttons[index].title;
        return Strings::cancelActionTitle();
    };
    const ButtonAction primary{model.buttons.first().title, std::move(primaryAction)};
    const ButtonAction dismissing{titleOf(2), std::move(dismiss), true};
    switch (model.type) {
    case UpdateAlertModel::updateAvailable:
        return AlertDetails(model.title.value_or(QString()), model.message.value_or(QString()), {primary, dismissing});
    case UpdateAlertModel::buildWithdrawn:
        return AlertDetails(model.title.value_or(QString()), model.message.value_or(QString()),
                            {primary, ButtonAction{titleOf(1), std::move(rollback)}, dismissing});
    default:
        return std::nullopt;
    }
}

void AppUpdater::rollback(const OpenURL& openURL) const
{
    if (const auto url = m_updateController->rollbackURL(); url && openURL)
        openURL(*url);
}

void AppUpdater::download(const OpenURL& openURL) const
{
    if (const auto url = m_updateController->downloadURL(); url && openURL)
        openURL(*url);
}

AnyPublisher<std::optional<Ribbon>> AppUpdater::updatesPublisher() const
{
    QPointer<AppUpdater> self(const_cast<AppUpdater*>(this));
    const auto ribbons =
        m_numberOfAvailableUpdates.removeDuplicates().map([self](const quint64& count) -> std::optional<Ribbon> {
            if (count == 0)
                return std::nullopt;
            const QString text = Strings::plural(QString(), Strings::oneUpdateAvailable(), Strings::updatesAvailable(),
                                                 static_cast<qint64>(count));
            return Ribbon{text, 1, 1.0f, [self] {
                              if (self)
                                  self->checkForUpdates();
                          }};
        });
    // A shown message goes away a while after the last change that showed one.
    const auto shown = ribbons.filter([](const std::optional<Ribbon>& ribbon) { return ribbon.has_value(); });
    const auto clearing = debounce(shown, ribbonDuration, m_clock).map([](const std::optional<Ribbon>&) {
        return std::optional<Ribbon>();
    });
    return ribbons.merge(clearing);
}

const QUrl& betaFeedbackURL()
{
    static const QUrl url(QStringLiteral("https://vantrel.app/beta-feedback"));
    return url;
}

AnyPublisher<std::optional<Ribbon>> betaRibbonPublisher(AppUpdater::OpenURL openURL, AppInfo::ReleaseType releaseType)
{
    if (isProduction(releaseType))
        return just(std::optional<Ribbon>());
    return just(std::optional<Ribbon>(Ribbon{Strings::betaPrefix() + Strings::sendFeedbackActionTitle(), 2, 0.5f,
                                             [openURL = std::move(openURL)] {
                                                 if (openURL)
                                                     openURL(betaFeedbackURL());
                                             }}));
}

std::optional<QUrl> updateFeedURL(const QProcessEnvironment& environment, const QString& builtIn)
{
    static const QString variable = QStringLiteral("VANTREL_UPDATE_FEED_URL");
    const QString text = (environment.contains(variable) ? environment.value(variable) : builtIn).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    return QUrl(text, QUrl::StrictMode);
}

updates::UpdateController::Settings updateSettings(const AppInfo& appInfo, std::optional<QUrl> feedURL,
                                                   std::function<void(const QString&)> log)
{
    updates::UpdateController::Settings settings;
    bool isNumber = false;
    settings.buildNumber = appInfo.buildNumber().toLongLong(&isNumber);
    if (feedURL && (!isNumber || settings.buildNumber < 1)) {
        if (log)
            log(QStringLiteral("Update checks are off: the build number \"%1\" is not a whole number above zero.")
                    .arg(appInfo.buildNumber()));
        feedURL.reset();
    }
    settings.feedURL = std::move(feedURL);
    switch (appInfo.releaseType()) {
    case AppInfo::ReleaseType::alpha:
        settings.channel = updates::ReleaseChannel::alpha;
        break;
    case AppInfo::ReleaseType::beta:
        settings.channel = updates::ReleaseChannel::beta;
        break;
    case AppInfo::ReleaseType::production:
        settings.channel = updates::ReleaseChannel::production;
        break;
    }
    settings.log = std::move(log);
    return settings;
}

} // namespace vantrel
