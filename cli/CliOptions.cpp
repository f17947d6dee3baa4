#include "CliOptions.h"

#include "CliConnect.h"
#include "CliProgram.h"
#include "CliScan.h"
#include "CliSyntax.h"
#include "ConnectionString.h"
#include "IntegerLiteral.h"
#include "UsageError.h"

#include <algorithm>
#include <array>
#include <climits>

namespace {

// The serial dialog's line speeds and the CAN dialog's bit rates.
constexpr std::array<int, 8> LineSpeeds = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr std::array<int, 8> CanKbits = {10, 20, 50, 100, 125, 250, 500, 1000};
// Highest request identifier whose answer identifier (one more) still fits
// the 29 bits of an extended CAN frame.
constexpr int32_t MaxCanId = 0x1FFFFFFE;

template <size_t N> QString JoinList(const std::array<int, N>& values)
{
    QStringList texts;
    for (const int v : values)
        texts.append(QString::number(v));
    return texts.join(QStringLiteral(", "));
}

template <size_t N> int ParseListed(const QString& option, const QString& text, const std::array<int, N>& values, const char* what)
{
    const auto value = ParseCliInteger(text, 1, INT_MAX);
    if (!value || std::find(values.begin(), values.end(), *value) == values.end())
        throw TUsageError(QStringLiteral("%1: %2 \"%3\" is not one of %4").arg(option, QLatin1String(what), text, JoinList(values)));
    return *value;
}

// "HOST:PORT"; an IPv6 address is written in brackets: "[::1]:1000".
void ParseTcp(const QString& text, TCliConnection& connection)
{
    const qsizetype colon = text.lastIndexOf(u':');
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (colon < 0 || host.isEmpty())
        throw TUsageError(QStringLiteral("--tcp: \"%1\" is not HOST:PORT").arg(text));
    const auto port = ParseCliInteger(text.mid(colon + 1), 1, 65535);
    if (!port)
        throw TUsageError(QStringLiteral("--tcp: PORT \"%1\" is not a number from 1 to 65535").arg(text.mid(colon + 1)));
    connection.Transport = TCliTransport::Tcp;
    connection.Host = host;
    connection.Port = static_cast<uint16_t>(*port);
}

// "PORT[@BAUD]".
void ParseSerial(const QString& text, TCliConnection& connection)
{
    const qsizetype at = text.lastIndexOf(u'@');
    connection.SerialPort = at < 0 ? text : text.left(at);
    if (connection.SerialPort.isEmpty())
        throw TUsageError(QStringLiteral("--serial: \"%1\" names no port").arg(text));
    if (at >= 0)
        connection.Baudrate = ParseListed(QStringLiteral("--serial"), text.mid(at + 1), LineSpeeds, "BAUD");
    connection.Transport = TCliTransport::Serial;
}

// "PLUGIN:INTERFACE[@KBITS]".
void ParseCan(const QString& text, TCliConnection& connection)
{
    const qsizetype at = text.lastIndexOf(u'@');
    const QString device = at < 0 ? text : text.left(at);
    const qsizetype colon = device.indexOf(u':');
    if (colon <= 0 || colon == device.size() - 1)
        throw TUsageError(QStringLiteral("--can: \"%1\" is not PLUGIN:INTERFACE (for example socketcan:can0)").arg(text));
    connection.CanPlugin = device.left(colon);
    connection.CanInterface = device.mid(colon + 1);
    if (at >= 0)
        connection.CanKbits = ParseListed(QStringLiteral("--can"), text.mid(at + 1), CanKbits, "KBITS");
    connection.Transport = TCliTransport::Can;
}

int32_t ParseCanId(const QString& text)
{
    const auto id = ParseIntegerLiteral(text);
    if (!id || *id < 0 || *id > MaxCanId)
        throw TUsageError(QStringLiteral("--can-id: N \"%1\" is not an identifier from 0 to %2 (0x1FFFFFFE)").arg(text).arg(MaxCanId));
    return *id;
}

class TArgReader {
public:
    explicit TArgReader(const QStringList& args)
        : FArgs(args)
    {
    }
    bool AtEnd() const { return FPos >= FArgs.size(); }
    const QString& Peek() const { return FArgs[FPos]; }
    QString Take() { return FArgs[FPos++]; }
    QStringList Rest() const { return FArgs.mid(FPos); }
    // The value of an option given as "--opt VALUE" or "--opt=VALUE".
    QString Value(const QString& option, const QString& inlineValue, bool hasInline)
    {
        if (hasInline)
            return inlineValue;
        if (AtEnd())
            throw TUsageError(QStringLiteral("%1: missing value").arg(option));
        return Take();
    }

private:
    const QStringList& FArgs;
    qsizetype FPos = 0;
};

// A connection string (--connect, KRM_CONNECT); `source` names where it came from.
void ParseConnect(const QString& source, const QString& text, TCliConnection& connection)
{
    try {
        connection = CliConnectionFrom(ParseConnectionString(text));
    } catch (const TConnectionStringError& error) {
        throw TUsageError(QStringLiteral("%1: %2").arg(source, QString::fromStdString(error.what())));
    }
}

void SetConnection(TCliOptions& options, const QString& option, const QString& value)
{
    if (options.Connection.Transport != TCliTransport::None)
        throw TUsageError(QStringLiteral("%1: only one connection may be given (--connect, --tcp, --serial or --can)").arg(option));
    if (option == QLatin1String("--connect"))
        ParseConnect(option, value, options.Connection);
    else if (option == QLatin1String("--tcp"))
        ParseTcp(value, options.Connection);
    else if (option == QLatin1String("--serial"))
        ParseSerial(value, options.Connection);
    else
        ParseCan(value, options.Connection);
}

} // namespace

QString TCliConnection::Text() const
{
    switch (Transport) {
    case TCliTransport::Tcp:
        return QStringLiteral("TCP %1:%2").arg(Host.contains(u':') ? u'[' + Host + u']' : Host).arg(Port);
    case TCliTransport::Serial:
        return QStringLiteral("Serial %1 %2").arg(SerialPort).arg(Baudrate);
    case TCliTransport::Can:
        return QStringLiteral("CAN %1:%2 %3 kBit/s id %4").arg(CanPlugin, CanInterface).arg(CanKbits).arg(CanId);
    case TCliTransport::None:
        break;
    }
    return QStringLiteral("no connection");
}

TCliOptions ParseCliOptions(const QStringList& args)
{
    TCliOptions options;
    TArgReader reader(args);
    bool canIdGiven = false;
    while (!reader.AtEnd() && reader.Peek().startsWith(QLatin1String("--"))) {
        const QString word = reader.Take();
        const qsizetype equals = word.indexOf(u'=');
        const QString option = equals < 0 ? word : word.left(equals);
        const QString inlineValue = equals < 0 ? QString() : word.mid(equals + 1);
        const bool hasInline = equals >= 0;
        const auto flag = [&](bool& target) {
            if (hasInline)
                throw TUsageError(QStringLiteral("%1: takes no value").arg(option));
            target = true;
        };
        if (option == QLatin1String("--connect") || option == QLatin1String("--tcp") || option == QLatin1String("--serial") ||
            option == QLatin1String("--can")) {
            SetConnection(options, option, reader.Value(option, inlineValue, hasInline));
        } else if (option == QLatin1String("--can-id")) {
            options.Connection.CanId = ParseCanId(reader.Value(option, inlineValue, hasInline));
            canIdGiven = true;
        } else if (option == QLatin1String("--timeout")) {
            const QString value = reader.Value(option, inlineValue, hasInline);
            const auto seconds = ParseCliNumber(value);
            if (!seconds || *seconds <= 0 || *seconds > 86400)
                throw TUsageError(QStringLiteral("--timeout: SECONDS \"%1\" is not a number above 0 and up to 86400").arg(value));
            options.TimeoutSeconds = *seconds;
        } else if (option == QLatin1String("--log")) {
            options.LogFile = reader.Value(option, inlineValue, hasInline);
            if (options.LogFile.isEmpty())
                throw TUsageError(QStringLiteral("--log: FILE is empty"));
        } else if (option == QLatin1String("--json")) {
            flag(options.Json);
        } else if (option == QLatin1String("--keep-going")) {
            flag(options.KeepGoing);
        } else if (option == QLatin1String("--help")) {
            flag(options.Help);
        } else if (option == QLatin1String("--version")) {
            flag(options.Version);
        } else {
            throw TUsageError(QStringLiteral("%1: unknown option (krm-cli --help lists the options)").arg(option));
        }
    }
    if (options.Help || options.Version)
        return options;
    if (canIdGiven && options.Connection.Transport != TCliTransport::Can)
        throw TUsageError(QStringLiteral("--can-id: only valid with --can"));
    const QString fallback = qEnvironmentVariable("KRM_CONNECT");
    if (options.Connection.Transport == TCliTransport::None && !fallback.isEmpty())
        ParseConnect(QStringLiteral("KRM_CONNECT"), fallback, options.Connection);
    if (options.Connection.Transport == TCliTransport::None)
        throw TUsageError(QStringLiteral("no connection given: use --connect STRING, --tcp HOST:PORT, --serial PORT[@BAUD] or "
                                         "--can PLUGIN:INTERFACE[@KBITS], or set KRM_CONNECT"));
    if (reader.AtEnd())
        throw TUsageError(QStringLiteral("no command given (krm-cli --help lists the commands)"));
    options.Program = BuildCliProgram(SplitCommandLine(reader.Rest()));
    return options;
}

QString CliUsage()
{
    return QStringLiteral(
               "Usage: krm-cli [CONNECTION] [OPTIONS] COMMAND [ARGS...] [, COMMAND [ARGS...]]...\n"
               "\n"
               "Runs gripper commands in order over one connection.\n"
               "\n"
               "CONNECTION (exactly one; without one, the connection string in KRM_CONNECT):\n"
               "  --connect STRING                tcp:HOST:PORT, serial:PATH[@BAUD] or\n"
               "                                  can:PLUGIN:INTERFACE[@KBITS][#ID]\n"
               "  --tcp HOST:PORT                 TCP, e.g. 127.0.0.1:1000 or [::1]:1000\n"
               "  --serial PORT[@BAUD]            serial line, e.g. /dev/ttyUSB0@115200; BAUD one of\n"
               "                                  %1 (default 115200)\n"
               "  --can PLUGIN:INTERFACE[@KBITS]  CAN bus, e.g. socketcan:can0@500; KBITS one of\n"
               "                                  %2 (default 250)\n"
               "  --can-id N                      the gripper's CAN identifier (default 100)\n"
               "\n"
               "OPTIONS:\n"
               "  --json                          one JSON object per command and line on standard output,\n"
               "                                  with the command's start (UTC, ISO 8601 with milliseconds)\n"
               "                                  and duration_ms; motions add the final Position or Width\n"
               "  --timeout SECONDS               longest wait for an answer and for a motion's final result\n"
               "                                  (default 60, at most 86400)\n"
               "  --log FILE                      every packet sent and received as a CSV row\n"
               "  --keep-going                    go on after a failed command\n"
               "  --help                          this text\n"
               "  --version                       the program's version\n"
               "\n"
               "COMMANDS:\n"
               "%3"
               "  run FILE                        the commands of FILE, one per line; # starts a comment,\n"
               "                                  repeat N ... end repeats a block (at most 64 inside one\n"
               "                                  another). FILE is read and checked whole before anything is\n"
               "                                  sent: at most 4 MiB and 100000 lines of scripts in one run,\n"
               "                                  262144 bytes in one line\n"
               "  run -                           the lines of standard input, each run as soon as it has\n"
               "                                  arrived (a repeat block once its end has) and its result\n"
               "                                  printed at once: another program can drive one connection\n"
               "                                  line by line through a pipe\n"
               "\n"
               "krm-cli [--json] decode [--format FORMAT] [--can-id N] [FILE|-]\n"
               "    prints the packets of a recording, with no connection: raw bytes, hex text, the\n"
               "    CSV packet log, a candump log or a pcap or pcapng capture of TCP traffic (FORMAT\n"
               "    auto, binary, hex, csv, candump or pcap; N the gripper's CAN identifier, default\n"
               "    100), and every checksum mismatch, frame cut short and run of bytes between\n"
               "    frames with its offset, each with its time and the milliseconds since the one\n"
               "    before; exit status 1 when there are any\n"
               "\n"
               "%4"
               "\n"
               "Positions and widths are in mm, speeds in mm/s, accelerations in mm/s², forces in N;\n"
               "they are checked against the gripper's system limits before anything is sent, and a\n"
               "command with such a value is not sent at all when the limits cannot be read.\n"
               "\n"
               "Ctrl+C, SIGTERM and SIGHUP end the run wherever it is. A motion that may be running is\n"
               "sent STOP first; so is one whose answer does not come, or whose final result does not\n"
               "come within --timeout. STOP's answer is awaited for what remains of --timeout and at\n"
               "most 1 s more; a second Ctrl+C ends that wait at once.\n"
               "\n"
               "Exit status: 0 all commands succeeded; 1 a command ended with another status than\n"
               "success, the run was interrupted, or a write to standard output or to the --log file\n"
               "failed (so a watch ends when its reader goes away); 2 bad usage, an invalid value or a\n"
               "script beyond its bounds; 3 the connection could not be made or was lost, or a command\n"
               "with a value could not be checked because the system limits could not be read.\n")
        .arg(JoinList(LineSpeeds), JoinList(CanKbits), CliCommandSummary(), ScanUsage());
}

QString FirstCommandWord(const QStringList& args)
{
    // The options before the first command, with the values of those that
    // take one as the next word.
    static const QStringList valued = {QStringLiteral("--tcp"), QStringLiteral("--serial"), QStringLiteral("--can"),
                                       QStringLiteral("--can-id"), QStringLiteral("--timeout"), QStringLiteral("--log")};
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (!args[i].startsWith(QLatin1String("--")))
            return args[i];
        if (valued.contains(args[i]))
            ++i;
    }
    return {};
}
