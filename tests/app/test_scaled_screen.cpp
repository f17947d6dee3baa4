// The main window on a screen whose scale factor makes the window's design
// size larger than the screen: it is shrunk to the screen (not below its
// minimum size) and put onto it. The scale factor is set before the
// application starts, as a user's desktop would.
#include "AppTestSupport.h"
#include "MainForm.h"

#include <QApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

TEST(ScaledScreen, WindowFitsTheScreen)
{
    TAppDriver driver;
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_GT(screen->devicePixelRatio(), 1.0);
    const QRect available = screen->availableGeometry();
    ASSERT_LT(available.height(), 779) << "the design size must not fit for this test";

    TMainWin window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_LE(window.width(), available.width());
    EXPECT_LE(window.height(), std::max(available.height(), window.minimumHeight()));
    EXPECT_GE(window.height(), window.minimumHeight());
    EXPECT_TRUE(available.intersects(window.geometry()));
    EXPECT_TRUE(available.contains(window.geometry().topLeft()));
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "1.5");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
