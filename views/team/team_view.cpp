#include "views/team/team_view.h"

#include "actions/selected_item_commands.h"
#include "design/icon_provider.h"
#include "design/palette.h"
#include "design/ribbon_view.h"
#include "desktop/user_identity.h"
#include "engine/team_bundle.h"
#include "model/collections.h"
#include "model/strings.h"
#include "open_team/team.h"
#include "views/detail/placeholder_text.h"
#include "views/detail/trash_manager_view.h"
#include "views/team/collection_content_view.h"
#include "views/team/collection_list.h"
#include "views/team/team_toolbar.h"
#include "views/team/user_toolbar.h"
#include "views/team/welcome_view.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace vantrel {

TeamView::TeamView(Team& team, design::Prioritizer<design::Ribbon>* ribbon, QWidget* parent)
    : QWidget(parent),
      m_team(team)
{
    setObjectName(QStringLiteral("teamView"));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, design::neutral(7));
    setPalette(palette);

    const UserIdentity& user = team.bundle()->user();
    auto* toolbar = new QWidget(this);
    toolbar->setObjectName(QStringLiteral("teamToolbarRow"));
    auto* toolbarLayout = new QHBoxLayout(toolbar);
    toolbarLayout->setContentsMargins(8, 4, 8, 4);
    toolbarLayout->addWidget(new TeamToolbar(&team.navigation(), team.progress(), ribbon, toolbar), 1);
    // A ribbon of its own, so that it never hides the application's messages nor they it.
    m_shareRibbon =
        new design::RibbonView(new design::Prioritizer<design::Ribbon>(m_shareMessages.publisher(), this), toolbar);
    m_shareRibbon->setObjectName(QStringLiteral("shareRibbon"));
    toolbarLayout->addWidget(m_shareRibbon);
    toolbarLayout->addWidget(
        new UserToolbar(team.bundle()->name(), displayName(user.fullName, user.userName), toolbar));

    m_detailHost = new QWidget(this);
    m_detailLayout = new QVBoxLayout(m_detailHost);
    m_detailLayout->setContentsMargins(16, 16, 0, 0);

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(1);
    m_splitter->addWidget(makeSidebar());
    m_splitter->addWidget(m_detailHost);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({260, 1000});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar);
    layout->addWidget(m_splitter, 1);

    connect(&team.collections(), &Collections::allChanged, this, &TeamView::followCollections);
    NavigationModel& navigation = team.navigation();
    connect(&navigation, &NavigationModel::focusChanged, this, &TeamView::followNavigation);
    connect(&navigation, &NavigationModel::selectedCollectionChanged, this, &TeamView::followNavigation);
    connect(&team, &Team::shareReachableChanged, this, &TeamView::followShare);
    followCollections();
    followNavigation();
    followShare();
}

void TeamView::followShare()
{
    QList<design::Ribbon> shown;
    if (!m_team.isShareReachable())
        shown << design::Ribbon{Strings::teamBundleUnreachable(), 1, 1.0f, {}};
    m_shareMessages.send(shown);
}

TeamView::~TeamView() = default;

void TeamView::setSidebarVisible(bool visible)
{
    if (visible == m_sidebarVisible)
        return;
    m_sidebarVisible = visible;
    m_sidebar->setVisible(visible);
    Q_EMIT sidebarVisibleChanged(visible);
}

QWidget* TeamView::makeSidebar()
{
    m_sidebar = new QWidget(this);
    m_sidebar->setObjectName(QStringLiteral("sidebar"));
    m_sidebar->setMinimumWidth(sidebarMinimumWidth);
    m_sidebarPages = new QStackedWidget(m_sidebar);
    auto* sidebarLayout = new QVBoxLayout(m_sidebar);
    sidebarLayout->setContentsMargins(0, 16, 0, 0);
    sidebarLayout->addWidget(m_sidebarPages);

    // Without collections: only the placeholder, a little above the middle.
    m_placeholderPage = new QWidget(m_sidebarPages);
    auto* placeholder = new PlaceholderText(Strings::noCollectionsOrDocuments(), m_placeholderPage);
    placeholder->setFixedWidth(158);
    auto* placeholderLayout = new QVBoxLayout(m_placeholderPage);
    placeholderLayout->setContentsMargins(0, 0, 0, 84);
    placeholderLayout->addWidget(placeholder, 0, Qt::AlignCenter);

    // With collections: the section header with its add button over the list.
    m_listPage = new QWidget(m_sidebarPages);
    auto* title = new QLabel(Strings::collectionsTitle(), m_listPage);
    title->setObjectName(QStringLiteral("collectionsTitle"));
    QPalette titlePalette = title->palette();
    titlePalette.setColor(QPalette::WindowText, design::withOpacity(design::neutral(0), 0.55));
    title->setPalette(titlePalette);
    auto* add = new QToolButton(m_listPage);
    add->setObjectName(QStringLiteral("addCollectionButton"));
    add->setAutoRaise(true);
    add->setIcon(design::IconProvider::icon(QStringLiteral("plus.app"), QColor(255, 255, 255, qRound(0.55 * 255))));
    add->setIconSize(QSize(16, 16));
    add->setToolTip(Strings::newCollectionTitle());
    connect(add, &QToolButton::clicked, this,
            [this] { SelectedItemCommands::newCollection(m_team.itemActions().createCollection()); });
    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 0, 8, 0);
    header->addWidget(title);
    header->addStretch(1);
    header->addWidget(add);

    m_collectionList = new CollectionList(m_team.collections(), m_team.navigation(), m_team.itemActions(), m_listPage);
    auto* listLayout = new QVBoxLayout(m_listPage);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(16);
    listLayout->addLayout(header);
    listLayout->addWidget(m_collectionList, 1);

    m_sidebarPages->addWidget(m_placeholderPage);
    m_sidebarPages->addWidget(m_listPage);
    return m_sidebar;
}

void TeamView::followCollections()
{
    m_sidebarPages->setCurrentWidget(m_team.collections().all().isEmpty() ? m_placeholderPage : m_listPage);
}

void TeamView::followNavigation()
{
    NavigationModel& navigation = m_team.navigation();
    const ContentViewFocus focus = navigation.focus();
    const auto collection = navigation.selectedCollection();
    DetailKind kind = DetailKind::welcome;
    if (focus == ContentViewFocus::trash)
        kind = DetailKind::trash;
    else if (focus != ContentViewFocus::home && collection)
        kind = DetailKind::collection;

    // The detail stays while it shows the same thing; the lists keep their state.
    const bool sameCollection = !m_detailCollection.owner_before(collection)
                                && !collection.owner_before(m_detailCollection) && !m_detailCollection.expired();
    if (m_detail && kind == m_detailKind && (kind != DetailKind::collection || sameCollection))
        return;

    if (m_detail) {
        m_detail->hide();
        m_detailLayout->removeWidget(m_detail);
        m_detail->deleteLater();
    }
    QWidget* detail = nullptr;
    switch (kind) {
    case DetailKind::trash: {
        detail = new TrashManagerView(m_team.trashManager(), &navigation, m_detailHost);
        detail->setContentsMargins(0, 0, 32, 24);
        break;
    }
    case DetailKind::collection:
        detail = new CollectionContentView(collection, navigation, m_team.itemActions(), m_team.alert(), m_detailHost);
        break;
    case DetailKind::welcome:
    case DetailKind::none:
        detail = new WelcomeView(&m_team.itemActions(), m_detailHost);
        break;
    }
    m_detail = detail;
    m_detailKind = kind;
    m_detailCollection = kind == DetailKind::collection ? std::weak_ptr<void>(collection) : std::weak_ptr<void>();
    m_detailLayout->addWidget(detail);
    detail->show();
}

} // namespace vantrel
