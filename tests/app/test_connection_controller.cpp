// The window's connection controller on its own, without any widget, against
// the gripper simulator over TCP on 127.0.0.1.
#include "AppTestSupport.h"
#include "ConnectionController.h"
#include "HXTForm.h"
#include "Reconnector.h"
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

class ConnectionControllerTest : public ::testing::Test {
protected:
    void Start(const QStringList& simulatorArgs)
    {
        ASSERT_TRUE(Simulator.Start(simulatorArgs)) << Simulator.Errors().toStdString();
        Controller = std::make_unique<TConnectionController>(Gripper, QStringLiteral("Analyzer.ini"),
                                                             QStringLiteral("Connection"), nullptr);
        Controller->OnConnected = [this] { ++Connects; };
        Controller->OnLimits = [this](const TSystemLimits& limits) { Limits = limits; };
        Controller->OnSettings = [this](const TRunningSettings& settings) { Settings = settings; };
        Controller->OnDisconnected = [this] { ++Disconnects; };
        Controller->OnError = [this](const QString& text) { Errors << text; };
    }

    TStat ConnectToSimulator()
    {
        return Controller->Connect(TTCPParams{QStringLiteral("127.0.0.1"), Simulator.TcpPort()});
    }

    void TearDown() override
    {
        Controller.reset();
        Simulator.Stop();
    }

    // A private settings folder; no box is ever shown by the controller.
    TAppDriver Driver;
    TSimulatorProcess Simulator;
    THXT Gripper;
    std::unique_ptr<TConnectionController> Controller;
    int Connects = 0;
    int Disconnects = 0;
    std::optional<TSystemLimits> Limits;
    std::optional<TRunningSettings> Settings;
    QStringList Errors;
};

TEST_F(ConnectionControllerTest, ConnectReadsLimitsSettingsAndReportsThenReconnects)
{
    Start({QStringLiteral("--stroke"), QStringLiteral("40")});
    EXPECT_FALSE(Controller->CanReconnect());
    ASSERT_EQ(ConnectToSimulator(), E_SUCCESS);
    ASSERT_TRUE(WaitFor([&] { return Settings.has_value(); })) << Errors.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(Connects, 1);
    ASSERT_TRUE(Limits.has_value());
    EXPECT_FLOAT_EQ(Limits->Stroke, 40.0F);
    ASSERT_TRUE(Controller->Limits().has_value());
    ASSERT_TRUE(Settings->acceleration.has_value());
    EXPECT_FLOAT_EQ(*Settings->acceleration, 2500.0F);
    ASSERT_TRUE(Settings->forceLimit.has_value());
    EXPECT_FLOAT_EQ(*Settings->forceLimit, 40.0F);
    // The system-state reports were asked for and come in.
    EXPECT_TRUE(WaitFor([&] { return Controller->PreviousState() >= 0; }));
    EXPECT_EQ(Controller->Reconnector()->State(), TLinkState::Connected);
    EXPECT_FALSE(Controller->CanReconnect());

    Controller->Disconnect();
    ASSERT_TRUE(WaitFor([&] { return Disconnects == 1; }));
    EXPECT_FALSE(Controller->Limits().has_value());
    EXPECT_TRUE(Controller->CanReconnect());

    // A controller of the next start knows the connection to repeat.
    Controller.reset();
    THXT nextGripper;
    TConnectionController next(nextGripper, QStringLiteral("Analyzer.ini"), QStringLiteral("Connection"), nullptr);
    EXPECT_TRUE(next.CanReconnect());
    bool limitsRead = false;
    next.OnLimits = [&](const TSystemLimits&) { limitsRead = true; };
    ASSERT_EQ(next.Reconnect(), E_SUCCESS);
    EXPECT_TRUE(WaitFor([&] { return limitsRead; }));
    EXPECT_TRUE(Errors.isEmpty()) << Errors.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(Driver.Messages.empty());
}

TEST_F(ConnectionControllerTest, UnreadableLimitsCloseTheLinkWithOneMessage)
{
    Start({QStringLiteral("--force-status"), QStringLiteral("GET_SYSTEM_LIMITS=E_ACCESS_DENIED")});
    ASSERT_EQ(ConnectToSimulator(), E_SUCCESS);
    ASSERT_TRUE(WaitFor([&] { return !Errors.isEmpty(); }));
    EXPECT_EQ(Errors, QStringList{QStringLiteral("Unable to retreive gripper limits.\n"
                                                 "Please try again by selecting \"Gripper|Connect\" from the menu.")});
    EXPECT_TRUE(WaitFor([&] { return Disconnects == 1; }));
    EXPECT_FALSE(Gripper.IsConnected());
    EXPECT_FALSE(Limits.has_value());
    EXPECT_FALSE(Settings.has_value());
}

TEST_F(ConnectionControllerTest, ReconnectWithoutAConnectionToRepeatSaysSo)
{
    Start({});
    EXPECT_EQ(Controller->Reconnect(), E_NOT_FOUND);
    ASSERT_EQ(Errors.size(), 1);
    EXPECT_TRUE(Errors.front().startsWith(QStringLiteral("Cannot connect to target: "))) << Errors.front().toStdString();
    EXPECT_EQ(Connects, 0);
}

}
