#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QScrollArea;
class QScrollBar;

namespace vantrel {

// The layout every onboarding page uses: a large illustration in a slot 140 high, under it, 8
// apart, a fixed block 320 wide and 180 high holding a bold title (optionally followed by the
// edition badge) and, 20 below, a centred message that scrolls inside the block when it is
// long. The block never grows, so the illustration and the title stay put whatever the message.
// Title and message are shown verbatim.
class OnboardingPageTemplate : public QWidget {
    Q_OBJECT
public:
    static constexpr int iconHeight = 140;
    static constexpr int spacing = 8;
    static constexpr QSize textBlockSize{320, 180};
    static constexpr int textSpacing = 20;
    // The message lines are 316 wide, centred in the block.
    static constexpr int messageWidth = 316;

    // Takes `illustration` (may be null: an empty slot); it is centred in its slot at its own width.
    OnboardingPageTemplate(QWidget* illustration, const QString& title, const QString& message,
                           bool showProLabel = false, QWidget* parent = nullptr);

    // A slim, see-through scroll bar for an onboarding message: a handle without arrows or groove.
    static void makeSlim(QScrollBar* bar);
    // The largest height up to `available` that shows whole lines of text wrapped in `font` at
    // `width`, so that no line is cut through while the text is scrolled to its top.
    static int wholeLinesHeight(const QFont& font, int width, int available);

    QWidget* illustrationSlot() const { return m_iconSlot; }
    QWidget* textBlock() const { return m_textBlock; }
    QLabel* titleLabel() const { return m_title; }
    QLabel* messageLabel() const { return m_message; }
    QScrollArea* messageScrollArea() const { return m_scroll; }
    // The edition badge; null unless asked for.
    QWidget* proLabel() const { return m_proLabel; }

private:
    QWidget* m_iconSlot = nullptr;
    QWidget* m_textBlock = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_message = nullptr;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_proLabel = nullptr;
};

} // namespace vantrel
