#include "GripperOperator.h"

#include "CommLogForm.h"
#include "HXTForm.h"
#include "MessageDialog.h"
#include "TransportOperator.h"

void AttachOperator(THXT& gripper)
{
    AttachDialogs(*gripper.Dispatcher());
    gripper.OnTransportReport = [](QObject*, TTransportReport, const QString& text) { ShowError(text); };
    // The log window is looked up at each packet: it is made after the main
    // window and may be gone before it.
    gripper.PacketLog = [](const TPacket& packet, bool received) {
        if (CommLog)
            CommLog->LogPacket(packet, received);
    };
}
