#pragma once
// What a settings file's path may name besides a regular file, made in a
// test's own temporary folder (never in /dev): a FIFO, a character device
// node (where the test may make one), a socket, and symbolic links.
#include <QFile>
#include <QString>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

// What stands at a path, a link not followed: type, inode and device number.
struct TFileIdentity {
    mode_t Mode = 0;
    ino_t Inode = 0;
    dev_t Device = 0;
    bool operator==(const TFileIdentity&) const = default;
};

inline TFileIdentity IdentityOf(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {info.st_mode, info.st_ino, info.st_rdev};
}

inline bool MakeFifo(const QString& path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0;
}

// A node like the null device (major 1, minor 3); false where the test may
// not make device nodes (not root).
inline bool MakeCharDevice(const QString& path)
{
    return ::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
}

// A bound Unix socket, left behind as a file of type socket.
inline bool MakeSocket(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (name.size() >= static_cast<qsizetype>(sizeof(address.sun_path)))
        return false;
    std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    if (fd >= 0)
        ::close(fd);
    return bound;
}

// `path` as a symbolic link to `target` (relative to the link's folder, or absolute).
inline bool MakeLink(const QString& target, const QString& path)
{
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()) == 0;
}

// Ends the test program (SIGALRM) when something waits longer than
// `seconds` while this lives: a FIFO opened with no writer waits for ever.
class TNoWaitGuard {
public:
    explicit TNoWaitGuard(unsigned seconds) { ::alarm(seconds); }
    ~TNoWaitGuard() { ::alarm(0); }
    TNoWaitGuard(const TNoWaitGuard&) = delete;
    TNoWaitGuard& operator=(const TNoWaitGuard&) = delete;
};
