#pragma once
// Status codes: the code every gripper answer carries and the result of every
// protocol, command and transport operation of the program.
#include <cstdint>
#include <string>

enum TStat : uint8_t {
    E_SUCCESS = 0,
    E_NOT_AVAILABLE,
    E_NO_SENSOR,
    E_NOT_INITIALIZED,
    E_ALREADY_RUNNING,
    E_FEATURE_NOT_SUPPORTED,
    E_INCONSISTENT_DATA,
    E_TIMEOUT,
    E_READ_ERROR,
    E_WRITE_ERROR,
    E_INSUFFICIENT_RESOURCES,
    E_CHECKSUM_ERROR,
    E_NO_PARAM_EXPECTED,
    E_NOT_ENOUGH_PARAMS,
    E_CMD_UNKNOWN,
    E_CMD_FORMAT_ERROR,
    E_ACCESS_DENIED,
    E_ALREADY_OPEN,
    E_CMD_FAILED,
    E_CMD_ABORTED,
    E_INVALID_HANDLE,
    E_NOT_FOUND,
    E_NOT_OPENED,
    E_IO_ERROR,
    E_INVALID_PARAMETER,
    E_INDEX_OUT_OF_BOUNDS,
    E_CMD_PENDING,
    E_OVERRUN,
    E_RANGE_ERROR,
    E_AXIS_BLOCKED,
    E_ALREADY_CLOSED,
    E_FILE_EXISTS
};

// Number of defined status codes (0 to StatCount - 1).
constexpr int StatCount = 32;

// User text of a status code; codes without a text of their own (2 and every
// value above 31) give "Internal error, unknown error code (N)".
std::string StatusText(uint8_t code);

// Symbolic name of a status code ("E_SUCCESS"); for values above 31, which have
// no name, the code in decimal digits.
std::string StatusName(uint8_t code);
