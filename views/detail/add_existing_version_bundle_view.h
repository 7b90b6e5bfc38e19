#pragma once

#include <QCoroTask>
#include <QPointer>
#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace vantrel {

class AddExistingFilterModel;
class AddExistingListModel;
class AddExistingRowDelegate;
class AddExistingVersionBundle;
class AlertModel;
class InProgressView;
class PlaceholderText;
class ToolbarProgressIndicator;
class VersionBundleHeaderView;

// The sheet that adds bundles already in the team bundle to a container: a filtered, grouped list
// of candidates on the left, where the selected ones are used and the add button on the right.
// The candidates are read away from the interface thread, while a spinner shows; a failed read is
// shown through `alert` and leaves nothing listed.
class AddExistingVersionBundleView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int minimumWidth = 840;
    static constexpr int minimumHeight = 560;

    AddExistingVersionBundleView(std::shared_ptr<AddExistingVersionBundle> model, AlertModel* alert,
                                 ToolbarProgressIndicator* progress, QWidget* parent = nullptr);
    ~AddExistingVersionBundleView() override;

    const std::shared_ptr<AddExistingVersionBundle>& model() const { return m_model; }

    // Reads the candidates again for the current options; done when shown and on each change of
    // the options. A read that is overtaken by a newer one is dropped.
    void reload();
    // Adds the selection in display order; the sheet closes at once and the add goes on without it.
    void add();

    QLineEdit* filterField() const { return m_filter; }
    QToolButton* optionsButton() const { return m_options; }
    QListView* list() const { return m_list; }
    // Every candidate; the list shows the rows of filterModel() over it.
    AddExistingListModel* listModel() const { return m_listModel; }
    AddExistingFilterModel* filterModel() const { return m_filterModel; }
    QPushButton* addButton() const { return m_add; }
    QPushButton* cancelButton() const { return m_cancel; }
    InProgressView* spinner() const { return m_spinner; }
    PlaceholderText* emptyPlaceholder() const { return m_empty; }
    QLabel* limitLabel() const { return m_limit; }
    QLabel* usedInTitle() const { return m_usedInTitle; }
    VersionBundleHeaderView* selectionHeader() const { return m_header; }
    QWidget* usedInList() const { return m_usedIn; }

Q_SIGNALS:
    // The sheet asks to be closed.
    void dismissRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeSidebar();
    QWidget* makeDetail();
    QCoro::Task<> readIndex();
    void refreshList();
    void refreshFilter();
    void refreshResultsPage();
    void refreshDetail();
    void selectionFromList();
    void selectionToList();

    std::shared_ptr<AddExistingVersionBundle> m_model;
    QPointer<AlertModel> m_alert;
    QPointer<ToolbarProgressIndicator> m_progress;
    bool m_shownOnce = false;
    bool m_syncingSelection = false;
    quint64 m_readGeneration = 0;

    QLineEdit* m_filter = nullptr;
    QToolButton* m_options = nullptr;
    QStackedWidget* m_results = nullptr;
    InProgressView* m_spinner = nullptr;
    PlaceholderText* m_empty = nullptr;
    QListView* m_list = nullptr;
    AddExistingListModel* m_listModel = nullptr;
    AddExistingFilterModel* m_filterModel = nullptr;
    AddExistingRowDelegate* m_delegate = nullptr;
    QStackedWidget* m_description = nullptr;
    VersionBundleHeaderView* m_header = nullptr;
    QLabel* m_usedInTitle = nullptr;
    QWidget* m_usedIn = nullptr;
    QVBoxLayout* m_usedInLayout = nullptr;
    QWidget* m_limitBox = nullptr;
    QLabel* m_limit = nullptr;
    QWidget* m_singleDivider = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_add = nullptr;
};

} // namespace vantrel
