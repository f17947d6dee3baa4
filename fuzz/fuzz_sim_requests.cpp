// Fuzz target for the simulator's request handling, from received bytes to
// answers. The input is a small program of operations: raw bytes, framed
// requests (any command byte, or a known one with numbers that matter:
// NaN, infinities, negatives, values far out of range), and clock steps that
// move the fingers and send due reports. Properties: every request that gets
// through the frame check is answered by one well-formed frame (checksum of
// bytes 0 to 5 + n, low byte first; the request's command byte; a status
// word), so are final results and reports; and the fingers never leave the
// stroke.
#include "FuzzSupport.h"
#include "FrameAssembler.h"
#include "Framing.h"
#include "GripperModel.h"
#include "HXT_commands.h"
#include "SimEndpoint.h"
#include "convert.h"
#include "crc.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

constexpr uint8_t Commands[] = {CMD_HOMING, CMD_GOTO, CMD_STOP, CMD_FAST_STOP, CMD_FAST_STOP_ACK, CMD_GRASP_RAW,
    CMD_RELEASE_RAW, CMD_GRASP_PROFILE, CMD_RELEASE_PROFILE, CMD_SET_ACCELERATION, CMD_GET_ACCELERATION,
    CMD_SET_FORCE_LIMIT, CMD_GET_FORCE_LIMIT, CMD_SET_SOFT_LIMITS, CMD_GET_SOFT_LIMITS, CMD_CLEAR_SOFT_LIMITS,
    CMD_OVERDRIVE_MODE, CMD_TARE, CMD_GET_SYSTEM_STATE, CMD_GET_GRASPING_STATE, CMD_GET_GRASPING_STATS, CMD_GET_POS,
    CMD_GET_SPEED, CMD_GET_FORCE, CMD_GET_SYSINFO, CMD_SET_DEVICE_TAG, CMD_GET_DEVICE_TAG, CMD_GET_SYSTEM_LIMITS};

constexpr float Numbers[] = {0.0f, 1.0f, -1.0f, 10.0f, 50.0f, 109.9f, 110.0f, 200.0f, 1e9f, -1e9f,
    std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
    -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::denorm_min(), 5.0f, 420.0f, 5000.0f};

// A frame the simulator sends: preamble, `command`, length, a status word
// and the checksum of everything before it.
void CheckWellFormed(const TPacket& packet, uint8_t command)
{
    Check(static_cast<uint8_t>(packet.command) == command);
    Check(packet.length >= 2 && static_cast<size_t>(packet.length) == packet.data.size());
    TByteArray frame;
    Check(FramePacket(packet, frame) == E_SUCCESS);
    const size_t n = frame.size() - FrameOverhead;
    Check(frame[0] == 0xAA && frame[1] == 0xAA && frame[2] == 0xAA && frame[3] == command);
    Check(frame[4] + 256u * frame[5] == n);
    const uint16_t crc = CrcBytes(frame.data(), 6 + n, 0xFFFF);
    Check(frame[6 + n] == uint8_t(crc) && frame[7 + n] == uint8_t(crc >> 8));
}

struct Harness {
    double now = 0;
    TGripperConfig config;
    TGripperModel model{config, [this] { return now; }};
    TSimEndpoint endpoint{model, 1};
    TFrameAssembler assembler{[this] { return static_cast<uint32_t>(now); }};

    Harness()
    {
        model.OnFinished = [](int origin, TPacket&& answer) {
            Check(origin == 1);
            CheckWellFormed(answer, static_cast<uint8_t>(answer.command));
        };
        assembler.OnFrame = [this](TPacket&& request) {
            CheckWellFormed(endpoint.Handle(request), static_cast<uint8_t>(request.command));
            CheckStroke();
        };
    }

    void CheckStroke() const
    {
        const float position = model.Position();
        Check(std::isfinite(position) && position >= 0.0f && position <= config.stroke);
    }

    void Feed(const TByteArray& bytes) { assembler.ProcessChunk(bytes.data(), bytes.size()); }

    void Advance(double ms)
    {
        now += ms;
        model.Update();
        for (const TPacket& report : endpoint.DueReports()) {
            Check(TGripperModel::IsReportable(static_cast<uint8_t>(report.command)));
            CheckWellFormed(report, static_cast<uint8_t>(report.command));
        }
        CheckStroke();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in{data, size};
    Harness h;
    while (in.More()) {
        const uint8_t op = in.Byte();
        switch (op % 6) {
        case 0: // raw bytes
            h.Feed(in.Bytes(in.Byte()));
            break;
        case 1: { // any command byte with any payload
            const uint8_t command = in.Byte();
            const TByteArray payload = in.Bytes(in.Byte());
            h.Feed(BuildFrame(command, payload.data(), payload.size()));
            break;
        }
        case 2:
        case 3: { // a known command with chosen numbers and bytes
            const uint8_t command = Commands[in.Byte() % std::size(Commands)];
            TByteArray payload;
            const int items = in.Byte() % 6;
            for (int i = 0; i < items; ++i) {
                const uint8_t pick = in.Byte();
                if (pick & 0x80) {
                    payload.push_back(in.Byte());
                } else {
                    const auto bytes = SingleToBytes(Numbers[pick % std::size(Numbers)]);
                    payload.insert(payload.end(), bytes.begin(), bytes.end());
                }
            }
            h.Feed(BuildFrame(command, payload.data(), payload.size()));
            break;
        }
        default: // time passes
            h.Advance(in.Byte() * (op & 0x80 ? 50.0 : 2.0));
            break;
        }
    }
    h.Advance(60000);
    return 0;
}
