#pragma once

#include "foundation/clock.h"
#include "foundation/publisher.h"
#include "packages/updates/release_feed.h"

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace vantrel::updates {

// A button of an update alert, by its title.
struct UpdateAlertButton {
    QString title;
};

// What the user should be told about the updates: a title, a message, the alert's type and its
// buttons. The controller makes two types: `updateAvailable` with the buttons "Download", "Skip
// This Version" and "Later", and `buildWithdrawn` with "Update", "Roll back" and "Later".
struct UpdateAlertModel {
    static constexpr int updateAvailable = 2;
    static constexpr int buildWithdrawn = 3;

    std::optional<QString> title;
    std::optional<QString> message;
    int type = 0;
    QList<UpdateAlertButton> buttons;
};

// Follows the release feed for one build: fetches it (http, https or a local file, read on a thread
// of its own) in the background when started and every `checkInterval`, and when asked; counts the newer builds of
// the build's channel that are not withdrawn, and tells whether the build itself was withdrawn.
// A feed that cannot be fetched or read changes nothing and is written to the log; without a feed
// URL nothing is fetched. Lives on the interface thread.
class UpdateController : public QObject {
    Q_OBJECT
public:
    struct Settings {
        // The feed; absent (or of another scheme than http, https or file) fetches nothing.
        std::optional<QUrl> feedURL;
        // This build, compared with the builds of the feed by number.
        qint64 buildNumber = 0;
        ReleaseChannel channel = ReleaseChannel::production;
        // Times the periodic checks; must outlive the controller. Absent: the controller's own
        // timers.
        Clock* clock = nullptr;
        std::chrono::milliseconds checkInterval = std::chrono::hours(24);
        // How long one fetch may take in all before it is given up.
        std::chrono::milliseconds timeout = std::chrono::seconds(60);
        // Where failures are written; absent: qWarning.
        std::function<void(const QString&)> log;
    };

    explicit UpdateController(Settings settings, QObject* parent = nullptr);
    ~UpdateController() override;

    // Checks now, then every `checkInterval`; starting again restarts the period.
    void start();
    // Starts a check, unless one is running: checkFinished() then ends both. Never blocks.
    void checkForUpdates();
    bool isChecking() const { return m_reply != nullptr || m_fileRead != nullptr; }

    // The newer builds of our channel that are not withdrawn, as of the last feed read.
    quint64 releaseBuildsBehind() const { return m_standing.buildsBehind; }
    // Publishes releaseBuildsBehind() at once to each subscriber, then each change of it, on the
    // controller's thread. Finishes at once when the controller is gone.
    AnyPublisher<quint64> releaseBuildsBehindPublisher() const;

    // The alert for the last feed read: the build was withdrawn, or there are newer builds; none
    // otherwise, and none before a feed was read.
    std::optional<UpdateAlertModel> stateAlertModel() const;
    // The download page of the newest good build newer than ours.
    std::optional<QUrl> downloadURL() const;
    // The download page of the newest good build older than ours, to go back to.
    std::optional<QUrl> rollbackURL() const;

Q_SIGNALS:
    void releaseBuildsBehindChanged();
    // A check ended, whether the feed could be read or not.
    void checkFinished();

private:
    struct FileRead;

    void readFile(const QString& path);
    void finishFileRead(const std::shared_ptr<FileRead>& read, const QByteArray& bytes, const QString& problem);
    void readAvailable();
    void finishCheck();
    void abortCheck(const QString& reason);
    void forgetFileRead();
    // Ends the check: logs `failure`, or reads the feed received.
    void completeCheck(const std::optional<QString>& failure);
    void apply(const ReleaseStanding& standing);
    void scheduleNext();
    void writeLog(const QString& line) const;

    Settings m_settings;
    std::optional<QUrl> m_feedURL;
    std::unique_ptr<TimerClock> m_ownClock;
    Clock* m_clock = nullptr;
    std::optional<Clock::Token> m_nextCheck;
    // What Qt may hold of a reply's body that we have not read yet.
    static constexpr qint64 readBufferSize = 64 * 1024;

    QNetworkAccessManager m_network;
    QPointer<QNetworkReply> m_reply;
    std::shared_ptr<FileRead> m_fileRead;
    QByteArray m_received;
    std::optional<QString> m_abortReason;
    QTimer m_deadline;
    bool m_read = false;
    ReleaseStanding m_standing;
};

} // namespace vantrel::updates
