#include "views/detail/add_existing_version_bundle_view.h"

#include "actions/add_existing_version_bundle.h"
#include "actions/alert_models.h"
#include "actions/toolbar_progress.h"
#include "design/icon_provider.h"
#include "design/palette.h"
#include "foundation/worker.h"
#include "model/collection.h"
#include "model/document.h"
#include "model/strings.h"
#include "model/text_format.h"
#include "packages/components/in_progress_view.h"
#include "views/detail/add_existing_filter_model.h"
#include "views/detail/add_existing_list_model.h"
#include "views/detail/add_existing_options_button.h"
#include "views/detail/add_existing_row_delegate.h"
#include "views/detail/detail_look.h"
#include "views/detail/placeholder_text.h"
#include "views/detail/version_bundle_header_view.h"
#include "views/detail/version_bundle_summary_label.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace vantrel {

namespace {

QFrame* divider(QFrame::Shape shape, QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(shape);
    line->setFrameShadow(QFrame::Plain);
    line->setStyleSheet(QStringLiteral("color: %1;").arg(design::withOpacity(Qt::white, 0.1).name(QColor::HexArgb)));
    return line;
}

QString addTitle(const std::shared_ptr<AnyContainerItem>& container)
{
    if (std::dynamic_pointer_cast<Collection>(container))
        return Strings::addToCollectionActionTitle();
    if (std::dynamic_pointer_cast<Document>(container))
        return Strings::addToDocumentActionTitle();
    return Strings::addButtonTitle();
}

void showFailure(AlertModel* alert, std::exception_ptr failure)
{
    if (alert)
        alert->show(*errorFrom(std::move(failure)));
}

// Runs on its own copies: the sheet closes before the add starts. A failure closes at most the
// sheet the add came from, never a sheet opened since.
QCoro::Task<> runAdd(std::shared_ptr<AddExistingVersionBundle> model, QPointer<AlertModel> alert,
                     QPointer<ToolbarProgressIndicator> progress, QPointer<AddExistingVersionBundleView> sheet,
                     QString text)
{
    if (progress)
        progress->setState(ToolbarProgressIndicator::State::busy(text));
    std::exception_ptr failure;
    try {
        co_await model->add();
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        showFailure(alert, failure);
        if (sheet)
            Q_EMIT sheet->dismissRequested();
    }
    if (progress)
        progress->setState(ToolbarProgressIndicator::State::idle());
}

} // namespace

AddExistingVersionBundleView::AddExistingVersionBundleView(std::shared_ptr<AddExistingVersionBundle> model,
                                                           AlertModel* alert, ToolbarProgressIndicator* progress,
                                                           QWidget* parent)
    : QWidget(parent),
      m_model(std::move(model)),
      m_alert(alert),
      m_progress(progress)
{
    setObjectName(QStringLiteral("addExistingSheet"));
    setMinimumSize(minimumWidth, minimumHeight);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeSidebar(), 1);
    layout->addWidget(makeDetail(), 1);

    AddExistingVersionBundle* picker = m_model.get();
    connect(picker, &AddExistingVersionBundle::itemsChanged, this, &AddExistingVersionBundleView::refreshList);
    connect(picker, &AddExistingVersionBundle::searchEntryChanged, this, &AddExistingVersionBundleView::refreshFilter);
    connect(picker, &AddExistingVersionBundle::sortingOptionsChanged, this, &AddExistingVersionBundleView::refreshList);
    connect(picker, &AddExistingVersionBundle::loadingChanged, this, &AddExistingVersionBundleView::refreshResultsPage);
    connect(picker, &AddExistingVersionBundle::selectionChanged, this, [this] {
        selectionToList();
        refreshDetail();
    });
    connect(picker, &AddExistingVersionBundle::indexingOptionsChanged, this, [this] {
        refreshList();
        refreshDetail();
        reload();
    });
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &AddExistingVersionBundleView::selectionFromList);
    refreshList();
    refreshDetail();
}

AddExistingVersionBundleView::~AddExistingVersionBundleView() = default;

QWidget* AddExistingVersionBundleView::makeSidebar()
{
    auto* sidebar = new QWidget(this);
    sidebar->setMinimumWidth(220);
    auto* column = new QVBoxLayout(sidebar);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    auto* search = new QHBoxLayout;
    search->setContentsMargins(10, 10, 10, 0);
    search->setSpacing(8);
    m_filter = new QLineEdit(sidebar);
    m_filter->setObjectName(QStringLiteral("filter"));
    m_filter->setPlaceholderText(Strings::filterPlaceholder());
    m_filter->setFixedHeight(28);
    m_filter->addAction(design::IconProvider::icon(QStringLiteral("magnifyingglass")), QLineEdit::LeadingPosition);
    m_filter->setText(m_model->searchEntry());
    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString& text) { m_model->setSearchEntry(text); });
    search->addWidget(m_filter, 1);

    m_options = makeAddExistingOptionsButton(*m_model, sidebar);
    search->addWidget(m_options);
    column->addLayout(search);
    column->addWidget(divider(QFrame::HLine, sidebar));

    m_results = new QStackedWidget(sidebar);
    auto* loading = new QWidget(m_results);
    auto* loadingLayout = new QVBoxLayout(loading);
    m_spinner = new InProgressView(ControlSize::small, loading);
    loadingLayout->addStretch(1);
    loadingLayout->addWidget(m_spinner, 0, Qt::AlignCenter);
    loadingLayout->addStretch(1);
    m_empty = new PlaceholderText(QString(), m_results);
    m_list = new QListView(m_results);
    m_list->setObjectName(QStringLiteral("candidates"));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_delegate = new AddExistingRowDelegate(m_list);
    m_list->setItemDelegate(m_delegate);
    m_listModel = new AddExistingListModel(m_list);
    m_filterModel = new AddExistingFilterModel(m_listModel, m_list);
    m_list->setModel(m_filterModel);
    m_results->addWidget(loading);
    m_results->addWidget(m_empty);
    m_results->addWidget(m_list);
    column->addWidget(m_results, 1);
    return sidebar;
}

QWidget* AddExistingVersionBundleView::makeDetail()
{
    auto* detail = new QWidget(this);
    detail->setMinimumWidth(420);
    auto* row = new QHBoxLayout(detail);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(divider(QFrame::VLine, detail));
    auto* column = new QVBoxLayout;
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);
    row->addLayout(column, 1);

    m_description = new QStackedWidget(detail);
    m_description->addWidget(new PlaceholderText(Strings::nothingSelected(), m_description));
    auto* selected = new QWidget(m_description);
    auto* selectedLayout = new QVBoxLayout(selected);
    selectedLayout->setContentsMargins(0, 0, 0, 0);
    m_header = new VersionBundleHeaderView({}, selected);
    m_header->setContentsMargins(16, 16, 16, 0);
    selectedLayout->addWidget(m_header);
    selectedLayout->addWidget(divider(QFrame::HLine, selected));
    m_usedInTitle = plainLabel(selected);
    setTextColor(*m_usedInTitle, design::withOpacity(palette().color(QPalette::WindowText), 0.55));
    m_usedInTitle->setContentsMargins(16, 0, 16, 0);
    selectedLayout->addWidget(m_usedInTitle);
    auto* scroll = new QScrollArea(selected);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->viewport()->setAutoFillBackground(false);
    m_usedIn = new QWidget(scroll);
    m_usedIn->setObjectName(QStringLiteral("usedIn"));
    m_usedInLayout = new QVBoxLayout(m_usedIn);
    m_usedInLayout->setContentsMargins(16, 0, 16, 16);
    m_usedInLayout->setSpacing(6);
    m_usedInLayout->addStretch(1);
    scroll->setWidget(m_usedIn);
    selectedLayout->addWidget(scroll, 1);
    m_description->addWidget(selected);
    column->addWidget(m_description, 1);

    auto* footer = new QVBoxLayout;
    footer->setSpacing(0);
    m_limitBox = new QWidget(detail);
    auto* limitLayout = new QVBoxLayout(m_limitBox);
    limitLayout->setContentsMargins(0, 0, 0, 0);
    limitLayout->setSpacing(4);
    m_limit = plainLabel(m_limitBox);
    m_limit->setObjectName(QStringLiteral("limitMessage"));
    m_limit->setAlignment(Qt::AlignCenter);
    m_limit->setFont(subheadlineFont(m_limit->font()));
    setTextColor(*m_limit, design::withOpacity(design::neutral(9), 0.55));
    limitLayout->addWidget(divider(QFrame::HLine, m_limitBox));
    limitLayout->addWidget(m_limit);
    limitLayout->addWidget(divider(QFrame::HLine, m_limitBox));
    footer->addWidget(m_limitBox);
    m_singleDivider = divider(QFrame::HLine, detail);
    footer->addWidget(m_singleDivider);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(16, 10, 16, 10);
    buttons->setSpacing(8);
    buttons->addStretch(1);
    m_cancel = new QPushButton(Strings::cancelActionTitle(), detail);
    m_cancel->setShortcut(Qt::Key_Escape);
    connect(m_cancel, &QPushButton::clicked, this, &AddExistingVersionBundleView::dismissRequested);
    m_add = new QPushButton(addTitle(m_model->container()), detail);
    m_add->setDefault(true);
    m_add->setAutoDefault(true);
    connect(m_add, &QPushButton::clicked, this, &AddExistingVersionBundleView::add);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_add);
    footer->addLayout(buttons);
    column->addLayout(footer);
    return detail;
}

void AddExistingVersionBundleView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        reload();
    }
}

void AddExistingVersionBundleView::reload()
{
    readIndex();
}

QCoro::Task<> AddExistingVersionBundleView::readIndex()
{
    const quint64 generation = ++m_readGeneration;
    QPointer<AddExistingVersionBundleView> self(this);
    std::shared_ptr<AddExistingVersionBundle> model = m_model;
    model->setLoading(true);
    auto work = [provider = model->indexProvider(), options = model->indexingOptions()] { return provider(options); };
    std::exception_ptr failure;
    std::optional<VersionBundlesIndex> fresh;
    try {
        fresh = co_await onWorker(std::move(work));
    } catch (...) {
        failure = std::current_exception();
    }
    // A newer read, or the sheet's end, makes this one moot.
    if (!self || generation != m_readGeneration)
        co_return;
    if (fresh) {
        model->showIndex(std::move(*fresh));
        co_return;
    }
    // Nothing listed is better than candidates of other options under this one's headings.
    model->setItems({});
    model->setSelection({});
    model->setLoading(false);
    showFailure(m_alert, failure);
}

void AddExistingVersionBundleView::add()
{
    const QList<VersionBundle::Summary> selection = m_model->selectionInDisplayOrder();
    if (selection.isEmpty() || m_model->exceedsAcceptanceLimit())
        return;
    const QString name = selection.size() == 1 ? selection.first().name() : Strings::multipleItems();
    const QString text = formatText(Strings::addingProgress(), name);
    Q_EMIT dismissRequested();
    runAdd(m_model, m_alert, m_progress, QPointer<AddExistingVersionBundleView>(this), text);
}

void AddExistingVersionBundleView::refreshList()
{
    const bool trash = isTrashMode(m_model->indexingOptions());
    m_delegate->setShowsTrash(trash);
    m_syncingSelection = true;
    // Every candidate as if nothing were typed; the filter then picks and ranks them.
    m_listModel->setSections(categorizedResults(rankedItems(m_model->items(), QString(), m_model->indexingOptions()),
                                                m_model->sortingOptions()),
                             m_model->titleSuffix());
    m_syncingSelection = false;
    refreshFilter();
}

void AddExistingVersionBundleView::refreshFilter()
{
    m_syncingSelection = true;
    m_filterModel->setSearch(m_model->searchEntry(), m_model->indexingOptions());
    m_syncingSelection = false;
    selectionToList();
    refreshResultsPage();
}

void AddExistingVersionBundleView::refreshResultsPage()
{
    m_empty->setString(m_model->emptyMessage());
    if (m_model->loading())
        m_results->setCurrentIndex(0);
    else
        m_results->setCurrentIndex(m_filterModel->rowCount() == 0 ? 1 : 2);
}

void AddExistingVersionBundleView::selectionFromList()
{
    if (m_syncingSelection)
        return;
    // Selected candidates the filter hides stay selected.
    QSet<VersionBundle::Summary> selection = m_model->selection();
    for (int row = 0; row < m_filterModel->rowCount(); ++row) {
        if (const auto summary = m_filterModel->summary(row))
            selection.remove(*summary);
    }
    for (const QModelIndex& index : m_list->selectionModel()->selectedIndexes()) {
        if (const auto summary = m_filterModel->summary(index.row()))
            selection.insert(*summary);
    }
    m_syncingSelection = true;
    m_model->setSelection(std::move(selection));
    m_syncingSelection = false;
}

void AddExistingVersionBundleView::selectionToList()
{
    if (m_syncingSelection)
        return;
    m_syncingSelection = true;
    QItemSelection rows;
    for (const auto& summary : m_model->selection()) {
        const int row = m_filterModel->rowOf(summary);
        if (row >= 0)
            rows.select(m_filterModel->index(row, 0), m_filterModel->index(row, 0));
    }
    m_list->selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect);
    m_syncingSelection = false;
}

void AddExistingVersionBundleView::refreshDetail()
{
    const QList<VersionBundle::Summary> selection = m_model->selectionInDisplayOrder();
    m_description->setCurrentIndex(selection.isEmpty() ? 0 : 1);
    m_header->setSelection(selection);
    const QList<VersionBundle::Summary> usedIn = m_model->selectedItems();
    m_usedInTitle->setText(usedIn.isEmpty() ? Strings::notInUse() : Strings::usedInTitle());
    while (m_usedInLayout->count() > 1) {
        QLayoutItem* item = m_usedInLayout->takeAt(0);
        delete item->widget();
        delete item;
    }
    const bool trash = isTrashMode(m_model->indexingOptions());
    for (int i = 0; i < usedIn.size(); ++i)
        m_usedInLayout->insertWidget(i, new VersionBundleSummaryLabel(usedIn.at(i), false, trash, m_usedIn));

    const std::optional<QString> limit = m_model->limitMessage();
    m_limit->setText(limit.value_or(QString()));
    m_limitBox->setVisible(limit.has_value());
    m_singleDivider->setVisible(!limit.has_value());
    m_add->setEnabled(!selection.isEmpty() && !m_model->exceedsAcceptanceLimit());
}

} // namespace vantrel
