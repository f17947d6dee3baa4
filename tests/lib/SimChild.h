#pragma once
// Runs gripper-sim as a child process with the standard library and POSIX
// only, so that the library's tests need no Qt and no QCoreApplication: TCP
// on a free port of 127.0.0.1, optionally a pseudo-terminal linked at a path
// in a temporary folder.
#include <string>
#include <sys/types.h>
#include <vector>

class SimChild {
public:
    // Starts gripper-sim with "--tcp 127.0.0.1:0", "--pty <folder>/tty" when
    // `pty` is set, and `args`; waits up to 10 s for its ready lines (also
    // the CAN one when `args` hold --can).
    // `port`: that TCP port instead of a free one (a simulator started again).
    explicit SimChild(const std::vector<std::string>& args = {}, bool pty = false, int port = 0);
    // SIGTERM, then waits for it.
    ~SimChild();
    SimChild(const SimChild&) = delete;
    SimChild& operator=(const SimChild&) = delete;

    bool Started() const { return port_ != 0 && (!pty_ || !ptyPath_.empty()); }
    int Port() const { return port_; }
    // "tcp:127.0.0.1:PORT".
    std::string Tcp() const;
    // "serial:PATH" of the pseudo-terminal.
    std::string Serial() const { return "serial:" + ptyPath_; }
    // Ends the simulator at once (SIGKILL): the link breaks.
    void Kill();

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int port_ = 0;
    bool pty_ = false;
    std::string folder_;
    std::string ptyPath_;
};
