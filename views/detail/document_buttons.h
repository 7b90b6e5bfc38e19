#pragma once

#include "actions/alert_models.h"
#include "actions/item_actions.h"
#include "model/document.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

class QPushButton;

namespace vantrel {

namespace design {
class MenuButton;
}

// What the open button of a document shows for the document's current state.
struct DocumentOpenButtonState {
    // The lock-state symbol: "lock.fill" while somebody else holds the lock, "pencil" while
    // the application that opens the document is installed, "exclamationmark.triangle" otherwise.
    QString symbolName;
    // Who holds the lock while it is locked (this user included); otherwise, for a file of a type
    // the table does not know, the desktop's application that opens it or, when there is none,
    // that nothing here opens its kind; otherwise, while the document cannot be checked out,
    // which application to install; otherwise empty.
    QString help;
    bool enabled = false;
};
DocumentOpenButtonState openButtonState(const Document& document);

// The button row under a selected document's title: "Open <type>" (checks the document out),
// the "Export <type>" menu (a temporary copy, or an export into a folder), and for a type that
// holds events the "Add Event" menu (a new event, or existing ones), which is disabled while the
// document is locked. The row follows the document's published state. When the document's
// check-out becomes invalid, the row explains it with an alert on `alert`; "OK" clears the state,
// and "Open Attic" clears it and opens the attic, where the lost working copy is kept.
class DocumentButtons final : public QWidget {
    Q_OBJECT
public:
    // `actions` and `alert` must outlive the row.
    DocumentButtons(const std::shared_ptr<Document>& document, ItemActions* actions, AlertModel* alert,
                    QWidget* parent = nullptr);
    ~DocumentButtons() override;

    QPushButton* openButton() const { return m_openButton; }
    design::MenuButton* exportMenu() const { return m_exportMenu; }
    // Absent for a type that holds no events.
    design::MenuButton* addEventMenu() const { return m_addEventMenu; }

private:
    void refresh();
    void explainInvalidCheckout();
    void fillAddEventMenu();

    std::weak_ptr<Document> m_document;
    ItemActions* m_actions;
    QPointer<AlertModel> m_alert;
    QPushButton* m_openButton;
    design::MenuButton* m_exportMenu;
    design::MenuButton* m_addEventMenu = nullptr;
    // The invalid state last explained, so that one state is explained once; forgotten when the
    // state is cleared, so that a later invalidation is explained again.
    std::optional<InvalidCheckoutState> m_explained;
};

} // namespace vantrel
