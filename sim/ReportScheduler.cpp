#include "ReportScheduler.h"

#include "Answer.h"
#include "convert.h"
#include "stat.h"

uint16_t TReportScheduler::Configure(uint8_t command, const TByteArray& payload, const TByteArray& current, double nowMs)
{
    if (payload.size() != 3)
        return E_CMD_FORMAT_ERROR;
    const uint8_t options = payload[0];
    const uint16_t period = WordAt(payload.data() + 1);
    if (!(options & OptEnable)) {
        FSubscriptions.erase(command);
        return E_SUCCESS;
    }
    if (period < MinPeriodMs)
        return E_RANGE_ERROR;
    FSubscriptions[command] = TSubscription{period, (options & OptOnlyChanged) != 0, nowMs + period, current};
    return E_SUCCESS;
}

std::vector<TPacket> TReportScheduler::Due(double nowMs, const TReader& read)
{
    std::vector<TPacket> out;
    for (auto& [command, sub] : FSubscriptions) {
        if (nowMs < sub.nextDueMs)
            continue;
        // Keep the cadence; after a long stall start afresh instead of
        // sending a burst of overdue reports.
        sub.nextDueMs += sub.periodMs;
        if (sub.nextDueMs <= nowMs)
            sub.nextDueMs = nowMs + sub.periodMs;
        TByteArray value = read(command);
        if (sub.onlyChanged && value == sub.lastSent)
            continue;
        out.push_back(MakeAnswer(command, E_SUCCESS, value));
        sub.lastSent = std::move(value);
    }
    return out;
}
