// The main window and its tool windows on a screen whose scale factor makes
// the window's design size larger than the screen: 1600 x 1000 pixels at a
// scale factor of 1.5, so 1066 x 666 in the program's coordinates. Every
// window comes back wholly on the screen, shrunk and moved only as far as it
// has to be. The screen and the scale factor are set before the application
// starts, as a user's desktop would.
#include "AppTestSupport.h"
#include "CommLogForm.h"
#include "CustomCmdForm.h"
#include "IniFile.h"
#include "MainForm.h"
#include "PlotWindow.h"
#include "ShowMainWindow.h"

#include <QAction>
#include <QApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

namespace {

class ScaledScreen : public ::testing::Test {
protected:
    void StorePlacement(const QString& section, const QRect& rect)
    {
        TIniFile ini(Driver.SettingsFolder() + QStringLiteral("/Analyzer.ini"));
        ASSERT_TRUE(ini.Write(section, {{QStringLiteral("Left"), QString::number(rect.left())},
                                           {QStringLiteral("Top"), QString::number(rect.top())},
                                           {QStringLiteral("Width"), QString::number(rect.width())},
                                           {QStringLiteral("Height"), QString::number(rect.height())},
                                           {QStringLiteral("State"), QStringLiteral("Normal")}}));
    }

    static QRect Available() { return QGuiApplication::primaryScreen()->availableGeometry(); }

    static void ExpectWhollyOnScreen(const QWidget& window)
    {
        EXPECT_TRUE(Available().contains(window.frameGeometry()))
            << window.objectName().toStdString() << " at " << window.frameGeometry().x() << ","
            << window.frameGeometry().y() << " " << window.frameGeometry().width() << "x"
            << window.frameGeometry().height();
    }

    TAppDriver Driver;
};

TEST_F(ScaledScreen, DesignSizeIsShrunkToTheScreen)
{
    ASSERT_GT(QGuiApplication::primaryScreen()->devicePixelRatio(), 1.0);
    ASSERT_LT(Available().height(), 779) << "the design size must not fit for this test";
    auto window = ShowMainWindow();
    ExpectWhollyOnScreen(*window);
    EXPECT_EQ(window->width(), 681);
}

TEST_F(ScaledScreen, OnlyTheSizeTheOperatorChoseIsStored)
{
    const auto storedSize = [this] {
        const TIniFile ini(Driver.SettingsFolder() + QStringLiteral("/Analyzer.ini"));
        return QSize(ini.ReadInteger(QStringLiteral("MainWin"), QStringLiteral("Width"), 0),
                     ini.ReadInteger(QStringLiteral("MainWin"), QStringLiteral("Height"), 0));
    };
    // Shrunk to the screen at the start, the design size is what is kept: a
    // start on a larger screen opens at full size again.
    auto window = ShowMainWindow();
    ASSERT_LT(window->height(), 779);
    window.reset();
    EXPECT_EQ(storedSize(), QSize(681, 779));

    // The same holds for a stored size shrunk at the start.
    StorePlacement(QStringLiteral("MainWin"), QRect(40, 20, 900, 1200));
    window = ShowMainWindow();
    ASSERT_LT(window->height(), 1200);
    window.reset();
    EXPECT_EQ(storedSize(), QSize(900, 1200));

    // A size the operator chose after the shrink is stored.
    window = ShowMainWindow();
    window->resize(640, 520);
    window.reset();
    EXPECT_EQ(storedSize(), QSize(640, 520));
}

TEST_F(ScaledScreen, StoredPlacementLargerThanTheScreenIsShrunkAndMoved)
{
    // The placement a run at scale factor 1 left behind.
    StorePlacement(QStringLiteral("MainWin"), QRect(100, 197, 681, 779));
    auto window = ShowMainWindow();
    ExpectWhollyOnScreen(*window);
    // Positions round to whole pixels of the screen.
    EXPECT_NEAR(window->x(), 100, 1) << "moved only as far as needed";
    EXPECT_EQ(window->width(), 681) << "a width that fits is kept";
    EXPECT_LT(window->height(), 779);
    // The Fast Stop button can be reached.
    const QRect button(window->btnEmergencyStop->mapTo(window.get(), QPoint(0, 0)), window->btnEmergencyStop->size());
    EXPECT_TRUE(window->rect().contains(button));
}

TEST_F(ScaledScreen, PlacementOnAScreenThatIsGoneComesBackOnThisOne)
{
    // Left on a second screen to the right, which is no longer there.
    StorePlacement(QStringLiteral("MainWin"), QRect(1900, 120, 520, 500));
    auto window = ShowMainWindow();
    ExpectWhollyOnScreen(*window);
    EXPECT_EQ(window->size(), QSize(520, 500));
    EXPECT_NEAR(window->y(), 120, 1);
}

TEST_F(ScaledScreen, PlacementThatFitsIsUnchanged)
{
    const QRect placement(60, 80, 520, 500);
    StorePlacement(QStringLiteral("MainWin"), placement);
    auto window = ShowMainWindow();
    EXPECT_EQ(window->geometry(), placement);
}

TEST_F(ScaledScreen, ToolWindowsComeBackOnTheScreen)
{
    StorePlacement(QStringLiteral("CommLog"), QRect(700, 500, 640, 480));
    StorePlacement(QStringLiteral("CustomCmd"), QRect(-3000, 40, 450, 500));
    auto log = std::make_unique<TCommLog>();
    auto window = ShowMainWindow();
    window->Commandlog1->trigger();
    window->CustomCommands1->trigger();
    window->Plot1->trigger();
    ExpectWhollyOnScreen(*log);
    EXPECT_EQ(log->size(), QSize(640, 480));
    ExpectWhollyOnScreen(*window->CustomCmd());
    EXPECT_EQ(window->CustomCmd()->width(), 450);
    ExpectWhollyOnScreen(*window->PlotWindow());
    window.reset();
}

}

int main(int argc, char** argv)
{
    QTemporaryDir folder;
    if (!UseOffscreenScreen(folder.path(), "scaled", 1600, 1000))
        return 1;
    qputenv("QT_SCALE_FACTOR", "1.5");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
