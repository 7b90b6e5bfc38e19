#pragma once

#include <QWidget>

namespace vantrel {

// The ground of the activity column of a collection's content: black, from nothing at the top to
// a quarter strength at the bottom, behind whatever the column holds.
class ShadedColumn final : public QWidget {
    Q_OBJECT
public:
    static constexpr double bottomOpacity = 0.25;

    explicit ShadedColumn(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vantrel
