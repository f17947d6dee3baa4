#include "CliSyntax.h"

#include "HXT_commands.h"
#include "IntegerLiteral.h"
#include "PayloadParser.h"
#include "UsageError.h"

#include <QLocale>

#include <array>
#include <climits>
#include <cmath>

namespace {

enum class TArgKind { None, Real, Seconds, Byte, Milliseconds };

// The fixed-form commands: name, arguments (upper case for messages), how
// many of them are required, and what kind of number they take.
struct TVerbEntry {
    const char* Name;
    TCliVerb Verb;
    std::array<const char*, 2> ArgNames;
    int Required;
    TArgKind Kind;
    const char* Help;
};

constexpr std::array<TVerbEntry, 16> Verbs = {{
    {"info", TCliVerb::Info, {}, 0, TArgKind::None, "system information"},
    {"limits", TCliVerb::Limits, {}, 0, TArgKind::None, "system limits"},
    {"stats", TCliVerb::Stats, {"--reset"}, 0, TArgKind::None, "grasping statistics; --reset clears them after reading"},
    {"state", TCliVerb::State, {}, 0, TArgKind::None, "system-state flags, grasping state and position"},
    {"home", TCliVerb::Home, {"DIRECTION"}, 0, TArgKind::Byte, "homing; DIRECTION 0 to 255 goes to the gripper as it is (default 0)"},
    {"goto", TCliVerb::Goto, {"POSITION", "SPEED"}, 2, TArgKind::Real, "move to POSITION mm at SPEED mm/s"},
    {"grasp", TCliVerb::Grasp, {"WIDTH", "SPEED"}, 2, TArgKind::Real, "grasp a part of WIDTH mm at SPEED mm/s"},
    {"release", TCliVerb::Release, {"WIDTH", "SPEED"}, 2, TArgKind::Real, "open to WIDTH mm at SPEED mm/s"},
    {"stop", TCliVerb::Stop, {}, 0, TArgKind::None, "stop the motion"},
    {"fast-stop", TCliVerb::FastStop, {}, 0, TArgKind::None, "stop at once and lock motion"},
    {"ack", TCliVerb::Ack, {}, 0, TArgKind::None, "acknowledge a fast stop"},
    {"accel", TCliVerb::Accel, {"VALUE"}, 0, TArgKind::Real, "read, or set to VALUE mm/s², the acceleration"},
    {"force-limit", TCliVerb::ForceLimit, {"VALUE"}, 0, TArgKind::Real, "read, or set to VALUE N, the grasping force limit"},
    {"watch", TCliVerb::Watch, {"SECONDS"}, 0, TArgKind::Seconds, "print the gripper's reports for SECONDS (up to 86400), or until interrupted"},
    {"raw", TCliVerb::Raw, {"COMMAND", "PAYLOAD..."}, 1, TArgKind::None, "send a command byte with a payload in the command editor's syntax"},
    {"wait", TCliVerb::Wait, {"MS"}, 1, TArgKind::Milliseconds, "pause for MS milliseconds (up to 86400000, a day)"},
}};

int ArgCount(const TVerbEntry& entry)
{
    int count = 0;
    for (const char* name : entry.ArgNames)
        count += name ? 1 : 0;
    return count;
}

const TVerbEntry* FindVerb(const QString& name)
{
    for (const TVerbEntry& entry : Verbs)
        if (name == QLatin1String(entry.Name))
            return &entry;
    return nullptr;
}

[[noreturn]] void Fail(const QString& where, const QString& command, const QString& text)
{
    throw TUsageError(QStringLiteral("%1: %2: %3").arg(where, command, text));
}

double ParseValue(const TVerbEntry& entry, const QString& name, const QString& text, const QString& where)
{
    switch (entry.Kind) {
    case TArgKind::Byte:
        if (const auto value = ParseCliInteger(text, 0, 255))
            return *value;
        Fail(where, entry.Name, QStringLiteral("%1 \"%2\" is not a whole number from 0 to 255").arg(name, text));
    case TArgKind::Milliseconds:
        if (const auto value = ParseCliInteger(text, 0, MaxCliDurationMs))
            return *value;
        Fail(where, entry.Name,
            QStringLiteral("%1 \"%2\" is not a whole number of milliseconds from 0 to %3 (a day)").arg(name, text).arg(MaxCliDurationMs));
    case TArgKind::Seconds:
        if (const auto value = ParseCliNumber(text); value && *value > 0 && *value <= MaxCliDurationMs / 1000)
            return *value;
        Fail(where, entry.Name,
            QStringLiteral("%1 \"%2\" is not a number of seconds above 0 and up to %3 (a day)").arg(name, text).arg(MaxCliDurationMs / 1000));
    case TArgKind::Real:
    case TArgKind::None:
        break;
    }
    if (const auto value = ParseCliNumber(text))
        return *value;
    Fail(where, entry.Name, QStringLiteral("%1 \"%2\" is not a number").arg(name, text));
}

// The command byte in the command editor's integer syntax, or a name of the
// command table ("GET_DEVICE_TAG").
uint8_t ParseRawCommand(const QString& text, const QString& where)
{
    for (const TCommandID& entry : CommandIDs)
        if (text.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0)
            return static_cast<uint8_t>(entry.id);
    const auto value = ParseIntegerLiteral(text);
    if (!value || *value < 0 || *value > 255)
        Fail(where, QStringLiteral("raw"),
            QStringLiteral("COMMAND \"%1\" is neither a command name nor a number from 0 to 255 (0x00 to 0xFF)").arg(text));
    return static_cast<uint8_t>(*value);
}

void ParseRaw(TCliCommand& command, const QString& where)
{
    command.RawCommand = ParseRawCommand(command.Args.first(), where);
    const QString payload = command.Args.mid(1).join(u' ');
    if (ParsePayload(payload, command.RawPayload) < 0)
        Fail(where, command.Name,
            QStringLiteral("PAYLOAD \"%1\" is not valid: give bytes (15, 0x0F, $0F), floats (10.5f) and \"text\" "
                           "separated by blanks")
                .arg(payload));
}

} // namespace

std::optional<double> ParseCliNumber(const QString& text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<int> ParseCliInteger(const QString& text, int min, int max)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 10);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return static_cast<int>(value);
}

TCliCommand ParseCliCommand(const QStringList& words, const QString& where)
{
    const QString& name = words.first();
    const TVerbEntry* entry = FindVerb(name);
    if (!entry)
        throw TUsageError(QStringLiteral("%1: unknown command \"%2\" (krm-cli --help lists the commands)").arg(where, name));

    TCliCommand command;
    command.Verb = entry->Verb;
    command.Name = name;
    command.Args = words.mid(1);
    command.Where = where;
    const int given = static_cast<int>(command.Args.size());
    if (given < entry->Required)
        Fail(where, name, QStringLiteral("missing argument %1").arg(QLatin1String(entry->ArgNames[static_cast<size_t>(given)])));

    if (entry->Verb == TCliVerb::Raw) {
        ParseRaw(command, where);
        return command;
    }
    if (given > ArgCount(*entry))
        Fail(where, name, QStringLiteral("unexpected argument \"%1\"").arg(command.Args[ArgCount(*entry)]));
    if (entry->Verb == TCliVerb::Stats) {
        if (given == 1 && command.Args.first() != QLatin1String("--reset"))
            Fail(where, name, QStringLiteral("unexpected argument \"%1\" (only --reset is allowed)").arg(command.Args.first()));
        command.Reset = given == 1;
        return command;
    }
    for (int i = 0; i < given; ++i)
        command.Values.push_back(ParseValue(*entry, QLatin1String(entry->ArgNames[static_cast<size_t>(i)]), command.Args[i], where));
    return command;
}

QString CliCommandSummary()
{
    QString text;
    for (const TVerbEntry& entry : Verbs) {
        QString line = QStringLiteral("  ") + QLatin1String(entry.Name);
        for (int i = 0; i < ArgCount(entry); ++i) {
            const QString arg = QLatin1String(entry.ArgNames[static_cast<size_t>(i)]);
            line += i < entry.Required ? QStringLiteral(" %1").arg(arg) : QStringLiteral(" [%1]").arg(arg);
        }
        text += line.leftJustified(34) + QString::fromUtf8(entry.Help) + u'\n';
    }
    return text;
}
