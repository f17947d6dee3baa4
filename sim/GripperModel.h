#pragma once
// The simulated gripper: finger motion in real time, grasping with a
// workpiece, system-state flags, limits and statistics. It answers request
// packets and knows nothing of transports: each request carries an origin
// (the connection it came from) and the final answer of a motion command is
// handed back with the origin that started it.
#include "GripperConfig.h"
#include "MotionProfile.h"
#include "types.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class TGripperModel {
public:
    // Milliseconds of a monotonic clock.
    using TClock = std::function<double()>;
    using TFinishedEvent = std::function<void(int origin, TPacket&& answer)>;

    // System-state flags.
    static constexpr uint32_t FlagReferenced = 0x1;
    static constexpr uint32_t FlagMoving = 0x2;
    static constexpr uint32_t FlagBlockedMinus = 0x4;
    static constexpr uint32_t FlagBlockedPlus = 0x8;
    static constexpr uint32_t FlagSoftLimitMinus = 0x10;
    static constexpr uint32_t FlagSoftLimitPlus = 0x20;
    static constexpr uint32_t FlagAxisStopped = 0x40;
    static constexpr uint32_t FlagTargetReached = 0x80;
    static constexpr uint32_t FlagOverdrive = 0x100;
    static constexpr uint32_t FlagFastStop = 0x1000;

    enum TGraspingState : uint8_t { GS_IDLE, GS_GRASPING, GS_NO_PART, GS_PART_LOST, GS_HOLDING, GS_RELEASING };

    static constexpr size_t MaxTagLength = 64;

    TGripperModel(const TGripperConfig& config, TClock clock);

    // Answers one request; motion commands answer E_CMD_PENDING here and their
    // final status later through OnFinished. The reportable readings
    // (0x40, 0x41, 0x43, 0x44, 0x45) are answered by the caller with Reading().
    TPacket Handle(const TPacket& request, int origin);
    // Brings motion and workpiece up to the clock's time, firing OnFinished
    // for a motion that ended.
    void Update();

    // Current value bytes of a reportable command; empty for other commands.
    TByteArray Reading(uint8_t command) const;
    static bool IsReportable(uint8_t command);

    uint32_t SystemState() const;
    uint8_t GraspingState() const { return FGraspingState; }
    float Position() const { return static_cast<float>(FPosition); }
    float Speed() const { return static_cast<float>(FSpeed); }
    float Force() const;
    bool Moving() const { return FMotion.has_value(); }
    double Now() const { return FClock(); }

    TFinishedEvent OnFinished;

private:
    enum class TMotionKind { Homing, Goto, Grasp, Release, Braking, PartSlip };
    struct TMotion {
        TMotionKind kind;
        uint8_t command;
        int origin;
        TMotionProfile profile;
        double startMs;
        double lowStop;  // the fingers cannot close below this (part or end stop)
        double highStop; // nor open beyond this (end stop)
        bool lowIsPart;
    };

    uint16_t DoMotion(const TPacket& request, int origin);
    uint16_t DoStop(bool fast);
    uint16_t DoFastStopAck(const TPacket& request);
    uint16_t DoSetAcceleration(const TPacket& request);
    uint16_t DoSetForceLimit(const TPacket& request);
    uint16_t DoSetSoftLimits(const TPacket& request);
    uint16_t DoOverdrive(const TPacket& request);
    uint16_t DoTare();
    uint16_t DoSetTag(const TPacket& request);
    uint16_t DoGraspingStats(const TPacket& request, TByteArray& result);
    TByteArray SystemInfo() const;
    TByteArray SystemLimits() const;

    uint16_t CheckMotionAllowed(uint8_t command) const;
    bool InSoftRange(double x) const;
    bool SpeedInRange(float v) const;
    bool AccelerationInRange(float a) const;
    bool ForceInRange(float f) const;
    void StartMotion(TMotionKind kind, uint8_t command, int origin, double target, double speed, double accel);
    void AbortMotion();
    void FinishMotion(bool blocked, double stopAt);
    void Finish(int origin, uint8_t command, uint16_t status);

    TGripperConfig FConfig;
    TClock FClock;
    double FPosition;
    double FSpeed = 0;
    bool FReferenced;
    bool FFastStop = false;
    bool FOverdrive = false;
    uint32_t FEventFlags = 0; // blocked, stopped, target reached: until the next motion
    float FAcceleration;
    float FForceLimit;
    float FGraspForce = 0;   // force of the running or last grasp
    double FForceOffset = 0.4; // sensor drift until the next tare
    std::optional<std::pair<float, float>> FSoftLimits;
    uint8_t FGraspingState = GS_IDLE;
    double FHoldingSinceMs = 0;
    uint32_t FNumGrasps = 0;
    uint16_t FNumNotFound = 0;
    uint16_t FNumLost = 0;
    std::string FTag = "GRIPPER";
    std::optional<TMotion> FMotion;
};
