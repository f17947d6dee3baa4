#include "SimSession.h"

#include "Answer.h"
#include "FrameLog.h"
#include "Framing.h"
#include "SimHost.h"

#include <cstdio>

TSimSession::TSimSession(TSimHost& host, int origin, const QString& name, TFrameSender::TWriter writer,
    QObject* parent)
    : QObject(parent),
      FHost(host),
      FName(name),
      FEndpoint(host.Model(), origin),
      FFaults(host.Faults()),
      FSender(host.Faults(), std::move(writer))
{
    FAssembler.OnFrame = [this](TPacket&& p) { HandleRequest(std::move(p)); };
    connect(&FSender, &TFrameSender::closeRequested, this, &TSimSession::closeRequested, Qt::QueuedConnection);
}

TSimSession::~TSimSession() { FHost.Unregister(Origin()); }

void TSimSession::Retire()
{
    FHost.Unregister(Origin());
    disconnect();
    deleteLater();
}

void TSimSession::Receive(const char* data, qsizetype count)
{
    if (count > 0)
        FAssembler.ProcessChunk(reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(count));
}

void TSimSession::HandleRequest(TPacket&& request)
{
    const uint8_t cmd = static_cast<uint8_t>(request.command);
    if (FHost.Verbose()) {
        TByteArray frame;
        FramePacket(request, frame);
        std::fprintf(stderr, "%s\n", qPrintable(FrameLogLine(FName, "RX", cmd, frame)));
    }
    if (const auto forced = FFaults.ForcedStatus(cmd)) {
        Send(MakeAnswer(cmd, *forced));
        return;
    }
    // Results that were due before this request go out first; those the
    // request itself causes follow its answer.
    FHost.Model().Update();
    FHost.HoldResults();
    Send(FEndpoint.Handle(request));
    FHost.ReleaseResults();
}

void TSimSession::Send(const TPacket& packet)
{
    const uint8_t cmd = static_cast<uint8_t>(packet.command);
    const auto wire = FFaults.Prepare(packet);
    if (FHost.Verbose()) {
        TByteArray frame;
        if (wire)
            frame.assign(wire->bytes.begin() + static_cast<std::ptrdiff_t>(wire->frameStart), wire->bytes.end());
        else
            FramePacket(packet, frame);
        QString note;
        if (!wire)
            note = QStringLiteral("dropped");
        else if (wire->corrupted)
            note = QStringLiteral("checksum corrupted");
        if (wire && wire->frameStart > 0)
            note += QStringLiteral("%1after %2 garbage bytes").arg(note.isEmpty() ? "" : ", ").arg(wire->frameStart);
        std::fprintf(stderr, "%s\n", qPrintable(FrameLogLine(FName, "TX", cmd, frame, note)));
    }
    if (wire)
        FSender.Send(wire->bytes, wire->frameStart);
}

void TSimSession::SendDueReports()
{
    for (const TPacket& report : FEndpoint.DueReports())
        Send(report);
}
