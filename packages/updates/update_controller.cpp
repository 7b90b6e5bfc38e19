#include "packages/updates/update_controller.h"

#include "packages/updates/feed_file.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QtDebug>

#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace vantrel::updates {

namespace {

bool isFetchable(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("file"))
        return url.isLocalFile() && !url.toLocalFile().isEmpty();
    return (scheme == QLatin1String("https") || scheme == QLatin1String("http")) && !url.host().isEmpty();
}

QString buildName(const ReleaseBuild& build)
{
    return UpdateController::tr("version %1 (build %2)").arg(build.version, QString::number(build.build));
}

} // namespace

// A local feed being read on a thread of its own. The thread hands its outcome to the controller
// while it is still the receiver; a controller that gave up waiting, or is gone, is no longer.
struct UpdateController::FileRead {
    std::mutex mutex;
    UpdateController* receiver = nullptr;
};

UpdateController::UpdateController(Settings settings, QObject* parent)
    : QObject(parent),
      m_settings(std::move(settings))
{
    if (m_settings.feedURL && !m_settings.feedURL->isEmpty()) {
        if (m_settings.feedURL->isValid() && isFetchable(*m_settings.feedURL))
            m_feedURL = m_settings.feedURL;
        else
            writeLog(
                QStringLiteral("Update checks are off: the release feed URL \"%1\" is not an http, https or file URL.")
                    .arg(m_settings.feedURL->toDisplayString()));
    }
    if (m_settings.clock) {
        m_clock = m_settings.clock;
    } else {
        m_ownClock = std::make_unique<TimerClock>();
        m_clock = m_ownClock.get();
    }
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { abortCheck(QStringLiteral("it took too long")); });
    // Redirects may only keep or raise the safety of the connection.
    m_network.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

UpdateController::~UpdateController()
{
    forgetFileRead();
    if (m_nextCheck)
        m_clock->cancel(*m_nextCheck);
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        delete m_reply;
    }
}

void UpdateController::start()
{
    if (m_nextCheck)
        m_clock->cancel(*m_nextCheck);
    m_nextCheck.reset();
    checkForUpdates();
    scheduleNext();
}

void UpdateController::scheduleNext()
{
    m_nextCheck = m_clock->schedule(m_settings.checkInterval, [this] {
        m_nextCheck.reset();
        checkForUpdates();
        scheduleNext();
    });
}

void UpdateController::checkForUpdates()
{
    if (isChecking())
        return;
    if (!m_feedURL) {
        // Nothing to fetch: the check ends at once, as seen from the caller, on the next turn.
        QMetaObject::invokeMethod(this, &UpdateController::checkFinished, Qt::QueuedConnection);
        return;
    }
    m_received.clear();
    m_abortReason.reset();
    m_deadline.start(m_settings.timeout);
    // Qt's network access opens a local file on the calling thread and waits there for a FIFO's
    // writer, which would freeze the interface: a local feed is read apart.
    if (m_feedURL->isLocalFile())
        return readFile(m_feedURL->toLocalFile());
    QNetworkRequest request(*m_feedURL);
    request.setMaximumRedirectsAllowed(5);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    m_reply = m_network.get(request);
    // Without a bound, Qt reads whatever the server sends into memory ahead of us, and reads the
    // body of a redirect, which never reaches us, to its end: an endless body would fill the memory.
    // (Qt keeps the body of a 401 or 407 answer to itself whatever the bound: the time-out ends it.)
    m_reply->setReadBufferSize(readBufferSize);
    connect(m_reply, &QNetworkReply::readyRead, this, &UpdateController::readAvailable);
    connect(m_reply, &QNetworkReply::finished, this, &UpdateController::finishCheck);
}

void UpdateController::readFile(const QString& path)
{
    auto read = std::make_shared<FileRead>();
    read->receiver = this;
    m_fileRead = read;
    try {
        std::thread([read, path] {
            const FeedFileRead outcome = readFeedFile(path, ReleaseFeed::maximumSize);
            std::lock_guard lock(read->mutex);
            if (read->receiver)
                QMetaObject::invokeMethod(
                    read->receiver,
                    [receiver = read->receiver, read, outcome] {
                        receiver->finishFileRead(read, outcome.bytes, outcome.problem);
                    },
                    Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error& error) {
        const QString problem =
            QStringLiteral("no thread could be started to read it (%1)").arg(QString::fromLocal8Bit(error.what()));
        QMetaObject::invokeMethod(
            this, [this, read, problem] { finishFileRead(read, {}, problem); }, Qt::QueuedConnection);
    }
}

void UpdateController::finishFileRead(const std::shared_ptr<FileRead>& read, const QByteArray& bytes,
                                      const QString& problem)
{
    if (read != m_fileRead)
        return;
    m_deadline.stop();
    forgetFileRead();
    m_received = bytes;
    completeCheck(
        problem.isEmpty()
            ? std::nullopt
            : std::optional(
                QStringLiteral("The release feed %1 was not read: %2.").arg(m_feedURL->toDisplayString(), problem)));
}

void UpdateController::forgetFileRead()
{
    if (!m_fileRead)
        return;
    std::lock_guard lock(m_fileRead->mutex);
    m_fileRead->receiver = nullptr;
    m_fileRead.reset();
}

void UpdateController::readAvailable()
{
    if (!m_reply || m_abortReason)
        return;
    // Never more than one byte past the limit is kept: enough to know the feed is too large.
    const qint64 room = ReleaseFeed::maximumSize + 1 - m_received.size();
    m_received += m_reply->read(room);
    if (m_received.size() > ReleaseFeed::maximumSize)
        abortCheck(QStringLiteral("it is larger than %1 bytes").arg(ReleaseFeed::maximumSize));
}

void UpdateController::abortCheck(const QString& reason)
{
    // A file read cannot be interrupted: it is left to end on its own, unheard.
    if (m_fileRead)
        return finishFileRead(m_fileRead, {}, reason);
    if (!m_reply || m_abortReason)
        return;
    m_abortReason = reason;
    // Aborting finishes the reply, which ends the check.
    m_reply->abort();
}

void UpdateController::finishCheck()
{
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    m_deadline.stop();
    readAvailable();
    m_reply = nullptr;
    reply->deleteLater();
    const QString feed = m_feedURL->toDisplayString();
    if (m_abortReason)
        completeCheck(QStringLiteral("The release feed %1 was not read: %2.").arg(feed, *m_abortReason));
    else if (reply->error() != QNetworkReply::NoError)
        completeCheck(QStringLiteral("The release feed %1 cannot be fetched: %2").arg(feed, reply->errorString()));
    else
        completeCheck(std::nullopt);
}

void UpdateController::completeCheck(const std::optional<QString>& failure)
{
    if (failure) {
        writeLog(*failure);
    } else {
        try {
            apply(ReleaseStanding::of(m_settings.buildNumber, ReleaseFeed::parse(m_received, m_settings.channel)));
        } catch (const Error& error) {
            writeLog(QStringLiteral("%1 (%2)").arg(error.localizedDescription(), m_feedURL->toDisplayString()));
        }
    }
    m_received.clear();
    m_abortReason.reset();
    Q_EMIT checkFinished();
}

void UpdateController::apply(const ReleaseStanding& standing)
{
    const bool changed = !m_read || standing.buildsBehind != m_standing.buildsBehind;
    m_standing = standing;
    m_read = true;
    if (changed)
        Q_EMIT releaseBuildsBehindChanged();
}

AnyPublisher<quint64> UpdateController::releaseBuildsBehindPublisher() const
{
    QPointer<const UpdateController> controller(this);
    return AnyPublisher<quint64>([controller](Subscriber<quint64> subscriber) -> Cancellable {
        if (!controller) {
            subscriber.complete();
            return Cancellable();
        }
        subscriber.receive(controller->releaseBuildsBehind());
        auto connection = connect(controller.data(), &UpdateController::releaseBuildsBehindChanged, controller.data(),
                                  [controller, receive = subscriber.receive] {
                                      if (controller)
                                          receive(controller->releaseBuildsBehind());
                                  });
        return Cancellable([connection] { disconnect(connection); });
    });
}

std::optional<UpdateAlertModel> UpdateController::stateAlertModel() const
{
    if (!m_read)
        return std::nullopt;
    // Texts from the feed are filled in one pass, so that a "%1" in them stays as it is.
    const QString ours = QString::number(m_settings.buildNumber);
    const auto& newest = m_standing.newest;
    const auto& rollback = m_standing.rollback;
    if (m_standing.withdrawn) {
        QString message;
        if (newest && rollback)
            message = tr("Build %1 should no longer be used. Update to %2, or roll back to %3.")
                          .arg(ours, buildName(*newest), buildName(*rollback));
        else if (newest)
            message = tr("Build %1 should no longer be used. Update to %2.").arg(ours, buildName(*newest));
        else if (rollback)
            message = tr("Build %1 should no longer be used. Roll back to %2.").arg(ours, buildName(*rollback));
        else
            message = tr("Build %1 should no longer be used.").arg(ours);
        return UpdateAlertModel{tr("This build has been withdrawn"),
                                message,
                                UpdateAlertModel::buildWithdrawn,
                                {{tr("Update")}, {tr("Roll back")}, {tr("Later")}}};
    }
    if (m_standing.buildsBehind > 0 && newest) {
        return UpdateAlertModel{tr("A new version is available"),
                                tr("Version %1 (build %2) is available; you have build %3.")
                                    .arg(newest->version, QString::number(newest->build), ours),
                                UpdateAlertModel::updateAvailable,
                                {{tr("Download")}, {tr("Skip This Version")}, {tr("Later")}}};
    }
    return std::nullopt;
}

std::optional<QUrl> UpdateController::downloadURL() const
{
    if (!m_standing.newest)
        return std::nullopt;
    return m_standing.newest->downloadURL;
}

std::optional<QUrl> UpdateController::rollbackURL() const
{
    if (!m_standing.rollback)
        return std::nullopt;
    return m_standing.rollback->downloadURL;
}

void UpdateController::writeLog(const QString& line) const
{
    if (m_settings.log)
        m_settings.log(line);
    else
        qWarning().noquote() << line;
}

} // namespace vantrel::updates
