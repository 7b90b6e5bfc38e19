#pragma once

#include <QWidget>

class QPainter;

namespace vantrel {

// A small outlined badge with a short title, lightening what lies beneath it.
class Tag final : public QWidget {
    Q_OBJECT
public:
    explicit Tag(const QString& title, QWidget* parent = nullptr);

    QString title() const { return m_title; }
    QSize sizeHint() const override;

    // The badge's size for `title`, and the badge drawn with its top left corner at `origin`;
    // the item label draws its tags through these.
    static QSize size(const QString& title);
    static void paint(QPainter& painter, const QPoint& origin, const QString& title);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_title;
};

} // namespace vantrel
