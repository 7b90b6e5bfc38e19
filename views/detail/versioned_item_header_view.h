#pragma once

#include <QWidget>

#include <memory>

class QLabel;

namespace vantrel {

class VersionedItem;

// The header of one live item (a collection, a document or an event): its 56-pixel icon and its
// name in large bold type on one line. It follows the item: a rename shows at once. When the
// pane is narrower than the name, the name ends in an ellipsis rather than widening the window.
class VersionedItemHeaderView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int iconSize = 56;

    explicit VersionedItemHeaderView(std::shared_ptr<VersionedItem> item, QWidget* parent = nullptr);

    const std::shared_ptr<VersionedItem>& item() const { return m_item; }
    // The full name shown, before any ellipsis.
    QString title() const;
    QLabel* nameLabel() const { return m_name; }

private:
    void refresh();

    std::shared_ptr<VersionedItem> m_item;
    QLabel* m_icon = nullptr;
    QLabel* m_name = nullptr;
    QString m_title;
};

} // namespace vantrel
