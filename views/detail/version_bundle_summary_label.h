#pragma once

#include "engine/version_bundle.h"

#include <QWidget>

class QLabel;
class QPainter;

namespace vantrel {

// The label of one version bundle in lists: its type icon and name and, on request, a second
// line telling where it is used. With `displayTrashedState` a trashed item's name carries the
// trash mark and the trash counts among its containers.
class VersionBundleSummaryLabel final : public QWidget {
    Q_OBJECT
public:
    static constexpr int iconSize = 24;

    VersionBundleSummaryLabel(VersionBundle::Summary summary, bool displayContainerInfo, bool displayTrashedState,
                              QWidget* parent = nullptr);

    // The label's height: two lines with the container line, else one.
    static int labelHeight(bool displayContainerInfo) { return displayContainerInfo ? 28 : 24; }
    // Draws what the widget shows into `rect` (labelHeight(...) high), in the type sizes of `baseFont`;
    // for lists that paint their rows rather than hold a widget per row.
    static void paint(QPainter& painter, const QRect& rect, const VersionBundle::Summary& summary,
                      bool displayContainerInfo, bool displayTrashedState, const QFont& baseFont);

    // The name, with " (Trash)" after it for a trashed item when the trash is shown.
    static QString nameText(const VersionBundle::Summary& summary, bool displayTrashedState);
    // "Trash" when no container uses the item, the one container's name as it stands, or
    // "In 3 Collections". A container's name is only ever inserted as data.
    static QString containerText(const VersionBundle::Summary& summary, bool displayTrashedState);

    const VersionBundle::Summary& summary() const { return m_summary; }
    QLabel* nameLabel() const { return m_name; }
    // Absent without the container line.
    QLabel* containerLabel() const { return m_containers; }

private:
    VersionBundle::Summary m_summary;
    QLabel* m_name = nullptr;
    QLabel* m_containers = nullptr;
};

} // namespace vantrel
