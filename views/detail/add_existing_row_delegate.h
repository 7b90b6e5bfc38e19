#pragma once

#include <QStyledItemDelegate>

class QListView;

namespace vantrel {

// Paints the rows of the add-existing list: a heading in muted bold type, or a candidate's summary
// label over the row's selection. Nothing is made per row, so a list of thousands filters as
// fast as it paints the rows in sight.
class AddExistingRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int horizontalPadding = 8;
    static constexpr int verticalPadding = 3;

    explicit AddExistingRowDelegate(QListView* view);

    // Whether the candidates' labels leave out the line telling where each is used (the trash).
    void setShowsTrash(bool trash) { m_trash = trash; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The font of the headings, from the list's own font.
    static QFont headerFont(const QFont& base);

private:
    QListView* m_view;
    bool m_trash = false;
};

} // namespace vantrel
