#pragma once
// The connection of the command line as the parameters a device opens with.
#include "CliOptions.h"
#include "ConnectionParams.h"

TConnectionParams CliConnectionParams(const TCliConnection& connection);
