#include "open_team/team.h"

#include "engine/team_bundle.h"
#include "engine/version_bundles.h"
#include "foundation/worker.h"
#include "model/name_order.h"
#include "model/strings.h"
#include "model/text_format.h"

#include <cstdio>

namespace vantrel {

namespace {

VersionBundlesIndex indexOf(const TeamBundle& bundle, IndexingOptions options)
{
    VersionBundlesIndex index = VersionBundlesIndex::empty();
    if (options.contains(IndexingOptions::all()))
        index += bundle.versionBundles().liveIndex();
    if (options.contains(IndexingOptions::trash()))
        index += bundle.versionBundles().trashIndex();
    return index;
}

QCoro::Task<QUrl> preparedAttic(std::shared_ptr<TeamBundle> bundle, IdFor<VersionBundle> id)
{
    auto prepare = [bundle, id] { return QUrl::fromLocalFile(bundle->materializeAttic(id)); };
    co_return co_await onWorker(std::move(prepare));
}

} // namespace

Team::Team(std::shared_ptr<TeamBundle> bundle, QString urlScheme, item_action::OpenURL openURL, AlertModel* alert,
           SheetModel* sheet, ConfirmationDialogModel* confirmation, FileImporter* fileImporter,
           ToolbarProgressIndicator* progress, std::shared_ptr<KeyValueStorage> settings, QObject* parent)
    : ObservableObject(parent),
      m_bundle(std::move(bundle)),
      m_urlScheme(std::move(urlScheme)),
      m_openURL(std::move(openURL)),
      m_fileImporter(fileImporter),
      m_alert(alert),
      m_sheet(sheet),
      m_confirmation(confirmation),
      m_progress(progress),
      m_settings(std::move(settings))
{
    m_collections = adoptItem(new Collections(m_bundle));
    // Every change of the bundle reloads the collections; the handler holds them and the alert,
    // never the team.
    const auto collections = m_collections;
    const QPointer<AlertModel> alertModel = m_alert;
    m_cancelSyncFileSubscription =
        m_bundle->versionBundles().changes().sink([collections, alertModel](const TeamBundleChange&) {
            startTask(
                std::nullopt, [collections] { return collections->reload(); },
                handleError([alertModel](const Error& error) {
                    if (alertModel)
                        alertModel->show(error);
                }));
        });
    // Subscribed first: a change found meanwhile arrives after the state read here.
    m_reachabilitySubscription = m_bundle->reachabilityChanges().receiveOn(this).sink(
        [this](bool reachable) { m_shareReachable.set(reachable); });
    m_shareReachable.set(m_bundle->isReachable());
}

Team::~Team() = default;

NavigationModel& Team::navigation()
{
    if (!m_navigation) {
        const QPointer<Team> self(this);
        m_navigation = std::make_unique<NavigationModel>(
            m_urlScheme, m_alert.data(),
            [self] { return self ? self->collections().all() : QList<std::shared_ptr<Collection>>(); }, m_settings);
    }
    return *m_navigation;
}

ItemActions& Team::itemActions()
{
    if (!m_itemActions) {
        NavigationModel* navigation = &this->navigation();
        const QPointer<NavigationModel> navigationModel(navigation);
        const QPointer<FileImporter> fileImporter = m_fileImporter;
        const QPointer<SheetModel> sheet = m_sheet;
        const QPointer<ToolbarProgressIndicator> progress = m_progress;
        const QPointer<ConfirmationDialogModel> confirmation = m_confirmation;
        const QPointer<AlertModel> alert = m_alert;
        const auto collections = m_collections;
        const auto bundle = m_bundle;
        const QPointer<Team> self(this);
        m_itemActions = std::make_unique<ItemActions>(
            m_openURL,
            [fileImporter](const QStringList& types, std::function<void(const QUrl&)> handler) {
                // The items ask for a folder only to export into; otherwise for a document.
                const auto purpose = types == QStringList{folderContentType} ? FileImporter::Purpose::exportDestination
                                                                             : FileImporter::Purpose::importDocument;
                if (fileImporter)
                    fileImporter->request(types, std::move(handler), purpose);
            },
            [sheet](SheetModel::Sheet shown) {
                if (sheet)
                    sheet->setSheet(std::move(shown));
            },
            [progress](ToolbarProgressIndicator::State state) {
                if (progress)
                    progress->setState(std::move(state));
            },
            [confirmation](ConfirmationDialog dialog) {
                if (confirmation)
                    confirmation->setDialog(std::move(dialog));
            },
            [alert](const Error& error) {
                if (alert)
                    alert->show(error);
            },
            [navigationModel](ContentViewFocus focus) {
                if (navigationModel)
                    navigationModel->setFocus(focus);
            },
            [collections](QString name) { return collections->create(std::move(name)); },
            [collections](std::shared_ptr<Collection> collection) {
                return collections->deleteCollection(std::move(collection));
            },
            [bundle](IndexingOptions options) { return indexOf(*bundle, options); },
            [bundle](IdFor<VersionBundle> id) { return preparedAttic(bundle, id); },
            [alert](AlertDetails details) {
                if (alert)
                    alert->show(std::move(details));
            });
    }
    return *m_itemActions;
}

VersionBundlesIndex Team::versionBundlesIndex(IndexingOptions options) const
{
    return indexOf(*m_bundle, options);
}

QCoro::Task<QUrl> Team::atticURL(IdFor<VersionBundle> id) const
{
    return preparedAttic(m_bundle, id);
}

std::unique_ptr<TrashManager> Team::trashManager()
{
    const QPointer<NavigationModel> navigationModel(&navigation());
    const auto collections = m_collections;
    return std::make_unique<TrashManager>(
        m_bundle, m_progress.data(), m_alert.data(), m_confirmation.data(),
        [navigationModel] {
            if (navigationModel)
                navigationModel->updateFocus();
        },
        [collections](IdFor<VersionBundle> id) { return collections->update(id); }, true);
}

QList<ItemSelection> Team::unsavedItems() const
{
    // Documents whose list was loaded are read from it. A collection whose list was never loaded
    // (or is loading again) knows nothing of its documents, so for those the check-outs of this
    // installation are asked for directly: a checked-out document is never missed.
    QList<ItemSelection> unsaved;
    const auto index = m_bundle->versionBundles().liveIndex();
    // The documents of this installation's check-outs, by the collections that use them: one
    // look-up per check-out, not per check-out and collection.
    QHash<IdFor<VersionBundle>, QList<VersionBundle::Summary>> checkedOutIn;
    for (const auto& checkout : m_bundle->checkouts().all()) {
        if (!m_bundle->locks().isMine(checkout.bundle, checkout.bundle))
            continue;
        const auto summary = index.summary(checkout.bundle);
        if (!summary)
            continue;
        QSet<IdFor<VersionBundle>> containers;
        for (const auto& container : summary->activeContainersExcludingTrash) {
            if (!containers.contains(container.id)) {
                containers.insert(container.id);
                checkedOutIn[container.id].append(*summary);
            }
        }
    }
    // A document in several collections is one unsaved item, shown where it is first listed.
    QSet<IdFor<VersionBundle>> counted;
    const auto add = [&](IdFor<VersionBundle> collection, IdFor<VersionBundle> document) {
        if (!counted.contains(document)) {
            counted.insert(document);
            unsaved.append(ItemSelection{collection, document, std::nullopt});
        }
    };
    for (const auto& collection : collections().all()) {
        if (!collection->isLoadingNestedItems()) {
            for (const auto& document : collection->nestedItems()) {
                if (document->isCheckedOut())
                    add(collection->id(), document->id());
            }
            continue;
        }
        const auto found = checkedOutIn.value(collection->id());
        for (const auto& summary : sortedByName(found, [](const VersionBundle::Summary& s) { return s.name(); }))
            add(collection->id(), summary.id());
    }
    return unsaved;
}

void Team::alertBeforeClosing(ClosingEvent event, std::function<void(bool)> shouldClose)
{
    std::fputs("alert before closing alertBeforeClosing(event:shouldClose:)\n", stdout);
    std::fflush(stdout);
    const auto unsaved = unsavedItems();
    if (unsaved.isEmpty() || !m_alert) {
        shouldClose(true);
        return;
    }
    const bool quitting = event == ClosingEvent::quit;
    const QString message =
        Strings::plural(QString(), Strings::unsavedChangesOne(), Strings::unsavedChangesOther(), unsaved.size());
    const QPointer<NavigationModel> navigationModel(&navigation());
    const auto first = unsaved.first();
    // The question waits for its answer: no other alert replaces it, and dismissing it cancels.
    AlertDetails question(quitting ? Strings::quitConfirmationTitle() : Strings::closeConfirmationTitle(), message,
                          {ButtonAction{Strings::saveChangesButtonTitle(),
                                        [shouldClose, navigationModel, first] {
                                            shouldClose(false);
                                            if (navigationModel)
                                                navigationModel->restoreSelection(first, ContentViewFocus::checkinView);
                                        }},
                           ButtonAction{quitting ? Strings::quitActionTitle() : Strings::closeActionTitle(),
                                        [shouldClose] { shouldClose(true); }},
                           ButtonAction{.title = Strings::cancelActionTitle(),
                                        .action = [shouldClose] { shouldClose(false); },
                                        .cancels = true}});
    question.mustBeAnswered = true;
    m_alert->setDetails(std::move(question));
}

} // namespace vantrel
