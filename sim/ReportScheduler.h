#pragma once
// Automatic reports of one connection: for each reportable command the
// client may ask for a packet every `period` ms, optionally only when the
// value changed since the last packet sent.
#include "types.h"

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

class TReportScheduler {
public:
    static constexpr uint16_t MinPeriodMs = 10;
    static constexpr uint8_t OptEnable = 0x01;
    static constexpr uint8_t OptOnlyChanged = 0x02;

    // Reads the current value bytes of a command.
    using TReader = std::function<TByteArray(uint8_t command)>;

    // Applies the 3-byte request (options, period low, period high) for
    // `command` at time nowMs; `current` is the value the answer carries,
    // which counts as sent. Returns E_SUCCESS, E_CMD_FORMAT_ERROR or
    // E_RANGE_ERROR (period below MinPeriodMs while enabling).
    uint16_t Configure(uint8_t command, const TByteArray& payload, const TByteArray& current, double nowMs);
    // Report packets due at nowMs, in command order.
    std::vector<TPacket> Due(double nowMs, const TReader& read);

private:
    struct TSubscription {
        uint16_t periodMs;
        bool onlyChanged;
        double nextDueMs;
        TByteArray lastSent;
    };
    std::map<uint8_t, TSubscription> FSubscriptions;
};
