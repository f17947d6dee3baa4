#include "CliOutput.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString FieldsText(const std::vector<TCliField>& fields)
{
    QStringList texts;
    for (const TCliField& field : fields)
        texts.append(field.Name + u'=' + field.Text);
    return texts.join(u' ');
}

void AddFields(QJsonObject& object, const std::vector<TCliField>& fields)
{
    for (const TCliField& field : fields)
        object.insert(field.Name, field.Value);
}

QString Compact(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

} // namespace

TCliOutput::TCliOutput(bool json, FILE* out, FILE* err)
    : FJson(json)
    , FOut(out)
    , FErr(err)
{
}

void TCliOutput::Result(const TCliResult& result, const QString& where)
{
    const QString name = QString::fromStdString(StatusName(result.Status));
    const QString text = QString::fromStdString(StatusText(result.Status));
    if (FJson) {
        QJsonObject object{{QStringLiteral("command"), result.Command}, {QStringLiteral("status"), name},
            {QStringLiteral("code"), static_cast<int>(result.Status)}, {QStringLiteral("text"), text}};
        AddFields(object, result.Fields);
        Line(FOut, Compact(object));
    } else if (result.Status == E_SUCCESS) {
        const QString fields = FieldsText(result.Fields);
        Line(FOut, result.Command + QStringLiteral(": ") + text + (fields.isEmpty() ? QString() : QStringLiteral("; ") + fields));
    }
    if (result.Status != E_SUCCESS)
        Error(QStringLiteral("%1: %2: %3: %4").arg(where, result.Command, name, text));
}

void TCliOutput::Report(const QString& time, const QString& report, const std::vector<TCliField>& fields)
{
    if (FJson) {
        QJsonObject object{{QStringLiteral("command"), QStringLiteral("watch")}, {QStringLiteral("time"), time},
            {QStringLiteral("report"), report}};
        AddFields(object, fields);
        Line(FOut, Compact(object));
    } else {
        Line(FOut, QStringLiteral("%1 %2 %3").arg(time, report, FieldsText(fields)));
    }
}

void TCliOutput::Error(const QString& text)
{
    Line(FErr, QStringLiteral("krm-cli: ") + text);
}

void TCliOutput::Line(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}
