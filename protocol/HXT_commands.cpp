#include "HXT_commands.h"

const std::array<TCommandID, CommandCount> CommandIDs{{
    {"HOMING", 0x20},
    {"GOTO", 0x21},
    {"STOP", 0x22},
    {"FAST_STOP", 0x23},
    {"FAST_STOP_ACK", 0x24},
    {"GRASP_RAW", 0x25},
    {"RELEASE_RAW", 0x26},
    {"GRASP_PROFILE", 0x27},
    {"RELEASE_PROFILE", 0x28},
    {"SET_ACCELERATION", 0x30},
    {"GET_ACCELERATION", 0x31},
    {"SET_FORCE_LIMIT", 0x32},
    {"GET_FORCE_LIMIT", 0x33},
    {"SET_SOFT_LIMITS", 0x34},
    {"GET_SOFT_LIMITS", 0x35},
    {"CLEAR_SOFT_LIMITS", 0x36},
    {"OVERDRIVE_MODE", 0x37},
    {"TARE", 0x38},
    {"GET_SYSTEM_STATE", 0x40},
    {"GET_GRASPING_STATE", 0x41},
    {"GET_GRASPING_STATS", 0x42},
    {"GET_POS", 0x43},
    {"GET_SPEED", 0x44},
    {"GET_FORCE", 0x45},
    {"GET_SYSINFO", 0x50},
    {"SET_DEVICE_TAG", 0x51},
    {"GET_DEVICE_TAG", 0x52},
    {"GET_SYSTEM_LIMITS", 0x53},
}};

const std::array<TSysflagDescr, SysflagCount> SysflagDescr{{
    {0x1, "Referenced"},
    {0x2, "Moving"},
    {0x4, "Blocked minus"},
    {0x8, "Blocked plus"},
    {0x10, "Soft limit minus"},
    {0x20, "Soft limit plus"},
    {0x40, "Axis stopped"},
    {0x80, "Target pos reached"},
    {0x100, "Overdrive mode"},
    {0x1000, "Fast stop"},
    {0x2000, "Temperature warning"},
    {0x4000, "Temperature fault"},
    {0x8000, "Power fault"},
    {0x10000, "Current fault"},
    {0x20000, "Finger fault"},
    {0x40000, "Command failure"},
    {0x80000, "Script is running"},
    {0x100000, "Script failure"},
}};

const std::array<const char*, GraspingStateCount> GraspingStateText{
    "idle", "grasping", "no part", "part lost", "holding", "releasing"};

std::string CommandName(uint8_t command)
{
    for (const TCommandID& entry : CommandIDs)
        if (entry.id == command)
            return entry.name;
    return "unknown ID(" + std::to_string(command) + ")";
}

bool IsMotionCommand(uint8_t command)
{
    switch (command) {
    case CMD_HOMING:
    case CMD_GOTO:
    case CMD_GRASP_RAW:
    case CMD_RELEASE_RAW:
    case CMD_GRASP_PROFILE:
    case CMD_RELEASE_PROFILE:
        return true;
    default:
        return false;
    }
}
