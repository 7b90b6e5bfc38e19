#include "views/detail/trash_manager_view.h"

#include "actions/trash_manager.h"
#include "design/button_styles.h"
#include "design/palette.h"
#include "foundation/task_starter.h"
#include "model/strings.h"
#include "model/text_format.h"
#include "open_team/navigation_model.h"
#include "views/detail/detail_look.h"
#include "views/detail/trash_table_model.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace vantrel {

namespace {

constexpr int kRowHeight = 32;

QCoro::Task<> restoreRow(QPointer<TrashManager> trash, VersionBundle::Summary summary)
{
    if (trash)
        co_await trash->restore(std::move(summary));
}

// Restores one row as a task: a failure becomes an alert, and the trash is ready again after
// success and failure alike.
void restore(QPointer<TrashManager> trash, VersionBundle::Summary summary)
{
    if (!trash)
        return;
    trash->setDisableActions(true); // no second click before the task starts
    auto onError = [trash](const Error& error) { return trash ? trash->present(error) : completedTask(); };
    startTask(
        std::nullopt, [trash, summary] { return restoreRow(trash, summary); }, onError,
        [trash] {
            if (trash)
                trash->finishAction();
        });
}

} // namespace

TrashManagerView::TrashManagerView(std::unique_ptr<TrashManager> model, NavigationModel* navigation, QWidget* parent)
    : QWidget(parent),
      m_model(std::move(model)),
      m_navigation(navigation)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(24);

    auto* title = plainLabel(this);
    title->setObjectName(QStringLiteral("trashTitle"));
    title->setFont(largeTitleFont(title->font()));
    setTextColor(*title, design::neutral(0));
    title->setText(Strings::trashTitle());
    title->setFixedHeight(56);
    outer->addWidget(title);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_action = new QPushButton(this);
    m_action->setObjectName(QStringLiteral("trashAction"));
    design::PrimaryActionButtonStyle(32, std::nullopt, 0.9).apply(*m_action);
    connect(m_action, &QPushButton::clicked, this, &TrashManagerView::onAction);
    buttons->addWidget(m_action);
    buttons->addStretch(1);
    outer->addLayout(buttons);

    m_content = new QStackedWidget(this);
    m_placeholder = plainLabel(m_content);
    m_placeholder->setObjectName(QStringLiteral("trashPlaceholder"));
    m_placeholder->setText(Strings::emptyTitle());
    m_placeholder->setFont(calloutMediumFont(m_placeholder->font()));
    m_placeholder->setAlignment(Qt::AlignCenter);
    setTextColor(*m_placeholder, design::neutral(2));
    m_content->addWidget(m_placeholder);
    // Sits 42 pixels above the middle of the space below the buttons. Set once the label is a page:
    // adding a page to a stacked widget clears its margins.
    m_placeholder->setContentsMargins(0, 0, 0, 84);
    buildTable();
    m_content->addWidget(m_table);
    outer->addWidget(m_content, 1);

    if (m_model) {
        connect(m_model.get(), &TrashManager::selectionChanged, this, [this] {
            showSelection();
            refreshButtons();
        });
        connect(m_model.get(), &TrashManager::disableActionsChanged, this, &TrashManagerView::refreshButtons);
        connect(m_model.get(), &TrashManager::contentChanged, this, &TrashManagerView::refreshContent);
    }
    if (m_navigation) {
        connect(m_navigation, &NavigationModel::focusChanged, this, [this] {
            if (m_navigation && m_navigation->focus() == ContentViewFocus::trash)
                m_table->setFocus(Qt::OtherFocusReason);
        });
    }
    refreshContent();
}

TrashManagerView::~TrashManagerView()
{
    // The table lets go of its model before the trash manager goes.
    m_table->setModel(nullptr);
}

void TrashManagerView::buildTable()
{
    m_table = new QTableView(m_content);
    m_table->setObjectName(QStringLiteral("trashTable"));
    m_rows = new TrashTableModel(m_model.get(), this);
    m_table->setModel(m_rows);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(false);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideRight);
    m_table->setIconSize(QSize(24, 24));
    m_table->setFocusPolicy(Qt::StrongFocus);
    m_table->setFrameShape(QFrame::NoFrame);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(kRowHeight);
    m_table->setStyleSheet(QStringLiteral("QTableView#trashTable { background: transparent; border-radius: 8px; }"));

    QHeaderView* header = m_table->horizontalHeader();
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(typeColumnMinimum);
    header->setSectionResizeMode(TrashTableModel::nameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(TrashTableModel::typeColumn, QHeaderView::Interactive);
    header->setSectionResizeMode(TrashTableModel::lastModifiedColumn, QHeaderView::Interactive);
    header->resizeSection(TrashTableModel::typeColumn, typeColumnIdeal);
    header->resizeSection(TrashTableModel::lastModifiedColumn, lastModifiedColumnIdeal);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSortIndicator(TrashTableModel::nameColumn, Qt::AscendingOrder);
    m_table->setSortingEnabled(true);
    connect(header, &QHeaderView::sectionResized, this,
            [this](int column, int, int size) { clampColumn(column, size); });

    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TrashManagerView::takeSelectionFromTable);
    connect(m_rows, &QAbstractItemModel::modelReset, this, [this] {
        // Wide enough for the longest type name, within the column's limits.
        QHeaderView* header = m_table->horizontalHeader();
        m_table->resizeColumnToContents(TrashTableModel::typeColumn); // clamped to the maximum
        if (header->sectionSize(TrashTableModel::typeColumn) < typeColumnIdeal)
            header->resizeSection(TrashTableModel::typeColumn, typeColumnIdeal);
        rebuildRestoreButtons();
        showSelection();
    });
    connect(m_rows, &QAbstractItemModel::layoutChanged, this, &TrashManagerView::rebuildRestoreButtons);
}

void TrashManagerView::clampColumn(int column, int size)
{
    int bounded = size;
    if (column == TrashTableModel::typeColumn)
        bounded = std::clamp(size, int(typeColumnMinimum), int(typeColumnMaximum));
    else if (column == TrashTableModel::lastModifiedColumn)
        bounded = std::max(size, int(lastModifiedColumnMinimum));
    if (bounded != size)
        m_table->horizontalHeader()->resizeSection(column, bounded);
}

QPushButton* TrashManagerView::restoreButton(int row) const
{
    QWidget* cell = m_table->indexWidget(m_rows->index(row, TrashTableModel::lastModifiedColumn));
    return cell ? cell->findChild<QPushButton*>(QStringLiteral("trashRestore")) : nullptr;
}

void TrashManagerView::rebuildRestoreButtons()
{
    const bool disabled = m_model && m_model->disableActions();
    for (int row = 0; row < m_rows->rowCount(); ++row) {
        const QModelIndex index = m_rows->index(row, TrashTableModel::lastModifiedColumn);
        const bool isCollection = m_rows->rows().at(row).documentType().isCollection();
        QWidget* existing = m_table->indexWidget(index);
        if (existing && existing->property("rowId") == m_rows->data(index, TrashTableModel::idRole))
            continue;
        if (!isCollection) {
            if (existing)
                m_table->setIndexWidget(index, nullptr);
            continue;
        }
        // Transparent over the cell: the date stays visible at its left, the button sits right.
        auto* cell = new QWidget;
        cell->setProperty("rowId", m_rows->data(index, TrashTableModel::idRole));
        auto* layout = new QHBoxLayout(cell);
        layout->setContentsMargins(0, 0, 8, 0);
        layout->addStretch(1);
        auto* button = new QPushButton(Strings::restoreActionTitle(), cell);
        button->setObjectName(QStringLiteral("trashRestore"));
        design::SmallSecondaryActionButtonStyle().apply(*button);
        button->setEnabled(!disabled);
        const auto summary = m_rows->rows().at(row);
        QPointer<TrashManager> trash = m_model.get();
        connect(button, &QPushButton::clicked, this, [trash, summary] { restore(trash, summary); });
        layout->addWidget(button, 0, Qt::AlignVCenter);
        m_table->setIndexWidget(index, cell);
    }
}

void TrashManagerView::showSelection()
{
    if (!m_model)
        return;
    const auto selected = m_model->selection();
    QItemSelection rows;
    for (int row = 0; row < m_rows->rowCount(); ++row) {
        if (selected.contains(m_rows->rows().at(row).id()))
            rows.select(m_rows->index(row, 0), m_rows->index(row, TrashTableModel::columnCount_ - 1));
    }
    m_showingSelection = true;
    m_table->selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect);
    m_showingSelection = false;
}

void TrashManagerView::takeSelectionFromTable()
{
    if (m_showingSelection || !m_model)
        return;
    QSet<IdFor<VersionBundle>> ids;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        ids.insert(m_rows->rows().at(index.row()).id());
    if (ids != m_model->selection())
        m_model->setSelection(ids);
}

void TrashManagerView::refreshButtons()
{
    const bool disabled = !m_model || m_model->disableActions();
    const qsizetype selected = m_model ? m_model->selection().size() : 0;
    if (selected == 0) {
        m_action->setText(Strings::emptyTitle());
        m_action->setEnabled(!disabled && m_model && !m_model->content().isEmpty());
    } else {
        const QString count = Strings::plural(QString(), Strings::itemCountOne(), Strings::itemCountOther(), selected);
        m_action->setText(formatText(Strings::deleteItemsActionTitle(), count));
        m_action->setEnabled(!disabled);
    }
    for (int row = 0; row < m_rows->rowCount(); ++row) {
        if (QPushButton* button = restoreButton(row))
            button->setEnabled(!disabled);
    }
}

void TrashManagerView::refreshContent()
{
    m_content->setCurrentWidget(m_rows->rowCount() == 0 ? static_cast<QWidget*>(m_placeholder) : m_table);
    refreshButtons();
}

void TrashManagerView::onAction()
{
    if (!m_model)
        return;
    if (m_model->selection().isEmpty())
        m_model->emptyTrash();
    else
        m_model->deleteSelected();
}

} // namespace vantrel
