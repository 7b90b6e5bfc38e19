#pragma once

#include <QWidget>

namespace vantrel {

// A one-point vertical line as tall as its place, fading from a faint white at the bottom to
// nothing at the top; it stands between the columns of a collection's content.
class GradientDivider final : public QWidget {
    Q_OBJECT
public:
    explicit GradientDivider(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vantrel
