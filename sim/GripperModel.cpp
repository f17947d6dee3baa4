#include "GripperModel.h"

#include "Answer.h"
#include "HXT_commands.h"
#include "convert.h"
#include "stat.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double ContactEps = 1e-6;
constexpr double FlagEps = 1e-3;
// Homing drives past the stroke so that it ends on the end stop.
constexpr double HomingOvertravel = 5.0;
constexpr uint8_t GotoRelative = 0x01;

float FloatAt(const TPacket& p, size_t offset) { return SingleAt(p.data.data() + offset); }

bool HasLength(const TPacket& p, int32_t n) { return p.ValidLength() == n && p.length == n; }
}

TGripperModel::TGripperModel(const TGripperConfig& config, TClock clock)
    : FConfig(config),
      FClock(std::move(clock)),
      FPosition(std::clamp<double>(config.startPosition, 0.0, config.stroke)),
      FReferenced(config.startReferenced),
      FAcceleration(config.maxAcceleration / 2),
      FForceLimit(config.maxForce / 2)
{
}

bool TGripperModel::IsReportable(uint8_t command)
{
    return command == CMD_GET_SYSTEM_STATE || command == CMD_GET_GRASPING_STATE || command == CMD_GET_POS
        || command == CMD_GET_SPEED || command == CMD_GET_FORCE;
}

TByteArray TGripperModel::Reading(uint8_t command) const
{
    TByteArray out;
    switch (command) {
    case CMD_GET_SYSTEM_STATE: PutInt(out, SystemState()); break;
    case CMD_GET_GRASPING_STATE: out.push_back(FGraspingState); break;
    case CMD_GET_POS: PutFloat(out, Position()); break;
    case CMD_GET_SPEED: PutFloat(out, Speed()); break;
    case CMD_GET_FORCE: PutFloat(out, Force()); break;
    default: break;
    }
    return out;
}

uint32_t TGripperModel::SystemState() const
{
    uint32_t s = FEventFlags;
    if (FReferenced)
        s |= FlagReferenced;
    if (FMotion)
        s |= FlagMoving;
    if (FSoftLimits) {
        if (FPosition <= FSoftLimits->first + FlagEps)
            s |= FlagSoftLimitMinus;
        if (FPosition >= FSoftLimits->second - FlagEps)
            s |= FlagSoftLimitPlus;
    }
    if (FOverdrive)
        s |= FlagOverdrive;
    if (FFastStop)
        s |= FlagFastStop;
    return s;
}

float TGripperModel::Force() const
{
    const double f = FGraspingState == GS_HOLDING ? FGraspForce + FForceOffset : FForceOffset;
    return static_cast<float>(f);
}

TPacket TGripperModel::Handle(const TPacket& request, int origin)
{
    Update();
    const uint8_t cmd = static_cast<uint8_t>(request.command);
    const int32_t n = request.ValidLength();
    auto statusOnly = [&](uint16_t status) { return MakeAnswer(cmd, status); };
    auto withResult = [&](int32_t expected, auto&& result) {
        if (n != expected)
            return statusOnly(E_CMD_FORMAT_ERROR);
        return MakeAnswer(cmd, E_SUCCESS, result());
    };

    if (IsReportable(cmd))
        return withResult(0, [&] { return Reading(cmd); });

    if (IsMotionCommand(cmd))
        return statusOnly(DoMotion(request, origin));

    switch (cmd) {
    case CMD_STOP:
        return statusOnly(n == 0 ? DoStop(false) : uint16_t(E_CMD_FORMAT_ERROR));
    case CMD_FAST_STOP:
        return statusOnly(n == 0 ? DoStop(true) : uint16_t(E_CMD_FORMAT_ERROR));
    case CMD_FAST_STOP_ACK:
        return statusOnly(DoFastStopAck(request));
    case CMD_SET_ACCELERATION:
        return statusOnly(DoSetAcceleration(request));
    case CMD_GET_ACCELERATION:
        return withResult(0, [&] { TByteArray r; PutFloat(r, FAcceleration); return r; });
    case CMD_SET_FORCE_LIMIT:
        return statusOnly(DoSetForceLimit(request));
    case CMD_GET_FORCE_LIMIT:
        return withResult(0, [&] { TByteArray r; PutFloat(r, FForceLimit); return r; });
    case CMD_SET_SOFT_LIMITS:
        return statusOnly(DoSetSoftLimits(request));
    case CMD_GET_SOFT_LIMITS:
        return withResult(0, [&] {
            TByteArray r;
            PutFloat(r, FSoftLimits ? FSoftLimits->first : 0.0f);
            PutFloat(r, FSoftLimits ? FSoftLimits->second : FConfig.stroke);
            return r;
        });
    case CMD_CLEAR_SOFT_LIMITS:
        if (n != 0)
            return statusOnly(E_CMD_FORMAT_ERROR);
        FSoftLimits.reset();
        return statusOnly(E_SUCCESS);
    case CMD_OVERDRIVE_MODE:
        return statusOnly(DoOverdrive(request));
    case CMD_TARE:
        return statusOnly(n == 0 ? DoTare() : uint16_t(E_CMD_FORMAT_ERROR));
    case CMD_GET_GRASPING_STATS: {
        TByteArray result;
        const uint16_t status = DoGraspingStats(request, result);
        return MakeAnswer(cmd, status, result);
    }
    case CMD_GET_SYSINFO:
        return withResult(0, [&] { return SystemInfo(); });
    case CMD_SET_DEVICE_TAG:
        return statusOnly(DoSetTag(request));
    case CMD_GET_DEVICE_TAG:
        return withResult(0, [&] { return TByteArray(FTag.begin(), FTag.end()); });
    case CMD_GET_SYSTEM_LIMITS:
        return withResult(0, [&] { return SystemLimits(); });
    default:
        return statusOnly(E_CMD_UNKNOWN);
    }
}

TByteArray TGripperModel::SystemInfo() const
{
    TByteArray r;
    r.push_back(FConfig.gripperType);
    r.push_back(FConfig.hardwareRevision);
    PutWord(r, FConfig.firmwareRevision);
    PutInt(r, FConfig.serialNumber);
    return r;
}

TByteArray TGripperModel::SystemLimits() const
{
    TByteArray r;
    for (float v : {FConfig.stroke, FConfig.minSpeed, FConfig.maxSpeed, FConfig.minAcceleration,
             FConfig.maxAcceleration, FConfig.minForce, FConfig.maxForce, FConfig.overdriveForce})
        PutFloat(r, v);
    return r;
}

uint16_t TGripperModel::CheckMotionAllowed(uint8_t command) const
{
    if (FFastStop)
        return E_ACCESS_DENIED;
    if (!FReferenced && command != CMD_HOMING)
        return E_NOT_INITIALIZED;
    return E_SUCCESS;
}

bool TGripperModel::InSoftRange(double x) const
{
    // Written so that NaN fails every comparison and is refused.
    const double lo = FSoftLimits ? FSoftLimits->first : 0.0;
    const double hi = FSoftLimits ? FSoftLimits->second : FConfig.stroke;
    return x >= lo && x <= hi;
}

bool TGripperModel::SpeedInRange(float v) const { return v >= FConfig.minSpeed && v <= FConfig.maxSpeed; }

bool TGripperModel::AccelerationInRange(float a) const
{
    return a >= FConfig.minAcceleration && a <= FConfig.maxAcceleration;
}

bool TGripperModel::ForceInRange(float f) const
{
    return f >= FConfig.minForce && f <= (FOverdrive ? FConfig.overdriveForce : FConfig.maxForce);
}

uint16_t TGripperModel::DoMotion(const TPacket& request, int origin)
{
    const uint8_t cmd = static_cast<uint8_t>(request.command);
    static constexpr std::pair<uint8_t, int32_t> Lengths[] = {{CMD_HOMING, 1}, {CMD_GOTO, 9}, {CMD_GRASP_RAW, 8},
        {CMD_RELEASE_RAW, 8}, {CMD_GRASP_PROFILE, 16}, {CMD_RELEASE_PROFILE, 12}};
    for (const auto& [c, len] : Lengths)
        if (c == cmd && !HasLength(request, len))
            return E_CMD_FORMAT_ERROR;
    if (const uint16_t s = CheckMotionAllowed(cmd); s != E_SUCCESS)
        return s;

    if (cmd == CMD_HOMING) {
        const uint8_t direction = request.data[0];
        if (direction > 2)
            return E_RANGE_ERROR;
        const double target = direction == 2 ? -HomingOvertravel : FConfig.stroke + HomingOvertravel;
        StartMotion(TMotionKind::Homing, cmd, origin, target, FConfig.homingSpeed, FAcceleration);
        return E_CMD_PENDING;
    }

    if (cmd == CMD_GOTO) {
        const bool relative = (request.data[0] & GotoRelative) != 0;
        const float value = FloatAt(request, 1);
        const float speed = FloatAt(request, 5);
        if (!std::isfinite(value) || !SpeedInRange(speed))
            return E_RANGE_ERROR;
        const double target = relative ? FPosition + value : value;
        // A relative move may run into an end stop; an absolute target must
        // lie within the working range.
        if (relative ? (FSoftLimits && !InSoftRange(target)) : !InSoftRange(target))
            return E_RANGE_ERROR;
        StartMotion(TMotionKind::Goto, cmd, origin, target, speed, FAcceleration);
        return E_CMD_PENDING;
    }

    const bool grasp = cmd == CMD_GRASP_RAW || cmd == CMD_GRASP_PROFILE;
    const bool profile = cmd == CMD_GRASP_PROFILE || cmd == CMD_RELEASE_PROFILE;
    const float position = FloatAt(request, 0);
    const float speed = FloatAt(request, 4);
    const float accel = profile ? FloatAt(request, 8) : FAcceleration;
    const float force = cmd == CMD_GRASP_PROFILE ? FloatAt(request, 12) : FForceLimit;
    if (!InSoftRange(position) || !SpeedInRange(speed) || !AccelerationInRange(accel)
        || (grasp && !ForceInRange(force)))
        return E_RANGE_ERROR;
    if (grasp) {
        FGraspForce = force;
        const double travelEnd = std::max(0.0, double(position) - FConfig.graspTolerance);
        StartMotion(TMotionKind::Grasp, cmd, origin, travelEnd, speed, accel);
    } else {
        StartMotion(TMotionKind::Release, cmd, origin, position, speed, accel);
    }
    return E_CMD_PENDING;
}

void TGripperModel::StartMotion(TMotionKind kind, uint8_t command, int origin, double target, double speed, double accel)
{
    AbortMotion();
    FEventFlags = 0;
    const bool partBetween = FConfig.partWidth > 0 && FConfig.partWidth <= FPosition + ContactEps;
    TMotion m{kind, command, origin, TMotionProfile(FPosition, FSpeed, target, speed, accel), FClock(),
        partBetween ? FConfig.partWidth : 0.0, FConfig.stroke, partBetween};
    FMotion = std::move(m);
    switch (kind) {
    case TMotionKind::Grasp: FGraspingState = GS_GRASPING; break;
    case TMotionKind::Release: FGraspingState = GS_RELEASING; break;
    default: FGraspingState = GS_IDLE; break;
    }
}

void TGripperModel::AbortMotion()
{
    if (!FMotion)
        return;
    const TMotion m = *FMotion;
    FMotion.reset();
    if (FGraspingState == GS_GRASPING || FGraspingState == GS_RELEASING)
        FGraspingState = GS_IDLE;
    Finish(m.origin, m.command, E_CMD_ABORTED);
}

void TGripperModel::Finish(int origin, uint8_t command, uint16_t status)
{
    if (origin >= 0 && OnFinished)
        OnFinished(origin, MakeAnswer(command, status));
}

uint16_t TGripperModel::DoStop(bool fast)
{
    if (fast) {
        FFastStop = true;
        AbortMotion();
        FSpeed = 0;
        FEventFlags |= FlagAxisStopped;
        return E_SUCCESS;
    }
    if (!FMotion) {
        FEventFlags |= FlagAxisStopped;
        return E_SUCCESS;
    }
    if (FMotion->kind != TMotionKind::Braking) {
        if (FGraspingState == GS_GRASPING || FGraspingState == GS_RELEASING)
            FGraspingState = GS_IDLE;
        FMotion->kind = TMotionKind::Braking;
        FMotion->profile = TMotionProfile::Braking(FPosition, FSpeed, FAcceleration);
        FMotion->startMs = FClock();
    }
    return E_SUCCESS;
}

uint16_t TGripperModel::DoFastStopAck(const TPacket& request)
{
    if (!HasLength(request, 3))
        return E_CMD_FORMAT_ERROR;
    if (request.data[0] != 'a' || request.data[1] != 'c' || request.data[2] != 'k')
        return E_INVALID_PARAMETER;
    FFastStop = false;
    return E_SUCCESS;
}

uint16_t TGripperModel::DoSetAcceleration(const TPacket& request)
{
    if (!HasLength(request, 4))
        return E_CMD_FORMAT_ERROR;
    const float a = FloatAt(request, 0);
    if (!AccelerationInRange(a))
        return E_RANGE_ERROR;
    FAcceleration = a;
    return E_SUCCESS;
}

uint16_t TGripperModel::DoSetForceLimit(const TPacket& request)
{
    if (!HasLength(request, 4))
        return E_CMD_FORMAT_ERROR;
    const float f = FloatAt(request, 0);
    if (!ForceInRange(f))
        return E_RANGE_ERROR;
    FForceLimit = f;
    return E_SUCCESS;
}

uint16_t TGripperModel::DoSetSoftLimits(const TPacket& request)
{
    if (!HasLength(request, 8))
        return E_CMD_FORMAT_ERROR;
    const float minus = FloatAt(request, 0);
    const float plus = FloatAt(request, 4);
    if (!(minus >= 0 && minus < plus && plus <= FConfig.stroke))
        return E_RANGE_ERROR;
    FSoftLimits = std::make_pair(minus, plus);
    return E_SUCCESS;
}

uint16_t TGripperModel::DoOverdrive(const TPacket& request)
{
    if (!HasLength(request, 1))
        return E_CMD_FORMAT_ERROR;
    if (request.data[0] > 1)
        return E_INVALID_PARAMETER;
    FOverdrive = request.data[0] == 1;
    if (!FOverdrive)
        FForceLimit = std::min(FForceLimit, FConfig.maxForce);
    return E_SUCCESS;
}

uint16_t TGripperModel::DoTare()
{
    if (FMotion)
        return E_ACCESS_DENIED;
    FForceOffset = 0;
    return E_SUCCESS;
}

uint16_t TGripperModel::DoSetTag(const TPacket& request)
{
    const int32_t n = request.ValidLength();
    if (n < 1 || static_cast<size_t>(n) > MaxTagLength || n != request.length)
        return E_CMD_FORMAT_ERROR;
    FTag.assign(request.data.begin(), request.data.begin() + n);
    return E_SUCCESS;
}

uint16_t TGripperModel::DoGraspingStats(const TPacket& request, TByteArray& result)
{
    if (!HasLength(request, 1))
        return E_CMD_FORMAT_ERROR;
    if (request.data[0] > 1)
        return E_INVALID_PARAMETER;
    PutInt(result, FNumGrasps);
    PutWord(result, FNumNotFound);
    PutWord(result, FNumLost);
    if (request.data[0] == 1) {
        FNumGrasps = 0;
        FNumNotFound = 0;
        FNumLost = 0;
    }
    return E_SUCCESS;
}

void TGripperModel::Update()
{
    const double now = FClock();
    if (FMotion) {
        const double t = std::max(0.0, (now - FMotion->startMs) / 1000.0);
        const double x = FMotion->profile.PositionAt(t);
        const double v = FMotion->profile.SpeedAt(t);
        // A stop is met when the fingers pass it, or reach it on the way to a
        // target beyond it; arriving exactly at a target on a stop is no block.
        const double target = FMotion->profile.Target();
        const double low = FMotion->lowStop;
        const double high = FMotion->highStop;
        if (x < low - ContactEps || (target < low - ContactEps && x <= low + ContactEps))
            FinishMotion(true, low);
        else if (x > high + ContactEps || (target > high + ContactEps && x >= high - ContactEps))
            FinishMotion(true, high);
        else if (t >= FMotion->profile.Duration())
            FinishMotion(false, std::clamp(x, low, high));
        else {
            // Rounding in the profile may put the fingers a hair beyond a
            // stop without counting as meeting it; they never leave the stops.
            FPosition = std::clamp(x, low, high);
            FSpeed = v;
        }
    }
    if (FGraspingState == GS_HOLDING && FConfig.partLostAfterMs > 0 && !FMotion
        && now - FHoldingSinceMs >= FConfig.partLostAfterMs) {
        // The part slips out and the fingers close on the grasping force.
        FGraspingState = GS_PART_LOST;
        if (FNumLost < UINT16_MAX)
            ++FNumLost;
        const double travelEnd = std::max(0.0, FPosition - FConfig.graspTolerance);
        TMotion m{TMotionKind::PartSlip, 0, -1, TMotionProfile(FPosition, 0, travelEnd, FConfig.homingSpeed,
                      FAcceleration), now, 0.0, FConfig.stroke, false};
        FMotion = std::move(m);
    }
}

void TGripperModel::FinishMotion(bool blocked, double stopAt)
{
    const TMotion m = *FMotion;
    FMotion.reset();
    const bool closing = stopAt <= FPosition;
    FPosition = stopAt;
    FSpeed = 0;
    const bool onPart = blocked && m.lowIsPart && stopAt == m.lowStop;
    const uint32_t blockedFlag = closing ? FlagBlockedMinus : FlagBlockedPlus;
    uint16_t status = E_SUCCESS;
    switch (m.kind) {
    case TMotionKind::Homing:
        if (onPart) {
            FEventFlags |= blockedFlag;
            status = E_AXIS_BLOCKED;
        } else {
            FReferenced = true;
        }
        break;
    case TMotionKind::Goto:
    case TMotionKind::Release:
        FGraspingState = GS_IDLE;
        if (blocked) {
            FEventFlags |= blockedFlag;
            status = E_AXIS_BLOCKED;
        } else {
            FEventFlags |= FlagTargetReached;
        }
        break;
    case TMotionKind::Grasp:
        if (FNumGrasps < UINT32_MAX)
            ++FNumGrasps;
        if (onPart) {
            FGraspingState = GS_HOLDING;
            FHoldingSinceMs = FClock();
        } else {
            FGraspingState = GS_NO_PART;
            if (FNumNotFound < UINT16_MAX)
                ++FNumNotFound;
            status = E_CMD_FAILED;
        }
        break;
    case TMotionKind::Braking:
        FEventFlags |= FlagAxisStopped;
        status = E_CMD_ABORTED;
        break;
    case TMotionKind::PartSlip:
        return;
    }
    Finish(m.origin, m.command, status);
}
