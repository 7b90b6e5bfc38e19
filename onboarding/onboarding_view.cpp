#include "onboarding/onboarding_view.h"

#include "onboarding/page_transition.h"

#include "design/palette.h"
#include "model/strings.h"
#include "onboarding/onboarding_button.h"
#include "onboarding/onboarding_model.h"
#include "packages/components/animated_binding.h"
#include "packages/components/circle_tab_bar.h"

#include <QEvent>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <vector>

namespace vantrel {

OnboardingView::OnboardingView(OnboardingModel* model, QWidget* parent)
    : QWidget(parent),
      m_model(model),
      m_shownPage(model->currentPage())
{
    setObjectName(QStringLiteral("onboardingView"));
    setFixedSize(fixedSize);
    if (!model->parent())
        model->setParent(this);

    m_background = model->makeBackground(this);
    if (m_background)
        m_background->setGeometry(rect());

    m_column = new QWidget(this);
    m_column->setObjectName(QStringLiteral("onboardingColumn"));
    auto* column = new QVBoxLayout(m_column);
    // The page spans the whole width (its text block reaches past the column, as the page
    // template lays it out); the dots and buttons keep the column's margins.
    column->setContentsMargins(0, padding, 0, padding);
    column->setSpacing(columnSpacing);

    // The page view is placed by hand, not by a layout, so that a transition can move the leaving
    // and the coming page freely.
    m_pageContainer = new QWidget(m_column);
    m_pageContainer->setObjectName(QStringLiteral("onboardingPageContainer"));
    m_pageContainer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_pageContainer->installEventFilter(this);
    column->addWidget(m_pageContainer, 1);

    // The page dots write the current page through an animated binding, as Next does.
    const QPointer<OnboardingModel> weak(model);
    Binding<OnboardingPage> selected{
        [weak, fallback = model->currentPage()] { return weak ? weak->currentPage() : fallback; },
        [weak](const OnboardingPage& page) {
            if (weak)
                weak->setCurrentPage(page);
        }};
    const QList<OnboardingPage>& pages = model->pages();
    m_tabBar = new CircleTabBar<OnboardingPage>(selected.withDefaultAnimation(),
                                                std::vector<OnboardingPage>(pages.begin(), pages.end()));
    m_tabBar->setObjectName(QStringLiteral("onboardingTabBar"));
    auto* dots = new QWidget(m_column);
    auto* dotsLayout = new QVBoxLayout(dots);
    dotsLayout->setContentsMargins(padding, 8, padding, 8);
    dotsLayout->addWidget(m_tabBar, 0, Qt::AlignHCenter);
    column->addWidget(dots);

    m_buttonArea = new QWidget(m_column);
    m_buttonArea->setObjectName(QStringLiteral("onboardingButtonArea"));
    auto* buttons = new QVBoxLayout(m_buttonArea);
    buttons->setContentsMargins(padding + 8, 0, padding + 8, 0);
    buttons->setSpacing(0);

    m_nextStack = new QWidget(m_buttonArea);
    auto* nextLayout = new QVBoxLayout(m_nextStack);
    nextLayout->setContentsMargins(0, 0, 0, 0);
    nextLayout->setSpacing(16);
    m_nextButton = new OnboardingButton(QString(), OnboardingButton::Height::tall, m_nextStack);
    m_nextButton->setObjectName(QStringLiteral("onboardingNextButton"));
    m_nextButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    nextLayout->addWidget(m_nextButton);
    m_skipButton = new QPushButton(Strings::skipOnboardingButtonTitle(), m_nextStack);
    m_skipButton->setObjectName(QStringLiteral("onboardingSkipButton"));
    m_skipButton->setFlat(true);
    m_skipButton->setCursor(Qt::PointingHandCursor);
    m_skipButton->setStyleSheet(
        QStringLiteral("QPushButton { background: transparent; border: none; padding: 0; color: %1; }")
            .arg(design::withOpacity(design::neutral(0), 0.4).name(QColor::HexArgb)));
    nextLayout->addWidget(m_skipButton, 0, Qt::AlignHCenter);
    buttons->addWidget(m_nextStack, 0, Qt::AlignTop);
    column->addWidget(m_buttonArea);
    // The button area keeps one height on every page, that of the taller of Next with Skip and
    // the final buttons: the page area above it then never changes size as the buttons change,
    // and a page entering next to the final buttons slides in like any other.
    int buttonsHeight = m_nextStack->sizeHint().height();
    if (const std::unique_ptr<QWidget> finalButtons{model->buildFinalButtons(m_buttonArea)})
        buttonsHeight = std::max(buttonsHeight, finalButtons->sizeHint().height());
    m_buttonArea->setFixedHeight(buttonsHeight);

    // Return runs Next and Escape runs Skip, only while they show: each shortcut belongs to its
    // button and is off while the button is hidden.
    const auto addShortcut = [this](QKeySequence keys, QPushButton* button) {
        auto* shortcut = new QShortcut(keys, button);
        connect(shortcut, &QShortcut::activated, button, &QPushButton::click);
        m_shortcuts.append(shortcut);
    };
    addShortcut(QKeySequence(Qt::Key_Return), m_nextButton);
    addShortcut(QKeySequence(Qt::Key_Enter), m_nextButton);
    addShortcut(QKeySequence(Qt::Key_Escape), m_skipButton);

    connect(m_nextButton, &QPushButton::clicked, model, &OnboardingModel::next);
    connect(m_skipButton, &QPushButton::clicked, model, &OnboardingModel::skip);
    connect(model, &OnboardingModel::changed, this, &OnboardingView::followModel);

    m_column->setGeometry(rect());
    showPage(model->makeContent(m_pageContainer));
    showButtons();
}

OnboardingView::~OnboardingView() = default;

void OnboardingView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_background)
        m_background->setGeometry(rect());
    m_column->setGeometry(rect());
}

bool OnboardingView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pageContainer && event->type() == QEvent::Resize && m_page)
        placePage(m_page);
    return QWidget::eventFilter(watched, event);
}

void OnboardingView::followModel()
{
    if (!m_model)
        return;
    m_tabBar->updateSelection();
    if (m_model->currentPage() != m_shownPage) {
        m_shownPage = m_model->currentPage();
        showPage(m_model->makeContent(m_pageContainer));
    }
    showButtons();
}

void OnboardingView::showButtons()
{
    const bool next = m_model->showsNextButton();
    m_nextButton->setText(m_model->nextButtonTitle());
    m_nextStack->setVisible(next);
    for (QShortcut* shortcut : std::as_const(m_shortcuts))
        shortcut->setEnabled(next);
    if (next) {
        delete m_finalButtons;
        m_finalButtons = nullptr;
    } else if (!m_finalButtons) {
        // A model without final buttons leaves the area empty; the dots stay.
        m_finalButtons = m_model->makeFinalButtons(m_buttonArea);
        if (m_finalButtons) {
            static_cast<QVBoxLayout*>(m_buttonArea->layout())->addWidget(m_finalButtons, 0, Qt::AlignTop);
            m_finalButtons->show();
        }
    }
}

void OnboardingView::showPage(QWidget* newPage)
{
    QWidget* oldPage = m_page;
    m_page = newPage;
    if (newPage) {
        newPage->setParent(m_pageContainer);
        placePage(newPage);
    }
    // The first page appears as it is; later ones slide in while the old one fades out.
    if (!oldPage) {
        if (newPage)
            newPage->show();
        return;
    }
    if (newPage)
        newPage->show();
    PageTransition::run(m_pageContainer, oldPage, newPage);
    oldPage->hide();
    oldPage->deleteLater();
}

void OnboardingView::placePage(QWidget* page) const
{
    // Centred in the space above the dots, at its own size as far as that space allows.
    const QRect area = m_pageContainer->rect();
    // A page of fixed size keeps it; another takes the size it asks for.
    const QSize wanted = page->minimumSize() == page->maximumSize() ? page->minimumSize() : page->sizeHint();
    const QSize size = wanted.isValid() ? wanted.boundedTo(area.size()) : area.size();
    QRect frame(QPoint(0, 0), size);
    frame.moveCenter(area.center());
    page->setGeometry(frame);
}

} // namespace vantrel
