#pragma once
// Protocol tables: command identifiers, system-state flags, grasping states.
#include <array>
#include <cstdint>
#include <string>

struct TCommandID {
    const char* name;
    int32_t id;
};

struct TSysflagDescr {
    uint32_t mask;
    const char* text;
};

constexpr int CommandCount = 28;
constexpr int SysflagCount = 18;
constexpr int GraspingStateCount = 6;

extern const std::array<TCommandID, CommandCount> CommandIDs;
extern const std::array<TSysflagDescr, SysflagCount> SysflagDescr;
extern const std::array<const char*, GraspingStateCount> GraspingStateText;

// Name of the first table entry with this command byte, or "unknown ID(N)".
std::string CommandName(uint8_t command);

// True for the commands that move the fingers: answered at once with
// E_CMD_PENDING, their final status follows when the motion ends.
bool IsMotionCommand(uint8_t command);

// Command bytes the gripper command set uses.
enum HXTCommand : uint8_t {
    CMD_HOMING = 0x20,
    CMD_GOTO = 0x21,
    CMD_STOP = 0x22,
    CMD_FAST_STOP = 0x23,
    CMD_FAST_STOP_ACK = 0x24,
    CMD_GRASP_RAW = 0x25,
    CMD_RELEASE_RAW = 0x26,
    CMD_GRASP_PROFILE = 0x27,
    CMD_RELEASE_PROFILE = 0x28,
    CMD_SET_ACCELERATION = 0x30,
    CMD_GET_ACCELERATION = 0x31,
    CMD_SET_FORCE_LIMIT = 0x32,
    CMD_GET_FORCE_LIMIT = 0x33,
    CMD_SET_SOFT_LIMITS = 0x34,
    CMD_GET_SOFT_LIMITS = 0x35,
    CMD_CLEAR_SOFT_LIMITS = 0x36,
    CMD_OVERDRIVE_MODE = 0x37,
    CMD_TARE = 0x38,
    CMD_GET_SYSTEM_STATE = 0x40,
    CMD_GET_GRASPING_STATE = 0x41,
    CMD_GET_GRASPING_STATS = 0x42,
    CMD_GET_POS = 0x43,
    CMD_GET_SPEED = 0x44,
    CMD_GET_FORCE = 0x45,
    CMD_GET_SYSINFO = 0x50,
    CMD_SET_DEVICE_TAG = 0x51,
    CMD_GET_DEVICE_TAG = 0x52,
    CMD_GET_SYSTEM_LIMITS = 0x53
};
