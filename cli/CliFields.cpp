#include "CliFields.h"

#include "HXT_commands.h"
#include "convert.h"

#include <QJsonArray>

namespace {

TCliField Integer(const QString& name, qint64 value)
{
    return {name, value, QString::number(value)};
}

} // namespace

TCliField ReadingField(const QString& name, float value, const char* unit)
{
    // Seven significant digits are what a float holds: 0.4f goes out as
    // 0.4, not as the 0.4000000059604645 of its double.
    const double shortest = QString::number(static_cast<double>(value), 'g', 7).toDouble();
    return {name, shortest, QString::number(static_cast<double>(value), 'f', 3) + u' ' + QString::fromUtf8(unit)};
}

std::vector<TCliField> SystemInfoFields(const TSystemInfo& info)
{
    return {Integer(QStringLiteral("GripperType"), info.GripperType),
        Integer(QStringLiteral("HardwareRevision"), info.HardwareRevision),
        Integer(QStringLiteral("FirmwareRevision"), info.FirmwareRevision),
        Integer(QStringLiteral("SerialNumber"), info.SerialNumber)};
}

std::vector<TCliField> SystemLimitsFields(const TSystemLimits& limits)
{
    std::vector<TCliField> fields{ReadingField(QStringLiteral("Stroke"), limits.Stroke, "mm"),
        ReadingField(QStringLiteral("MinSpeed"), limits.MinSpeed, "mm/s"),
        ReadingField(QStringLiteral("MaxSpeed"), limits.MaxSpeed, "mm/s"),
        ReadingField(QStringLiteral("MinAcceleration"), limits.MinAcceleration, "mm/s²"),
        ReadingField(QStringLiteral("MaxAcceleration"), limits.MaxAcceleration, "mm/s²"),
        ReadingField(QStringLiteral("MinForce"), limits.MinForce, "N"),
        ReadingField(QStringLiteral("MaxForce"), limits.MaxForce, "N")};
    TCliField extra = ReadingField(QStringLiteral("Extra"), limits.Extra, "N");
    extra.JsonOnly = true;
    fields.push_back(std::move(extra));
    return fields;
}

std::vector<TCliField> GraspingStatsFields(const TGraspingStats& stats)
{
    return {Integer(QStringLiteral("NumGrasps"), stats.NumGrasps), Integer(QStringLiteral("NumNotFound"), stats.NumNotFound),
        Integer(QStringLiteral("NumLost"), stats.NumLost)};
}

std::vector<TCliField> SystemStateFields(uint32_t state)
{
    QStringList names;
    QJsonArray flags;
    for (const TSysflagDescr& flag : SysflagDescr) {
        if (state & flag.mask) {
            names.append(QString::fromLatin1(flag.text));
            flags.append(names.last());
        }
    }
    const QString word = QString::asprintf("0x%08X", state);
    return {{QStringLiteral("SystemState"), word, word}, {QStringLiteral("Flags"), flags, u'[' + names.join(QStringLiteral(", ")) + u']'}};
}

std::vector<TCliField> GraspingStateFields(uint8_t state)
{
    const QString text = state < GraspingStateCount ? QString::fromLatin1(GraspingStateText[state]) : QStringLiteral("unknown");
    return {{QStringLiteral("GraspingState"), static_cast<int>(state), QString::number(state)},
        {QStringLiteral("GraspingStateText"), text, text}};
}

QString HexText(const uint8_t* bytes, size_t count)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(static_cast<qsizetype>(count) * 3);
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            text += u' ';
        text += QLatin1Char(Digits[bytes[i] >> 4]);
        text += QLatin1Char(Digits[bytes[i] & 0x0F]);
    }
    return text;
}
