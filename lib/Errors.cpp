// The library's exceptions.
#include <krm/krm.hpp>

namespace krm {

namespace {

std::string StatusMessage(const std::string& command, Status code, const std::string& advice)
{
    std::string message = command + ": " + status_text(code) + " (" + status_name(code) + ")";
    if (!advice.empty())
        message += "; " + advice;
    return message;
}

} // namespace

Error::Error(const std::string& message) : std::runtime_error(message) {}
Error::~Error() = default;

StatusError::StatusError(std::string command, Status code, std::string advice)
    : Error(StatusMessage(command, code, advice)), command_(std::move(command)), code_(code), advice_(std::move(advice))
{
}
StatusError::~StatusError() = default;

ConnectionError::ConnectionError(const std::string& message, std::string cause) : Error(message), cause_(std::move(cause)) {}
ConnectionError::~ConnectionError() = default;

ConnectionStringError::ConnectionStringError(const std::string& message, std::string cause)
    : ConnectionError(message, std::move(cause))
{
}
ConnectionStringError::~ConnectionStringError() = default;

TimeoutError::TimeoutError(const std::string& message) : Error(message) {}
TimeoutError::~TimeoutError() = default;

LimitError::LimitError(const std::string& message) : Error(message) {}
LimitError::~LimitError() = default;

InterruptedError::InterruptedError(const std::string& message) : Error(message) {}
InterruptedError::~InterruptedError() = default;

} // namespace krm
