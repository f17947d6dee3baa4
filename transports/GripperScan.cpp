#include "GripperScan.h"

#include "CANDevice.h"
#include "ConnectionString.h"
#include "FrameScanner.h"
#include "Framing.h"
#include "HXTForm.h"
#include "HXT_commands.h"
#include "SerialDevice.h"

#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Bytes of the request frame and of a successful answer (status word and
// eight bytes of system information) on the line.
constexpr int RequestBytes = static_cast<int>(FrameOverhead);
constexpr int AnswerBytes = static_cast<int>(FrameOverhead) + 2 + 8;
// Receive queue of a scanned CAN interface: three frames of answer for each
// identifier of a long range.
constexpr int32_t CanRxQueueSize = 8192;
constexpr int32_t CanRxTimeoutMs = 20;

const TByteArray& Request()
{
    static const TByteArray frame = BuildFrame(CMD_GET_SYSINFO, nullptr, 0);
    return frame;
}

// What a peer answered to the request.
struct TAnswer {
    TStat Status = E_SUCCESS;
    TSystemInfo Info;
};

// The first answer to the request among `bytes`: a frame with the request's
// command byte, a status word and, for a success, the eight bytes of system
// information. Anything else (noise of a wrong line speed, a frame of
// another kind, an echo of the request) is passed over.
std::optional<TAnswer> FindAnswer(const TByteArray& bytes)
{
    for (const TScanItem& item : ScanFrames(bytes)) {
        const TPacket& p = item.packet;
        if (item.kind != TScanItem::TKind::Packet || (p.command & 0xFF) != CMD_GET_SYSINFO || p.ValidLength() < 2)
            continue;
        TAnswer answer;
        answer.Status = static_cast<TStat>(p.data[0] | (p.data[1] << 8));
        const TByteArray payload(p.data.begin() + 2, p.data.begin() + p.ValidLength());
        if (answer.Status != E_SUCCESS || DecodeSystemInfo(payload, answer.Info))
            return answer;
    }
    return std::nullopt;
}

milliseconds Remaining(Clock::time_point deadline)
{
    return std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
}

// The time the request and its answer take on a line of `baudrate` (ten bits
// a byte), rounded up.
milliseconds LineTime(int32_t baudrate)
{
    return milliseconds((int64_t(RequestBytes + AnswerBytes) * 10 * 1000 + baudrate - 1) / baudrate);
}

// Sends the request on an open `io` and reads until an answer comes or the
// deadline passes; also ends when the device fails.
std::optional<TAnswer> Ask(QIODevice& io, Clock::time_point deadline)
{
    const TByteArray& request = Request();
    if (io.write(reinterpret_cast<const char*>(request.data()), qint64(request.size())) != qint64(request.size()))
        return std::nullopt;
    TByteArray received;
    while (Clock::now() < deadline) {
        // Waiting for bytes also writes what is queued.
        if (!io.waitForReadyRead(static_cast<int>(Remaining(deadline).count())) && io.bytesAvailable() == 0) {
            if (!io.isOpen())
                break;
            continue;
        }
        const QByteArray bytes = io.readAll();
        received.insert(received.end(), bytes.begin(), bytes.end());
        if (auto answer = FindAnswer(received))
            return answer;
    }
    return std::nullopt;
}

// One kind of peer answered: a found gripper, or a problem when it answered
// with an error.
void Record(TScanResult& out, const QString& connection, const TAnswer& answer)
{
    if (answer.Status != E_SUCCESS) {
        out.Problems.push_back({connection, TScanProblem::TKind::Refused,
            QStringLiteral("%1 answered the system-information request with \"%2\".")
                .arg(connection, QString::fromStdString(StatusText(answer.Status)))});
        return;
    }
    const TSystemInfo& info = answer.Info;
    out.Found.push_back({connection, static_cast<uint32_t>(info.SerialNumber),
        static_cast<uint16_t>(info.FirmwareRevision), static_cast<uint8_t>(info.HardwareRevision), info.GripperType});
}

struct TSerialTarget {
    QString Path;
    std::vector<int32_t> Speeds;
    bool Listed = false; // from the system's list, not asked for by name
};

void ProbeSerial(const TSerialTarget& target, const TScanOptions& options, TScanResult& out)
{
    const QString connection = QStringLiteral("serial:") + target.Path;
    QSerialPort port;
    port.setPortName(target.Path);
    TSerialDevice::SetLineFormat(port);
    port.setBaudRate(target.Speeds.front());
    if (!port.open(QIODevice::ReadWrite)) {
        using TFail = TSerialDevice::TOpenFailureKind;
        const auto failure = TSerialDevice::DescribeOpenFailure(target.Path, port.error(), port.errorString());
        // The system lists ports that have no device behind them (the
        // standard ttyS ports of a machine without them); those are no news.
        if (target.Listed && failure.Kind != TFail::InUse && failure.Kind != TFail::NoPermission)
            return;
        const auto kind = failure.Kind == TFail::InUse     ? TScanProblem::TKind::InUse
                          : failure.Kind == TFail::NoPermission ? TScanProblem::TKind::NoPermission
                                                                : TScanProblem::TKind::Unreachable;
        out.Problems.push_back({connection, kind, failure.Text});
        return;
    }
    TSerialDevice::HoldModemLinesInactive(port);
    for (const int32_t speed : target.Speeds) {
        if (!port.setBaudRate(speed))
            continue;
        port.clear();
        if (const auto answer = Ask(port, Clock::now() + options.AnswerTime + LineTime(speed))) {
            Record(out, connection + QStringLiteral("@%1").arg(speed), *answer);
            return;
        }
        if (!port.isOpen())
            return;
    }
}

void ProbeTcp(const TTCPParams& params, const QString& connection, const TScanOptions& options, TScanResult& out)
{
    QTcpSocket socket;
    const auto deadline = Clock::now() + options.AnswerTime;
    socket.connectToHost(params.Host, static_cast<quint16>(params.Port));
    if (!socket.waitForConnected(static_cast<int>(Remaining(deadline).count()))) {
        out.Problems.push_back({connection, TScanProblem::TKind::Unreachable,
            QStringLiteral("%1 could not be reached: %2.").arg(connection, socket.errorString())});
        return;
    }
    if (const auto answer = Ask(socket, Clock::now() + options.AnswerTime))
        Record(out, connection, *answer);
}

struct TCanTarget {
    TCanInterface Interface;
    uint32_t BitrateCode = NTCAN_BAUD_250;
    std::vector<int32_t> Ids;
};

QString CanConnection(const TCanTarget& target)
{
    return QStringLiteral("can:%1:%2@%3")
        .arg(target.Interface.Plugin, target.Interface.Name)
        .arg(CanKbitsOfCode(target.BitrateCode));
}

void ProbeCan(const TCanTarget& target, const TScanOptions& options, TScanResult& out)
{
    const QString connection = CanConnection(target);
    const auto fail = [&](const QString& cause) {
        out.Problems.push_back(
            {connection, TScanProblem::TKind::Unreachable, QStringLiteral("%1: %2.").arg(connection, cause)});
    };
    int net = -1;
    NTCAN_HANDLE handle = -1;
    if (canInterfaceNet(target.Interface, &net) != NTCAN_SUCCESS
        || canOpen(net, 0, TCANDevice::TxQueueSize, CanRxQueueSize, TCANDevice::TxTimeoutMs, CanRxTimeoutMs, &handle)
            != NTCAN_SUCCESS)
        return fail(QStringLiteral("the interface could not be opened"));
    const auto closeNet = qScopeGuard([handle] { canClose(handle); });
    if (canSetBaudrate(handle, target.BitrateCode) != NTCAN_SUCCESS)
        return fail(QStringLiteral("the interface does not take the bit rate"));
    for (const int32_t id : target.Ids)
        if (canIdAdd(handle, id + 1) != NTCAN_SUCCESS)
            return fail(QStringLiteral("the interface does not take the identifier %1").arg(id + 1));
    // The request (no payload) fits one frame, sent to every identifier
    // before any answer is awaited.
    static_assert(RequestBytes <= int(sizeof(CMSG::data)));
    CMSG msg;
    msg.len = static_cast<uint8_t>(Request().size());
    std::copy(Request().begin(), Request().end(), msg.data);
    for (const int32_t id : target.Ids) {
        msg.id = id;
        int32_t count = 1;
        if (canSend(handle, &msg, &count) != NTCAN_SUCCESS || count != 1)
            return fail(QStringLiteral("the request to identifier %1 could not be sent").arg(id));
    }
    std::map<int32_t, TByteArray> received; // by request identifier
    std::map<int32_t, TAnswer> answers;
    const auto deadline = Clock::now() + options.AnswerTime;
    while (Clock::now() < deadline && answers.size() < target.Ids.size()) {
        CMSG msgs[64];
        int32_t count = 64;
        const NTCAN_RESULT result = canRead(handle, msgs, &count, nullptr);
        if (result == NTCAN_RX_TIMEOUT)
            continue;
        if (result != NTCAN_SUCCESS)
            return fail(canResultText(result));
        for (int32_t i = 0; i < count; ++i) {
            const int32_t id = (msgs[i].id & ~NTCAN_20B_BASE) - 1;
            if (answers.count(id) != 0)
                continue;
            TByteArray& bytes = received[id];
            bytes.insert(bytes.end(), msgs[i].data, msgs[i].data + std::min<uint8_t>(msgs[i].len, 8));
            if (auto answer = FindAnswer(bytes))
                answers.emplace(id, *answer);
        }
    }
    for (const auto& [id, answer] : answers)
        Record(out, connection + QStringLiteral("#%1").arg(id), answer);
}

// What the options ask to try, each target one job of its own.
std::vector<std::function<void(TScanResult&)>> Jobs(const TScanOptions& options)
{
    std::vector<TSerialTarget> serial;
    std::vector<std::pair<TTCPParams, QString>> tcp;
    std::vector<TCanTarget> can;
    std::vector<int32_t> idRange;
    for (int32_t id = options.FirstCanId; id <= options.LastCanId; ++id)
        idRange.push_back(id);
    for (const QString& text : options.Connections) {
        const TConnectionParams params = ParseConnectionString(text);
        if (const auto* s = std::get_if<TSerialParams>(&params)) {
            const bool hasBaud = text.indexOf(u'@') >= 0;
            serial.push_back({s->PortName, hasBaud ? std::vector<int32_t>{s->Baudrate} : options.LineSpeeds});
        } else if (const auto* t = std::get_if<TTCPParams>(&params)) {
            tcp.emplace_back(*t, text);
        } else if (const auto* c = std::get_if<TCANParams>(&params)) {
            const bool hasId = text.indexOf(u'#') >= 0;
            can.push_back({c->Interface, c->BitrateCode, hasId ? std::vector<int32_t>{c->TargetId} : idRange});
        }
    }
    if (options.SystemPorts) {
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            const QString path = info.systemLocation();
            if (std::none_of(serial.begin(), serial.end(), [&](const auto& s) { return s.Path == path; }))
                serial.push_back({path, options.LineSpeeds, true});
        }
        for (const TCanInterface& iface : canDiscoverInterfaces())
            if (std::none_of(can.begin(), can.end(), [&](const auto& c) { return c.Interface == iface; }))
                can.push_back({iface, options.CanBitrateCode, idRange});
    }
    std::vector<std::function<void(TScanResult&)>> jobs;
    for (const auto& target : serial)
        if (!target.Speeds.empty())
            jobs.push_back([target, &options](TScanResult& out) { ProbeSerial(target, options, out); });
    for (const auto& [params, text] : tcp)
        jobs.push_back([params, text, &options](TScanResult& out) { ProbeTcp(params, text, options, out); });
    for (const auto& target : can)
        if (!target.Ids.empty())
            jobs.push_back([target, &options](TScanResult& out) { ProbeCan(target, options, out); });
    return jobs;
}

} // namespace

std::vector<int32_t> TScanOptions::AllLineSpeeds()
{
    std::vector<int32_t> speeds(TSerialDevice::LineSpeeds.rbegin(), TSerialDevice::LineSpeeds.rend());
    std::stable_partition(speeds.begin(), speeds.end(), [](int32_t s) { return s == DefaultConnectionBaudrate; });
    return speeds;
}

TScanResult ScanForGrippers(const TScanOptions& options)
{
    const auto jobs = Jobs(options);
    std::vector<TScanResult> results(jobs.size());
    std::vector<std::unique_ptr<QThread>> threads;
    for (size_t i = 0; i < jobs.size(); ++i) {
        threads.emplace_back(QThread::create([&jobs, &results, i] { jobs[i](results[i]); }));
        threads.back()->start();
    }
    TScanResult all;
    for (size_t i = 0; i < jobs.size(); ++i) {
        threads[i]->wait();
        all.Found.insert(all.Found.end(), results[i].Found.begin(), results[i].Found.end());
        all.Problems.insert(all.Problems.end(), results[i].Problems.begin(), results[i].Problems.end());
    }
    return all;
}

milliseconds ScanSweepTime(const TScanOptions& options)
{
    milliseconds total{0};
    for (const int32_t speed : options.LineSpeeds)
        total += options.AnswerTime + LineTime(speed);
    return total;
}
