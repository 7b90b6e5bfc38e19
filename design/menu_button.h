#pragma once

#include <QColor>
#include <QPushButton>

namespace vantrel::design {

// A pull-down menu drawn as an action button: a rounded, filled and outlined capsule holding the
// menu's symbol (when it has one), its one-line title and a downward chevron. Pressing it opens
// the menu set with setMenu(). A disabled button keeps its shape, fill and outline and is drawn
// at a lower opacity. Its look comes from a menu button style (design/menu_button_styles.h).
class MenuButton : public QPushButton {
    Q_OBJECT
public:
    struct Look {
        QColor fill;
        QColor outline;
        int height = 32;
        int horizontalPadding = 8;
        qreal cornerRadius = 8;
        qreal disabledOpacity = 0.6;
    };

    // `symbolName` names a symbol of the icon provider; none when empty.
    explicit MenuButton(const QString& title, const QString& symbolName = {}, QWidget* parent = nullptr);

    const Look& look() const { return m_look; }
    void setLook(const Look& look);
    QString symbolName() const { return m_symbolName; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int kIconSize = 14;
    static constexpr int kChevronSize = 10;
    static constexpr int kSpacing = 6;

    int decorationWidth() const;

    QString m_symbolName;
    Look m_look;
};

} // namespace vantrel::design
