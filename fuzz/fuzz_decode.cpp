// Fuzz target for the inputs of krm-cli decode. The first byte chooses the
// form the rest is read as (auto, binary, hex, csv, candump, pcap), the
// second how often the rest is repeated (up to 80 kB, past the readers'
// look-ahead and line pieces) and the size of the pieces the
// frame scanner is fed. Reading never fails but for a damaged packet log or
// capture. Properties: the items the scanner finds in every stream, fed in
// pieces, are those of the stream scanned whole, lie end to end and cover
// the stream; every packet framed again gives the very bytes it was found
// in; every packet decodes in both directions; the scanner holds at most one
// frame and the AA bytes after it; and a stream written out as hex text
// reads back as the same bytes.
#include "CaptureInput.h"
#include "FrameScanner.h"
#include "FuzzSupport.h"
#include "Framing.h"
#include "PacketDecoder.h"

#include <QBuffer>
#include <QString>

#include <cstring>
#include <map>

namespace {

constexpr TCaptureFormat Formats[] = {TCaptureFormat::Auto, TCaptureFormat::Binary, TCaptureFormat::Hex,
                                      TCaptureFormat::Csv, TCaptureFormat::Candump, TCaptureFormat::Pcap};
constexpr size_t MaxExpanded = 80000;
constexpr size_t LongestFrame = MaxPayload + FrameOverhead;

// Keeps every stream whole and scans it in pieces as it comes.
class TStreams : public TCaptureSink {
public:
    explicit TStreams(size_t piece) : FPiece(piece) {}

    void Bytes(const QString& name, std::optional<bool>, const uint8_t* data, size_t size, int, std::optional<qint64>) override
    {
        TStream& stream = FStreams[name];
        stream.bytes.insert(stream.bytes.end(), data, data + size);
        for (size_t at = 0; at < size; at += FPiece) {
            stream.scanner.Feed(data + at, std::min(FPiece, size - at), stream.items);
            Check(stream.scanner.Held() <= LongestFrame + FPiece);
        }
    }
    void Record(TLogRecord&& record, int) override { Check(record.packet.ValidLength() == record.packet.length); }
    void Problem(const QString&) override {}

    struct TStream {
        TByteArray bytes;
        TFrameScanner scanner;
        std::vector<TScanItem> items;
    };
    std::map<QString, TStream> FStreams;

private:
    const size_t FPiece;
};

void CheckStream(const TByteArray& bytes, const std::vector<TScanItem>& pieces)
{
    const std::vector<TScanItem> whole = ScanFrames(bytes);
    Check(pieces.size() == whole.size());
    size_t at = 0;
    for (size_t i = 0; i < whole.size(); ++i) {
        const TScanItem& item = whole[i];
        Check(pieces[i].kind == item.kind && pieces[i].offset == item.offset && pieces[i].size == item.size);
        Check(item.offset == at);
        Check(item.size > 0);
        at += item.size;
        if (item.kind == TScanItem::TKind::Packet) {
            const TByteArray frame = BuildFrame(static_cast<uint8_t>(item.packet.command), item.packet.data.data(),
                                                item.packet.data.size());
            Check(frame.size() == item.size);
            Check(std::memcmp(frame.data(), bytes.data() + item.offset, item.size) == 0);
        }
        if (item.kind == TScanItem::TKind::BetweenFrames)
            Check(std::memcmp(item.packet.data.data(), bytes.data() + item.offset, item.packet.data.size()) == 0);
        if (item.kind == TScanItem::TKind::Packet || item.kind == TScanItem::TKind::ChecksumMismatch) {
            (void)DecodePacket(item.packet, false);
            (void)DecodePacket(item.packet, true);
        }
    }
    Check(at == bytes.size());
}

bool Read(const QByteArray& input, TCaptureFormat format, TCaptureSink& sink, QString& error)
{
    QBuffer buffer;
    buffer.setData(input);
    buffer.open(QIODevice::ReadOnly);
    return ReadCapture(buffer, format, std::nullopt, sink, error);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const TCaptureFormat format = Formats[data[0] % std::size(Formats)];
    const QByteArray rest(reinterpret_cast<const char*>(data + 2), static_cast<qsizetype>(size - 2));
    // Mostly a few copies; one second byte in sixteen asks for more than the
    // readers look ahead or read of a line at once.
    const size_t copies = (data[1] >> 4) == 0x0F ? MaxExpanded / std::max<qsizetype>(rest.size(), 1) + 1 : 1 + (data[1] >> 6);
    const size_t repeats = rest.isEmpty() ? 1 : copies;
    const size_t piece = 1 + (data[1] & 0x0F) * 97;
    const QByteArray input = rest.repeated(static_cast<qsizetype>(repeats));
    TStreams streams(piece);
    QString error;
    TCaptureFormat read = format;
    if (!Read(input, read, streams, error))
        Check((read == TCaptureFormat::Csv || read == TCaptureFormat::Pcap) && !error.isEmpty());
    for (auto& [name, stream] : streams.FStreams) {
        stream.scanner.Finish(stream.items);
        CheckStream(stream.bytes, stream.items);
        QByteArray hex;
        for (size_t i = 0; i < stream.bytes.size(); ++i)
            hex += QByteArray::number(stream.bytes[i] | 0x100, 16).mid(1).toUpper() + (i % 16 == 15 ? "\n" : " ");
        TStreams again(LongestFrame);
        TCaptureFormat asHex = TCaptureFormat::Hex;
        Check(Read(hex, asHex, again, error));
        const TByteArray back = again.FStreams.empty() ? TByteArray() : again.FStreams.begin()->second.bytes;
        Check(again.FStreams.size() <= 1 && back == stream.bytes);
    }
    return 0;
}
