#pragma once

#include "design/ribbon.h"
#include "foundation/publisher.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QSplitter;
class QStackedWidget;
class QVBoxLayout;

namespace vantrel {

namespace design {
class RibbonView;
}

class CollectionList;
class Team;

// A loaded team: the toolbar (back, home, the ribbon, the progress, the share's state while it
// can't be reached, and the user with the team's name) over a split view whose sidebar lists the collections and whose detail shows, by the
// navigation's focus, the trash, the selected collection's content or the welcome view.
class TeamView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int sidebarMinimumWidth = 230;

    // The toolbar's ribbon shows what `ribbon` selects (nothing without one); it must outlive
    // the view.
    explicit TeamView(Team& team, design::Prioritizer<design::Ribbon>* ribbon = nullptr, QWidget* parent = nullptr);
    ~TeamView() override;

    Team& team() const { return m_team; }
    QWidget* sidebar() const { return m_sidebar; }
    CollectionList* collectionList() const { return m_collectionList; }
    // The detail on screen: a TrashManagerView, a CollectionContentView or a WelcomeView.
    QWidget* detail() const { return m_detail; }
    // The toolbar's message that the team bundle's share can't be reached, shown only then.
    design::RibbonView* shareRibbon() const { return m_shareRibbon; }

    // Whether the sidebar is shown; hiding it gives its width to the detail.
    bool isSidebarVisible() const { return m_sidebarVisible; }
    void setSidebarVisible(bool visible);

Q_SIGNALS:
    void sidebarVisibleChanged(bool visible);

private:
    enum class DetailKind { none, trash, collection, welcome };

    QWidget* makeSidebar();
    void followCollections();
    void followNavigation();
    void followShare();

    Team& m_team;
    QSplitter* m_splitter = nullptr;
    QWidget* m_sidebar = nullptr;
    QStackedWidget* m_sidebarPages = nullptr;
    QWidget* m_placeholderPage = nullptr;
    QWidget* m_listPage = nullptr;
    CollectionList* m_collectionList = nullptr;
    QWidget* m_detailHost = nullptr;
    QVBoxLayout* m_detailLayout = nullptr;
    QPointer<QWidget> m_detail;
    DetailKind m_detailKind = DetailKind::none;
    std::weak_ptr<void> m_detailCollection;
    bool m_sidebarVisible = true;
    PassthroughSubject<QList<design::Ribbon>> m_shareMessages;
    design::RibbonView* m_shareRibbon = nullptr;
};

} // namespace vantrel
