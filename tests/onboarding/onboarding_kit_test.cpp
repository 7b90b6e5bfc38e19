// The onboarding's background, icon backdrop and buttons: their outlines, the pictures they keep,
// the blur the pointer chooses, the buttons' sizes and tints, and a picture of them together.

#include "design/dark_theme.h"
#include "design/palette.h"
#include "onboarding/app_icon_backdrop.h"
#include "onboarding/onboarding_background.h"
#include "onboarding/onboarding_button.h"

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QMouseEvent>
#include <QPainterPath>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

#include <cmath>
#include <limits>

using namespace vantrel;

namespace {

bool saveScreenshot(const QPixmap& pixmap, const QString& name)
{
    const QString folder = QStringLiteral(VANTREL_SCREENSHOT_DIR);
    return QDir().mkpath(folder) && pixmap.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

QImage drawn(QWidget& widget)
{
    QPixmap pixmap(widget.size());
    pixmap.fill(Qt::transparent);
    widget.render(&pixmap, QPoint(), QRegion(), QWidget::DrawChildren);
    return pixmap.toImage();
}

int pixelsWithAlphaAbove(const QImage& image, int alpha)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > alpha ? 1 : 0;
    return count;
}

// Every point of a path, curve control points included.
QList<QPointF> points(const QPainterPath& path)
{
    QList<QPointF> result;
    for (int i = 0; i < path.elementCount(); ++i)
        result.append(path.elementAt(i));
    return result;
}

void moveWindowPointer(QWidget& window, QPointF at)
{
    QWindow* handle = window.windowHandle();
    QMouseEvent move(QEvent::MouseMove, at, at, window.mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &move);
}

} // namespace

class OnboardingKitTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void theOutlinesScaleWithTheirRectangle()
    {
        // Collapsed: the icon to the origin, a blob of zero height to a horizontal line.
        for (const QPointF& p : points(AppIconBackdrop::outline({0, 0})))
            QCOMPARE(p, QPointF(0, 0));
        for (const QPointF& p : points(OnboardingBackground::outline(1, {611.3645, 0})))
            QCOMPARE(p.y(), 0.0);
        // Stretched on one axis only, and the outlines close where they began.
        const QRectF square = AppIconBackdrop::outline({100, 100}).controlPointRect();
        const QRectF wide = AppIconBackdrop::outline({200, 100}).controlPointRect();
        QCOMPARE(wide.width(), 2 * square.width());
        QCOMPARE(wide.height(), square.height());
        QCOMPARE(square.left(), 14.44);
        QCOMPARE(square.bottom(), 88.289);
        for (int i = 0; i < OnboardingBackground::blobCount; ++i) {
            const QPainterPath blob = OnboardingBackground::outline(i, {1, 1});
            QCOMPARE(blob.elementAt(0), blob.currentPosition());
        }
        // The two cyan blobs share colour and frame but not their shape.
        QCOMPARE(OnboardingBackground::blob(1).color, OnboardingBackground::blob(2).color);
        QCOMPARE(OnboardingBackground::blob(1).frame, OnboardingBackground::blob(2).frame);
        QVERIFY(OnboardingBackground::outline(1, {611.3645, 168.2379})
                != OnboardingBackground::outline(2, {611.3645, 168.2379}));
        QCOMPARE(OnboardingBackground::outline(0, {1, 1}).controlPointRect().top(), 0.73218);
    }

    void theBackgroundGlowsAtTheBottomAndRunsOnPastTheFrame()
    {
        const QImage frame = OnboardingBackground::render(OnboardingBackground::frameSize);
        QCOMPARE(frame.size(), QSize(385, 527));
        QVERIFY(qAlpha(frame.pixel(192, 20)) < 5); // the top stays clear
        QVERIFY(qAlpha(frame.pixel(192, 520)) > 100);

        // Given more room, the frame stays centred and the blobs show below and beside it.
        const QImage large = OnboardingBackground::render({385 + 400, 527 + 400});
        QVERIFY(qAlpha(large.pixel(392, 200 + 527 + 100)) > 100);
        QVERIFY(qAlpha(large.pixel(392, 200 + 20)) < 5);
        QVERIFY(pixelsWithAlphaAbove(large.copy(0, 700, 200, 227), 60) > 0);

        // One drawing per size, however often it is painted.
        OnboardingBackground background;
        QCOMPARE(background.sizeHint(), QSize(385, 527));
        background.resize(background.sizeHint());
        drawn(background);
        drawn(background);
        QCOMPARE(background.renderCount(), 1);
        background.resize(400, 527);
        drawn(background);
        QCOMPARE(background.renderCount(), 2);
    }

    void theBackdropBlursMostWithThePointerAtTheIconsCentre()
    {
        QCOMPARE(AppIconBackdrop::levelForRadius(10), 0);
        QCOMPARE(AppIconBackdrop::levelForRadius(20), AppIconBackdrop::levelCount - 1);
        QCOMPARE(AppIconBackdrop::levelForRadius(std::numeric_limits<double>::quiet_NaN()), 0);
        QCOMPARE(AppIconBackdrop::levelRadius(2), 15.0);

        QWidget window;
        auto* backdrop = new AppIconBackdrop;
        (new QVBoxLayout(&window))->addWidget(backdrop);
        window.resize(385, 527);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPointF centre = backdrop->mapTo(&window, backdrop->iconFrame().center());

        // Untracked, the pointer counts as at the centre: the softest level.
        QCOMPARE(backdrop->blurRadius(), 20.0);
        const QImage softest = drawn(*backdrop);

        // The window's pointer moves reach the backdrop whatever lies over it.
        moveWindowPointer(window, centre + QPointF(0, 50));
        QCOMPARE(backdrop->pointerPosition(), QPointF(0, 50));
        QCOMPARE(backdrop->blurRadius(), 15.0);
        QCOMPARE(backdrop->blurLevel(), 2);
        moveWindowPointer(window, centre + QPointF(0, 300));
        QCOMPARE(backdrop->blurRadius(), 10.0); // a floor, not zero
        QCOMPARE(backdrop->blurLevel(), 0);
        const QImage sharpest = drawn(*backdrop);
        moveWindowPointer(window, centre + QPointF(3, -4));
        QCOMPARE(backdrop->blurLevel(), AppIconBackdrop::levelCount - 1);

        // The softer picture spreads its faint edge wider and keeps less of its core.
        QVERIFY(pixelsWithAlphaAbove(softest, 4) > pixelsWithAlphaAbove(sharpest, 4));
        QVERIFY(pixelsWithAlphaAbove(softest, 180) < pixelsWithAlphaAbove(sharpest, 180));
    }

    void buttonsKeepTheirHeightAndWidenOnlyForLongLabels()
    {
        QCOMPARE(OnboardingButton::heightForPoints(42), OnboardingButton::Height::tall);
        QCOMPARE(OnboardingButton::heightForPoints(32), OnboardingButton::Height::compact);
        QVERIFY(!OnboardingButton::heightForPoints(40));
        QVERIFY(!OnboardingButton::heightForPoints(std::nan("")));

        OnboardingButton tall(QStringLiteral("Next"), OnboardingButton::Height::tall);
        tall.resize(tall.sizeHint());
        QCOMPARE(tall.pillRect().size(), QSizeF(304, 42));
        OnboardingButton compact(QString(200, QLatin1Char('W')), OnboardingButton::Height::compact);
        compact.resize(compact.sizeHint());
        QCOMPARE(compact.pillRect().height(), 32.0);
        QVERIFY(compact.pillRect().width() > 304);
        QVERIFY(compact.pillRect().width() >= compact.fontMetrics().horizontalAdvance(compact.text()) + 16);
    }

    void pressingDoublesTheTintAndDisablingAlmostRemovesIt()
    {
        QCOMPARE(OnboardingButton::fillOpacity(false, true), 0.2);
        QCOMPARE(OnboardingButton::fillOpacity(true, true), 0.4);
        QVERIFY(std::abs(OnboardingButton::fillOpacity(false, false) - 0.018) < 1e-12);
        QVERIFY(std::abs(OnboardingButton::fillOpacity(true, false) - 0.036) < 1e-12);

        QWidget parent;
        auto* button = new OnboardingButton(QString(), OnboardingButton::Height::tall, &parent);
        button->resize(button->sizeHint());
        const QPoint inside = button->pillRect().center().toPoint();
        const auto tint = [&] { return qAlpha(drawn(*button).pixel(inside)); };
        const int idle = tint();
        QVERIFY(std::abs(idle - 51) <= 2);
        button->setDown(true);
        QVERIFY(std::abs(tint() - 102) <= 2);
        button->setDown(false);
        parent.setEnabled(false);
        QVERIFY(tint() <= 6);

        // Presses count inside the rounded pill only, not in the room kept for its shadow.
        parent.setEnabled(true);
        parent.show();
        QSignalSpy clicks(button, &QPushButton::clicked);
        QTest::mouseClick(button, Qt::LeftButton, {}, inside);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(inside.x(), button->height() - 1));
        QCOMPARE(clicks.count(), 1);
    }

    void theOnboardingFrameTogether()
    {
        QWidget window;
        window.setAutoFillBackground(true);
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, design::neutral(7));
        window.setPalette(palette);
        auto* grid = new QGridLayout(&window);
        grid->setContentsMargins(0, 0, 0, 0);
        auto* background = new OnboardingBackground;
        auto* backdrop = new AppIconBackdrop;
        grid->addWidget(background, 0, 0);
        grid->addWidget(backdrop, 0, 0);
        auto* front = new QWidget;
        auto* column = new QVBoxLayout(front);
        column->setContentsMargins(0, 0, 0, 24);
        column->addStretch();
        auto* open =
            new OnboardingButton(QStringLiteral("Open an Existing Team Bundle"), OnboardingButton::Height::compact);
        auto* next = new OnboardingButton(QStringLiteral("Next"), OnboardingButton::Height::tall);
        next->setDown(true);
        column->addWidget(open, 0, Qt::AlignHCenter);
        column->addWidget(next, 0, Qt::AlignHCenter);
        grid->addWidget(front, 0, 0);
        window.resize(385, 527);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QPixmap picture(window.size() * 2);
        picture.setDevicePixelRatio(2);
        window.render(&picture);
        QVERIFY(saveScreenshot(picture, QStringLiteral("onboarding_kit")));
        const QImage image = window.grab().toImage();
        // The icon's tint near the top, the glow along the bottom, the plain window between.
        const QColor icon = image.pixelColor(backdrop->iconFrame().center().toPoint());
        QVERIFY(icon.red() > design::neutral(7).red() + 20);
        QVERIFY(image.pixelColor(20, 515) != design::neutral(7));
        QCOMPARE(next->mapTo(&window, next->pillRect().bottomLeft().toPoint()).y() <= 527, true);
    }
};

QTEST_MAIN(OnboardingKitTest)
#include "onboarding_kit_test.moc"
