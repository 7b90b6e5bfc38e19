#pragma once

#include "engine/activity.h"
#include "engine/check_out_options.h"
#include "engine/document_application.h"
#include "engine/document_type.h"
#include "engine/id_for.h"
#include "engine/s3_service.h"
#include "engine/team_state.h"
#include "engine/version_bundle.h"
#include "foundation/publisher.h"

#include <QCoroTask>
#include <QDateTime>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vantrel {

class TeamBundle;
class FileManaging;
class WorkspaceInterfacing;
struct BundleState;

// The kinds of version bundles a service works on.
enum class VersioningServiceType { collection, document, library, event };

// When a bundle was made and last changed.
struct BundleInfo {
    QDateTime creationDate;
    QDateTime modificationDate;
};

// Who holds a bundle's lock; empty names when nobody does.
struct LockHolder {
    QString userName;
    QString hostName;
};

// A change to a bundle, made here or by another client.
struct RemoteDatabaseChange {
    bool forceUnlocked = false; // the lock this client held was taken by somebody else
    QString name;               // who took it
};

// Versioning of one bundle: reads from memory, and the operations that change the bundle.
// Every operation that touches the share runs on a worker thread. The reads and operations the
// item models rely on are virtual, so that a test can stand in for a failing share.
class VersioningService : public std::enable_shared_from_this<VersioningService> {
public:
    virtual ~VersioningService();

    // A service bound to the existing bundle `id`.
    static QCoro::Task<std::shared_ptr<VersioningService>>
    open(VersioningServiceType type, IdFor<VersionBundle> id, std::optional<QString> workDirectory,
         std::optional<QString> copyDirectory, std::shared_ptr<TeamBundle> teamBundle,
         std::shared_ptr<FileManaging> fileManager, std::shared_ptr<WorkspaceInterfacing> workspace,
         S3Factory s3Factory);
    // A new, empty collection.
    static QCoro::Task<std::shared_ptr<VersioningService>>
    createCollection(QString collectionName, std::shared_ptr<TeamBundle> teamBundle,
                     std::shared_ptr<FileManaging> fileManager, std::shared_ptr<WorkspaceInterfacing> workspace);
    // A new bundle holding the file or package at `source` as its first version; not nested
    // anywhere yet. A library package becomes a library with one nested event per event folder.
    static QCoro::Task<std::shared_ptr<VersioningService>>
    import(VersioningServiceType type, QString source, std::optional<QString> newName,
           std::optional<QString> workDirectory, std::optional<QString> copyDirectory, QString commitMessage,
           DocumentApplication documentApplication, std::shared_ptr<TeamBundle> teamBundle,
           std::shared_ptr<FileManaging> fileManager, std::shared_ptr<WorkspaceInterfacing> workspace);
    // A new, empty library or event, not nested anywhere yet.
    static QCoro::Task<std::shared_ptr<VersioningService>>
    createLibrary(QString newLibraryName, std::shared_ptr<TeamBundle> teamBundle,
                  std::shared_ptr<FileManaging> fileManager, std::shared_ptr<WorkspaceInterfacing> workspace);
    static QCoro::Task<std::shared_ptr<VersioningService>> createEvent(QString newEventName,
                                                                       std::shared_ptr<TeamBundle> teamBundle,
                                                                       std::shared_ptr<FileManaging> fileManager,
                                                                       std::shared_ptr<WorkspaceInterfacing> workspace);

    // Reads, from memory. Those that may fail throw VersioningError when the bundle is gone.
    const IdFor<VersionBundle>& id() const { return m_id; }
    VersioningServiceType type() const { return m_type; }
    const DocumentType& documentType() const { return m_documentType; }
    QString versionBundleURL() const;
    virtual QString name() const;
    virtual BundleInfo bundleInfo() const;
    virtual QList<VersionBundle::Info> visibleActiveContainers() const;
    virtual bool isLocked() const;
    virtual bool allowsChanges() const;
    virtual LockHolder lockHolder() const;
    virtual bool isLockedByCurrentInitiator(const IdFor<VersionBundle>& initiator) const;
    virtual bool isCheckedOut() const;
    bool canCheckout() const;
    bool canCreateFCPEvent() const;
    std::optional<VersioningServiceType> nestedType() const;
    const std::shared_ptr<TeamBundle>& teamBundle() const { return m_team; }
    virtual DocumentApplication documentApplicationForVersion(const IdFor<Versions>& versionID) const;
    // The versions of the bundle, oldest first.
    QList<IdFor<Versions>> versionIDs() const;
    std::optional<IdFor<Versions>> currentVersionID() const;

    // Operations.
    virtual QCoro::Task<std::vector<std::shared_ptr<VersioningService>>>
    latestNestedVersioningServices(S3Factory s3Factory);
    QCoro::Task<> addNestedVersionBundle(std::shared_ptr<VersioningService> nestedVersioningService,
                                         QString relativeNestedWorkDirectoryPath, S3Factory s3Factory);
    // Makes a stored version current again. Refused (itemLocked) while another installation
    // holds the lock, read by name.
    virtual QCoro::Task<> revertVersionBundle(IdFor<Versions> versionID, S3Factory s3Factory);
    virtual QCoro::Task<> rename(QString newName);
    // Writes the version (the current one when absent) into `folder`; returns what it wrote.
    QCoro::Task<QString> exportVersion(std::optional<IdFor<Versions>> version, QString folder, S3Factory s3Factory);
    // A temporary, untracked copy of the version (the current one when absent); returns its path.
    QCoro::Task<QString> buildCopy(std::optional<IdFor<Versions>> version, std::optional<QString> folder,
                                   S3Factory s3Factory);
    virtual QCoro::Task<DocumentApplication> documentApplication(S3Factory s3Factory);
    // What documentApplication() returns, read on the calling thread: it asks the desktop for the
    // installed application, so it belongs on a worker thread (one task can read many).
    DocumentApplication currentDocumentApplication() const;
    // With a parent: takes the bundle out of that container when another visible container
    // still uses it, and moves it to the trash otherwise. Without one: moves it to the trash.
    QCoro::Task<> removeOrDelete(std::shared_ptr<VersioningService> parentVersioningService, S3Factory s3Factory);

    // Takes the lock of this document and of `includedNestedVersionBundles` (events of a
    // library), all or none, and makes a working copy on the local disk from the current
    // versions; returns its path. Checking out again what this installation holds returns the
    // same working copy untouched. `options` says whether locks held by others are taken over
    // and how the working copy is auto-saved. A working copy left in its folder (its lock was
    // taken, or a crash) is kept in the attic and replaced; while an application still uses it,
    // the check-out is refused with WorkingCopyInUseError before any lock is taken, unless
    // `inUse` says to go on.
    QCoro::Task<QString> checkOut(QList<IdFor<VersionBundle>> includedNestedVersionBundles, CheckOutOptions options,
                                  S3Factory s3Factory, WorkingCopyInUse inUse = WorkingCopyInUse::refuse);
    // Stores the working copy as a new version of the document and of each changed event,
    // then gives up the locks. Refused, storing nothing, when the lock is no longer ours.
    // Both refuse with WorkingCopyInUseError, changing nothing, while an application still uses
    // the working copy, unless `inUse` says to go on.
    // Looked at again right before it is removed, a working copy changed since it was stored,
    // or used again (unless `inUse` said to go on), is kept in the attic, and the outcome says so.
    QCoro::Task<CheckInOutcome> checkIn(QString commitMessage, S3Factory s3Factory,
                                        WorkingCopyInUse inUse = WorkingCopyInUse::refuse);
    // Gives up the check-out; the working copy goes to the attic.
    QCoro::Task<> cancelCheckout(S3Factory s3Factory, WorkingCopyInUse inUse = WorkingCopyInUse::refuse);

    // The timeline of the bundle.
    AnyPublisher<QList<ActivityInfo>> activitiesPublisher() const;
    ActivityStore& activityStore() const;

    // Stores the file or package at `source` as the new current version. Files whose size and
    // times have not changed since the last version stored from the same place are not read
    // again. A library's event folders are left out: they are versions of their own bundles.
    QCoro::Task<IdFor<Versions>> storeVersion(QString source, QString message, VersionOrigin origin);

    // Every change of this bundle, made here or elsewhere; delivered on any thread.
    AnyPublisher<RemoteDatabaseChange> remoteDatabaseChanges() const;

    static VersioningServiceType serviceType(const DocumentType& type);

protected:
    VersioningService(VersioningServiceType type, IdFor<VersionBundle> id, DocumentType documentType,
                      std::shared_ptr<TeamBundle> team);

private:
    static std::shared_ptr<VersioningService> bind(VersioningServiceType type, const IdFor<VersionBundle>& id,
                                                   const std::shared_ptr<TeamBundle>& team);
    static QCoro::Task<std::shared_ptr<VersioningService>>
    createEmpty(DocumentType type, VersioningServiceType serviceType, QString name, std::shared_ptr<TeamBundle> team);
    std::shared_ptr<const BundleState> state() const;
    std::shared_ptr<const BundleState> liveState() const;
    QString writeVersion(const BundleState& state, const VersionInfo& version, const QString& destination) const;

    VersioningServiceType m_type;
    IdFor<VersionBundle> m_id;
    DocumentType m_documentType;
    std::shared_ptr<TeamBundle> m_team;
    mutable std::once_flag m_activityStoreOnce;
    mutable std::shared_ptr<ActivityStore> m_activityStore;
};

} // namespace vantrel
