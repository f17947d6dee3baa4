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
    EXPECT_EQ(can.Objects().front()["time"].toString(), QStringLiteral("1712345678.000000"));

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
    EXPECT_EQ(RunCli({QStringLiteral("decode"), QStringLiteral("--format"), QStringLiteral("pcap")}).ExitCode, 2);
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

} // namespace
