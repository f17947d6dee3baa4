#include "ParseConnection.h"

#include "ConnectionString.h"

#include <krm/krm.hpp>

namespace krm::detail {

TConnectionParams ParseConnection(const std::string& connection)
{
    try {
        return ParseConnectionString(QString::fromStdString(connection));
    } catch (const TConnectionStringError& error) {
        throw ConnectionStringError("connection string \"" + connection + "\": " + error.what(), error.what());
    }
}

} // namespace krm::detail
