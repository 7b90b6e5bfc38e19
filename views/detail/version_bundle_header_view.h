#pragma once

#include "engine/version_bundle.h"

#include <QDateTime>
#include <QList>
#include <QWidget>

class QLabel;

namespace vantrel {

// The header of a selection of version bundles (the items ticked in the add-existing picker):
// for one item its name and when it was last edited, for any other number the count of items
// and "Selected"; beside it a small fanned stack of up to three icons, one per document type.
// Everything is derived from the selection each time it is set.
class VersionBundleHeaderView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int iconSize = 56;

    explicit VersionBundleHeaderView(QList<VersionBundle::Summary> selection = {}, QWidget* parent = nullptr);

    // A summary given twice (by id) counts once.
    void setSelection(QList<VersionBundle::Summary> selection);
    const QList<VersionBundle::Summary>& selection() const { return m_selection; }

    // The one item's name, or the number of items ("5 Items", also for none).
    static QString title(const QList<VersionBundle::Summary>& selection);
    // "Edited" with how long ago the one item changed, relative to `now`; "Selected" otherwise.
    static QString subtitle(const QList<VersionBundle::Summary>& selection,
                            const QDateTime& now = QDateTime::currentDateTime());
    // One summary per document type, in the order the stack draws them: by the category of the
    // type, then by name, then by id, so that the same selection always gives the same stack.
    // Of several summaries of one type, the first in that order stands for it.
    static QList<VersionBundle::Summary> iconSummaries(const QList<VersionBundle::Summary>& selection);

    QLabel* titleLabel() const { return m_title; }
    QLabel* subtitleLabel() const { return m_subtitle; }
    QLabel* iconStack() const { return m_icons; }

private:
    void refresh();

    QList<VersionBundle::Summary> m_selection;
    QLabel* m_icons = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_subtitle = nullptr;
};

} // namespace vantrel
