#pragma once

#include "engine/check_out_options.h"
#include "foundation/cancellable.h"
#include "foundation/observable_object.h"
#include "model/event.h"
#include "model/versioned_item.h"

namespace vantrel {

// Why the working copy the user had checked out is no longer valid.
class InvalidCheckoutState {
public:
    // Somebody force unlocked the document; `name` is who did.
    static InvalidCheckoutState forceUnlocked(QString name) { return InvalidCheckoutState(std::move(name)); }
    // The document stopped being checked out here for another reason.
    static InvalidCheckoutState missedCheckout() { return InvalidCheckoutState(std::nullopt); }

    bool isForceUnlocked() const { return m_breaker.has_value(); }
    // Who force unlocked the document; empty for a missed check-out.
    QString name() const { return m_breaker.value_or(QString()); }

    friend bool operator==(const InvalidCheckoutState&, const InvalidCheckoutState&) = default;

private:
    explicit InvalidCheckoutState(std::optional<QString> breaker) : m_breaker(std::move(breaker)) {}
    std::optional<QString> m_breaker;
};

// A locking operation asked for while another one still runs on the same document.
class DocumentBusyError : public Error {
public:
    explicit DocumentBusyError(const QString& documentName);

protected:
    QString typeName() const override;
};

// A versioned project file in a collection. A video-editing library holds its events.
class Document final : public ObservableObject,
                       public NestableItem,
                       public ContainerItem<Event>,
                       public Lockable,
                       public InitiatingItem {
    Q_OBJECT
public:
    // A document for `service`, loaded from the collection `containerID`. Throws the engine's
    // error when the document's state cannot be read.
    static std::shared_ptr<Document> create(std::shared_ptr<VersioningService> service,
                                            std::optional<IdFor<VersionBundle>> containerID);
    // The same, following nothing yet and without reading the application: a container's load
    // lists many at once, then has each follow its changes (startFollowing()) and reads their
    // applications together (setApplication()).
    static std::shared_ptr<Document> createListed(std::shared_ptr<VersioningService> service,
                                                  std::optional<IdFor<VersionBundle>> containerID);
    // Subscribes to the engine's changes of the document and follows this program's own locking
    // operations on it; once.
    void startFollowing();
    ~Document() override;

    QString name() const override { return m_name(); }
    QString icon() const override { return m_icon; }
    const DocumentType& documentType() const override { return m_documentType; }
    QDateTime modificationDate() const override { return m_modificationDate; }
    const std::shared_ptr<VersioningService>& versioningService() const override { return m_versioningService; }
    QObject* object() override { return this; }

    const std::optional<IdFor<VersionBundle>>& containerID() const override { return m_containerID; }
    QList<VersionBundle::Info> visibleActiveContainers() const override { return m_visibleActiveContainers(); }

    QList<std::shared_ptr<Event>> nestedItems() const override { return m_nestedItems(); }
    void setNestedItems(QList<std::shared_ptr<Event>> items) override { m_nestedItems = std::move(items); }
    std::shared_ptr<Event> selectedItem() const override { return m_selectedItem.lock(); }
    void setSelectedItem(const std::shared_ptr<Event>& item) override { m_selectedItem = item; }
    bool isLoadingNestedItems() const override { return m_isLoadingNestedItems(); }
    void setIsLoadingNestedItems(bool loading) override { m_isLoadingNestedItems = loading; }

    bool allowsChanges() const override { return m_allowsChanges(); }
    bool isLocked() const override { return m_isLocked(); }
    QString lockedByUser() const override { return m_lockedByUser(); }
    QString lockedByHostName() const override { return m_lockedByHostName(); }
    bool lockedByCurrentInitiator() const override { return m_lockedByCurrentInitiator; }
    bool isCheckedOut() const override { return m_isCheckedOut(); }
    DocumentApplication application() const override { return m_application(); }
    void setApplication(DocumentApplication application) { m_application = std::move(application); }

    // True while a check-out, check-in or discard runs on the document.
    bool isInitiating() const { return m_isInitiating(); }
    void setIsInitiating(bool initiating) { m_isInitiating = initiating; }
    // Set when a working copy this client had checked out was taken away; the interface explains
    // it and may clear it. It belongs to that check-out: a new check-out this program takes
    // clears it, on every object of the document.
    std::optional<InvalidCheckoutState> invalidCheckoutState() const { return m_invalidCheckoutState(); }
    void setInvalidCheckoutState(std::optional<InvalidCheckoutState> state)
    {
        m_invalidCheckoutState = std::move(state);
    }
    // The user has read the explanation: it is cleared on every object of the document, so that
    // one listed by a later reload does not raise it again.
    void acknowledgeInvalidCheckout();
    // The message being written for the next check-in.
    QString commitMessage() const { return m_commitMessage(); }
    void setCommitMessage(QString message) { m_commitMessage = std::move(message); }

    void updateNameAndDate();
    void updateLockState();
    // Rereads what the engine answers at once: everything but the application and the events.
    void readState();
    // A reload of the collection keeps this object: what a new one reads at once, but its events.
    void readLoadedState() { readState(); }
    // Refreshes everything but the events; the first failure stops it.
    QCoro::Task<> updateState();
    // After a check-out or a force unlock: the document's state, then each event's lock state.
    QCoro::Task<> refreshAfterCheckOut();
    // After a check-out was given up; the same as refreshAfterCheckOut().
    QCoro::Task<> refreshAfterCancelCheckout();
    // The document's state, then its events.
    QCoro::Task<> refresh() override;
    // Replaces the events with new objects for the library's current events.
    QCoro::Task<> loadNestedEvents();

    QCoro::Task<> loadNestedItems() override;
    QCoro::Task<> addExistingNestedItem(IdFor<VersionBundle> id) override;
    QCoro::Task<> createNestedItem(QString source) override;

    // The locking operations. Each marks the document busy (isInitiating) while it runs, makes
    // one locking call to the engine and refreshes the document afterwards. One runs at a time:
    // while one runs, another is refused with DocumentBusyError before it does anything.
    //
    // Takes the lock of the document and of its events nobody else holds; returns the path of
    // the working copy. Both are refused with WorkingCopyInUseError, changing nothing, when they
    // would replace a working copy left behind that an application still uses, unless `inUse`
    // says to go on.
    QCoro::Task<QString> checkOut(WorkingCopyInUse inUse = WorkingCopyInUse::refuse);
    // Takes the lock of the document and of all its events, also from whoever holds them.
    QCoro::Task<QString> forceUnlock(WorkingCopyInUse inUse = WorkingCopyInUse::refuse);
    // Gives up the check-out; the commit message is cleared.
    QCoro::Task<> cancelCheckout(WorkingCopyInUse inUse = WorkingCopyInUse::refuse);
    // Stores the working copy as a new version with the commit message, which is then cleared.
    // Both are refused with WorkingCopyInUseError while an application still uses the working
    // copy, unless `inUse` says to go on.
    QCoro::Task<CheckInOutcome> checkIn(WorkingCopyInUse inUse = WorkingCopyInUse::refuse);

    friend bool operator==(const Document& a, const Document& b);

Q_SIGNALS:
    void nameChanged();
    void visibleActiveContainersChanged();
    void nestedItemsChanged();
    void allowsChangesChanged();
    void isCheckedOutChanged();
    void applicationChanged();
    void isLockedChanged();
    void lockedByUserChanged();
    void lockedByHostNameChanged();
    void isInitiatingChanged();
    void isLoadingNestedItemsChanged();
    void invalidCheckoutStateChanged();
    void commitMessageChanged();

private:
    Document(std::shared_ptr<VersioningService> service, std::optional<IdFor<VersionBundle>> containerID);
    void beginInitiating();
    // Runs `work` with the document marked busy; refused while another operation runs.
    template<typename T>
    static QCoro::Task<T> whileInitiating(std::shared_ptr<Document> document, std::function<QCoro::Task<T>()> work);
    QCoro::Task<QString> takeLock(CheckOutOptions options, WorkingCopyInUse inUse);
    std::shared_ptr<Document> self();
    void subscribe(const std::shared_ptr<Document>& self);
    static QCoro::Task<> handleRemoteChange(std::weak_ptr<Document> weak, RemoteDatabaseChange change);
    static QCoro::Task<> handleActivitiesChange(std::weak_ptr<Document> weak);
    void readIsCheckedOut();
    void followOwnLockOperations();

    Published<QString> m_name{this, &Document::nameChanged};
    std::optional<IdFor<VersionBundle>> m_containerID;
    Published<QList<VersionBundle::Info>> m_visibleActiveContainers{this, &Document::visibleActiveContainersChanged};
    QString m_icon;
    QDateTime m_modificationDate;
    std::shared_ptr<VersioningService> m_versioningService;
    Published<QList<std::shared_ptr<Event>>> m_nestedItems{this, &Document::nestedItemsChanged};
    std::weak_ptr<Event> m_selectedItem;
    Published<bool> m_allowsChanges{this, &Document::allowsChangesChanged, false};
    Published<bool> m_isCheckedOut{this, &Document::isCheckedOutChanged, false};
    // When m_isCheckedOut was read, in the terms of OwnLockOperations::settledSerial().
    std::optional<quint64> m_isCheckedOutReadAt;
    // A refresh found the check-out taken away; the next remote change explains it.
    bool m_checkOutTaken = false;
    Published<DocumentApplication> m_application{this, &Document::applicationChanged};
    bool m_lockedByCurrentInitiator = false;
    Published<bool> m_isLocked{this, &Document::isLockedChanged, false};
    Published<QString> m_lockedByUser{this, &Document::lockedByUserChanged};
    Published<QString> m_lockedByHostName{this, &Document::lockedByHostNameChanged};
    DocumentType m_documentType;
    Published<bool> m_isInitiating{this, &Document::isInitiatingChanged, false};
    Published<bool> m_isLoadingNestedItems{this, &Document::isLoadingNestedItemsChanged, true};
    Published<std::optional<InvalidCheckoutState>> m_invalidCheckoutState{this, &Document::invalidCheckoutStateChanged};
    Cancellable m_cancelOnRemoteDatabaseChange;
    Cancellable m_cancelOnActivitiesChange;
    Published<QString> m_commitMessage{this, &Document::commitMessageChanged};
    bool m_following = false;
};

} // namespace vantrel
