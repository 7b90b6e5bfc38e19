#pragma once

#include "design/ribbon.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QSplitter;
class QStackedWidget;
class QVBoxLayout;

namespace vantrel {

class CollectionList;
class Team;

// A loaded team: the toolbar (back, home, the ribbon, the progress, and the user with the team's
// name) over a split view whose sidebar lists the collections and whose detail shows, by the
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
};

} // namespace vantrel
