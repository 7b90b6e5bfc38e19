#pragma once

#include "onboarding/onboarding_page.h"

#include <QPointer>
#include <QSize>
#include <QWidget>

class QPushButton;
class QShortcut;

namespace vantrel {

class CircleTabBarBase;
class OnboardingModel;

// The onboarding screen, a fixed 385 × 527: the model's background over the whole of it, and,
// 32 from each edge, a column of the current page's view, the page dots and either Next (Return)
// with Skip (Escape) or the model's final buttons on the last page. The view keeps the model it
// is given for its whole life (it takes ownership of a model without a parent) and follows its
// changes; it never makes a model of its own.
class OnboardingView final : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize fixedSize{385, 527};
    static constexpr int padding = 32;
    static constexpr int columnSpacing = 16;

    explicit OnboardingView(OnboardingModel* model, QWidget* parent = nullptr);
    ~OnboardingView() override;

    OnboardingModel* model() const { return m_model; }
    QWidget* background() const { return m_background; }
    // The view of the page on screen.
    QWidget* currentPageView() const { return m_page; }
    CircleTabBarBase* tabBar() const { return m_tabBar; }
    QPushButton* nextButton() const { return m_nextButton; }
    QPushButton* skipButton() const { return m_skipButton; }
    // The model's final buttons while the last page shows; null otherwise.
    QWidget* finalButtons() const { return m_finalButtons; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void followModel();
    void showButtons();
    // Puts `newPage` on screen in place of the current page view.
    void showPage(QWidget* newPage);
    void placePage(QWidget* page) const;

    QPointer<OnboardingModel> m_model;
    OnboardingPage m_shownPage;
    QWidget* m_background = nullptr;
    QWidget* m_column = nullptr;
    QWidget* m_pageContainer = nullptr;
    QWidget* m_page = nullptr;
    CircleTabBarBase* m_tabBar = nullptr;
    QWidget* m_buttonArea = nullptr;
    QWidget* m_nextStack = nullptr;
    QPushButton* m_nextButton = nullptr;
    QPushButton* m_skipButton = nullptr;
    QWidget* m_finalButtons = nullptr;
    QList<QShortcut*> m_shortcuts;
};

} // namespace vantrel
