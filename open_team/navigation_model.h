#pragma once

#include "foundation/observable_object.h"
#include "foundation/task_starter.h"
#include "model/codable_app_storage.h"
#include "model/collection.h"
#include "model/content_view_focus.h"
#include "model/item_selection.h"

#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace vantrel {

class AlertModel;

// What a team window has selected and which pane has the focus; its back and forward moves;
// restoring a selection from the settings or from a "select" link; and the deep links of items.
//
// Selecting at one level selects, below it, what was last selected in the newly selected item,
// reloads the newly selected item, saves the selection and sets the focus from it.
class NavigationModel final : public ObservableObject {
    Q_OBJECT
public:
    using AllCollections = std::function<QList<std::shared_ptr<Collection>>()>;
    static inline const QString itemSelectionKey = QStringLiteral("itemSelection");

    // `storage` keeps the selection between runs under "itemSelection".
    NavigationModel(QString urlScheme, AlertModel* alert, AllCollections allCollections,
                    std::shared_ptr<KeyValueStorage> storage, QObject* parent = nullptr);
    ~NavigationModel() override;

    const QString& urlScheme() const { return m_urlScheme; }

    ContentViewFocus focus() const { return m_focus(); }
    void setFocus(ContentViewFocus focus) { m_focus = focus; }

    std::shared_ptr<Collection> selectedCollection() const { return m_selectedCollection; }
    void setSelectedCollection(std::shared_ptr<Collection> collection);
    std::shared_ptr<Document> selectedDocument() const { return m_selectedDocument; }
    void setSelectedDocument(std::shared_ptr<Document> document);
    std::shared_ptr<Event> selectedEvent() const { return m_selectedEvent(); }
    void setSelectedEvent(std::shared_ptr<Event> event);

    // The selected item of the focused pane.
    std::shared_ptr<VersionedItem> focusedItem() const;
    // The focus of the deepest selected level.
    void updateFocus();
    void goBack();
    void goForward();
    // Clears the level whose selected item equals the given one (after that item went away).
    void deselect(const std::shared_ptr<Collection>& collection, const std::shared_ptr<Document>& document,
                  const std::shared_ptr<Event>& event);
    // Selects what `selection` names, loading nested items where needed, then sets `focus` when
    // one is given. Runs as a task; a failure is shown as an alert.
    void restoreSelection(std::optional<ItemSelection> selection, std::optional<ContentViewFocus> focus);
    // Restores the selection saved in the settings.
    void restoreStoredSelection();

    // <scheme>://select/<collection>
    std::optional<QUrl> url(const Collection& collection) const;
    // <scheme>://select/<collection>/<document>/<event>, for an event of the selected document.
    std::optional<QUrl> url(const Event& event) const;

    // The selection as it is stored: the selected ids.
    ItemSelection currentItemSelection() const;

Q_SIGNALS:
    void focusChanged();
    void selectedEventChanged();
    // Not published (no objectWillChange): every change of these ends in a change of the
    // selected event and of the focus.
    void selectedCollectionChanged();
    void selectedDocumentChanged();

private:
    void saveItemSelection();
    void reportReloadFailures(TaskOperation operation);
    static QCoro::Task<std::shared_ptr<Collection>> resolveSelection(QPointer<NavigationModel> self,
                                                                     ItemSelection selection);
    static QCoro::Task<> restore(QPointer<NavigationModel> self, std::optional<ItemSelection> selection,
                                 std::optional<ContentViewFocus> focus);

    QString m_urlScheme;
    QPointer<AlertModel> m_alert;
    AllCollections m_allCollections;
    CodableAppStorage<std::optional<ItemSelection>> m_itemSelection;
    Published<ContentViewFocus> m_focus{this, &NavigationModel::focusChanged, ContentViewFocus::home};
    std::shared_ptr<Collection> m_selectedCollection;
    std::shared_ptr<Document> m_selectedDocument;
    Published<std::shared_ptr<Event>> m_selectedEvent{this, &NavigationModel::selectedEventChanged};
};

} // namespace vantrel
