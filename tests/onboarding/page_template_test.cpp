// The page layout of the onboarding: its fixed slots, the badge, and a long message.

#include "design/assets.h"
#include "design/dark_theme.h"
#include "onboarding/page_template.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

using namespace vantrel;

namespace {

QWidget* square(int side)
{
    auto* icon = new QWidget;
    icon->setFixedSize(side, side);
    return icon;
}

QRect frameIn(QWidget* w, QWidget* ancestor)
{
    return QRect(w->mapTo(ancestor, QPoint(0, 0)), w->size());
}

} // namespace

class PageTemplateTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void theSlotsKeepTheirSizesWhateverTheContent()
    {
        const QString longMessage = QStringLiteral("Every teammate sees the same collections. ").repeated(20);
        for (const QString& message : {QStringLiteral("Short."), longMessage}) {
            QWidget* icon = square(60);
            OnboardingPageTemplate page(icon, QStringLiteral("Collections"), message);
            page.resize(page.sizeHint());
            page.show();
            QVERIFY(QTest::qWaitForWindowExposed(&page));
            QCOMPARE(page.illustrationSlot()->height(), OnboardingPageTemplate::iconHeight);
            QCOMPARE(page.textBlock()->size(), OnboardingPageTemplate::textBlockSize);
            QCOMPARE(page.textBlock()->y(), OnboardingPageTemplate::iconHeight + OnboardingPageTemplate::spacing);
            // The illustration is centred in its slot at its own size.
            QCOMPARE(icon->size(), QSize(60, 60));
            QCOMPARE(frameIn(icon, page.illustrationSlot()).center().y(), (OnboardingPageTemplate::iconHeight - 1) / 2);
            QVERIFY(qAbs(frameIn(icon, &page).center().x() - page.rect().center().x()) <= 1);
            QVERIFY(page.messageLabel()->width() <= OnboardingPageTemplate::messageWidth);
            const bool scrolls = message == longMessage;
            QCOMPARE(page.messageScrollArea()->verticalScrollBar()->isVisible(), scrolls);
        }
    }

    void theTitleIsVerbatimAndTheBadgeFollowsIt()
    {
        OnboardingPageTemplate plain(nullptr, QStringLiteral("Get Started"), QStringLiteral("<b>Skip</b>"));
        QCOMPARE(plain.titleLabel()->text(), QStringLiteral("Get Started"));
        QCOMPARE(plain.messageLabel()->textFormat(), Qt::PlainText);
        QVERIFY(!plain.proLabel());

        OnboardingPageTemplate pro(nullptr, QStringLiteral("Teams"), QStringLiteral("Work together."), true);
        pro.resize(pro.sizeHint());
        pro.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pro));
        QVERIFY(pro.proLabel());
        const QRect title = frameIn(pro.titleLabel(), &pro);
        const QRect badge = frameIn(pro.proLabel(), &pro);
        QVERIFY(badge.left() > title.right());
        QVERIFY(badge.top() < title.bottom() && badge.bottom() > title.top());
        // Title and badge are centred together.
        const int pairCentre = (title.left() + badge.right()) / 2;
        QVERIFY(qAbs(pairCentre - pro.rect().center().x()) <= 2);
    }

    void screenshot()
    {
        QWidget window;
        window.setFixedSize(385, 400);
        auto* icon = new QLabel;
        icon->setPixmap(design::Assets::pixmap(QStringLiteral("EventLogo"), QSize(100, 100)));
        auto* page = new OnboardingPageTemplate(
            icon, QStringLiteral("Event Locking"),
            QStringLiteral("Lock an event while you edit it, so nobody else changes it at the same time. ").repeated(4),
            true, &window);
        page->move((window.width() - page->sizeHint().width()) / 2, 20);
        page->resize(page->sizeHint());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
        QVERIFY(folder.mkpath(QStringLiteral(".")));
        QVERIFY(window.grab().save(folder.filePath(QStringLiteral("onboarding_page_template.png"))));
    }
};

QTEST_MAIN(PageTemplateTest)
#include "page_template_test.moc"
