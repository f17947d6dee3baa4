#include "SimChild.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

SimChild::SimChild(const std::vector<std::string>& args, bool pty, int port) : pty_(pty)
{
    char folder[] = "/tmp/krm-lib-test-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return;
    folder_ = folder;
    std::vector<std::string> words{GRIPPER_SIM_PATH, "--tcp", "127.0.0.1:" + std::to_string(port)};
    if (pty) {
        words.emplace_back("--pty");
        words.push_back(folder_ + "/tty");
    }
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    const int spawned = posix_spawn(&pid_, GRIPPER_SIM_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    out_ = pipeFds[0];
    if (spawned != 0) {
        pid_ = -1;
        return;
    }
    std::string text;
    const std::regex portLine("tcp port (\\d+)");
    const std::regex ptyLine("pty (\\S+) ->");
    const std::regex canLine("can \\S+ id \\d+");
    const bool can = std::find(args.begin(), args.end(), "--can") != args.end();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool canReady = !can;
    while (!(Started() && canReady) && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
        std::smatch m;
        if (std::regex_search(text, m, portLine))
            port_ = std::atoi(m[1].str().c_str());
        if (std::regex_search(text, m, ptyLine))
            ptyPath_ = m[1].str();
        canReady = canReady || std::regex_search(text, canLine);
    }
}

SimChild::~SimChild()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0)
        close(out_);
    if (!folder_.empty()) {
        unlink((folder_ + "/tty").c_str());
        rmdir(folder_.c_str());
    }
}

std::string SimChild::Tcp() const { return "tcp:127.0.0.1:" + std::to_string(port_); }

void SimChild::Kill()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}
