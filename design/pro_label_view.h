#pragma once

#include <QWidget>

namespace vantrel::design {

// The edition badge placed after a title: "PRO" in small capitals in a rounded frame of the
// brand colour. An opaque badge is filled with the brand colour; a see-through one has a
// faint brand tint and a brand outline, so it sits on any background. It sizes itself.
class StaticProLabelView : public QWidget {
    Q_OBJECT
public:
    explicit StaticProLabelView(bool opaque, QWidget* parent = nullptr);

    bool isOpaque() const { return m_opaque; }
    QString text() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QFont badgeFont() const;

    bool m_opaque;
};

} // namespace vantrel::design
