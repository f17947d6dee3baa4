#pragma once
// One client's view of the gripper: passes requests to the shared model and
// keeps the client's own automatic-report subscriptions.
#include "GripperModel.h"
#include "ReportScheduler.h"
#include "types.h"

#include <vector>

class TSimEndpoint {
public:
    TSimEndpoint(TGripperModel& model, int origin);

    // The immediate answer to a request. A reportable command (0x40, 0x41,
    // 0x43, 0x44, 0x45) with the 3-byte report request configures the
    // reports and answers with the current value, as does the bare read.
    TPacket Handle(const TPacket& request);
    // Reports whose time has come.
    std::vector<TPacket> DueReports();
    int Origin() const { return FOrigin; }

private:
    TGripperModel& FModel;
    int FOrigin;
    TReportScheduler FReports;
};
