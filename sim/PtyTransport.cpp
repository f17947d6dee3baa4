#include "PtyTransport.h"

#include "SimHost.h"
#include "SimSession.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <utility>
#include <unistd.h>

namespace {

// The baud rate of a termios speed code; 0 for one not listed.
int SpeedOfCode(speed_t code)
{
    static constexpr std::pair<speed_t, int> speeds[] = {{B1200, 1200}, {B2400, 2400}, {B4800, 4800},
        {B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
        {B460800, 460800}, {B921600, 921600}};
    for (const auto& [c, baud] : speeds)
        if (c == code)
            return baud;
    return 0;
}

} // namespace

TPtyTransport::TPtyTransport(TSimHost& host, const QString& linkPath, int baudrate, QObject* parent)
    : QObject(parent), FHost(host), FLinkPath(linkPath), FBaudrate(baudrate)
{
}

TPtyTransport::~TPtyTransport()
{
    delete FSession;
    FSession = nullptr;
    Close();
}

bool TPtyTransport::Open(QString& error)
{
    const QFileInfo link(FLinkPath);
    if (link.exists() || link.isSymLink()) {
        // A stale link of an earlier run is replaced; anything else is kept.
        if (!link.isSymLink()) {
            error = QStringLiteral("%1 exists and is not a symbolic link").arg(FLinkPath);
            return false;
        }
        QFile::remove(FLinkPath);
    }
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0) {
        error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        Close();
        return false;
    }
    FTerminalPath = QString::fromLocal8Bit(::ptsname(FMaster));
    FTerminal = ::open(::ptsname(FMaster), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (FTerminal < 0 || ::tcgetattr(FTerminal, &tio) != 0) {
        error = QStringLiteral("cannot open %1: %2").arg(FTerminalPath, QString::fromLocal8Bit(std::strerror(errno)));
        Close();
        return false;
    }
    ::cfmakeraw(&tio);
    ::tcsetattr(FTerminal, TCSANOW, &tio);
    if (::symlink(FTerminalPath.toLocal8Bit().constData(), FLinkPath.toLocal8Bit().constData()) != 0) {
        error = QStringLiteral("cannot create the link %1: %2").arg(FLinkPath, QString::fromLocal8Bit(std::strerror(errno)));
        Close();
        return false;
    }
    FNotifier = std::make_unique<QSocketNotifier>(FMaster, QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, &TPtyTransport::ReadMaster);
    NewSession();
    std::printf("pty %s -> %s\n", qPrintable(FLinkPath), qPrintable(FTerminalPath));
    std::fflush(stdout);
    return true;
}

void TPtyTransport::Close()
{
    FNotifier.reset();
    if (FMaster >= 0)
        ::close(FMaster);
    if (FTerminal >= 0)
        ::close(FTerminal);
    FMaster = -1;
    FTerminal = -1;
    // Only our own link is removed.
    if (!FTerminalPath.isEmpty() && QFileInfo(FLinkPath).symLinkTarget() == FTerminalPath)
        QFile::remove(FLinkPath);
    FTerminalPath.clear();
}

void TPtyTransport::DetachSession()
{
    // May run from the session's own signal: it goes once control is back in
    // the event loop, but gets no more results from now on.
    if (FSession) {
        FSession->Retire();
        FSession = nullptr;
    }
}

void TPtyTransport::NewSession()
{
    DetachSession();
    FSession = FHost.OpenSession(QStringLiteral("pty"), [this](const QByteArray& bytes) { Write(bytes); }, this);
    connect(FSession, &TSimSession::closeRequested, this, [this] {
        // The client gets a moment to read the last frame before the line drops.
        DetachSession();
        QTimer::singleShot(HangupGraceMs, this, &TPtyTransport::Hangup);
    });
}

void TPtyTransport::ReadMaster()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(FMaster, buffer, sizeof buffer);
        if (n <= 0)
            break;
        if (FSession && LineSpeedMatches())
            FSession->Receive(buffer, n);
    }
}

bool TPtyTransport::LineSpeedMatches() const
{
    if (FBaudrate == 0)
        return true;
    // The client sets the speed on the terminal side, whose settings both
    // descriptors share.
    termios tio{};
    return ::tcgetattr(FTerminal, &tio) == 0 && SpeedOfCode(::cfgetospeed(&tio)) == FBaudrate;
}

void TPtyTransport::Write(const QByteArray& bytes)
{
    // Bytes of a session that has been let go are not sent any more.
    if (FMaster < 0 || FSession == nullptr)
        return;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(FMaster, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    if (done == bytes.size())
        return;
    // The terminal's buffer is full: nobody has read for a long while, so no
    // client is attached. Its stale contents and this connection's reports
    // are discarded, so that the next client starts from a clean line.
    ::tcflush(FTerminal, TCIFLUSH);
    if (FHost.Verbose())
        std::fprintf(stderr, "[pty] output not read by any client; line cleared\n");
    DetachSession();
    QMetaObject::invokeMethod(this, &TPtyTransport::NewSession, Qt::QueuedConnection);
}

void TPtyTransport::Hangup()
{
    // Closing the master hangs up the client; a fresh pair takes the link.
    Close();
    QString error;
    if (!Open(error))
        std::fprintf(stderr, "pty: %s\n", qPrintable(error));
}
