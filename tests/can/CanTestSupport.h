#pragma once
// Scaffolding of the CAN tests: a fixture that answers the CAN parameter
// dialog like an operator (identifier and bit rate of the test's choice) and
// records what the dialog showed, and a recorder of the device's events.
#include "../transports/TransportTestSupport.h"

#include "CANDevice.h"
#include "CanParamsDialog.h"
#include "IntegerEdit.h"

#include <QComboBox>

#include <vector>

class CanDeviceTest : public TransportTest {
protected:
    void SetUp() override
    {
        TransportTest::SetUp();
        DialogScript = [this](QDialog& dialog) {
            auto& params = dynamic_cast<TCANParamsDlg&>(dialog);
            ShownBitrateText = dialog.findChild<QComboBox*>(QStringLiteral("cbBitrate"))->currentText();
            ShownIdText = dialog.findChild<TIntegerEdit*>(QStringLiteral("edID"))->text();
            if (!Accept)
                return Press(dialog, "btnCancel");
            if (!IdText.isEmpty())
                dialog.findChild<TIntegerEdit*>(QStringLiteral("edID"))->setText(IdText);
            if (Bitrate >= 0)
                params.SetBitrateCode(static_cast<uint32_t>(Bitrate));
            return Press(dialog, "btnOk");
        };
    }

    // Wires the device's events to the counters below.
    void Watch(TCANDevice& device)
    {
        device.OnConnect = [this](TDevice*) { ++Connects; };
        device.OnDisconnect = [this](TDevice*) { ++Disconnects; };
        device.OnDataAvailable = [this](TDevice* sender, int32_t count) {
            ++Notifications;
            if (!ReadInHandler)
                return;
            std::vector<uint8_t> buffer(static_cast<size_t>(std::min(count, ReadLimit)));
            const int32_t got = sender->Read(buffer.data(), static_cast<int32_t>(buffer.size()));
            if (got > 0)
                Received.insert(Received.end(), buffer.begin(), buffer.begin() + got);
        };
    }

    // Operator's answer to the dialog.
    bool Accept = true;
    QString IdText = QStringLiteral("100");
    int Bitrate = -1; // driver code to choose; -1 keeps the preselection

    // What the dialog showed when it was run last.
    QString ShownBitrateText;
    QString ShownIdText;

    int Connects = 0;
    int Disconnects = 0;
    int Notifications = 0;
    bool ReadInHandler = true;
    int32_t ReadLimit = 4096;
    std::vector<uint8_t> Received;
};
