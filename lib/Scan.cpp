// krm::scan over the link library's gripper scan.
#include "CANDevice.h"
#include "GripperScan.h"
#include "ParseConnection.h"
#include "SerialDevice.h"

#include <krm/krm.hpp>

#include <algorithm>
#include <stdexcept>

namespace krm {

namespace {

// A range of CAN identifiers takes one frame each.
constexpr std::uint32_t MaxCanIds = 4096;

TScanOptions Translate(const ScanOptions& options)
{
    TScanOptions o;
    o.SystemPorts = options.system_ports;
    for (const std::string& connection : options.connections) {
        detail::ParseConnection(connection);
        o.Connections.append(QString::fromStdString(connection));
    }
    if (!options.line_speeds.empty()) {
        o.LineSpeeds.clear();
        for (const int speed : options.line_speeds) {
            if (TSerialDevice::LineSpeedIndex(speed) < 0)
                throw std::invalid_argument("line speed " + std::to_string(speed) + " is not offered");
            o.LineSpeeds.push_back(speed);
        }
    }
    const auto& rates = TCANDevice::Bitrates;
    const auto* rate = std::find_if(rates.begin(), rates.end(), [&](const auto& r) { return r.KBits == options.can_kbits; });
    if (rate == rates.end())
        throw std::invalid_argument("CAN bit rate " + std::to_string(options.can_kbits) + " kbit/s is not offered");
    o.CanBitrateCode = rate->Code;
    constexpr std::uint32_t maxId = 0x1FFFFFFE;
    if (options.first_can_id > options.last_can_id || options.last_can_id > maxId
        || options.last_can_id - options.first_can_id >= MaxCanIds)
        throw std::invalid_argument("the CAN identifiers must run upwards, at most " + std::to_string(MaxCanIds)
            + " of them, up to 0x1FFFFFFE");
    o.FirstCanId = static_cast<int32_t>(options.first_can_id);
    o.LastCanId = static_cast<int32_t>(options.last_can_id);
    if (options.answer_time.count() < 0)
        throw std::invalid_argument("the answer time must not be negative");
    o.AnswerTime = options.answer_time;
    return o;
}

ScanProblem::Kind KindOf(TScanProblem::TKind kind)
{
    switch (kind) {
    case TScanProblem::TKind::InUse:
        return ScanProblem::Kind::in_use;
    case TScanProblem::TKind::NoPermission:
        return ScanProblem::Kind::no_permission;
    case TScanProblem::TKind::Refused:
        return ScanProblem::Kind::refused;
    case TScanProblem::TKind::Unreachable:
        break;
    }
    return ScanProblem::Kind::unreachable;
}

} // namespace

ScanResult scan(const ScanOptions& options)
{
    const TScanResult found = ScanForGrippers(Translate(options));
    ScanResult result;
    for (const TFoundGripper& f : found.Found)
        result.found.push_back({f.Connection.toStdString(),
            Info{f.GripperType, f.HardwareRevision, f.FirmwareRevision, f.SerialNumber}});
    for (const TScanProblem& p : found.Problems)
        result.problems.push_back({p.Connection.toStdString(), KindOf(p.Kind), p.Text.toStdString()});
    return result;
}

std::chrono::milliseconds scan_time(const ScanOptions& options)
{
    return ScanSweepTime(Translate(options));
}

} // namespace krm
