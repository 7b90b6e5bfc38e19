#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class QStackedWidget;
class QTableView;

namespace vantrel {

class NavigationModel;
class TrashManager;
class TrashTableModel;

// The trash of the open team bundle: a title, one action button ("Empty" the trash, or delete
// the selected items for good) and a sortable table of the trashed items, in which collections
// can be restored. The trash manager does the work; this view shows its state and calls it.
// Shown as the window's detail while the trash has the focus, and as the trash sheet.
class TrashManagerView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int typeColumnMinimum = 50;
    static constexpr int typeColumnIdeal = 60;
    static constexpr int typeColumnMaximum = 100;
    static constexpr int lastModifiedColumnMinimum = 200;
    static constexpr int lastModifiedColumnIdeal = 300;

    // `navigation` may be null (the table then never asks for the keyboard focus by itself).
    TrashManagerView(std::unique_ptr<TrashManager> model, NavigationModel* navigation, QWidget* parent = nullptr);
    ~TrashManagerView() override;

    TrashManager* model() const { return m_model.get(); }
    TrashTableModel* tableModel() const { return m_rows; }
    QTableView* table() const { return m_table; }
    QPushButton* actionButton() const { return m_action; }
    QLabel* placeholder() const { return m_placeholder; }
    // The Restore button of a row; null for rows that are not collections.
    QPushButton* restoreButton(int row) const;

private:
    void buildTable();
    void showSelection();
    void takeSelectionFromTable();
    void refreshButtons();
    void refreshContent();
    void rebuildRestoreButtons();
    void clampColumn(int column, int size);
    void onAction();

    std::unique_ptr<TrashManager> m_model;
    QPointer<NavigationModel> m_navigation;
    TrashTableModel* m_rows = nullptr;
    QStackedWidget* m_content = nullptr;
    QTableView* m_table = nullptr;
    QLabel* m_placeholder = nullptr;
    QPushButton* m_action = nullptr;
    bool m_showingSelection = false;
};

} // namespace vantrel
