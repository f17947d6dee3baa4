#pragma once
// The connection of the command line as the parameters a device opens with,
// and back.
#include "CliOptions.h"
#include "ConnectionParams.h"

TConnectionParams CliConnectionParams(const TCliConnection& connection);
// The command line's connection for the parameters of a connection string.
TCliConnection CliConnectionFrom(const TConnectionParams& params);
// The library's connection string for the command line's connection.
QString CliConnectionString(const TCliConnection& connection);
