#include "AnimateThread.h"
#include "ControlBitmaps.h"
#include "RollPanel.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

namespace {

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void Click(QWidget* w, QPoint pos)
{
    SendMouse(w, QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton);
    SendMouse(w, QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}

void Pump()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// A panel 200 x 150 with Margin 2 and CaptionHeight 20 whose animations run
// on a clock the test moves by hand.
struct PanelFixture : ::testing::Test {
    std::unique_ptr<TRollPanel> panel = std::make_unique<TRollPanel>();
    qint64 now = 1000;

    void SetUp() override
    {
        panel->resize(200, 150);
        panel->SetMargin(2);
        panel->SetCaptionHeight(20);
        panel->Animator()->SetClock([this] { return now; });
    }

    // Runs the current animation to its end and delivers the end notification.
    void FinishAnimation()
    {
        now += panel->AnimationSpeed();
        Pump();
    }

    QPoint CaptionPoint() const { return {50, 10}; }
};

}

TEST_F(PanelFixture, DefaultsAndClientSize)
{
    TRollPanel fresh;
    EXPECT_EQ(fresh.State(), rpExpanded);
    EXPECT_EQ(fresh.Radius(), 4);
    EXPECT_EQ(fresh.AnimationSpeed(), 150);
    EXPECT_EQ(fresh.Margin(), 2);
    EXPECT_EQ(fresh.CaptionHeight(), 16);
    EXPECT_TRUE(fresh.AllowResize());
    EXPECT_TRUE(fresh.Animate());
    EXPECT_FALSE(fresh.HideChildren());
    EXPECT_EQ(fresh.CaptionGradientMode(), gmAuto);
    EXPECT_EQ(fresh.PanelGradientMode(), gmAuto);
    EXPECT_TRUE(fresh.CaptionFont().bold());

    EXPECT_EQ(panel->ClientWidth(), 200 - 4 - 5);
    EXPECT_EQ(panel->ClientHeight(), 150 - 4 - 20 - 3);
    EXPECT_EQ(panel->ChildRect(), QRect(4, 26, 192, 120));
}

TEST_F(PanelFixture, AnimationSpeedHasAFloorOf50)
{
    panel->SetAnimationSpeed(10);
    EXPECT_EQ(panel->AnimationSpeed(), 50);
    EXPECT_EQ(panel->Animator()->Options().Duration, 50);
    panel->SetAnimationSpeed(300);
    EXPECT_EQ(panel->AnimationSpeed(), 300);
}

TEST_F(PanelFixture, CollapseWithoutAnimationGoesToCaptionHeightAndBack)
{
    panel->SetAnimate(false);
    int collapsed = 0;
    int expanded = 0;
    panel->OnCollapse = [&](QObject* sender) { collapsed += sender == panel.get(); };
    panel->OnExpand = [&](QObject* sender) { expanded += sender == panel.get(); };

    Click(panel.get(), CaptionPoint());
    EXPECT_EQ(panel->State(), rpCollapsed);
    EXPECT_EQ(panel->height(), 26);
    EXPECT_EQ(collapsed, 1);

    Click(panel.get(), CaptionPoint());
    EXPECT_EQ(panel->State(), rpExpanded);
    EXPECT_EQ(panel->height(), 150);
    EXPECT_EQ(expanded, 1);
}

TEST_F(PanelFixture, OnlyAReleaseInsideTheCaptionToggles)
{
    panel->SetAnimate(false);
    for (QPoint outside : {QPoint(2, 10), QPoint(197, 10), QPoint(50, 2), QPoint(50, 22),
                           QPoint(50, 80), QPoint(-5, 10)}) {
        Click(panel.get(), outside);
        EXPECT_EQ(panel->State(), rpExpanded) << outside.x() << "," << outside.y();
    }
    Click(panel.get(), QPoint(3, 3));
    EXPECT_EQ(panel->State(), rpCollapsed);
}

TEST_F(PanelFixture, CaptionClicksAreIgnoredWhenAlignedLeftRightOrClient)
{
    panel->SetAnimate(false);
    for (TAlign align : {alLeft, alRight, alClient}) {
        panel->SetAlign(align);
        Click(panel.get(), CaptionPoint());
        EXPECT_EQ(panel->State(), rpExpanded) << align;
    }
    for (TAlign align : {alTop, alBottom, alNone}) {
        panel->SetAlign(align);
        const TState before = panel->State();
        Click(panel.get(), CaptionPoint());
        EXPECT_NE(panel->State(), before) << align;
    }
}

TEST_F(PanelFixture, AnimatedCollapseEndsOnTheExactHeightAndIgnoresClicksMeanwhile)
{
    int collapsed = 0;
    panel->OnCollapse = [&](QObject*) { ++collapsed; };
    Click(panel.get(), CaptionPoint());
    EXPECT_EQ(panel->State(), rpCollapsed);
    EXPECT_FALSE(panel->Animator()->IsIdle());

    // Half-way on an ease-out curve from 150 to 26: D = -124, p = 50.
    now += 75;
    Pump();
    EXPECT_EQ(panel->height(), 150 + static_cast<int>(-124 - (-124 / 10000.0) * 2500));

    Click(panel.get(), CaptionPoint());
    EXPECT_EQ(panel->State(), rpCollapsed);

    // Time runs out between two steps: the end value is applied exactly.
    now += 74;
    Pump();
    EXPECT_NE(panel->height(), 26);
    EXPECT_EQ(collapsed, 0);
    now += 1;
    Pump();
    EXPECT_EQ(panel->height(), 26);
    EXPECT_EQ(collapsed, 1);
    EXPECT_TRUE(panel->Animator()->IsIdle());

    Click(panel.get(), CaptionPoint());
    EXPECT_EQ(panel->State(), rpExpanded);
    FinishAnimation();
    EXPECT_EQ(panel->height(), 150);
}

TEST_F(PanelFixture, OnStartExpandingCanOnlyRaiseTheTargetHeight)
{
    panel->SetAnimate(false);
    int offered = -1;
    panel->OnStartExpanding = [&](QObject*, int& size) {
        offered = size;
        size = 180;
    };
    panel->SetState(rpCollapsed);
    panel->SetState(rpExpanded);
    EXPECT_EQ(offered, 150);
    EXPECT_EQ(panel->height(), 180);

    // A height below the current (collapsed) one is not taken.
    panel->OnStartExpanding = [](QObject*, int& size) { size = 10; };
    panel->SetState(rpCollapsed);
    panel->SetState(rpExpanded);
    EXPECT_EQ(panel->State(), rpExpanded);
    EXPECT_EQ(panel->height(), 26);

    // A panel that was never collapsed keeps its own height.
    TRollPanel fresh;
    fresh.resize(100, 90);
    fresh.SetAnimate(false);
    fresh.SetState(rpExpanded);
    EXPECT_EQ(fresh.height(), 90);
}

TEST_F(PanelFixture, HiddenChildrenReappearOnlyWhenExpandingHasFinished)
{
    auto* child = new QLabel("child", panel.get());
    panel->show();
    panel->SetHideChildren(true);

    panel->SetState(rpCollapsed);
    EXPECT_FALSE(child->isVisible());   // at the start of collapsing
    FinishAnimation();
    EXPECT_FALSE(child->isVisible());

    panel->SetState(rpExpanded);
    now += 100;
    Pump();
    EXPECT_FALSE(child->isVisible());   // still expanding
    FinishAnimation();
    EXPECT_TRUE(child->isVisible());
}

TEST_F(PanelFixture, ChildrenStayWhenHideChildrenIsOff)
{
    auto* child = new QLabel("child", panel.get());
    panel->show();
    panel->SetAnimate(false);
    panel->SetState(rpCollapsed);
    EXPECT_TRUE(child->isVisible());
}

TEST_F(PanelFixture, DraggingTheBottomEdgeResizesWithAFloor)
{
    // Press in the 4-pixel band above the bottom margin, then move.
    const QPoint start(100, 150 - 2 - 2);
    SendMouse(panel.get(), QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    SendMouse(panel.get(), QEvent::MouseMove, start, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(panel->cursor().shape(), Qt::SizeVerCursor);
    SendMouse(panel.get(), QEvent::MouseMove, start + QPoint(0, 30), Qt::NoButton,
              Qt::LeftButton);
    EXPECT_EQ(panel->height(), 180);
    SendMouse(panel.get(), QEvent::MouseMove, QPoint(100, -400), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(panel->height(), 36);
    SendMouse(panel.get(), QEvent::MouseButtonRelease, QPoint(100, -400), Qt::LeftButton,
              Qt::NoButton);

    // With the button up the drag is over.
    SendMouse(panel.get(), QEvent::MouseMove, QPoint(100, 20), Qt::NoButton, Qt::NoButton);
    SendMouse(panel.get(), QEvent::MouseMove, QPoint(100, 100), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(panel->height(), 36);
    EXPECT_NE(panel->cursor().shape(), Qt::SizeVerCursor);
}

TEST_F(PanelFixture, NoDragWhenResizingIsOff)
{
    panel->SetAllowResize(false);
    const QPoint start(100, 146);
    SendMouse(panel.get(), QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    SendMouse(panel.get(), QEvent::MouseMove, start + QPoint(0, 30), Qt::NoButton,
              Qt::LeftButton);
    EXPECT_EQ(panel->height(), 150);
}

TEST_F(PanelFixture, DestroyingAPanelMidAnimationStopsCleanly)
{
    int finished = 0;
    panel->OnCollapse = [&](QObject*) { ++finished; };
    panel->SetState(rpCollapsed);
    now += 50;
    Pump();
    panel.reset();
    now += 1000;
    Pump();
    EXPECT_EQ(finished, 0);
}

TEST_F(PanelFixture, AFinishHandlerMayDestroyThePanel)
{
    QPointer<TRollPanel> watched = panel.get();
    panel->OnCollapse = [&](QObject*) { panel.reset(); };
    panel->SetState(rpCollapsed);
    FinishAnimation();
    now += 1000;
    Pump();
    EXPECT_TRUE(watched.isNull());
}

TEST_F(PanelFixture, APanelInALayoutCollapsesAndTheLayoutFollows)
{
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    auto* below = new QLabel("below");
    auto* owned = new TRollPanel;
    owned->resize(200, 150);
    owned->SetAlign(alTop);
    owned->SetAnimate(false);
    auto* inner = new QVBoxLayout(owned);
    auto* child = new QLabel("inside");
    child->setMinimumHeight(100);
    inner->addWidget(child);
    column->addWidget(owned);
    column->addWidget(below);
    column->addStretch();
    window.resize(260, 400);
    window.show();
    Pump();
    EXPECT_EQ(owned->height(), 150);
    EXPECT_TRUE(owned->ChildRect().contains(child->geometry()));
    const int belowTop = below->y();

    owned->SetState(rpCollapsed);
    Pump();
    EXPECT_EQ(owned->height(), owned->Margin() * 2 + owned->CaptionHeight() + 2);
    EXPECT_EQ(below->y(), belowTop - (150 - owned->height()));
}

TEST(AnimateThread, CurvesOfTheThreeModes)
{
    QWidget target;
    target.resize(100, 100);
    qint64 now = 0;
    auto valueAtHalfTime = [&](bool quadratic, bool easeOut) {
        TAnimationOptions options;
        options.Duration = 100;
        options.AnimatedProperty = apWidth;
        options.Quadratic = quadratic;
        options.EaseOut = easeOut;
        options.Control = &target;
        now = 0;
        TAnimateThread thread(options, 100, 300, [&] { return now; });
        thread.Start();
        now = 50;
        Pump();
        return target.width();
    };
    EXPECT_EQ(valueAtHalfTime(false, false), 200);   // 100 + 50 * 200 / 100
    EXPECT_EQ(valueAtHalfTime(true, false), 150);    // 100 + 50^2 * 0.02
    EXPECT_EQ(valueAtHalfTime(true, true), 250);     // 100 + 200 - 0.02 * 50^2
}

TEST(QadAnimator, OneAnimationAtATimeAndFinishOnTheEventLoop)
{
    QWidget target;
    target.resize(100, 100);
    qint64 now = 0;
    TQadAnimator animator;
    animator.SetClock([&] { return now; });
    animator.Options().Control = &target;
    animator.Options().AnimatedProperty = apLeft;
    animator.Options().Duration = 0;
    int finished = 0;
    animator.OnFinish = [&](QObject* sender) { finished += sender == &animator; };

    EXPECT_TRUE(animator.IsIdle());
    EXPECT_TRUE(animator.Start(0, 40));
    EXPECT_FALSE(animator.Start(0, 80));
    EXPECT_EQ(finished, 0);
    Pump();
    EXPECT_EQ(target.x(), 40);
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(animator.IsIdle());
    EXPECT_TRUE(animator.Start(40, 10));
    Pump();
    EXPECT_EQ(target.x(), 10);
}

TEST_F(PanelFixture, PaintsMarginCaptionGradientAndBody)
{
    panel->SetMarginColor(QColor(10, 200, 10));
    panel->SetBorderColor(QColor(0, 0, 0));
    panel->SetCaptionGradientMode(gmUser);
    panel->SetCaptionColorFrom(QColor(200, 0, 0));
    panel->SetCaptionColorTo(QColor(0, 0, 200));
    panel->SetPanelGradientMode(gmNone);
    panel->SetPanelColorFrom(QColor(250, 250, 200));
    QImage image = panel->grab().toImage();
    const int r = 200 - 2 - 1;

    EXPECT_EQ(image.pixelColor(0, 0), QColor(10, 200, 10));
    EXPECT_EQ(image.pixelColor(199, 149), QColor(10, 200, 10));
    EXPECT_EQ(image.pixelColor(2, 2), QColor(0, 0, 0));          // caption frame
    EXPECT_EQ(image.pixelColor(3, 20), QColor(200, 0, 0));       // gradient start, left
    EXPECT_EQ(image.pixelColor(r - 1, 20), QColor(0, 0, 200));   // gradient end, right
    EXPECT_EQ(image.pixelColor(100, 80), QColor(250, 250, 200)); // body fill

    panel->SetCaptionGradientType(gtHorizontal);
    image = panel->grab().toImage();
    EXPECT_EQ(image.pixelColor(100, 3), QColor(200, 0, 0));      // top row
    EXPECT_EQ(image.pixelColor(100, 22), QColor(0, 0, 200));     // bottom row

    panel->SetCaptionGradientMode(gmAuto);
    image = panel->grab().toImage();
    EXPECT_EQ(image.pixelColor(100, 22), QColor(222, 102, 102)); // lightened by 40 %
}

TEST_F(PanelFixture, ACollapsedPanelPaintsNoBody)
{
    panel->SetMarginColor(QColor(10, 200, 10));
    panel->SetPanelGradientMode(gmNone);
    panel->SetPanelColorFrom(QColor(250, 250, 200));
    panel->SetAnimate(false);
    panel->SetState(rpCollapsed);
    const QImage image = panel->grab().toImage();
    ASSERT_EQ(image.height(), 26);
    EXPECT_EQ(image.pixelColor(100, 24), QColor(10, 200, 10));   // bottom margin
    EXPECT_NE(image.pixelColor(100, 23), QColor(250, 250, 200)); // caption frame, no body
}

TEST(ControlBitmaps, NamedBitmapsLoadWithMagentaSeeThrough)
{
    for (const char* name : {"GLYPH1A", "GLYPH1B", "GLYPH2A", "GLYPH2B"}) {
        const QPixmap glyph = ControlBitmaps::Load(name);
        ASSERT_EQ(glyph.size(), QSize(14, 14)) << name;
        const QImage image = glyph.toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << name;   // corner is see-through
    }
    // The pressed glyph is the plain one moved one pixel right and down.
    const QImage up = ControlBitmaps::Load("GLYPH2A").toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage pressed =
        ControlBitmaps::Load("GLYPH2B").toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(up.pixel(6, 6), pressed.pixel(7, 7));
    EXPECT_EQ(qAlpha(up.pixel(6, 6)), 255);
    EXPECT_EQ(ControlBitmaps::Load("ARROWUP").size(), QSize(16, 16));
    EXPECT_EQ(ControlBitmaps::Load("ARROWDOWN").size(), QSize(16, 16));
    EXPECT_TRUE(ControlBitmaps::Load("NOSUCHBITMAP").isNull());
}

TEST(AnimateThread, AClockSetBackHoldsTheStartValue)
{
    QWidget target;
    target.resize(100, 100);
    qint64 now = 1000;
    TAnimationOptions options;
    options.Duration = 100;
    options.AnimatedProperty = apHeight;
    options.EaseOut = true;
    options.Control = &target;
    TAnimateThread thread(options, 100, 300, [&] { return now; });
    thread.Start();
    now = -50000;
    Pump();
    EXPECT_EQ(target.height(), 100);
}

TEST_F(PanelFixture, BodyBevelRunsInsideTheFrameWithRoundedLowerCorners)
{
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Light, QColor(255, 255, 0));
    pal.setColor(QPalette::Dark, QColor(0, 0, 255));
    panel->setPalette(pal);
    panel->SetBorderColor(QColor(0, 0, 0));
    panel->SetPanelGradientMode(gmNone);
    panel->SetPanelColorFrom(QColor(250, 250, 200));
    const QImage image = panel->grab().toImage();
    const QColor light(255, 255, 0), dark(0, 0, 255), frame(0, 0, 0), body(250, 250, 200);
    // Margin 2, caption 20, radius 4: L = 3, T = 24, Rr = 197, Bb = 147.

    // Left side: highlight at L + 1, shadow at L, frame at L - 1.
    EXPECT_EQ(image.pixelColor(4, 80), light);
    EXPECT_EQ(image.pixelColor(3, 80), dark);
    EXPECT_EQ(image.pixelColor(2, 80), frame);
    EXPECT_EQ(image.pixelColor(5, 80), body);

    // Right side and bottom: the highlight runs one pixel inside the frame
    // and the shadow inside the highlight, so the frame stays visible.
    for (int y : {26, 80, 140}) {
        EXPECT_EQ(image.pixelColor(197, y), frame) << y;
        EXPECT_EQ(image.pixelColor(196, y), light) << y;
        EXPECT_EQ(image.pixelColor(195, y), dark) << y;
    }
    for (int x : {20, 100, 180}) {
        EXPECT_EQ(image.pixelColor(x, 147), frame) << x;
        EXPECT_EQ(image.pixelColor(x, 146), light) << x;
        EXPECT_EQ(image.pixelColor(x, 145), dark) << x;
    }

    // The lower corners are rounded: the pixels in the corners keep the body
    // colour, the arcs pass diagonally.
    EXPECT_EQ(image.pixelColor(4, 146), body);
    EXPECT_EQ(image.pixelColor(196, 146), body);

    // A radius too large for the body draws no bevel at all.
    panel->SetRadius(200);
    const QImage plain = panel->grab().toImage();
    EXPECT_EQ(plain.pixelColor(4, 80), body);
    EXPECT_EQ(plain.pixelColor(3, 80), body);
}

TEST_F(PanelFixture, PressingShowsThePressedGlyphUntilTheNextStateChange)
{
    panel->SetCaptionGradientMode(gmNone);
    panel->SetCaptionColorFrom(QColor(0, 0, 0));
    // Glyph at x = R - 22 = 175, y = m + (C - 14) / 2 = 5. The plain
    // triangles start one row and column before the pressed ones.
    const QPoint glyph(175, 5);
    auto pixel = [&](int x, int y) { return panel->grab().toImage().pixelColor(glyph + QPoint(x, y)); };
    const QColor white(255, 255, 255), black(0, 0, 0);

    EXPECT_EQ(pixel(6, 4), white);   // GLYPH2A: tip of the up triangle
    EXPECT_EQ(pixel(0, 0), black);   // see-through corner
    SendMouse(panel.get(), QEvent::MouseButtonPress, CaptionPoint(), Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(pixel(6, 4), black);   // GLYPH2B: moved right and down
    EXPECT_EQ(pixel(7, 5), white);

    // The release collapses: GLYPH1A, the down triangle.
    SendMouse(panel.get(), QEvent::MouseButtonRelease, CaptionPoint(), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(pixel(2, 4), white);
    EXPECT_EQ(pixel(6, 8), white);

    // A click while the animation runs leaves the pressed glyph (GLYPH1B).
    ASSERT_FALSE(panel->Animator()->IsIdle());
    Click(panel.get(), CaptionPoint());
    EXPECT_EQ(panel->State(), rpCollapsed);
    EXPECT_EQ(pixel(2, 4), black);
    EXPECT_EQ(pixel(3, 5), white);

    // A press and a release outside the caption keep it pressed as well.
    FinishAnimation();
    Click(panel.get(), QPoint(100, 2));
    EXPECT_EQ(pixel(3, 5), white);
    EXPECT_EQ(panel->State(), rpCollapsed);
}

TEST_F(PanelFixture, ALongCaptionStopsBeforeTheGlyph)
{
    panel->SetCaptionGradientMode(gmNone);
    panel->SetCaptionColorFrom(QColor(0, 0, 200));
    panel->SetCaptionFontColor(QColor(255, 255, 0));
    panel->SetCaption(QStringLiteral("Motion Command Results Motion Command Results"));
    const QImage image = panel->grab().toImage();
    const int glyphLeft = 200 - 2 - 1 - 14 - 8;

    // The text reaches far to the right, but no text pixel lies in the gap
    // before the glyph.
    auto textPixelsIn = [&image](int fromX, int toX) {
        int count = 0;
        for (int x = fromX; x < toX; ++x)
            for (int y = 3; y < 22; ++y)
                count += image.pixelColor(x, y).blue() < 100 ? 1 : 0;
        return count;
    };
    EXPECT_GT(textPixelsIn(glyphLeft - 40, glyphLeft - 4), 0);
    EXPECT_EQ(textPixelsIn(glyphLeft - 4, glyphLeft), 0);
}
