#pragma once

#include "packages/components/animated_binding.h"

#include <QFont>
#include <QLineEdit>

class QLabel;
class QValidator;

namespace vantrel {

class Backdrop;

// A single-line field bound to a string: transparent, with a rounded border of its own whose
// colour tells whether it is being edited, in place of the style's focus frame. Every edit
// writes the whole new text into the bound value at once. The font (the system font, or the
// monospaced one, of size 13) and the validator are fixed when the field is made.
class TextField : public QLineEdit {
    Q_OBJECT
public:
    static constexpr int fontPixelSize = 13;
    static constexpr double borderWidth = 2;
    static constexpr double cornerRadius = 4;
    // Space between the field's edges and its text, on every side.
    static constexpr int textInset = 4;

    TextField(Binding<QString> value, bool monospaced, const QValidator* formatter = nullptr,
              QWidget* parent = nullptr);

    // Shows the bound value; call it when the value changes from elsewhere, also while the
    // field is being edited.
    void updateValue();

    bool isMonospaced() const { return m_monospaced; }
    // The border colour for the field's current state.
    QColor borderColor() const;
    static QColor borderColor(bool editing, bool applicationActive);
    // The rectangle the border is stroked along: 1 inside the field's own rectangle.
    QRectF borderRect() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    Binding<QString> m_value;
    const bool m_monospaced;
    const QFont m_font;
};

// A TextField on a rounded background, with a placeholder text behind it while the value is
// empty, 24 points in from the left and right. A disabled one stays disabled whatever its
// surroundings do; an enabled one follows them.
class PlaceholderField : public QWidget {
    Q_OBJECT
public:
    static constexpr int horizontalPadding = 24;
    static constexpr int placeholderPadding = 6;

    PlaceholderField(QString placeholder, Binding<QString> value, bool disabled, QWidget* parent = nullptr);

    TextField* field() const { return m_field; }
    // The placeholder while it shows, else null.
    QLabel* placeholderLabel() const;
    // Shows the bound value and the placeholder it calls for.
    void updateValue();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Binding<QString> m_value;
    TextField* m_field;
    Backdrop* m_stack;
};

} // namespace vantrel
