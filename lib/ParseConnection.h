#pragma once
// The connection string of a public call, parsed: the one place where a
// malformed one becomes krm::ConnectionStringError.
#include "ConnectionParams.h"

#include <string>

namespace krm::detail {

// Throws krm::ConnectionStringError naming the wrong part.
TConnectionParams ParseConnection(const std::string& connection);

} // namespace krm::detail
