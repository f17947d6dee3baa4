#include "CliScriptReader.h"

#include "CliSignals.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <utility>

namespace {

constexpr int ChunkBytes = 64 * 1024;

} // namespace

TCliScriptReader::TCliScriptReader(int fd, bool owned)
    : FFd(fd)
    , FOwned(owned)
{
}

TCliScriptReader::~TCliScriptReader()
{
    if (FOwned && FFd >= 0)
        ::close(FFd);
}

int TCliScriptReader::OpenFile(const QString& path)
{
    // O_NONBLOCK only for the open: a FIFO without a writer does not block
    // it. Reads look with poll() first, so they never wait either way.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

TCliScriptReader::TRead TCliScriptReader::Next(QByteArray& line)
{
    for (;;) {
        const qsizetype newline = FBuffer.indexOf('\n', FScanned);
        if (newline >= 0) {
            ++FLine;
            if (newline > MaxLineBytes)
                return TRead::TooLong;
            line = FBuffer.left(newline);
            FBuffer.remove(0, newline + 1);
            FScanned = 0;
            return TRead::Line;
        }
        FScanned = FBuffer.size();
        if (FBuffer.size() > MaxLineBytes) {
            ++FLine;
            return TRead::TooLong;
        }
        if (FEnd) {
            if (FBuffer.isEmpty())
                return TRead::End;
            ++FLine;
            line = std::exchange(FBuffer, QByteArray());
            FScanned = 0;
            return TRead::Line;
        }
        if (FError != 0)
            return TRead::Failed;
        pollfd p = {FFd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 0);
        if (ready < 0 && errno != EINTR) {
            FError = errno;
            return TRead::Failed;
        }
        if (ready <= 0)
            return TRead::NeedMore;
        if (p.revents & POLLNVAL) {
            FError = EBADF;
            return TRead::Failed;
        }
        char chunk[ChunkBytes];
        const ssize_t n = ::read(FFd, chunk, sizeof chunk);
        if (n > 0) {
            FBuffer.append(chunk, n);
        } else if (n == 0) {
            FEnd = true;
        } else if (errno == EINTR || errno == EAGAIN) {
            return TRead::NeedMore;
        } else {
            FError = errno;
            return TRead::Failed;
        }
    }
}

bool TCliScriptReader::WaitReadable()
{
    for (;;) {
        if (CliSignalCount() > 0)
            return false;
        pollfd p[2] = {{FFd, POLLIN, 0}, {CliSignalFd(), POLLIN, 0}};
        const int ready = ::poll(p, CliSignalFd() >= 0 ? 2 : 1, -1);
        if (CliSignalCount() > 0)
            return false;
        if (ready > 0 && p[0].revents != 0)
            return true;
    }
}

QString TCliScriptReader::ErrorText() const { return QString::fromLocal8Bit(std::strerror(FError)); }
