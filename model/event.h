#pragma once

#include "foundation/cancellable.h"
#include "foundation/observable_object.h"
#include "model/versioned_item.h"

namespace vantrel {

// An event of a video-editing library. It is locked through the check-out of its library
// document, never by itself.
class Event final : public ObservableObject, public NestableItem, public Lockable, public AppVersionAware {
    Q_OBJECT
public:
    // An event for `service`, loaded from the library `containerID`. Throws the engine's error
    // when the event's state cannot be read.
    static std::shared_ptr<Event> create(std::shared_ptr<VersioningService> service,
                                         std::optional<IdFor<VersionBundle>> containerID);
    // The same, following nothing yet and without reading the application: a library's load
    // lists its events at once, then has each follow its changes (startFollowing()) and reads
    // their applications together (setApplication()).
    static std::shared_ptr<Event> createListed(std::shared_ptr<VersioningService> service,
                                               std::optional<IdFor<VersionBundle>> containerID);
    // Subscribes to the engine's changes of the event; once.
    void startFollowing();
    ~Event() override;

    QString name() const override { return m_name(); }
    QString icon() const override { return m_icon; }
    const DocumentType& documentType() const override { return m_documentType; }
    QDateTime modificationDate() const override { return m_modificationDate; }
    const std::shared_ptr<VersioningService>& versioningService() const override { return m_versioningService; }
    QObject* object() override { return this; }

    const std::optional<IdFor<VersionBundle>>& containerID() const override { return m_containerID; }
    QList<VersionBundle::Info> visibleActiveContainers() const override { return m_visibleActiveContainers(); }
    // The item whose check-out locks this event: its library document.
    const std::optional<IdFor<VersionBundle>>& initiatorID() const { return m_initiatorID; }

    DocumentApplication application() const override { return m_application(); }
    void setApplication(DocumentApplication application) { m_application = std::move(application); }
    bool allowsChanges() const override { return m_allowsChanges(); }
    bool isLocked() const override { return m_isLocked(); }
    bool lockedByCurrentInitiator() const override { return m_lockedByCurrentInitiator(); }
    QString lockedByUser() const override { return m_lockedByUser; }
    QString lockedByHostName() const override { return m_lockedByHostName; }

    void updateNameAndDate();
    void updateLockState();
    // Rereads what the engine answers at once: everything but the application and the
    // containers, which change only with a reload of the library.
    void readState();
    // A reload of the library keeps this object: rereads everything a new one would read.
    void readLoadedState();
    QCoro::Task<> updateApplication();
    QCoro::Task<> refresh() override;

    static bool isSameSummary(const Event& a, const Event& b);
    static bool isSameLockState(const Event& a, const Event& b);
    friend bool operator==(const Event& a, const Event& b);

Q_SIGNALS:
    void nameChanged();
    void visibleActiveContainersChanged();
    void applicationChanged();
    void allowsChangesChanged();
    void isLockedChanged();
    void lockedByCurrentInitiatorChanged();

private:
    Event(std::shared_ptr<VersioningService> service, std::optional<IdFor<VersionBundle>> containerID);
    void subscribe(const std::shared_ptr<Event>& self);
    static QCoro::Task<> refreshAfterChange(std::weak_ptr<Event> weak);

    Published<QString> m_name{this, &Event::nameChanged};
    QString m_icon;
    std::optional<IdFor<VersionBundle>> m_containerID;
    Published<QList<VersionBundle::Info>> m_visibleActiveContainers{this, &Event::visibleActiveContainersChanged};
    std::optional<IdFor<VersionBundle>> m_initiatorID;
    QDateTime m_modificationDate;
    std::shared_ptr<VersioningService> m_versioningService;
    DocumentType m_documentType;
    Published<DocumentApplication> m_application{this, &Event::applicationChanged};
    Published<bool> m_allowsChanges{this, &Event::allowsChangesChanged, false};
    Published<bool> m_isLocked{this, &Event::isLockedChanged, false};
    Published<bool> m_lockedByCurrentInitiator{this, &Event::lockedByCurrentInitiatorChanged, false};
    QString m_lockedByUser;
    QString m_lockedByHostName;
    Cancellable m_cancelOnRemoteDatabaseChange;
    Cancellable m_cancelOnActivitiesChange;
    bool m_following = false;
};

} // namespace vantrel
