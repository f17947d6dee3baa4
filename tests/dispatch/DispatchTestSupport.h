#pragma once
// Scaffolding of the dispatcher tests: a scripted gripper on a loopback TCP
// port, a scripted interface and host dialog, a fake device for transport
// failures, and a recorder for operator messages.
#include "CommLogForm.h"
#include "CommandComponent.h"
#include "DeviceComponent.h"
#include "DeviceDialog.h"
#include "DialogRunner.h"
#include "Framing.h"
#include "GripperOperator.h"
#include "HXTForm.h"
#include "HostnameDialog.h"
#include "IniFile.h"
#include "MessageDialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

// "AA AA AA 22" -> bytes.
inline QByteArray Hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

inline TByteArray Bytes(const QByteArray& b) { return TByteArray(b.begin(), b.end()); }

// A frame for command `cmd` whose payload is `payload` (hex text).
inline QByteArray Frame(uint8_t cmd, const QByteArray& payload)
{
    const TByteArray frame =
        BuildFrame(cmd, reinterpret_cast<const uint8_t*>(payload.constData()), static_cast<size_t>(payload.size()));
    return QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size()));
}

// Runs the event loop until `done` holds or `timeoutMs` passed.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

inline void Settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// The gripper's side of a loopback TCP connection. Every complete request
// frame is recorded; the answer scripted for its command byte (if any) is
// sent back, at once or after a delay.
class TScriptedGripper {
public:
    struct TAnswer {
        QByteArray bytes;
        int delayMs = 0;
    };

    TScriptedGripper()
    {
        FServer.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&FServer, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = FServer.nextPendingConnection()) {
                FClient = socket;
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] { Received(socket->readAll()); });
            }
        });
    }

    quint16 Port() const { return FServer.serverPort(); }
    bool HasClient() const { return FClient && FClient->state() == QAbstractSocket::ConnectedState; }

    // Answer for every request with this command byte (replacing any other).
    void Answer(uint8_t cmd, const QByteArray& bytes, int delayMs = 0) { FAnswers[cmd] = {bytes, delayMs}; }
    void Silence(uint8_t cmd) { FAnswers.erase(cmd); }
    void Send(const QByteArray& bytes)
    {
        if (FClient) {
            FClient->write(bytes);
            FClient->flush();
        }
    }

    // Request frames received so far, whole frames as sent.
    std::vector<QByteArray> Requests;

private:
    void Received(const QByteArray& bytes)
    {
        FInput += bytes;
        // Requests are well-formed frames: preamble, command, length, payload, CRC.
        while (FInput.size() >= 8) {
            const int length = static_cast<uint8_t>(FInput[4]) | (static_cast<uint8_t>(FInput[5]) << 8);
            if (FInput.size() < 8 + length)
                break;
            const QByteArray frame = FInput.left(8 + length);
            FInput.remove(0, 8 + length);
            Requests.push_back(frame);
            const auto it = FAnswers.find(static_cast<uint8_t>(frame[3]));
            if (it == FAnswers.end())
                continue;
            const TAnswer answer = it->second;
            if (answer.delayMs == 0)
                Send(answer.bytes);
            else
                QTimer::singleShot(answer.delayMs, [this, answer] { Send(answer.bytes); });
        }
    }

    QTcpServer FServer;
    QTcpSocket* FClient = nullptr;
    QByteArray FInput;
    std::map<uint8_t, TAnswer> FAnswers;
};

// A device the test controls completely: opening result, write result,
// received bytes.
class TFakeDevice : public TDevice {
public:
    explicit TFakeDevice(QObject* owner) : TDevice(QStringLiteral("fake"), owner) { Description = "Fake"; }
    ~TFakeDevice() override
    {
        BeginDestruction();
        Close();
    }

    bool IsOpen() const override { return FOpen; }
    TStat Open(const QString&) override
    {
        if (OpenResult != E_SUCCESS)
            return OpenResult;
        FOpen = true;
        StartConnectPoll();
        return E_SUCCESS;
    }
    TStat Close() override
    {
        FOpen = false;
        FireDisconnect();
        return E_SUCCESS;
    }
    int32_t BytesAvailable() override { return FOpen ? static_cast<int32_t>(FInput.size()) : 0; }
    int32_t Read(uint8_t* buffer, int32_t count) override
    {
        if (!FOpen)
            return -1;
        const int32_t n = std::min<int32_t>(count, static_cast<int32_t>(FInput.size()));
        std::copy_n(FInput.begin(), n, buffer);
        FInput.erase(FInput.begin(), FInput.begin() + n);
        ReadSizes.push_back(n);
        return n;
    }
    TStat Write(const uint8_t* buffer, int32_t count) override
    {
        if (WriteResult == E_SUCCESS)
            Written.insert(Written.end(), buffer, buffer + count);
        return WriteResult;
    }
    void GetPortList(QStringList& list) override { list = {QStringLiteral("FAKE")}; }

    // Bytes "arrive" and the data event fires.
    void Feed(const QByteArray& bytes)
    {
        FInput.insert(FInput.end(), bytes.begin(), bytes.end());
        NotifyDataAvailable(static_cast<int32_t>(FInput.size()));
    }

    TStat OpenResult = E_SUCCESS;
    TStat WriteResult = E_SUCCESS;
    TByteArray Written;
    std::vector<int32_t> ReadSizes;

private:
    bool FOpen = false;
    std::vector<uint8_t> FInput;
};

struct TRecordedMessage {
    TMessageKind kind;
    QString text;
};

// Base fixture: private settings folder, recorded messages, scripted dialogs
// (interface dialog: device `DeviceChoice`; host dialog: 127.0.0.1 and
// `HostPort`), a command log and a gripper object.
class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Folder.isValid());
        SetSettingsFolderOverride(Folder.path());
        FPreviousHandler = SetMessageHandler(
            [this](TMessageKind kind, const QString& text) { Messages.push_back({kind, text}); });
        FPreviousRunner = SetDialogRunner([this](QDialog& dialog) { return RunScripted(dialog); });
        Log = new TCommLog;
        Gripper = new THXT;
        AttachOperator(*Gripper);
        Fake = new TFakeDevice(Gripper->Dispatcher());
        Gripper->Dispatcher()->AddDevice(Fake);
    }

    void TearDown() override
    {
        delete Gripper;
        delete Log;
        SetDialogRunner(std::move(FPreviousRunner));
        SetMessageHandler(std::move(FPreviousHandler));
        SetSettingsFolderOverride(QString());
    }

    int RunScripted(QDialog& dialog)
    {
        ++DialogRuns;
        if (CancelDialogs)
            return QDialog::Rejected;
        if (auto* interfaceDialog = qobject_cast<TDeviceDlg*>(&dialog)) {
            auto* devices = interfaceDialog->findChild<QComboBox*>(QStringLiteral("cbDevice"));
            EXPECT_NE(devices, nullptr);
            if (devices)
                devices->setCurrentIndex(DeviceChoice);
            return QDialog::Accepted;
        }
        if (auto* hostDialog = qobject_cast<THostNameDlg*>(&dialog)) {
            hostDialog->SetHostName(QStringLiteral("127.0.0.1"));
            hostDialog->SetPort(HostPort);
            return QDialog::Accepted;
        }
        ADD_FAILURE() << "unexpected dialog " << dialog.objectName().toStdString();
        return QDialog::Rejected;
    }

    // Connects over TCP to `port` and waits until the transport is usable.
    bool ConnectTcp(quint16 port)
    {
        DeviceChoice = 1;
        HostPort = port;
        if (Gripper->Connect() != E_SUCCESS)
            return false;
        return WaitFor([this] { return Gripper->IsConnected(); });
    }

    bool ConnectFake()
    {
        DeviceChoice = 3;
        return Gripper->Connect() == E_SUCCESS && Gripper->IsConnected();
    }

    // Lines of the command log, for checking what was logged.
    std::vector<QString> LogLines() const
    {
        std::vector<QString> lines;
        for (int i = 0; i < Log->PacketCount(); ++i)
            lines.push_back(Log->LineText(i));
        return lines;
    }

    QTemporaryDir Folder;
    std::vector<TRecordedMessage> Messages;
    TCommLog* Log = nullptr;
    THXT* Gripper = nullptr;
    TFakeDevice* Fake = nullptr;
    int DeviceChoice = 1;
    int HostPort = 1000;
    bool CancelDialogs = false;
    int DialogRuns = 0;

private:
    TMessageHandler FPreviousHandler;
    TDialogRunner FPreviousRunner;
};

// Records the calls of an asynchronous result handler.
struct TResultRecorder {
    struct TCall {
        int id;
        TStat status;
        TByteArray data;
    };
    std::vector<TCall> Calls;
    TAsyncResultEvent Handler()
    {
        return [this](QObject*, int id, TStat status, const TByteArray& data) { Calls.push_back({id, status, data}); };
    }
};
