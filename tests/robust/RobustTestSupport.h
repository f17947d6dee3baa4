#pragma once
// Scaffolding of the robustness tests: the gripper object with a command log,
// connected over TCP through the scripted connect dialogs of the app tests,
// and comparison of the frames the peer sent with the packets the program
// received.
#include "AppTestSupport.h"
#include "CommLogForm.h"
#include "HXTForm.h"
#include "SimulatorProcess.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <memory>

// The frame of a packet as hex text, "AA AA AA 22 02 00 00 00 A7 2E".
QString FrameHex(const TPacket& packet);

// Frames received by the program, in order, rebuilt from the command log.
QStringList ReceivedFrames(const TCommLog& log);

// Frames the simulator (run with --verbose) reports as sent whole and with a
// good checksum, in order; `corrupted` and `garbage` count the frames it sent
// with a bad checksum and those it preceded with stray bytes.
struct TSentFrames {
    QStringList intact;
    int corrupted = 0;
    int garbage = 0;
};
TSentFrames SimulatorSentFrames(TSimulatorProcess& sim);

// Runs the event loop for `ms` milliseconds.
void Settle(int ms);

class RobustTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the simulator (always with --verbose) or fails the test.
    bool StartSimulator(const QStringList& args);
    // Connects the gripper object over TCP to 127.0.0.1:`port` and waits
    // until the transport reports the connection.
    bool ConnectTo(quint16 port);

    // Waits until the program received every intact frame the simulator sent,
    // then checks that they are the same frames in the same order.
    void ExpectEverySentFrameReceived(int timeoutMs = 3000);

    // Operator messages whose text starts with `prefix`.
    int MessagesStartingWith(const QString& prefix) const;

    TAppDriver Driver;
    TSimulatorProcess Sim;
    std::unique_ptr<TCommLog> Log;
    std::unique_ptr<THXT> Gripper;
    int Connects = 0;
    int Disconnects = 0;
};
