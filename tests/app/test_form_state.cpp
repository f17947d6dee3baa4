// The main window's placement in "Analyzer.ini".
#include "AppTestSupport.h"
#include "CommLogForm.h"
#include "CommLogOptions.h"
#include "CustomCmdForm.h"
#include "IniFile.h"
#include "MainForm.h"
#include "ShowMainWindow.h"
#include "../common/SpecialFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class FormStateTest : public ::testing::Test {
protected:
    QString IniPath() const { return Driver.SettingsFolder() + QStringLiteral("/Analyzer.ini"); }

    TAppDriver Driver;
};

TEST_F(FormStateTest, PlacementSurvivesARestart)
{
    auto window = ShowMainWindow();
    window->setGeometry(40, 50, 620, 500);
    QTest::qWait(20);
    const QRect placed = window->geometry();
    window.reset();

    ASSERT_TRUE(QFile::exists(IniPath()));
    const TIniFile ini(IniPath());
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("MainWin"), QStringLiteral("Width"), 0), placed.width());
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("MainWin"), QStringLiteral("Height"), 0), placed.height());
    EXPECT_EQ(ini.ReadString(QStringLiteral("MainWin"), QStringLiteral("State"), {}), QStringLiteral("Normal"));

    window = ShowMainWindow();
    EXPECT_EQ(window->geometry(), placed);
}

TEST_F(FormStateTest, MaximisedWindowComesBackMaximised)
{
    auto window = ShowMainWindow();
    window->setGeometry(30, 30, 600, 650);
    window->showMaximized();
    QTest::qWait(20);
    window.reset();

    window = ShowMainWindow();
    QTest::qWait(20);
    EXPECT_TRUE(window->isMaximized());
}

TEST_F(FormStateTest, MinimisedWindowComesBackNormal)
{
    TIniFile ini(IniPath());
    ASSERT_TRUE(ini.WriteString(QStringLiteral("MainWin"), QStringLiteral("Left"), QStringLiteral("20")));
    ASSERT_TRUE(ini.WriteString(QStringLiteral("MainWin"), QStringLiteral("Top"), QStringLiteral("40")));
    ASSERT_TRUE(ini.WriteString(QStringLiteral("MainWin"), QStringLiteral("Width"), QStringLiteral("500")));
    ASSERT_TRUE(ini.WriteString(QStringLiteral("MainWin"), QStringLiteral("Height"), QStringLiteral("500")));
    ASSERT_TRUE(ini.WriteString(QStringLiteral("MainWin"), QStringLiteral("State"), QStringLiteral("Minimized")));
    auto window = ShowMainWindow();
    EXPECT_FALSE(window->isMinimized());
    EXPECT_EQ(window->size(), QSize(500, 500));
}

TEST_F(FormStateTest, PlacementOffEveryScreenComesBackOnOne)
{
    TIniFile ini(IniPath());
    const QString section = QStringLiteral("MainWin");
    ASSERT_TRUE(ini.WriteString(section, QStringLiteral("Left"), QStringLiteral("-20000")));
    ASSERT_TRUE(ini.WriteString(section, QStringLiteral("Top"), QStringLiteral("-20000")));
    ASSERT_TRUE(ini.WriteString(section, QStringLiteral("Width"), QStringLiteral("500")));
    ASSERT_TRUE(ini.WriteString(section, QStringLiteral("Height"), QStringLiteral("600")));
    auto window = ShowMainWindow();
    EXPECT_TRUE(window->screen()->availableGeometry().contains(window->frameGeometry()));
    EXPECT_EQ(window->width(), 500);
    window.reset();

    // A damaged entry is ignored, and rewritten at the end.
    ASSERT_TRUE(ini.WriteString(section, QStringLiteral("Left"), QStringLiteral("10")));
    ASSERT_TRUE(ini.WriteString(section, QStringLiteral("Top"), QStringLiteral("10")));
    ASSERT_TRUE(ini.WriteString(section, QStringLiteral("Width"), QStringLiteral("wide")));
    window = ShowMainWindow();
    EXPECT_EQ(window->size(), QSize(681, 779));
    window.reset();
    EXPECT_EQ(ini.ReadInteger(section, QStringLiteral("Width"), 0), 681);
}

TEST_F(FormStateTest, UnwritablePlacementIsReported)
{
    ASSERT_TRUE(QDir(Driver.SettingsFolder()).mkdir(QStringLiteral("Analyzer.ini")));
    ShowMainWindow().reset();
    ASSERT_EQ(Driver.Messages.size(), 1u);
    EXPECT_EQ(Driver.Messages[0].kind, TMessageKind::Error);
    EXPECT_EQ(Driver.Messages[0].text,
              QStringLiteral("Cannot save the window placement in %1: it is a folder, not a regular file.").arg(IniPath()));

    // A link to a FIFO is neither waited on at the start nor replaced at the end.
    const TNoWaitGuard guard(60);
    ASSERT_TRUE(QDir(Driver.SettingsFolder()).rmdir(QStringLiteral("Analyzer.ini")));
    const QString fifo = Driver.SettingsFolder() + QStringLiteral("/placement");
    ASSERT_TRUE(MakeFifo(fifo));
    ASSERT_TRUE(MakeLink(fifo, IniPath()));
    const TFileIdentity before = IdentityOf(fifo);
    ShowMainWindow().reset();
    ASSERT_EQ(Driver.Messages.size(), 2u);
    EXPECT_EQ(Driver.Messages[1].text,
        QStringLiteral("Cannot save the window placement in %1: it is a symbolic link to a FIFO, not to a regular file.")
            .arg(IniPath()));
    EXPECT_EQ(IdentityOf(fifo), before);
}

TEST_F(FormStateTest, CommandLogAndEditorComeBackWhereTheyWereLeft)
{
    auto log = std::make_unique<TCommLog>();
    auto window = ShowMainWindow();
    window->setGeometry(30, 40, 600, 520);
    window->Commandlog1->trigger();
    window->CustomCommands1->trigger();
    log->setGeometry(60, 70, 500, 400);
    window->CustomCmd()->setGeometry(90, 100, 450, 380);
    QTest::qWait(20);
    const QRect logPlace = log->geometry();
    const QRect editorPlace = window->CustomCmd()->geometry();
    const QRect mainPlace = window->geometry();
    window.reset();
    log.reset();
    log = std::make_unique<TCommLog>();

    window = ShowMainWindow();
    EXPECT_EQ(window->geometry(), mainPlace) << "the main window's entry is kept";
    window->Commandlog1->trigger();
    window->CustomCommands1->trigger();
    EXPECT_EQ(log->geometry(), logPlace);
    EXPECT_EQ(window->CustomCmd()->geometry(), editorPlace);
    window.reset();
}

}

namespace {

TEST_F(FormStateTest, CommandLogOptionsAreRemembered)
{
    TCommLog::TOptions changed;
    {
        TCommLog log;
        log.cbDecoded->setChecked(true);
        RememberCommLogOptions(log, QStringLiteral("Analyzer.ini"), QStringLiteral("CommLog"));
        EXPECT_TRUE(log.Options() == TCommLog::TOptions()) << "all off on the first start";
        log.cbShowIDDescr->setChecked(true);
        log.cbTime->setChecked(true);
        log.miTimeWallClock->trigger();
        log.cbHideReports->setChecked(true);
        changed = log.Options();
    }
    TCommLog again;
    RememberCommLogOptions(again, QStringLiteral("Analyzer.ini"), QStringLiteral("CommLog"));
    EXPECT_TRUE(again.Options() == changed);
    EXPECT_EQ(again.TimeMode(), TCommLog::TTimeMode::WallClock);
    EXPECT_TRUE(again.miTimeWallClock->isChecked());
    EXPECT_FALSE(again.cbEvaluateErrorCodes->isChecked());
}

} // namespace
