#include "SimCommandLine.h"

#include "HXT_commands.h"
#include "stat.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>
#include <limits>

namespace {

constexpr quint32 MaxCanId = 0x1FFFFFFE; // the answer identifier id + 1 must fit 29 bits

const char* const PayloadHelp = R"(
Transports (any combination, one shared gripper):
  --tcp 10000 --pty /tmp/gripper-tty --can virtualcan:can0 --can-id 100
  TCP serves one client at a time; a new client replaces the old one.
  CAN takes the data bytes of frames with identifier N as the byte stream
  and answers in frames of up to 8 bytes with identifier N + 1.

Motion: the fingers start unreferenced; GOTO, GRASP and RELEASE answer
E_NOT_INITIALIZED until HOMING has run (or --referenced is given). Motion
commands answer E_CMD_PENDING, then the final status: E_SUCCESS,
E_AXIS_BLOCKED (a goto or release stopped by the part or an end stop),
E_CMD_FAILED (grasp found no part), E_CMD_ABORTED (stopped or replaced;
sent after the answer to the replacing command).
After FAST_STOP every motion command answers E_ACCESS_DENIED until
FAST_STOP_ACK with "ack".

Request payloads (floats are IEEE single, little-endian; answers start with
the 16-bit status):
  20 HOMING            u8 direction: 0 default (opening), 1 opening, 2 closing
  21 GOTO              u8 flags (bit 0: relative), f32 position, f32 speed
  22 STOP              -        brakes at the set acceleration
  23 FAST_STOP         -        stops at once, locks motion
  24 FAST_STOP_ACK     "ack"
  25 GRASP_RAW         f32 nominal width, f32 speed (force = force limit)
  26 RELEASE_RAW       f32 opening width, f32 speed
  27 GRASP_PROFILE     f32 width, f32 speed, f32 acceleration, f32 force
  28 RELEASE_PROFILE   f32 width, f32 speed, f32 acceleration
  30 SET_ACCELERATION  f32             31 GET_ACCELERATION  - -> f32
  32 SET_FORCE_LIMIT   f32             33 GET_FORCE_LIMIT   - -> f32
  34 SET_SOFT_LIMITS   f32 minus, f32 plus (0 <= minus < plus <= stroke)
  35 GET_SOFT_LIMITS   - -> f32 minus, f32 plus (0 and stroke when cleared)
  36 CLEAR_SOFT_LIMITS -
  37 OVERDRIVE_MODE    u8 0 off / 1 on (force limit up to the 8th limit value)
  38 TARE              -        zeroes the force reading (not while moving)
  40 GET_SYSTEM_STATE  -> u32 flags      41 GET_GRASPING_STATE -> u8 state
  43 GET_POS           -> f32 mm         44 GET_SPEED -> f32 mm/s (signed)
  45 GET_FORCE         -> f32 N
     The five readings take an empty payload (read once) or 3 bytes
     (automatic reports: byte 0 bit 0 enable, bit 1 only when changed;
     bytes 1-2 period in ms, at least 10); reports carry the same command byte.
  42 GET_GRASPING_STATS u8 1 = reset after reading -> u32 grasps,
                        u16 parts not found, u16 parts lost
  50 GET_SYSINFO       - -> u8 type, u8 hw rev, u16 fw rev, u32 serial
  51 SET_DEVICE_TAG    1 to 64 bytes of text
  52 GET_DEVICE_TAG    - -> the tag's bytes
  53 GET_SYSTEM_LIMITS - -> 8 x f32: stroke, min/max speed, min/max
                        acceleration, min/max force, overdrive force
Wrong payload length: E_CMD_FORMAT_ERROR; values out of range: E_RANGE_ERROR;
a switch byte other than 0 or 1 (OVERDRIVE_MODE, GET_GRASPING_STATS) or a
FAST_STOP_ACK other than "ack": E_INVALID_PARAMETER; unknown command byte:
E_CMD_UNKNOWN. Frames with a bad checksum are ignored.

Faults (random choices follow --seed): --drop suppresses every packet with
the command byte (answers, final results, reports); --force-status answers a
request with only that status and does not execute it; --close-after counts
frames sent on a connection, then TCP disconnects the client, the PTY is
re-created (the client sees a hang-up) and CAN leaves the bus for 1 s.
)";

struct TOptionSet {
    QCommandLineOption help{{"h", "help"}, "Shows this help."};
    QCommandLineOption version{"version", "Shows the program's version."};
    QCommandLineOption tcp{"tcp", "Listen for TCP clients on [HOST:]PORT (host 127.0.0.1; port 0: any free port).",
        "[HOST:]PORT"};
    QCommandLineOption pty{"pty", "Create a pseudo-terminal and link its device at PATH.", "PATH"};
    QCommandLineOption baud{"baud", "Line speed of the pseudo-terminal: bytes arrive only while its client has set N baud, as "
        "on a real line at another speed; default: any.", "N", "0"};
    QCommandLineOption can{"can", "Join the CAN bus PLUGIN:INTERFACE (e.g. virtualcan:can0).", "PLUGIN:INTERFACE"};
    QCommandLineOption canId{"can-id", "CAN identifier of requests (answers use N + 1); default 100.", "N", "100"};
    QCommandLineOption type{"type", "Gripper type byte of GET_SYSINFO; default 1.", "N", "1"};
    QCommandLineOption hwRev{"hw-rev", "Hardware revision (0-255); default 2.", "N", "2"};
    QCommandLineOption fwRev{"fw-rev", "Firmware revision (0-65535); default 259.", "N", "259"};
    QCommandLineOption serial{"serial", "Serial number; default 12345678.", "N", "12345678"};
    QCommandLineOption stroke{"stroke", "Stroke in mm; default 110.", "MM", "110"};
    QCommandLineOption minSpeed{"min-speed", "Minimum speed, mm/s; default 5.", "V", "5"};
    QCommandLineOption maxSpeed{"max-speed", "Maximum speed, mm/s; default 420.", "V", "420"};
    QCommandLineOption minAccel{"min-accel", "Minimum acceleration, mm/s²; default 100.", "A", "100"};
    QCommandLineOption maxAccel{"max-accel", "Maximum acceleration, mm/s²; default 5000.", "A", "5000"};
    QCommandLineOption minForce{"min-force", "Minimum grasping force, N; default 5.", "F", "5"};
    QCommandLineOption maxForce{"max-force", "Maximum grasping force, N; default 80.", "F", "80"};
    QCommandLineOption overdriveForce{"overdrive-force", "Largest force in overdrive mode, N; default 120.", "F", "120"};
    QCommandLineOption homingSpeed{"homing-speed", "Homing speed, mm/s; default 50.", "V", "50"};
    QCommandLineOption startPos{"start-pos", "Finger opening at start, mm; default half the stroke.", "MM"};
    QCommandLineOption referenced{"referenced", "Start referenced (no homing needed)."};
    QCommandLineOption partWidth{"part-width", "Width of the part between the fingers, mm; 0: none (default).",
        "MM", "0"};
    QCommandLineOption partLost{"part-lost-after", "A held part slips out after MS ms; 0: never (default).", "MS", "0"};
    QCommandLineOption drop{"drop", "Never send packets with these command bytes (names or numbers).", "CMD[,CMD]"};
    QCommandLineOption forceStatus{"force-status", "Answer CMD with status CODE (name or number) instead of running it.",
        "CMD=CODE"};
    QCommandLineOption corruptRate{"corrupt-rate", "Share of frames (0-1) sent with a wrong checksum.", "R", "0"};
    QCommandLineOption garbageRate{"garbage-rate", "Share of frames (0-1) preceded by 1-8 stray bytes.", "R", "0"};
    QCommandLineOption splitPause{"split-pause", "Send each frame in two halves, MS ms apart.", "MS", "0"};
    QCommandLineOption delay{"delay", "Send every frame MS ms late.", "MS", "0"};
    QCommandLineOption closeAfter{"close-after", "Close the connection after N frames sent; 0: never.", "N", "0"};
    QCommandLineOption seed{"seed", "Seed of the random faults; default 1.", "N", "1"};
    QCommandLineOption verbose{"verbose", "Print every frame in and out on stderr."};

    void AddTo(QCommandLineParser& p)
    {
        p.addOptions({help, version, tcp, pty, baud, can, canId, type, hwRev, fwRev, serial, stroke, minSpeed, maxSpeed,
            minAccel, maxAccel, minForce, maxForce, overdriveForce, homingSpeed, startPos, referenced, partWidth, partLost,
            drop, forceStatus, corruptRate, garbageRate, splitPause, delay, closeAfter, seed, verbose});
    }
};

// Decimal, or hexadecimal with a 0x prefix.
qint64 ToInteger(const QString& text, bool* ok)
{
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        return text.mid(2).toLongLong(ok, 16);
    return text.toLongLong(ok, 10);
}

// Reads option values, remembering the first problem.
class TValueReader {
public:
    explicit TValueReader(const QCommandLineParser& p) : FParser(p) {}

    double Real(const QCommandLineOption& o, double lo, double hi)
    {
        bool ok = false;
        const QString text = FParser.value(o);
        const double v = text.toDouble(&ok);
        if (!ok || !std::isfinite(v) || v < lo || v > hi)
            Fail(o, text, QStringLiteral("a number from %1 to %2").arg(lo).arg(hi));
        return v;
    }

    qint64 Integer(const QCommandLineOption& o, qint64 lo, qint64 hi)
    {
        bool ok = false;
        const QString text = FParser.value(o);
        const qint64 v = ToInteger(text, &ok);
        if (!ok || v < lo || v > hi)
            Fail(o, text, QStringLiteral("an integer from %1 to %2").arg(lo).arg(hi));
        return v;
    }

    void Fail(const QCommandLineOption& o, const QString& text, const QString& expected)
    {
        if (FError.isEmpty())
            FError = QStringLiteral("invalid value \"%1\" for --%2: expected %3").arg(text, o.names().last(), expected);
    }

    void Fail(const QString& message)
    {
        if (FError.isEmpty())
            FError = message;
    }

    const QString& Error() const { return FError; }

private:
    const QCommandLineParser& FParser;
    QString FError;
};

std::optional<uint8_t> ParseCommandByte(const QString& text)
{
    for (const auto& c : CommandIDs)
        if (text.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0)
            return static_cast<uint8_t>(c.id);
    bool ok = false;
    const qint64 v = ToInteger(text, &ok);
    if (!ok || v < 0 || v > 255)
        return std::nullopt;
    return static_cast<uint8_t>(v);
}

std::optional<uint16_t> ParseStatus(const QString& text)
{
    for (int code = 0; code < StatCount; ++code)
        if (text.compare(QString::fromStdString(StatusName(uint8_t(code))), Qt::CaseInsensitive) == 0)
            return static_cast<uint16_t>(code);
    bool ok = false;
    const qint64 v = ToInteger(text, &ok);
    if (!ok || v < 0 || v > 0xFFFF)
        return std::nullopt;
    return static_cast<uint16_t>(v);
}

void ReadTransports(const QCommandLineParser& p, const TOptionSet& o, TValueReader& r, TSimSettings& s)
{
    if (p.isSet(o.tcp)) {
        const QString text = p.value(o.tcp);
        const qsizetype colon = text.lastIndexOf(u':');
        QString host = colon >= 0 ? text.left(colon) : QStringLiteral("127.0.0.1");
        if (host.startsWith(u'[') && host.endsWith(u']'))
            host = host.mid(1, host.size() - 2);
        bool ok = false;
        const uint port = text.mid(colon + 1).toUInt(&ok);
        QHostAddress address;
        if (host == QLatin1String("localhost"))
            address = QHostAddress::LocalHost;
        else
            address.setAddress(host);
        if (!ok || port > 65535 || address.isNull())
            r.Fail(o.tcp, text, QStringLiteral("[HOST:]PORT with a numeric address and a port from 0 to 65535"));
        else
            s.tcp = TSimSettings::TTcp{address, static_cast<quint16>(port)};
    }
    if (p.isSet(o.pty)) {
        if (p.value(o.pty).isEmpty())
            r.Fail(o.pty, p.value(o.pty), QStringLiteral("a path"));
        else
            s.ptyPath = p.value(o.pty);
    }
    if (p.isSet(o.baud)) {
        s.ptyBaud = static_cast<int>(r.Integer(o.baud, 1, 4000000));
        if (!s.ptyPath)
            r.Fail(QStringLiteral("--baud needs --pty"));
    }
    if (p.isSet(o.can)) {
        const QString text = p.value(o.can);
        const qsizetype colon = text.indexOf(u':');
        if (colon <= 0 || colon == text.size() - 1)
            r.Fail(o.can, text, QStringLiteral("PLUGIN:INTERFACE"));
        else
            s.can = TSimSettings::TCan{text.left(colon), text.mid(colon + 1),
                static_cast<quint32>(r.Integer(o.canId, 0, MaxCanId))};
    } else if (p.isSet(o.canId)) {
        r.Fail(QStringLiteral("--can-id needs --can"));
    }
    if (!s.tcp && !s.ptyPath && !s.can && r.Error().isEmpty())
        r.Fail(QStringLiteral("no transport chosen: give --tcp, --pty and/or --can"));
}

void ReadGripper(const QCommandLineParser& p, const TOptionSet& o, TValueReader& r, TGripperConfig& g)
{
    constexpr double Big = 1e6;
    g.gripperType = static_cast<uint8_t>(r.Integer(o.type, 0, 255));
    g.hardwareRevision = static_cast<uint8_t>(r.Integer(o.hwRev, 0, 255));
    g.firmwareRevision = static_cast<uint16_t>(r.Integer(o.fwRev, 0, 65535));
    g.serialNumber = static_cast<uint32_t>(r.Integer(o.serial, 0, 0xFFFFFFFFLL));
    g.stroke = static_cast<float>(r.Real(o.stroke, 1, 10000));
    g.minSpeed = static_cast<float>(r.Real(o.minSpeed, 0.001, Big));
    g.maxSpeed = static_cast<float>(r.Real(o.maxSpeed, g.minSpeed, Big));
    g.minAcceleration = static_cast<float>(r.Real(o.minAccel, 0.001, Big));
    g.maxAcceleration = static_cast<float>(r.Real(o.maxAccel, g.minAcceleration, Big));
    g.minForce = static_cast<float>(r.Real(o.minForce, 0, Big));
    g.maxForce = static_cast<float>(r.Real(o.maxForce, g.minForce, Big));
    g.overdriveForce = static_cast<float>(r.Real(o.overdriveForce, g.maxForce, Big));
    g.homingSpeed = static_cast<float>(r.Real(o.homingSpeed, 0.001, Big));
    g.startPosition = p.isSet(o.startPos) ? static_cast<float>(r.Real(o.startPos, 0, g.stroke)) : g.stroke / 2;
    g.startReferenced = p.isSet(o.referenced);
    g.partWidth = static_cast<float>(r.Real(o.partWidth, 0, g.stroke));
    g.partLostAfterMs = static_cast<int>(r.Integer(o.partLost, 0, 24 * 3600 * 1000));
}

void ReadFaults(const QCommandLineParser& p, const TOptionSet& o, TValueReader& r, TFaultOptions& f)
{
    for (const QString& list : p.values(o.drop))
        for (const QString& item : list.split(u',', Qt::SkipEmptyParts)) {
            if (const auto cmd = ParseCommandByte(item.trimmed()))
                f.drop.insert(*cmd);
            else
                r.Fail(o.drop, item, QStringLiteral("a command name or a byte from 0 to 255"));
        }
    for (const QString& item : p.values(o.forceStatus)) {
        const qsizetype eq = item.indexOf(u'=');
        const auto cmd = eq > 0 ? ParseCommandByte(item.left(eq).trimmed()) : std::nullopt;
        const auto status = eq > 0 ? ParseStatus(item.mid(eq + 1).trimmed()) : std::nullopt;
        if (cmd && status)
            f.forcedStatus[*cmd] = *status;
        else
            r.Fail(o.forceStatus, item, QStringLiteral("CMD=CODE, e.g. GET_SYSINFO=E_ACCESS_DENIED or 0x50=16"));
    }
    f.corruptRate = r.Real(o.corruptRate, 0, 1);
    f.garbageRate = r.Real(o.garbageRate, 0, 1);
    f.splitPauseMs = static_cast<int>(r.Integer(o.splitPause, 0, 60000));
    f.delayMs = static_cast<int>(r.Integer(o.delay, 0, 60000));
    f.closeAfter = static_cast<int>(r.Integer(o.closeAfter, 0, std::numeric_limits<int>::max()));
    f.seed = static_cast<uint32_t>(r.Integer(o.seed, 0, 0xFFFFFFFFLL));
}

} // namespace

TCommandLineResult ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated electric parallel gripper for KRM Commander."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    TOptionSet o;
    o.AddTo(parser);

    TCommandLineResult result;
    if (!parser.parse(arguments)) {
        result.text = parser.errorText();
        return result;
    }
    if (parser.isSet(o.help)) {
        result.kind = TCommandLineResult::Help;
        result.text = parser.helpText() + QString::fromUtf8(PayloadHelp);
        return result;
    }
    if (parser.isSet(o.version)) {
        result.kind = TCommandLineResult::Version;
        result.text = QStringLiteral("gripper-sim %1\n").arg(QCoreApplication::applicationVersion());
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.text = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return result;
    }

    TValueReader reader(parser);
    ReadTransports(parser, o, reader, result.settings);
    ReadGripper(parser, o, reader, result.settings.gripper);
    ReadFaults(parser, o, reader, result.settings.faults);
    result.settings.verbose = parser.isSet(o.verbose);
    if (!reader.Error().isEmpty()) {
        result.text = reader.Error();
        return result;
    }
    result.kind = TCommandLineResult::Run;
    return result;
}
