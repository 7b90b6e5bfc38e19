// The five onboarding pages: their size, what they show and pictures of each at rest and in the
// middle of its hover motion.

#include "design/dark_theme.h"
#include "design/palette.h"
#include "model/strings.h"
#include "onboarding/pages/collections_page.h"
#include "onboarding/pages/hover_icon.h"
#include "onboarding/pages/onboarding_pages.h"
#include "onboarding/pages/welcome_page.h"

#include "onboarding/page_template.h"
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

#include <QTest>

using namespace vantrel;

namespace {

const char* nameOf(OnboardingPage page)
{
    switch (page) {
    case OnboardingPage::intro:
        return "welcome";
    case OnboardingPage::collections:
        return "collections";
    case OnboardingPage::documents:
        return "documents";
    case OnboardingPage::eventlocking:
        return "event_locking";
    case OnboardingPage::teams:
        return "teams";
    }
    return "unknown";
}

// The page on the onboarding's dark window, as wide as the frame.
struct Stage {
    QWidget window;
    QWidget* page;
    OnboardingPage which;

    explicit Stage(OnboardingPage shown) : which(shown)
    {
        window.setAutoFillBackground(true);
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, design::neutral(7));
        window.setPalette(palette);
        window.setFixedSize(onboardingPageSize() + QSize(0, 16));
        page = makeOnboardingPage(which, &window);
        page->move(0, 8);
        window.show();
    }

    bool save(const QString& moment)
    {
        const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
        return folder.mkpath(QStringLiteral("."))
               && window.grab().save(folder.filePath(
                   QStringLiteral("onboarding_%1_%2.png").arg(QString::fromLatin1(nameOf(which)), moment)));
    }
};

} // namespace

class OnboardingPagesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void everyPageFitsItsSizeWithNothingCutOff_data()
    {
        QTest::addColumn<OnboardingPage>("page");
        for (const OnboardingPage page : allOnboardingPages())
            QTest::newRow(nameOf(page)) << page;
    }

    void everyPageFitsItsSizeWithNothingCutOff()
    {
        QFETCH(OnboardingPage, page);
        Stage stage(page);
        QCOMPARE(stage.page->size(), onboardingPageSize());
        QVERIFY(stage.page->minimumSize() == stage.page->maximumSize());
        // Fits the 385 × 527 frame, under its top padding, with room for the dots and buttons.
        QVERIFY(onboardingPageSize().width() <= 385);
        // Padding 32 at top and bottom; spacing 16 between the page, the dots (about 12 high, padded
        // by 8 above and below) and the button stack (a tall Next button of about 36, spacing 16
        // and the Skip link, about 16).
        QVERIFY(32 + onboardingPageSize().height() + 16 + (8 + 12 + 8) + 16 + (36 + 16 + 16) + 32 <= 527);

        const QRect bounds(QPoint(0, 0), stage.page->size());
        for (QWidget* child : stage.page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            QVERIFY2(bounds.contains(child->geometry()), qPrintable(child->metaObject()->className()));
        for (QLabel* label : stage.page->findChildren<QLabel*>()) {
            if (label->objectName() == QLatin1String("title"))
                QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
        }
        // The message never grows the page: it scrolls, and only when it is longer than its area.
        auto* message = stage.page->findChild<QScrollArea*>();
        QVERIFY(message);
        QVERIFY(message->widget()->findChild<QLabel*>() || qobject_cast<QLabel*>(message->widget()));

        auto* icon = stage.page->findChild<HoverIcon*>();
        QCOMPARE(icon == nullptr, page == OnboardingPage::intro);
        QVERIFY(stage.save(QStringLiteral("rest")));
        if (icon) {
            QVERIFY(icon->geometry().bottom() < 140 + 1);
            icon->setHoverProgress(0.5);
            QVERIFY(stage.save(QStringLiteral("mid_hover")));
            icon->setHoverProgress(1.0);
            QVERIFY(stage.save(QStringLiteral("hover")));
        }
    }

    void aLongMessageScrollsInsideTheFixedBlock()
    {
        // The collections message is longer than its area: it scrolls, and the page keeps its size.
        Stage stage(OnboardingPage::collections);
        auto* area = stage.page->findChild<QScrollArea*>();
        QVERIFY(area->verticalScrollBar()->maximum() > 0);
        QCOMPARE(stage.page->size(), onboardingPageSize());
    }

    void textsAreTheirEnglishKeys()
    {
        // Without a translation the English keys show, paragraph breaks and typography included.
        QCOMPARE(Strings::welcomeToMessage(), QStringLiteral("Welcome to"));
        QCOMPARE(Strings::welcomeOnboardingMessage().split(QStringLiteral("\n\n")).size(), 4);
        QVERIFY(Strings::welcomeOnboardingMessage().contains(QStringLiteral("concepts \u2013 locking")));
        QCOMPARE(Strings::collectionsOnboardingMessage().split(QStringLiteral("\n\n")).size(), 4);
        QVERIFY(Strings::collectionsOnboardingMessage().contains(QStringLiteral("you\u2019ll")));
        QVERIFY(Strings::documentsOnboardingMessage().endsWith(
            QStringLiteral("logging \u2013\u00a0and can exist in one or more Collections.")));
        QVERIFY(Strings::eventLockingOnboardingMessage().startsWith(
            QStringLiteral("Using Final Cut Pro? \n\nIf you add or import a Library into Vantrel, those\nEvents")));
        QCOMPARE(Strings::teamsOnboardingMessage().split(QStringLiteral("\n\n")).size(), 3);
        for (const QString& text : {Strings::welcomeOnboardingMessage(), Strings::documentsOnboardingMessage(),
                                    Strings::teamsOnboardingMessage()})
            QVERIFY(!text.endsWith(QLatin1Char('\n')));

        // Titles: only event locking carries the edition badge; "Collections" is never translated.
        CollectionsPage collections;
        QCOMPARE(collections.findChild<OnboardingPageTemplate*>()->titleLabel()->text(), QStringLiteral("Collections"));
        Stage locking(OnboardingPage::eventlocking);
        const auto* lockingPage = locking.page->findChild<OnboardingPageTemplate*>();
        QCOMPARE(lockingPage->titleLabel()->text(), QStringLiteral("Event locking"));
        QVERIFY(lockingPage->proLabel());
        Stage teams(OnboardingPage::teams);
        QVERIFY(!teams.page->findChild<OnboardingPageTemplate*>()->proLabel());
    }
};

QTEST_MAIN(OnboardingPagesTest)
#include "onboarding_pages_test.moc"
