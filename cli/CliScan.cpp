#include "CliScan.h"

#include "CliFields.h"
#include "CliOptions.h"
#include "CliOutput.h"
#include "CliRunner.h"
#include "CliSyntax.h"
#include "UsageError.h"

#include <krm/krm.hpp>

#include <climits>

namespace {

const char* const Usage = "krm-cli [--json] scan [--only] [--baud BAUD[,BAUD...]] [--kbits KBITS] "
                          "[--can-ids FIRST-LAST] [CONNECTION...]";

// Seconds with one decimal, rounded up: what the help promises.
QString Seconds(std::chrono::milliseconds time)
{
    return QString::number((time.count() + 99) / 100 / 10.0, 'f', 1);
}

int Integer(const QString& option, const QString& text, int min, int max)
{
    const auto value = ParseCliInteger(text, min, max);
    if (!value)
        throw TUsageError(QStringLiteral("scan: %1: \"%2\" is not a number from %3 to %4").arg(option, text).arg(min).arg(max));
    return *value;
}

krm::ScanOptions ParseScan(const QStringList& args, bool& json)
{
    krm::ScanOptions options;
    bool seenScan = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const auto value = [&]() -> QString {
            if (i + 1 >= args.size())
                throw TUsageError(QStringLiteral("scan: %1: missing value").arg(arg));
            return args[++i];
        };
        if (arg == QLatin1String("--json")) {
            json = true;
        } else if (!seenScan) {
            if (arg != QLatin1String("scan"))
                throw TUsageError(QStringLiteral("scan: %1: scan looks for grippers and takes no connection option "
                                                 "(%2)")
                                      .arg(arg, QLatin1String(Usage)));
            seenScan = true;
        } else if (arg == QLatin1String("--only")) {
            options.system_ports = false;
        } else if (arg == QLatin1String("--baud")) {
            for (const QString& speed : value().split(u','))
                options.line_speeds.push_back(Integer(QStringLiteral("--baud"), speed, 1, INT_MAX));
        } else if (arg == QLatin1String("--kbits")) {
            options.can_kbits = Integer(QStringLiteral("--kbits"), value(), 1, INT_MAX);
        } else if (arg == QLatin1String("--can-ids")) {
            const QStringList range = value().split(u'-');
            if (range.size() != 2)
                throw TUsageError(QStringLiteral("scan: --can-ids: \"%1\" is not FIRST-LAST").arg(args[i]));
            options.first_can_id = static_cast<std::uint32_t>(Integer(QStringLiteral("--can-ids"), range[0], 0, INT_MAX));
            options.last_can_id = static_cast<std::uint32_t>(Integer(QStringLiteral("--can-ids"), range[1], 0, INT_MAX));
        } else if (arg.startsWith(QLatin1String("--"))) {
            throw TUsageError(QStringLiteral("scan: %1: not an option of scan (%2)").arg(arg, QLatin1String(Usage)));
        } else {
            options.connections.push_back(arg.toStdString());
        }
    }
    if (!options.system_ports && options.connections.empty())
        throw TUsageError(QStringLiteral("scan: --only: no connection given to try"));
    return options;
}

TSystemInfo InfoRecord(const krm::Info& info)
{
    TSystemInfo record;
    record.GripperType = static_cast<uint8_t>(info.gripper_type);
    record.HardwareRevision = info.hardware_revision;
    record.FirmwareRevision = info.firmware_revision;
    record.SerialNumber = static_cast<int32_t>(info.serial_number);
    return record;
}

} // namespace

bool IsScanCommand(const QStringList& args)
{
    return FirstCommandWord(args) == QLatin1String("scan");
}

int RunScan(const QStringList& args)
{
    bool json = args.contains(QStringLiteral("--json"));
    krm::ScanResult result;
    try {
        result = krm::scan(ParseScan(args, json));
    } catch (const TUsageError& error) {
        TCliOutput(false).Error(error.Message());
        return ExitUsage;
    } catch (const std::exception& error) {
        // A malformed connection string, a line speed or bit rate not offered.
        TCliOutput(false).Error(QStringLiteral("scan: %1").arg(QString::fromStdString(error.what())));
        return ExitUsage;
    }
    TCliOutput output(json);
    for (const krm::FoundGripper& found : result.found) {
        std::vector<TCliField> fields{{QStringLiteral("Connection"), QString::fromStdString(found.connection),
            QString::fromStdString(found.connection)}};
        for (TCliField& field : SystemInfoFields(InfoRecord(found.info)))
            fields.push_back(std::move(field));
        output.Result({QStringLiteral("scan"), E_SUCCESS, fields, {}, -1}, QStringLiteral("scan"));
    }
    for (const krm::ScanProblem& problem : result.problems)
        output.Error(QStringLiteral("scan: %1").arg(QString::fromStdString(problem.message)));
    if (output.Failed()) {
        output.Error(output.FailureText());
        return ExitCommandFailed;
    }
    return result.found.empty() ? ExitCommandFailed : ExitSuccess;
}

QString ScanUsage()
{
    krm::ScanOptions quick;
    quick.line_speeds = {115200};
    return QStringLiteral(
        "%1\n"
        "    finds grippers whose port, line speed or CAN identifier is unknown, with no\n"
        "    connection: every serial port at each line speed (BAUD, default all, 115200 first),\n"
        "    every CAN interface at KBITS (default 250) with the identifiers FIRST to LAST\n"
        "    (default 0-255), and each CONNECTION given (serial:PATH without @BAUD at each line\n"
        "    speed, can:PLUGIN:INTERFACE[@KBITS] without #ID with each identifier); --only tries\n"
        "    only the CONNECTIONs. Prints the connection string and system information of\n"
        "    every gripper that answers. It writes nothing but the system-information request\n"
        "    (GET_SYSINFO, which changes nothing on a gripper), once per line speed and\n"
        "    identifier, because other devices may sit on the ports it tries; a port in use by\n"
        "    another program is reported and left alone. Ports are tried in parallel: the\n"
        "    default line speed takes at most %2 s a port, the full sweep of all line speeds at\n"
        "    most %3 s. Exit status 0 when a gripper answered, 1 when none did\n")
        .arg(QLatin1String(Usage), Seconds(krm::scan_time(quick)), Seconds(krm::scan_time()));
}
