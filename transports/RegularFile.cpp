#include "RegularFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// What a file of this type is, for the operator.
QString TypeName(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("a special file");
}

// Whether the open file `fd` is a regular file; `error` says what it is otherwise.
bool IsRegular(int fd, QString& error)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error = ErrorText(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode))
        error = QStringLiteral("it is %1, not a regular file").arg(TypeName(info.st_mode));
    return S_ISREG(info.st_mode);
}

} // namespace

TPathCheck CheckRegularFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    TPathCheck check;
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0) {
        if (errno == ENOENT)
            check.Missing = true;
        else
            check.Problem = ErrorText(errno);
        return check;
    }
    if (S_ISLNK(info.st_mode)) {
        check.Link = true;
        if (::stat(name.constData(), &info) != 0) {
            if (errno == ENOENT)
                check.Problem = QStringLiteral("it is a symbolic link to a missing file");
            else if (errno == ELOOP)
                check.Problem = QStringLiteral("it is a symbolic link that loops");
            else
                check.Problem = ErrorText(errno);
        } else if (!S_ISREG(info.st_mode)) {
            check.Problem = QStringLiteral("it is a symbolic link to %1, not to a regular file").arg(TypeName(info.st_mode));
        }
    } else if (!S_ISREG(info.st_mode)) {
        check.Problem = QStringLiteral("it is %1, not a regular file").arg(TypeName(info.st_mode));
    }
    return check;
}

TOpenResult OpenRegularFile(const QString& path, QFile& file, QIODevice::OpenMode mode, QString& error)
{
    const QByteArray name = QFile::encodeName(path);
    const TPathCheck check = CheckRegularFile(path);
    if (check.Missing)
        return TOpenResult::Missing;
    if (!check.Problem.isEmpty()) {
        error = check.Problem;
        return TOpenResult::Unusable;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (check.Link ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        const int cause = errno;
        if (cause == ENOENT)
            return TOpenResult::Missing;
        error = cause == ELOOP ? QStringLiteral("it was replaced by a symbolic link while being opened") : ErrorText(cause);
        return TOpenResult::Unusable;
    }
    if (!IsRegular(fd, error)) {
        ::close(fd);
        return TOpenResult::Unusable;
    }
    // Reading a regular file never waits; the flag was for the opening only.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        error = file.errorString();
        ::close(fd);
        return TOpenResult::Unusable;
    }
    return TOpenResult::Open;
}

bool MayReplaceRegularFile(const QString& path, QString& error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = ErrorText(errno);
        return false;
    }
    const bool regular = IsRegular(fd, error);
    ::close(fd);
    return regular;
}
