// Fuzz target for the inputs of krm-cli decode. The first byte chooses the
// form the rest is read as (auto, binary, hex, csv, candump); reading never
// fails but for a damaged packet log. Properties: the items the frame
// scanner finds in every stream lie end to end and cover the stream; every
// packet framed again gives the very bytes it was found in; every packet
// decodes in both directions; and a stream written out as hex text reads
// back as the same bytes.
#include "CaptureInput.h"
#include "FrameScanner.h"
#include "FuzzSupport.h"
#include "Framing.h"
#include "PacketDecoder.h"

#include <QString>

#include <cstring>

namespace {

constexpr TCaptureFormat Formats[] = {TCaptureFormat::Auto, TCaptureFormat::Binary, TCaptureFormat::Hex,
                                      TCaptureFormat::Csv, TCaptureFormat::Candump};

void CheckStream(const TByteArray& bytes)
{
    size_t at = 0;
    for (const TScanItem& item : ScanFrames(bytes)) {
        Check(item.offset == at);
        Check(item.size > 0);
        at += item.size;
        if (item.kind == TScanItem::TKind::Packet) {
            const TByteArray frame = BuildFrame(static_cast<uint8_t>(item.packet.command), item.packet.data.data(),
                                                item.packet.data.size());
            Check(frame.size() == item.size);
            Check(std::memcmp(frame.data(), bytes.data() + item.offset, item.size) == 0);
        }
        if (item.kind == TScanItem::TKind::Packet || item.kind == TScanItem::TKind::ChecksumMismatch) {
            (void)DecodePacket(item.packet, false);
            (void)DecodePacket(item.packet, true);
        }
    }
    Check(at == bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const TCaptureFormat format = Formats[data[0] % std::size(Formats)];
    const QByteArray input(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    TCapture capture;
    QString error;
    if (!ReadCapture(input, format, std::nullopt, capture, error)) {
        Check(capture.format == TCaptureFormat::Csv && !error.isEmpty() && capture.records.empty());
        return 0;
    }
    for (const TCaptureStream& stream : capture.streams) {
        Check(stream.lines.empty() || stream.lines.size() == stream.bytes.size());
        CheckStream(stream.bytes);
        QByteArray hex;
        for (size_t i = 0; i < stream.bytes.size(); ++i)
            hex += QByteArray::number(stream.bytes[i] | 0x100, 16).mid(1).toUpper() + (i % 16 == 15 ? "\n" : " ");
        TCapture again;
        Check(ReadCapture(hex, TCaptureFormat::Hex, std::nullopt, again, error));
        const TByteArray read = again.streams.empty() ? TByteArray() : again.streams.front().bytes;
        Check(again.streams.size() <= 1 && read == stream.bytes);
    }
    for (const TLogRecord& record : capture.records)
        Check(record.packet.ValidLength() == record.packet.length);
    return 0;
}
