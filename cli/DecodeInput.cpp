#include "DecodeInput.h"

#include "CliSignals.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

TDecodeInput::TDecodeInput(int fd)
    : FFd(fd)
{
    open(QIODevice::ReadOnly);
}

TDecodeInput::~TDecodeInput()
{
    if (FFd > STDIN_FILENO)
        ::close(FFd);
}

bool TDecodeInput::Interrupted() const { return CliSignalCount() > 0; }

bool TDecodeInput::atEnd() const { return (FEnded || Interrupted()) && bytesAvailable() == 0; }

qint64 TDecodeInput::readData(char* data, qint64 maxSize)
{
    if (maxSize <= 0)
        return 0;
    // Waits for the input or a signal, whichever comes first; a regular file
    // is always ready.
    for (;;) {
        if (Interrupted()) {
            setErrorString(QStringLiteral("interrupted by %1").arg(QLatin1String(CliSignalName(CliLastSignal()))));
            FEnded = true;
            return -1;
        }
        pollfd fds[2] = {{FFd, POLLIN, 0}, {CliSignalFd(), POLLIN, 0}};
        const int ready = ::poll(fds, fds[1].fd >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (fds[1].revents != 0)
            continue;
        const ssize_t got = ::read(FFd, data, static_cast<size_t>(maxSize));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            setErrorString(QString::fromLocal8Bit(std::strerror(errno)));
        FEnded = got <= 0;
        return got;
    }
}
