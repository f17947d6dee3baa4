#include "PcapInput.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

namespace {

// Bytes a direction holds back for a gap in its sequence numbers; past that
// the gap is reported and skipped.
constexpr size_t MaxEarlyBytes = 1 << 20;

constexpr uint16_t EtherIpv4 = 0x0800;
constexpr uint16_t EtherIpv6 = 0x86DD;
constexpr uint16_t EtherVlan = 0x8100;
constexpr uint16_t EtherQinQ = 0x88A8;
constexpr uint8_t ProtocolTcp = 6;
constexpr uint8_t TcpSyn = 0x02;
constexpr uint8_t TcpAck = 0x10;

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

struct TSegment {
    QString from; // "address:port"
    QString to;
    uint32_t seq = 0;
    uint8_t flags = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The network-layer packet after the link layer, and its EtherType.
bool NetworkLayer(int linkType, const uint8_t*& p, size_t& size, uint16_t& etherType)
{
    const auto skip = [&](size_t n) {
        if (size < n)
            return false;
        p += n;
        size -= n;
        return true;
    };
    switch (linkType) {
    case DLT_EN10MB:
        if (size < 14)
            return false;
        etherType = Be16(p + 12);
        skip(14);
        while ((etherType == EtherVlan || etherType == EtherQinQ) && size >= 4) {
            etherType = Be16(p + 2);
            skip(4);
        }
        return true;
    case DLT_NULL:
    case DLT_LOOP: {
        if (size < 4)
            return false;
        // The address family, in the capturing host's byte order (DLT_NULL)
        // or big-endian (DLT_LOOP): 2 is IPv4 on every system, the IPv6
        // values differ between systems.
        const uint32_t little = p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
        etherType = little == 2 || Be32(p) == 2 ? EtherIpv4 : EtherIpv6;
        return skip(4);
    }
    case DLT_LINUX_SLL:
        if (size < 16)
            return false;
        etherType = Be16(p + 14);
        return skip(16);
    case DLT_LINUX_SLL2:
        if (size < 20)
            return false;
        etherType = Be16(p);
        return skip(20);
    case DLT_RAW:
    case DLT_IPV4:
    case DLT_IPV6:
        if (size < 1)
            return false;
        etherType = (p[0] >> 4) == 6 ? EtherIpv6 : EtherIpv4;
        return true;
    default:
        return false;
    }
}

bool TcpSegment(int linkType, const uint8_t* p, size_t size, TSegment& segment)
{
    uint16_t etherType = 0;
    if (!NetworkLayer(linkType, p, size, etherType))
        return false;
    QString source;
    QString destination;
    if (etherType == EtherIpv4) {
        if (size < 20 || (p[0] >> 4) != 4 || p[9] != ProtocolTcp)
            return false;
        // Fragments other than the first carry no TCP header.
        if ((Be16(p + 6) & 0x1FFF) != 0)
            return false;
        const size_t header = (p[0] & 0x0F) * 4u;
        const size_t total = std::min<size_t>(Be16(p + 2), size);
        if (header < 20 || total < header)
            return false;
        source = QStringLiteral("%1.%2.%3.%4").arg(p[12]).arg(p[13]).arg(p[14]).arg(p[15]);
        destination = QStringLiteral("%1.%2.%3.%4").arg(p[16]).arg(p[17]).arg(p[18]).arg(p[19]);
        p += header;
        size = total - header;
    } else if (etherType == EtherIpv6) {
        if (size < 40 || (p[0] >> 4) != 6 || p[6] != ProtocolTcp)
            return false;
        const auto address = [](const uint8_t* a) {
            QStringList groups;
            for (int i = 0; i < 16; i += 2)
                groups.append(QString::number(Be16(a + i), 16));
            return QLatin1Char('[') + groups.join(QLatin1Char(':')) + QLatin1Char(']');
        };
        source = address(p + 8);
        destination = address(p + 24);
        const size_t payload = std::min<size_t>(Be16(p + 4), size - 40);
        p += 40;
        size = payload;
    } else {
        return false;
    }
    if (size < 20)
        return false;
    const size_t header = (p[12] >> 4) * 4u;
    if (header < 20 || header > size)
        return false;
    segment.from = source + QLatin1Char(':') + QString::number(Be16(p));
    segment.to = destination + QLatin1Char(':') + QString::number(Be16(p + 2));
    segment.seq = Be32(p + 4);
    segment.flags = p[13];
    segment.data = p + header;
    segment.size = size - header;
    return true;
}

// One direction of a connection.
struct TFlow {
    QString name;
    std::optional<bool> received;
    std::optional<uint32_t> next;                          // sequence number of the next byte
    std::map<uint32_t, std::pair<QByteArray, qint64>> early; // segments past a gap, by sequence number
    size_t earlyBytes = 0;
};

// Signed distance of sequence number `a` after `b`, across the wrap.
int32_t After(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b); }

class TConnections {
public:
    explicit TConnections(TCaptureSink& sink) : FSink(sink) {}

    void Take(const TSegment& segment, qint64 timeUs)
    {
        TFlow& flow = Flow(segment);
        const bool syn = segment.flags & TcpSyn;
        if (syn && !(segment.flags & TcpAck))
            NameClient(segment);
        if (!flow.next)
            flow.next = segment.seq + (syn ? 1 : 0);
        uint32_t seq = segment.seq + (syn ? 1 : 0);
        if (segment.size == 0)
            return;
        if (After(seq, *flow.next) > 0) {
            Hold(flow, seq, QByteArray(reinterpret_cast<const char*>(segment.data), static_cast<qsizetype>(segment.size)), timeUs);
            return;
        }
        Deliver(flow, seq, segment.data, segment.size, timeUs);
        Release(flow);
    }

    // The capture has ended: what waits behind a gap is handed on.
    void Finish()
    {
        for (auto& [key, flow] : FFlows)
            while (!flow.early.empty())
                SkipGap(flow);
    }

    bool AnyData() const { return FAnyData; }

private:
    TFlow& Flow(const TSegment& segment)
    {
        const auto known = FFlows.find({segment.from, segment.to});
        if (known != FFlows.end())
            return known->second;
        TFlow& flow = FFlows[{segment.from, segment.to}];
        flow.name = segment.from + QStringLiteral(" > ") + segment.to;
        return flow;
    }

    // The sender of SYN is the client: its stream is TX, the other RX.
    void NameClient(const TSegment& segment)
    {
        ++FConnections;
        const QString suffix = FConnections > 1 ? QStringLiteral(" %1").arg(FConnections) : QString();
        TFlow& request = FFlows[{segment.from, segment.to}];
        TFlow& answer = FFlows[{segment.to, segment.from}];
        request = {QStringLiteral("TX") + suffix, false, {}, {}, 0};
        answer = {QStringLiteral("RX") + suffix, true, {}, {}, 0};
    }

    // Hands on the part of the bytes at `seq` that comes after what was handed on.
    void Deliver(TFlow& flow, uint32_t seq, const uint8_t* data, size_t size, qint64 timeUs)
    {
        const int32_t seen = After(*flow.next, seq);
        if (seen >= static_cast<int64_t>(size))
            return; // a retransmission
        data += seen;
        size -= static_cast<size_t>(seen);
        FAnyData = true;
        FSink.Bytes(flow.name, flow.received, data, size, 0, timeUs);
        *flow.next += static_cast<uint32_t>(size);
    }

    void Hold(TFlow& flow, uint32_t seq, QByteArray bytes, qint64 timeUs)
    {
        auto& slot = flow.early[seq];
        if (slot.first.size() >= bytes.size())
            return;
        flow.earlyBytes += static_cast<size_t>(bytes.size() - slot.first.size());
        slot = {std::move(bytes), timeUs};
        while (flow.earlyBytes > MaxEarlyBytes)
            SkipGap(flow);
    }

    // The early segment that comes first after what was handed on (sequence
    // numbers wrap, so the map's own order does not tell).
    static auto Earliest(TFlow& flow)
    {
        return std::min_element(flow.early.begin(), flow.early.end(),
            [&flow](const auto& a, const auto& b) { return After(a.first, *flow.next) < After(b.first, *flow.next); });
    }

    // Hands on the early segments that now follow without a gap.
    void Release(TFlow& flow)
    {
        while (!flow.early.empty()) {
            const auto first = Earliest(flow);
            if (After(first->first, *flow.next) > 0)
                return;
            const auto [bytes, timeUs] = first->second;
            const uint32_t seq = first->first;
            flow.earlyBytes -= static_cast<size_t>(bytes.size());
            flow.early.erase(first);
            Deliver(flow, seq, reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()), timeUs);
        }
    }

    // Bytes that never came: reported, and the stream goes on after them.
    void SkipGap(TFlow& flow)
    {
        const auto first = Earliest(flow);
        FSink.Problem(QStringLiteral("%1: %2 bytes missing from the capture")
                          .arg(flow.name).arg(static_cast<uint32_t>(first->first - *flow.next)));
        flow.next = first->first;
        Release(flow);
    }

    TCaptureSink& FSink;
    std::map<std::pair<QString, QString>, TFlow> FFlows;
    int FConnections = 0;
    bool FAnyData = false;
};

} // namespace

bool IsPcapStart(const QByteArray& start)
{
    static const char* const magics[] = {"\xD4\xC3\xB2\xA1", "\xA1\xB2\xC3\xD4", "\x4D\x3C\xB2\xA1",
                                         "\xA1\xB2\x3C\x4D", "\x0A\x0D\x0D\x0A"};
    return std::any_of(std::begin(magics), std::end(magics), [&start](const char* magic) { return start.startsWith(magic); });
}

bool ReadPcap(std::FILE* stream, TCaptureSink& sink, QString& error)
{
    // libpcap closes the stream with the capture; it is closed on failure too.
    char message[PCAP_ERRBUF_SIZE] = {};
    const std::unique_ptr<pcap_t, void (*)(pcap_t*)> capture(
        pcap_fopen_offline_with_tstamp_precision(stream, PCAP_TSTAMP_PRECISION_MICRO, message), &pcap_close);
    if (!capture) {
        std::fclose(stream);
        error = QString::fromLocal8Bit(message);
        return false;
    }
    const int linkType = pcap_datalink(capture.get());
    if (linkType != DLT_EN10MB && linkType != DLT_NULL && linkType != DLT_LOOP && linkType != DLT_LINUX_SLL
        && linkType != DLT_LINUX_SLL2 && linkType != DLT_RAW && linkType != DLT_IPV4 && linkType != DLT_IPV6) {
        error = QStringLiteral("link type %1 (%2) is not one decode reads")
                    .arg(QLatin1String(pcap_datalink_val_to_name(linkType) ? pcap_datalink_val_to_name(linkType) : "?"))
                    .arg(linkType);
        return false;
    }
    TConnections connections(sink);
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int result = 0;
    while ((result = pcap_next_ex(capture.get(), &header, &data)) == 1) {
        TSegment segment;
        if (TcpSegment(linkType, data, header->caplen, segment))
            connections.Take(segment, qint64(header->ts.tv_sec) * 1000000 + header->ts.tv_usec);
    }
    // What a damaged or cut capture held before its end still counts.
    connections.Finish();
    if (result == PCAP_ERROR) {
        error = QString::fromLocal8Bit(pcap_geterr(capture.get()));
        return false;
    }
    if (!connections.AnyData())
        sink.Problem(QStringLiteral("the capture holds no TCP data"));
    return true;
}
