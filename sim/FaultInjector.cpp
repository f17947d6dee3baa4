#include "FaultInjector.h"

#include "Framing.h"

TFaultInjector::TFaultInjector(const TFaultOptions& options) : FOptions(options), FRandom(options.seed) {}

std::optional<uint16_t> TFaultInjector::ForcedStatus(uint8_t command) const
{
    const auto it = FOptions.forcedStatus.find(command);
    if (it == FOptions.forcedStatus.end())
        return std::nullopt;
    return it->second;
}

bool TFaultInjector::Chance(double rate)
{
    if (rate <= 0)
        return false;
    return std::uniform_real_distribution<double>(0.0, 1.0)(FRandom) < rate;
}

std::optional<TFaultInjector::TWireFrame> TFaultInjector::Prepare(const TPacket& packet)
{
    if (FOptions.drop.count(static_cast<uint8_t>(packet.command)))
        return std::nullopt;
    TWireFrame out;
    if (Chance(FOptions.garbageRate)) {
        const int n = std::uniform_int_distribution<int>(1, MaxGarbage)(FRandom);
        std::uniform_int_distribution<int> byte(0, 254);
        for (int i = 0; i < n; ++i) {
            const int b = byte(FRandom);
            out.bytes.push_back(static_cast<uint8_t>(b >= 0xAA ? b + 1 : b));
        }
    }
    out.frameStart = out.bytes.size();
    TByteArray frame;
    FramePacket(packet, frame);
    out.bytes.insert(out.bytes.end(), frame.begin(), frame.end());
    if (Chance(FOptions.corruptRate)) {
        // Changing one checksum byte always breaks the check.
        out.bytes.back() ^= 0xFF;
        out.corrupted = true;
    }
    return out;
}
