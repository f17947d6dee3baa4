#include "SimEndpoint.h"

#include "Answer.h"
#include "stat.h"

TSimEndpoint::TSimEndpoint(TGripperModel& model, int origin) : FModel(model), FOrigin(origin) {}

TPacket TSimEndpoint::Handle(const TPacket& request)
{
    const uint8_t cmd = static_cast<uint8_t>(request.command);
    if (!TGripperModel::IsReportable(cmd) || request.ValidLength() != 3 || request.length != 3)
        return FModel.Handle(request, FOrigin);
    FModel.Update();
    const TByteArray current = FModel.Reading(cmd);
    const TByteArray payload(request.data.begin(), request.data.begin() + 3);
    const uint16_t status = FReports.Configure(cmd, payload, current, FModel.Now());
    return status == E_SUCCESS ? MakeAnswer(cmd, status, current) : MakeAnswer(cmd, status);
}

std::vector<TPacket> TSimEndpoint::DueReports()
{
    return FReports.Due(FModel.Now(), [this](uint8_t command) { return FModel.Reading(command); });
}
