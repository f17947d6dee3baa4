// krm-cli decode against recordings of real simulator traffic: the packet
// log krm-cli wrote, hex text with directions, a candump log and raw bytes
// with faults put in; and the log window opening krm-cli's logs, old and new.
#include "CliTestSupport.h"
#include "SimulatorProcess.h"

#include "CommLogForm.h"
#include "MessageDialog.h"
#include "PacketDecoder.h"
#include "PacketLogCsv.h"

#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

#include <gtest/gtest.h>

namespace {

struct TWireFrame {
    bool received; // as the client saw it
    TByteArray bytes;
};

TByteArray HexBytes(const QString& text)
{
    TByteArray bytes;
    for (const QString& hex : text.split(u' ', Qt::SkipEmptyParts))
        bytes.push_back(static_cast<uint8_t>(hex.toUInt(nullptr, 16)));
    return bytes;
}

QString HexText(const TByteArray& bytes, const QString& separator = QStringLiteral(" "))
{
    QStringList parts;
    for (const uint8_t b : bytes)
        parts.append(QString::asprintf("%02X", b));
    return parts.join(separator);
}

// The frames of the simulator's frame log ("[tcp] RX 53h GET_SYSTEM_LIMITS:
// AA AA AA 53 ..."), in wire order.
std::vector<TWireFrame> WireFrames(TSimulatorProcess& sim)
{
    std::vector<TWireFrame> frames;
    static const QRegularExpression frameLine(QStringLiteral("\\] (RX|TX) [0-9a-f]{2}h [^:]+: ([0-9A-F ]+)$"));
    for (const QString& line : sim.Errors().split(u'\n'))
        if (const auto match = frameLine.match(line); match.hasMatch())
            frames.push_back({match.captured(1) == QLatin1String("TX"), HexBytes(match.captured(2))});
    return frames;
}

// The packets a JSON decode printed, as "TX 20 00" (direction, command
// byte, payload).
QStringList Packets(const TCliRun& run)
{
    QStringList packets;
    for (const QJsonObject& o : run.Objects()) {
        EXPECT_EQ(o["kind"].toString(), QStringLiteral("packet")) << run.Out.toStdString();
        packets.append(o["direction"].toString() + u' ' + o["command"].toString().mid(2) + u' ' + o["payload"].toString());
    }
    return packets;
}

QStringList Expected(const std::vector<TWireFrame>& frames)
{
    QStringList packets;
    for (const TWireFrame& f : frames)
        packets.append(QString(f.received ? "RX " : "TX ") + QString::asprintf("%02X ", f.bytes[3])
                       + HexText(TByteArray(f.bytes.begin() + 6, f.bytes.end() - 2)));
    return packets;
}

// A pcapng capture of one TCP connection carrying the frames, raw IPv4
// (link type 101) with the handshake: the client on port 40000, the
// gripper on the higher port 50000. Every frame is a segment of its own,
// but the first request, which is cut in two with its second half captured
// before the first, and the first answer, which is captured twice.
QByteArray Pcapng(const std::vector<TWireFrame>& frames)
{
    QByteArray out;
    const auto u16 = [&out](uint16_t v) { out.append(reinterpret_cast<const char*>(&v), 2); };
    const auto u32 = [&out](uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); };
    const auto block = [&](uint32_t type, const QByteArray& body) {
        const QByteArray padded = body + QByteArray((4 - body.size() % 4) % 4, '\0');
        u32(type);
        u32(static_cast<uint32_t>(padded.size() + 12));
        out += padded;
        u32(static_cast<uint32_t>(padded.size() + 12));
    };
    QByteArray header;
    const auto put32 = [](QByteArray& to, uint32_t v) { to.append(reinterpret_cast<const char*>(&v), 4); };
    put32(header, 0x1A2B3C4D);
    header.append("\x01\x00\x00\x00", 4); // version 1.0
    header.append(QByteArray(8, '\xFF'));   // section length unknown
    block(0x0A0D0D0A, header);
    QByteArray interface;
    interface.append("\x65\x00\x00\x00", 4); // link type 101, reserved
    put32(interface, 65535);
    block(1, interface);
    uint32_t seq[2] = {1000, 5000};
    uint64_t timeUs = 1712345678000000;
    const auto segment = [&](bool fromGripper, uint8_t flags, const QByteArray& data, uint32_t at) {
        QByteArray tcp;
        const auto be16 = [&tcp](uint16_t v) { tcp.append(char(v >> 8)).append(char(v & 0xFF)); };
        const auto be32 = [&](uint32_t v) { be16(uint16_t(v >> 16)); be16(uint16_t(v & 0xFFFF)); };
        be16(fromGripper ? 50000 : 40000);
        be16(fromGripper ? 40000 : 50000);
        be32(at);
        be32(seq[!fromGripper]);
        tcp.append(char(5 << 4)).append(char(flags));
        be16(65535);
        be32(0);
        tcp += data;
        QByteArray ip("\x45\x00", 2);
        ip.append(char((20 + tcp.size()) >> 8)).append(char((20 + tcp.size()) & 0xFF));
        ip.append("\x00\x00\x00\x00\x40\x06\x00\x00", 8);
        ip.append(fromGripper ? "\x7F\x00\x00\x02\x7F\x00\x00\x01" : "\x7F\x00\x00\x01\x7F\x00\x00\x02", 8);
        ip += tcp;
        QByteArray body;
        put32(body, 0);
        put32(body, uint32_t(timeUs >> 32));
        put32(body, uint32_t(timeUs & 0xFFFFFFFF));
        put32(body, uint32_t(ip.size()));
        put32(body, uint32_t(ip.size()));
        body += ip;
        block(6, body);
        timeUs += 500;
    };
    segment(false, 0x02, {}, seq[0]++);
    segment(true, 0x12, {}, seq[1]++);
    bool firstRequest = true;
    bool firstAnswer = true;
    for (const TWireFrame& f : frames) {
        const QByteArray data(reinterpret_cast<const char*>(f.bytes.data()), static_cast<qsizetype>(f.bytes.size()));
        uint32_t& next = seq[f.received];
        if (!f.received && firstRequest) {
            segment(false, 0x18, data.mid(4), next + 4);
            segment(false, 0x18, data.left(4), next);
            firstRequest = false;
        } else {
            segment(f.received, 0x18, data, next);
            if (f.received && firstAnswer)
                segment(true, 0x18, data, next);
            firstAnswer = firstAnswer && !f.received;
        }
        next += static_cast<uint32_t>(data.size());
    }
    return out;
}

class CliDecode : public ::testing::Test {
protected:
    // One session of krm-cli with its --log, and the frames on the wire.
    static void SetUpTestSuite()
    {
        Dir = new QTemporaryDir;
        TSimulatorProcess sim;
        ASSERT_TRUE(sim.Start({QStringLiteral("--verbose")}));
        LogPath = Dir->filePath(QStringLiteral("session.csv"));
        const TCliRun run = RunCli(OverTcp(sim.TcpPort(), QStringLiteral("--log %1 --keep-going home , goto 50 100 , grasp 20 80 , info , "
                                                                         "stats , fast-stop , goto 10 10 , ack , raw 0x99 1")
                                                              .arg(LogPath)
                                                              .split(u' ')));
        EXPECT_EQ(run.ExitCode, 1) << run.Err.toStdString(); // the refused goto and the unknown raw command
        sim.Stop();
        Frames = new std::vector<TWireFrame>(WireFrames(sim));
    }
    static void TearDownTestSuite()
    {
        delete Frames;
        delete Dir;
    }

    static QTemporaryDir* Dir;
    static QString LogPath;
    static std::vector<TWireFrame>* Frames;
};

QTemporaryDir* CliDecode::Dir = nullptr;
QString CliDecode::LogPath;
std::vector<TWireFrame>* CliDecode::Frames = nullptr;

TEST_F(CliDecode, EveryInputFormReadsBackTheSession)
{
    const std::vector<TWireFrame>& frames = *Frames;
    ASSERT_GE(frames.size(), 16u);
    const QStringList expected = Expected(frames);

    // The packet log, read from standard input.
    QFile log(LogPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const TCliRun csv = RunCli({QStringLiteral("--json"), QStringLiteral("decode"), QStringLiteral("-")}, log.readAll());
    EXPECT_EQ(csv.ExitCode, 0) << csv.Err.toStdString();
    EXPECT_EQ(Packets(csv), expected);

    // Hex text: a direction on every line, spaced and unspaced bytes, line
    // offsets on some, a comment.
    QByteArray hex = "# session\n";
    for (size_t i = 0; i < frames.size(); ++i) {
        const QString bytes = HexText(frames[i].bytes, i % 2 ? QString() : QStringLiteral(" "));
        hex += QString(frames[i].received ? "RX: " : "TX ").toUtf8()
            + (i % 3 == 0 ? QString::asprintf("%04zX: ", i * 16).toUtf8() : QByteArray()) + bytes.toUtf8() + '\n';
    }
    const TCliRun text = RunCli({QStringLiteral("decode"), QStringLiteral("--json"), WriteFile(*Dir, "session.txt", hex)});
    EXPECT_EQ(text.ExitCode, 0) << text.Err.toStdString();
    EXPECT_EQ(Packets(text), expected);

    // Wireshark's "Follow TCP stream" hex dump: offsets per direction, the
    // server's lines indented, an ASCII column after the bytes.
    QByteArray follow;
    size_t offsets[2] = {0, 0};
    for (const TWireFrame& f : frames)
        for (size_t at = 0; at < f.bytes.size(); at += 16) {
            const size_t count = std::min<size_t>(16, f.bytes.size() - at);
            QString ascii;
            QString bytes;
            for (size_t i = at; i < at + count; ++i) {
                bytes += QString::asprintf("%02X ", f.bytes[i]);
                ascii += f.bytes[i] >= 0x20 && f.bytes[i] < 0x7F ? QChar(f.bytes[i]) : QChar(u'.');
            }
            follow += QString::asprintf("%s%08zX  ", f.received ? "    " : "", offsets[f.received]).toUtf8()
                + bytes.leftJustified(49).toUtf8() + ' ' + ascii.toUtf8() + '\n';
            offsets[f.received] += count;
        }
    const TCliRun dump = RunCli({QStringLiteral("--json"), QStringLiteral("decode"), WriteFile(*Dir, "follow.txt", follow)});
    EXPECT_EQ(dump.ExitCode, 0) << dump.Err.toStdString() << follow.toStdString();
    EXPECT_EQ(Packets(dump), expected);

    // candump: each frame in CAN frames of up to 8 bytes, requests on 064,
    // answers on 065.
    QByteArray candump;
    double time = 1712345678.0;
    for (const TWireFrame& f : frames)
        for (size_t at = 0; at < f.bytes.size(); at += 8, time += 0.0005) {
            const TByteArray part(f.bytes.begin() + static_cast<long>(at), f.bytes.begin() + static_cast<long>(std::min(at + 8, f.bytes.size())));
            candump += QString::asprintf("(%.6f) vcan0 %s#", time, f.received ? "065" : "064").toUtf8() + HexText(part, {}).toUtf8() + '\n';
        }
    const TCliRun can = RunCli({QStringLiteral("--json"), QStringLiteral("decode"), WriteFile(*Dir, "session.log", candump)});
    EXPECT_EQ(can.ExitCode, 0) << can.Err.toStdString();
    EXPECT_EQ(Packets(can), expected);
    ASSERT_FALSE(can.Objects().isEmpty());
    // candump times in the one time style of decode: ISO 8601 with microseconds.
    const QString first = can.Objects().front()["time"].toString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.000000[+-]\\d\\d:\\d\\d$")).match(first).hasMatch())
        << first.toStdString();
    EXPECT_EQ(QDateTime::fromString(QString(first).remove(19, 7), Qt::ISODate).toSecsSinceEpoch(), 1712345678);
    EXPECT_DOUBLE_EQ(can.Objects()[1]["dt_ms"].toDouble(), 0.5);

    // The same with another identifier, given on the command line.
    candump.replace(" vcan0 064#", " vcan0 1F0#").replace(" vcan0 065#", " vcan0 1F1#");
    const TCliRun other = RunCli({QStringLiteral("--json"), QStringLiteral("decode"), QStringLiteral("--can-id"),
                                  QStringLiteral("0x1F0"), WriteFile(*Dir, "other.log", candump)});
    EXPECT_EQ(Packets(other), expected);
}

TEST_F(CliDecode, TextOutputDecodesAsTheLogWindowDoes)
{
    QFile log(LogPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    std::vector<TLogRecord> records;
    QString error;
    ASSERT_TRUE(ReadPacketLog(log, records, error));
    const TCliRun run = RunCli({QStringLiteral("decode"), LogPath});
    const QStringList lines = run.Lines();
    ASSERT_EQ(lines.size(), static_cast<qsizetype>(records.size()) + 1) << run.Out.toStdString();
    for (size_t i = 0; i < records.size(); ++i) {
        const std::string meaning = DecodePacket(records[i].packet, records[i].received);
        if (!meaning.empty())
            EXPECT_TRUE(lines[static_cast<qsizetype>(i)].endsWith(QStringLiteral(" = ") + QString::fromStdString(meaning)))
                << lines[static_cast<qsizetype>(i)].toStdString();
    }
    const QString all = run.Out;
    EXPECT_TRUE(all.contains(QStringLiteral("ID=21h (GOTO), Length=9: 00 00 00 48 42 00 00 C8 42 = position 50.00 mm, speed 100.00 mm/s\n")))
        << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("ID=24h (FAST_STOP_ACK), Length=3: 61 63 6B = \"ack\"")));
    EXPECT_TRUE(all.contains(QStringLiteral("RX line ")));
    EXPECT_TRUE(all.contains(QStringLiteral("ID=21h (GOTO), Length=2: 10 00 (E_ACCESS_DENIED) = Access denied"))) << all.toStdString();
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("%1 packets (csv); 0 faults found").arg(records.size())));
}

TEST_F(CliDecode, FaultsAreReportedWithTheirOffsets)
{
    // The requests as raw bytes, with three stray bytes after the first, a
    // wrong checksum in the second and the last one cut short.
    std::vector<TByteArray> requests;
    for (const TWireFrame& f : *Frames)
        if (!f.received)
            requests.push_back(f.bytes);
    ASSERT_GE(requests.size(), 4u);
    QByteArray bytes;
    const auto add = [&](const TByteArray& b) { bytes.append(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size())); };
    add(requests[0]);
    const qsizetype stray = bytes.size();
    bytes.append("\x01\x02\x03", 3);
    const qsizetype broken = bytes.size();
    TByteArray bad = requests[1];
    bad.at(bad.size() - 1) ^= 0xFF;
    add(bad);
    add(requests[2]);
    const qsizetype cut = bytes.size();
    add(TByteArray(requests[3].begin(), requests[3].end() - 3));

    const TCliRun run = RunCli({QStringLiteral("--json"), QStringLiteral("decode"), WriteFile(*Dir, "faults.bin", bytes)});
    EXPECT_EQ(run.ExitCode, 1);
    const QList<QJsonObject> items = run.Objects();
    ASSERT_EQ(items.size(), 5) << run.Out.toStdString();
    EXPECT_EQ(items[0]["kind"].toString(), QStringLiteral("packet"));
    EXPECT_EQ(items[0]["direction"].toString(), QStringLiteral("TX"));
    EXPECT_TRUE(items[0]["direction_guessed"].toBool());
    EXPECT_EQ(items[1]["kind"].toString(), QStringLiteral("between_frames"));
    EXPECT_EQ(items[1]["offset"].toInteger(), stray);
    EXPECT_EQ(items[1]["bytes"].toString(), QStringLiteral("01 02 03"));
    EXPECT_EQ(items[2]["kind"].toString(), QStringLiteral("checksum_mismatch"));
    EXPECT_EQ(items[2]["offset"].toInteger(), broken);
    EXPECT_EQ(items[2]["command"].toString(), QString::asprintf("0x%02X", requests[1][3]));
    EXPECT_EQ(items[3]["kind"].toString(), QStringLiteral("packet"));
    EXPECT_EQ(items[4]["kind"].toString(), QStringLiteral("cut_short"));
    EXPECT_EQ(items[4]["offset"].toInteger(), cut);
    EXPECT_EQ(items[4]["frame_size"].toInteger(), static_cast<qint64>(requests[3].size()));

    const TCliRun text = RunCli({QStringLiteral("decode"), QStringLiteral("--format"), QStringLiteral("binary"), WriteFile(*Dir, "faults2.bin", bytes)});
    EXPECT_TRUE(text.Out.contains(QStringLiteral("bytes @%1: 3 bytes between frames: 01 02 03\n").arg(stray))) << text.Out.toStdString();
    EXPECT_TRUE(text.Lines().last().startsWith(QStringLiteral("2 packets (binary); 3 faults found")));

    // Bad usage and unreadable input.
    EXPECT_EQ(RunCli({QStringLiteral("decode"), QStringLiteral("--format"), QStringLiteral("pcapx")}).ExitCode, 2);
    const TCliRun connected = RunCli({QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:1"), QStringLiteral("decode")});
    EXPECT_EQ(connected.ExitCode, 2);
    EXPECT_TRUE(connected.Err.contains(QStringLiteral("decode: --tcp: decode reads a recording and needs no connection")))
        << connected.Err.toStdString();
    const TCliRun missing = RunCli({QStringLiteral("decode"), Dir->filePath(QStringLiteral("missing.bin"))});
    EXPECT_EQ(missing.ExitCode, 2);
    EXPECT_TRUE(missing.Err.contains(QStringLiteral("missing.bin"))) << missing.Err.toStdString();
    const TCliRun damaged = RunCli({QStringLiteral("decode"), QStringLiteral("-")}, PacketLogHeader().toUtf8() + "\nx,1,TX,0x22,STOP,0,,,\n");
    EXPECT_EQ(damaged.ExitCode, 2);
    EXPECT_TRUE(damaged.Err.contains(QStringLiteral("line 2: time \"x\" is not a date and time"))) << damaged.Err.toStdString();
}

// krm-cli's log opens in the log window, and so do logs in both layouts
// written before: the window's own and krm-cli's (which has no wall-clock
// times).
TEST_F(CliDecode, LogWindowOpensKrmCliLogs)
{
    TCommLog window;
    QString path = LogPath;
    window.OpenFileDialog = [&](QWidget*) { return path; };
    const TMessageHandler previous = SetMessageHandler([](TMessageKind, const QString& text) { ADD_FAILURE() << text.toStdString(); });
    window.cbShowIDDescr->setChecked(true);
    window.cbDecoded->setChecked(true);
    window.btnOpen->click();
    QList<TCommLog*> opened = window.findChildren<TCommLog*>();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(static_cast<size_t>(opened[0]->PacketCount()), Frames->size());
    EXPECT_TRUE(opened[0]->cbShowIDDescr->isChecked()) << "the opened log takes the live log's options";
    QStringList lines;
    for (int i = 0; i < opened[0]->LineCount(); ++i)
        lines << opened[0]->LineText(i);
    EXPECT_TRUE(lines.contains(QStringLiteral("TX PACKET: ID=21h (GOTO), Length=9: 00 00 00 48 42 00 00 C8 42 = position 50.00 mm, speed 100.00 mm/s")))
        << lines.join(u'\n').toStdString();
    delete opened[0];

    path = WriteFile(*Dir, "old-cli.csv", "time_ms,direction,command,name,length,status,payload\n"
                                          "12.345,TX,0x22,STOP,0,,\n"
                                          "14.500,RX,0x22,STOP,2,E_SUCCESS,00 00\n");
    window.cbTime->setChecked(true);
    window.btnOpen->click();
    opened = window.findChildren<TCommLog*>();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0]->LineText(1), QStringLiteral("[      14 ms] [+       2.2 ms] RX PACKET: ID=22h (STOP), Length=2: 00 00 = No error"));
    EXPECT_EQ(opened[0]->Record(0).sinceConnectUs, 12345);
    opened[0]->SetTimeMode(TCommLog::TTimeMode::WallClock);
    EXPECT_TRUE(opened[0]->LineText(0).startsWith(QStringLiteral("[--:--:--.---] [+        -- ms] TX PACKET: ID=22h (STOP)")));
    delete opened[0];

    path = WriteFile(*Dir, "old-window.csv", "time,direction,command byte,name,length,status,payload hex,decoded,ms since connect\n"
                                             "2026-01-01T10:00:00.000+01:00,RX,0x43,GET_POS,6,E_SUCCESS,00 00 00 00 48 41,\"No error; position 12.50 mm\",120\n");
    window.btnOpen->click();
    opened = window.findChildren<TCommLog*>();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0]->LineText(0), QStringLiteral("[     120 ms] [+        -- ms] RX PACKET: ID=43h (GET_POS), Length=6: 00 00 00 00 48 41 = No error; position 12.50 mm"));
    SetMessageHandler(previous);
}

TEST_F(CliDecode, PcapngOfTheSessionReadsItsTcpStreamsInOrder)
{
    const QString path = WriteFile(*Dir, "session.pcapng", Pcapng(*Frames));
    const TCliRun run = RunCli({QStringLiteral("--json"), QStringLiteral("decode"), path});
    EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_EQ(Packets(run), Expected(*Frames));
    // The handshake names the client: no direction is guessed.
    const QList<QJsonObject> items = run.Objects();
    ASSERT_FALSE(items.isEmpty());
    EXPECT_FALSE(items.front().contains(QStringLiteral("direction_guessed")));
    EXPECT_TRUE(items.front()["time"].toString().contains(QStringLiteral(":38.001")))
        << items.front()["time"].toString().toStdString();
    // Every segment after the handshake is 0.5 ms after the one before;
    // the first request is complete in its second segment.
    EXPECT_DOUBLE_EQ(items[1]["dt_ms"].toDouble(), 0.5);

    const TCliRun text = RunCli({QStringLiteral("decode"), path});
    EXPECT_TRUE(text.Lines().last().startsWith(QStringLiteral("%1 packets (pcap); 0 faults found").arg(Frames->size())))
        << text.Out.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT[0-9:]{8}\\.\\d{6}[+-]\\d\\d:\\d\\d \\+0\\.500 ms RX @0: "))
                    .match(text.Lines()[1]).hasMatch()) << text.Lines()[1].toStdString();
}

TEST_F(CliDecode, LongInputsArePrintedShortenedAndACanIdMatchingNothingIsNamed)
{
    // 100000 stray bytes, then every request: the run is one item, shortened.
    QByteArray bytes(100000, '\x01');
    QByteArray hex("TX ");
    for (const TWireFrame& f : *Frames)
        if (!f.received) {
            bytes.append(reinterpret_cast<const char*>(f.bytes.data()), static_cast<qsizetype>(f.bytes.size()));
            for (int copy = 0; copy < 2000; ++copy)
                hex += HexText(f.bytes, {}).toLatin1();
        }
    const TCliRun stray = RunCli({QStringLiteral("decode"), WriteFile(*Dir, "stray.bin", bytes)});
    EXPECT_EQ(stray.ExitCode, 1);
    EXPECT_TRUE(stray.Out.startsWith(QStringLiteral("bytes @0: 100000 bytes between frames: 01 01 ")))
        << stray.Out.left(300).toStdString();
    EXPECT_TRUE(stray.Lines().front().endsWith(QStringLiteral(" 01 ... (100000 bytes)")));
    EXPECT_TRUE(stray.Lines().last().endsWith(QStringLiteral("; 1 fault found")));

    // One hex line far longer than a line is read at once.
    ASSERT_GT(hex.size(), 4 * (1 << 16)); // four times the longest line decode reads at once
    const TCliRun line = RunCli({QStringLiteral("decode"), WriteFile(*Dir, "line.txt", hex + '\n')});
    EXPECT_EQ(line.ExitCode, 0) << line.Err.toStdString();
    const qsizetype requests = std::count_if(Frames->begin(), Frames->end(), [](const TWireFrame& f) { return !f.received; });
    EXPECT_TRUE(line.Lines().last().startsWith(QStringLiteral("%1 packets (hex); 0 faults found").arg(requests * 2000)))
        << line.Lines().last().toStdString();

    const TCliRun none = RunCli({QStringLiteral("decode"), QStringLiteral("--can-id"), QStringLiteral("0x300"),
                                 WriteFile(*Dir, "can.log", "(1712345678.000000) vcan0 064#AAAAAA5000000DB87\n")});
    EXPECT_EQ(none.ExitCode, 1);
    EXPECT_TRUE(none.Err.contains(QStringLiteral("--can-id 768: no CAN frame has the identifier 0x300 or its answers' 0x301")))
        << none.Err.toStdString();
}

TEST_F(CliDecode, TerminationSignalEndsAWaitForInput)
{
    for (const auto signal : {SIGINT, SIGTERM}) {
        QProcess process;
        ASSERT_TRUE(StartCli(process, {QStringLiteral("decode"), QStringLiteral("-")}));
        // Standard input stays open and silent: decode waits for it.
        process.write("TX AA AA AA 22 00 00 ");
        ASSERT_TRUE(process.waitForBytesWritten(5000));
        QThread::msleep(300);
        ::kill(static_cast<pid_t>(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 1);
        EXPECT_TRUE(QString::fromUtf8(process.readAllStandardError())
                        .contains(QStringLiteral("interrupted by %1").arg(signal == SIGINT ? "SIGINT" : "SIGTERM")));
    }
}

} // namespace
