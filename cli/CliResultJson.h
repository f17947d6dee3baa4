#pragma once
// A command's result as krm-cli's --json prints it, one compact JSON object:
// command, status name, code and text, when it began and how long it took
// where known, then the result's fields. Shared by krm-cli and krm-gateway,
// which sends the same object as the answer to a command.
#include "CliOutput.h"

#include <QJsonObject>

QJsonObject CliResultJson(const TCliResult& result);
// Adds `fields` to `object` under their names.
void AddCliFields(QJsonObject& object, const std::vector<TCliField>& fields);
// `object` as one line of compact JSON.
QString CompactJson(const QJsonObject& object);
