#pragma once

#include <QList>
#include <QPointer>

#include <memory>

class QAction;
class QMenu;

namespace vantrel {

class Document;
class Team;

// The File menu's commands for what the team window has selected: "Rename..." for the focused
// item, then the commands of the selected document or, with no document selected, those of the
// selected collection. Items that do not apply are left out, so that the shortcuts a document
// and a collection share never meet.
class SelectedItemMenu {
public:
    // Adds the items for the team's current selection to `menu`. Each item acts on the item it
    // was built for; a command for an item that went away does nothing.
    void build(QMenu* menu, const std::shared_ptr<Team>& team);
    // Enables "Open" and "Open a Temporary Copy" exactly while the document allows a check-out.
    void updateEnablement();

private:
    QPointer<QAction> m_open;
    QPointer<QAction> m_openCopy;
    QPointer<QAction> m_newEvent;
    QPointer<QAction> m_addExisting;
    std::weak_ptr<Document> m_document;
};

} // namespace vantrel
