#include "CliResultJson.h"

#include <QJsonDocument>

QJsonObject CliResultJson(const TCliResult& result)
{
    // A request that got nothing usable back has no status of the gripper's:
    // its name and text say what happened instead, and its code is null.
    const bool failed = !result.Failure.isEmpty();
    QJsonObject object{{QStringLiteral("command"), result.Command},
        {QStringLiteral("status"), failed ? result.FailureName : QString::fromStdString(StatusName(result.Status))},
        {QStringLiteral("code"), failed ? QJsonValue() : QJsonValue(static_cast<int>(result.Status))},
        {QStringLiteral("text"), failed ? result.Failure : QString::fromStdString(StatusText(result.Status))}};
    if (!result.Start.isEmpty())
        object.insert(QStringLiteral("start"), result.Start);
    if (result.DurationMs >= 0)
        object.insert(QStringLiteral("duration_ms"), result.DurationMs);
    AddCliFields(object, result.Fields);
    return object;
}

void AddCliFields(QJsonObject& object, const std::vector<TCliField>& fields)
{
    for (const TCliField& field : fields)
        object.insert(field.Name, field.Value);
}

QString CompactJson(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}
