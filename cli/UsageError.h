#pragma once
// Bad usage or an invalid value: the run ends with exit status 2 and this
// message, before anything reaches the gripper.
#include <QString>

#include <stdexcept>

class TUsageError : public std::runtime_error {
public:
    explicit TUsageError(const QString& message)
        : std::runtime_error(message.toStdString())
        , FMessage(message)
    {
    }
    const QString& Message() const { return FMessage; }

private:
    QString FMessage;
};
