#include "stat.h"

#include <array>

namespace {

struct StatEntry {
    const char* name;
    const char* text; // nullptr: the code has no text of its own
};

constexpr std::array<StatEntry, StatCount> StatTable{{
    {"E_SUCCESS", "No error"},
    {"E_NOT_AVAILABLE", "Service or data is not available"},
    {"E_NO_SENSOR", nullptr},
    {"E_NOT_INITIALIZED", "The device is not initialized"},
    {"E_ALREADY_RUNNING", "The requested service is already running"},
    {"E_FEATURE_NOT_SUPPORTED", "The asked feature is not supported"},
    {"E_INCONSISTENT_DATA", "One or more dependent parameters mismatch"},
    {"E_TIMEOUT", "Timeout error"},
    {"E_READ_ERROR", "Error while reading from a device"},
    {"E_WRITE_ERROR", "Error while writing to a device"},
    {"E_INSUFFICIENT_RESOURCES", "No memory available"},
    {"E_CHECKSUM_ERROR", "Checksum error"},
    {"E_NO_PARAM_EXPECTED", "No parameters expected"},
    {"E_NOT_ENOUGH_PARAMS", "Not enough parameters"},
    {"E_CMD_UNKNOWN", "Unknown command"},
    {"E_CMD_FORMAT_ERROR", "Command format error"},
    {"E_ACCESS_DENIED", "Access denied"},
    {"E_ALREADY_OPEN", "Interface already open"},
    {"E_CMD_FAILED", "Command failed"},
    {"E_CMD_ABORTED", "Command aborted"},
    {"E_INVALID_HANDLE", "Invalid handle"},
    {"E_NOT_FOUND", "Device or file not found"},
    {"E_NOT_OPENED", "Device or file not open"},
    {"E_IO_ERROR", "General I/O-Error"},
    {"E_INVALID_PARAMETER", "Invalid parameter"},
    {"E_INDEX_OUT_OF_BOUNDS", "Index out of bounds"},
    {"E_CMD_PENDING", "Command pending..."},
    {"E_OVERRUN", "Data overrun"},
    {"E_RANGE_ERROR", "Range error"},
    {"E_AXIS_BLOCKED", "Axis is blocked"},
    {"E_ALREADY_CLOSED", "Interface is already closed"},
    {"E_FILE_EXISTS", "File already exists"},
}};

} // namespace

std::string StatusText(uint8_t code)
{
    if (code < StatCount && StatTable[code].text)
        return StatTable[code].text;
    return "Internal error, unknown error code (" + std::to_string(code) + ")";
}

std::string StatusName(uint8_t code)
{
    if (code < StatCount)
        return StatTable[code].name;
    return std::to_string(code);
}
