#pragma once

#include "packages/components/animated_binding.h"

#include <QWidget>

#include <memory>
#include <utility>
#include <vector>

class QVariantAnimation;

namespace vantrel {

// The row of page dots behind CircleTabBar<Page>, which knows the pages by position only.
// One dot per page with 5 points between them; the selected page's dot is a wide pill at full
// opacity, the others small circles at 0.4; a dot under the pointer grows and pushes its
// neighbours apart. Clicking a dot selects its page. Every change of look springs.
class CircleTabBarBase : public QWidget {
    Q_OBJECT
public:
    // How one dot is drawn: its frame, opacity, scale about its centre, and the space added
    // on its left and right.
    struct Look {
        double width = 0;
        double height = 0;
        double opacity = 0;
        double scale = 0;
        double horizontalPadding = 0;
        bool operator==(const Look&) const = default;
    };
    static Look look(bool selected, bool hovered);

    static constexpr double spacing = 5;

    ~CircleTabBarBase() override;

    int dotCount() const { return static_cast<int>(m_dots.size()); }
    bool isDotSelected(int index) const;
    bool isDotHovered(int index) const;
    // The look a dot is going to: that of its selected and hovered state.
    Look targetLook(int index) const;
    // The look a dot is drawn with now, on its way to the target while it springs.
    Look shownLook(int index) const;

    // Reads the selected page again and springs the dots whose selection changed.
    void updateSelection();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    CircleTabBarBase(int pageCount, QWidget* parent);

    virtual bool isPageSelected(int index) const = 0;
    virtual void selectPage(int index) = 0;

    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct Dot;

    double rowWidth() const;
    int dotAt(QPointF position) const;
    void setHovered(int index);
    void animate(Dot& dot);

    std::vector<std::unique_ptr<Dot>> m_dots;
    bool m_evaluated = false;
    int m_pressed = -1;
};

// A page indicator bound to a selected page. `Page` values must be distinct and comparable
// with ==. The pages are taken once, when the bar is made. The selection lives in the bound
// value: call updateSelection() when it changes from elsewhere.
template<typename Page>
class CircleTabBar : public CircleTabBarBase {
public:
    CircleTabBar(Binding<Page> selectedPage, std::vector<Page> pages, QWidget* parent = nullptr)
        : CircleTabBarBase(static_cast<int>(pages.size()), parent),
          m_selectedPage(std::move(selectedPage)),
          m_pages(std::move(pages))
    {
        updateSelection();
    }

    const std::vector<Page>& pages() const { return m_pages; }

protected:
    bool isPageSelected(int index) const override { return m_pages.at(index) == m_selectedPage.get(); }
    // The write animates as the bound value's setter makes it; the dots spring on their own.
    void selectPage(int index) override
    {
        m_selectedPage.set(m_pages.at(index));
        updateSelection();
    }

private:
    Binding<Page> m_selectedPage;
    const std::vector<Page> m_pages;
};

} // namespace vantrel
