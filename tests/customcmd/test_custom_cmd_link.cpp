// The command editor sending to a gripper on a loopback TCP connection:
// the simulator for whole exchanges, and a scripted peer that holds answers
// back, answers badly or sends results later.
#include "CustomCmdForm.h"

#include "DeviceDialog.h"
#include "DialogRunner.h"
#include "Framing.h"
#include "GripperOperator.h"
#include "HXTForm.h"
#include "HostnameDialog.h"
#include "IniFile.h"
#include "IntegerEdit.h"
#include "MessageDialog.h"
#include "SimulatorProcess.h"

#include <QComboBox>
#include <QCheckBox>
#include <QHostAddress>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

namespace {

QByteArray Frame(uint8_t command, const QByteArray& payload)
{
    const TByteArray frame =
        BuildFrame(command, reinterpret_cast<const uint8_t*>(payload.constData()), static_cast<size_t>(payload.size()));
    return {reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size())};
}

// An answer frame: the status word, then the result bytes.
QByteArray Answer(uint8_t command, TStat status, const QByteArray& result = {})
{
    return Frame(command, QByteArray(1, static_cast<char>(status)) + QByteArray(1, '\0') + result);
}

QString Text(TStat status) { return QString::fromStdString(StatusText(status)); }

// The gripper's end of a loopback TCP connection: records every request
// frame and answers each command byte as scripted, at once or later.
class TLoopbackGripper {
public:
    TLoopbackGripper()
    {
        FServer.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&FServer, &QTcpServer::newConnection, [this] {
            FClient = FServer.nextPendingConnection();
            QObject::connect(FClient, &QTcpSocket::readyRead, [this] { Received(FClient->readAll()); });
        });
    }

    quint16 Port() const { return FServer.serverPort(); }

    void Script(uint8_t command, const QByteArray& answer, int delayMs = 0) { FAnswers[command] = {answer, delayMs}; }

    void Send(const QByteArray& bytes)
    {
        FClient->write(bytes);
        FClient->flush();
    }

    std::vector<QByteArray> Requests;
    // Most requests that were waiting for their scripted answer at once.
    int MaxOutstanding = 0;

private:
    struct TScripted {
        QByteArray bytes;
        int delayMs;
    };

    void Received(const QByteArray& bytes)
    {
        FInput += bytes;
        while (FInput.size() >= 8) {
            const int length = static_cast<uint8_t>(FInput[4]) | static_cast<uint8_t>(FInput[5]) << 8;
            if (FInput.size() < 8 + length)
                return;
            Requests.push_back(FInput.left(8 + length));
            const auto answer = FAnswers.find(static_cast<uint8_t>(FInput[3]));
            FInput.remove(0, 8 + length);
            if (answer == FAnswers.end())
                continue;
            const TScripted scripted = answer->second;
            MaxOutstanding = std::max(MaxOutstanding, ++FOutstanding);
            QTimer::singleShot(scripted.delayMs, FClient, [this, scripted] {
                --FOutstanding;
                Send(scripted.bytes);
            });
        }
    }

    QTcpServer FServer;
    QTcpSocket* FClient = nullptr;
    QByteArray FInput;
    std::map<uint8_t, TScripted> FAnswers;
    int FOutstanding = 0;
};

// A connected editor: the interface dialog chooses TCP, the host dialog
// 127.0.0.1 and the port of the peer; settings files go to a temporary
// folder and operator messages are recorded.
class CustomCmdLinkTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FFolder.isValid());
        SetSettingsFolderOverride(FFolder.path());
        FPreviousHandler = SetMessageHandler([this](TMessageKind, const QString& text) { Messages << text; });
        FPreviousRunner = SetDialogRunner([this](QDialog& dialog) { return RunDialog(dialog); });
        AttachOperator(Gripper);
        Editor.SetGripper(&Gripper);
    }

    void TearDown() override
    {
        Gripper.Disconnect();
        SetDialogRunner(std::move(FPreviousRunner));
        SetMessageHandler(std::move(FPreviousHandler));
        SetSettingsFolderOverride(QString());
        EXPECT_TRUE(Messages.isEmpty()) << Messages.join(QLatin1Char('\n')).toStdString();
    }

    bool ConnectTo(quint16 port)
    {
        FPort = port;
        return Gripper.Connect() == E_SUCCESS && QTest::qWaitFor([this] { return Gripper.IsConnected(); }, 5000);
    }

    void Type(const QString& id, const QString& payload)
    {
        Editor.edID->setText(id);
        Editor.edPayload->setEditText(payload);
    }

    QStringList LogLines() const
    {
        return Editor.Log->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QStringList Messages;
    THXT Gripper;
    TCustomCmd Editor;

private:
    int RunDialog(QDialog& dialog)
    {
        if (auto* choice = qobject_cast<TDeviceDlg*>(&dialog)) {
            choice->findChild<QComboBox*>(QStringLiteral("cbDevice"))->setCurrentIndex(1);
            return QDialog::Accepted;
        }
        if (auto* host = qobject_cast<THostNameDlg*>(&dialog)) {
            host->SetHostName(QStringLiteral("127.0.0.1"));
            host->SetPort(FPort);
            return QDialog::Accepted;
        }
        return QDialog::Rejected;
    }

    QTemporaryDir FFolder;
    quint16 FPort = 0;
    TMessageHandler FPreviousHandler;
    TDialogRunner FPreviousRunner;
};

TEST_F(CustomCmdLinkTest, SendsToTheSimulatorAndLogsTheLaterResult)
{
    TSimulatorProcess simulator;
    ASSERT_TRUE(simulator.Start({QStringLiteral("--referenced"), QStringLiteral("--start-pos"), QStringLiteral("50")}));
    ASSERT_TRUE(ConnectTo(simulator.TcpPort()));

    Type(QStringLiteral("0x50"), QString());
    Editor.btnSend->click();
    EXPECT_EQ(LogLines(), QStringList{QStringLiteral("Sending Command 50h: ") + Text(E_SUCCESS)});

    // GOTO 52 mm at 420 mm/s: pending at once, finished shortly after.
    Type(QStringLiteral("33"), QStringLiteral(" 0 52.0f 420f "));
    Editor.btnSend->click();
    EXPECT_EQ(LogLines().value(1), QStringLiteral("Sending Command 21h: ") + Text(E_CMD_PENDING));
    EXPECT_TRUE(QTest::qWaitFor([this] { return LogLines().size() >= 3; }, 5000));
    EXPECT_EQ(LogLines().value(2), QStringLiteral("Async result from command 21h: ") + Text(E_SUCCESS) + QLatin1Char('.'));

    // The gripper's own error answer is a status like any other.
    Type(QStringLiteral("$21"), QStringLiteral("0 500f 420f"));
    Editor.btnSend->click();
    EXPECT_EQ(LogLines().value(3), QStringLiteral("Sending Command 21h: ") + Text(E_RANGE_ERROR));

    EXPECT_EQ(Editor.edPayload->count(), 2);
    EXPECT_EQ(Editor.edPayload->itemText(0), QStringLiteral("0 52.0f 420f"));
    EXPECT_EQ(Editor.edPayload->itemText(1), QStringLiteral("0 500f 420f"));
}

TEST_F(CustomCmdLinkTest, SendsTheTypedPacketAndLogsEveryLaterResult)
{
    TLoopbackGripper peer;
    peer.Script(0x20, Answer(0x20, E_CMD_PENDING));
    ASSERT_TRUE(ConnectTo(peer.Port()));

    Type(QStringLiteral("0x20"), QStringLiteral("1"));
    Editor.btnSend->click();
    ASSERT_EQ(peer.Requests.size(), 1u);
    EXPECT_EQ(peer.Requests[0], Frame(0x20, QByteArray(1, '\1')));
    EXPECT_EQ(LogLines(), QStringList{QStringLiteral("Sending Command 20h: ") + Text(E_CMD_PENDING)});

    peer.Send(Answer(0x20, E_AXIS_BLOCKED));
    peer.Send(Answer(0x20, E_SUCCESS, QByteArray("\x01\x02", 2)));
    EXPECT_TRUE(QTest::qWaitFor([this] { return LogLines().size() == 3; }, 5000));
    EXPECT_EQ(LogLines().value(1), QStringLiteral("Async result from command 20h: ") + Text(E_AXIS_BLOCKED) + QLatin1Char('.'));
    EXPECT_EQ(LogLines().value(2), QStringLiteral("Async result from command 20h: ") + Text(E_SUCCESS) + QLatin1Char('.'));
}

TEST_F(CustomCmdLinkTest, FailedExchangeIsLoggedButNotKeptInTheHistory)
{
    TLoopbackGripper peer;
    peer.Script(0x22, Frame(0x22, QByteArray(1, '\0'))); // too short to carry a status
    ASSERT_TRUE(ConnectTo(peer.Port()));

    Type(QStringLiteral("0x22"), QStringLiteral("\"x\""));
    Editor.btnSend->click();
    EXPECT_EQ(LogLines(), QStringList{QStringLiteral("Sending Command 22h: ") + Text(E_CMD_FAILED)});
    EXPECT_EQ(Editor.edPayload->count(), 0);
    EXPECT_TRUE(Editor.btnSend->isEnabled());
}

TEST_F(CustomCmdLinkTest, SendWaitingForItsAnswerBlocksAnotherSend)
{
    TLoopbackGripper peer;
    peer.Script(0x22, Answer(0x22, E_SUCCESS), 300);
    ASSERT_TRUE(ConnectTo(peer.Port()));
    Type(QStringLiteral("0x22"), QString());

    bool sendEnabledDuringWait = true;
    bool sendingDuringWait = false;
    QTimer::singleShot(100, &Editor, [&] {
        sendEnabledDuringWait = Editor.btnSend->isEnabled();
        sendingDuringWait = Editor.IsSending();
        Editor.btnSendClick();
    });
    Editor.btnSend->click();

    EXPECT_FALSE(sendEnabledDuringWait);
    EXPECT_TRUE(sendingDuringWait);
    EXPECT_EQ(peer.Requests.size(), 1u);
    EXPECT_EQ(LogLines(), QStringList{QStringLiteral("Sending Command 22h: ") + Text(E_SUCCESS)});
    EXPECT_FALSE(Editor.IsSending());
    EXPECT_TRUE(Editor.btnSend->isEnabled());
}

TEST_F(CustomCmdLinkTest, AutoSendSkipsTicksWhileASendWaits)
{
    TLoopbackGripper peer;
    // Each answer takes long enough for ticks of the 50 ms timer to come
    // in its wait even on a busy machine.
    peer.Script(0x22, Answer(0x22, E_SUCCESS), 1000);
    ASSERT_TRUE(ConnectTo(peer.Port()));
    Type(QStringLiteral("0x22"), QStringLiteral("7"));
    // Runs after the editor's own tick handler: a tick that finds the editor
    // still sending was one the editor did not act on.
    int skippedTicks = 0;
    QObject::connect(Editor.AutosendTimer, &QTimer::timeout, [&] { skippedTicks += Editor.IsSending() ? 1 : 0; });

    // The operator turns automatic sending on while a send waits.
    QTimer::singleShot(50, &Editor, [this] { Editor.cbAutosend->setChecked(true); });
    Editor.btnSend->click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return LogLines().size() >= 2; }, 30000));
    Editor.cbAutosend->setChecked(false);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Editor.IsSending(); }, 30000));

    EXPECT_GT(skippedTicks, 0);
    // No request went out before the previous one was answered, and every
    // request that went out has its status line.
    EXPECT_EQ(peer.MaxOutstanding, 1);
    EXPECT_EQ(peer.Requests.size(), static_cast<size_t>(LogLines().size()));
    for (const QString& logged : LogLines())
        EXPECT_EQ(logged, QStringLiteral("Sending Command 22h: ") + Text(E_SUCCESS));
    EXPECT_EQ(peer.Requests.front(), Frame(0x22, QByteArray(1, '\7')));
}

} // namespace
