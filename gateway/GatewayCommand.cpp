#include "GatewayCommand.h"

#include "CliSyntax.h"
#include "UsageError.h"
#include "stat.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <map>
#include <vector>

namespace {

// The JSON names of each command's arguments, in krm-cli's order.
const std::map<QString, std::vector<QString>>& ValueNames()
{
    static const std::map<QString, std::vector<QString>> names{
        {QStringLiteral("info"), {}},
        {QStringLiteral("limits"), {}},
        {QStringLiteral("stats"), {}},
        {QStringLiteral("state"), {}},
        {QStringLiteral("home"), {QStringLiteral("direction")}},
        {QStringLiteral("goto"), {QStringLiteral("position"), QStringLiteral("speed")}},
        {QStringLiteral("grasp"), {QStringLiteral("width"), QStringLiteral("speed")}},
        {QStringLiteral("release"), {QStringLiteral("width"), QStringLiteral("speed")}},
        {QStringLiteral("stop"), {}},
        {QStringLiteral("fast-stop"), {}},
        {QStringLiteral("ack"), {}},
        {QStringLiteral("accel"), {QStringLiteral("value")}},
        {QStringLiteral("force-limit"), {QStringLiteral("value")}},
    };
    return names;
}

[[noreturn]] void Refuse(const QString& command, uint8_t status, const QString& message)
{
    throw TCommandRefused(command, status, message);
}

} // namespace

bool ReadsOnly(const TCliCommand& command)
{
    switch (command.Verb) {
    case TCliVerb::Info:
    case TCliVerb::Limits:
    case TCliVerb::State:
        return true;
    case TCliVerb::Stats:
        return !command.Reset;
    case TCliVerb::Accel:
    case TCliVerb::ForceLimit:
        return !command.HasValue();
    default:
        return false;
    }
}

TCliCommand ParseGatewayCommand(const QByteArray& payload, bool readOnly)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError)
        Refuse({}, E_CMD_FORMAT_ERROR, QStringLiteral("not JSON: %1 at offset %2").arg(error.errorString()).arg(error.offset));
    if (!document.isObject())
        Refuse({}, E_CMD_FORMAT_ERROR, QStringLiteral("a command is a JSON object"));
    const QJsonObject object = document.object();
    const QJsonValue nameValue = object.value(QStringLiteral("command"));
    if (!nameValue.isString())
        Refuse({}, E_CMD_FORMAT_ERROR, QStringLiteral("\"command\" must name a command as a string"));
    QString name = nameValue.toString();
    name.replace(u'_', u'-');
    const auto entry = ValueNames().find(name);
    if (entry == ValueNames().end())
        Refuse(name, E_CMD_UNKNOWN, QStringLiteral("unknown command \"%1\"").arg(nameValue.toString()));

    QStringList words{name};
    bool reset = false;
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString& key = it.key();
        if (key == QLatin1String("command"))
            continue;
        if (key == QLatin1String("reset") && name == QLatin1String("stats")) {
            if (!it.value().isBool())
                Refuse(name, E_CMD_FORMAT_ERROR, QStringLiteral("\"reset\" must be true or false"));
            reset = it.value().toBool();
            continue;
        }
        const auto& names = entry->second;
        if (std::find(names.begin(), names.end(), key) == names.end())
            Refuse(name, E_CMD_FORMAT_ERROR, QStringLiteral("%1 takes no value \"%2\"").arg(name, key));
        if (!it.value().isDouble())
            Refuse(name, E_CMD_FORMAT_ERROR, QStringLiteral("\"%1\" must be a number").arg(key));
    }
    // Arguments go in order; a later one cannot be given without the
    // earlier ones, which krm-cli's rules then report as missing.
    for (const QString& key : entry->second) {
        if (!object.contains(key))
            break;
        words.append(QString::number(object.value(key).toDouble(), 'g', 17));
    }
    if (reset)
        words.append(QStringLiteral("--reset"));
    TCliCommand command;
    try {
        command = ParseCliCommand(words, QStringLiteral("command"));
    } catch (const TUsageError& usage) {
        Refuse(name, E_CMD_FORMAT_ERROR, usage.Message());
    }
    if (readOnly && !ReadsOnly(command) && command.Verb != TCliVerb::Stop && command.Verb != TCliVerb::FastStop)
        Refuse(name, E_ACCESS_DENIED, QStringLiteral("%1: the gateway is read-only: only stop, fast-stop and reading commands are taken").arg(name));
    return command;
}
