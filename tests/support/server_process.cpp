#include "support/server_process.h"

#include "support/test_client.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace tallowcrest::testing {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStartTimeoutMs = 30000;
constexpr int kStopTimeoutMs = 3000;

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::string Quoted(const std::string& value)
{
    std::string quoted = "\"";
    for (const char c : value) {
        if (c == '\\' || c == '"')
            quoted.push_back('\\');
        quoted.push_back(c);
    }
    return quoted + "\"";
}

bool IsOurVariable(std::string_view entry)
{
    for (const char* name : {"HOME=", "XDG_", "QT_QPA_PLATFORM=", "QT_MEDIA_BACKEND=", "DISPLAY=",
                             "WAYLAND_DISPLAY=", "DBUS_SESSION_BUS_ADDRESS=", "SESSION_MANAGER="}) {
        if (entry.starts_with(name))
            return true;
    }
    return false;
}

}  // namespace

ServerProcess::ServerProcess(const std::string& mediaFolder)
{
    if (!home_.isValid()) {
        startFailure_ = "no temporary folder";
        return;
    }
    const std::string home = home_.path().toStdString();
    const std::string config = home + "/config";
    const std::string runtime = home + "/runtime";
    for (const std::string& folder : {config, config + "/TallowcrestServer", runtime, home + "/cache",
                                      home + "/data"})
        ::mkdir(folder.c_str(), 0700);
    port_ = FreePort();
    {
        std::ofstream settings(config + "/TallowcrestServer/TallowcrestServer.conf");
        settings << "[Settings]\nDir=" << Quoted(mediaFolder) << "\nPort=" << port_ << "\n";
    }

    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        if (!IsOurVariable(*entry))
            environment.emplace_back(*entry);
    }
    environment.insert(environment.end(),
                       {"HOME=" + home, "XDG_CONFIG_HOME=" + config, "XDG_RUNTIME_DIR=" + runtime,
                        "XDG_CACHE_HOME=" + home + "/cache", "XDG_DATA_HOME=" + home + "/data",
                        "QT_QPA_PLATFORM=offscreen", "QT_MEDIA_BACKEND=gstreamer"});
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = TALLOWCREST_BINARY_DIR "/tallowcrest-server";
    char* argv[] = {program.data(), nullptr};
    const std::string log = home + "/server.log";

    pid_ = ::fork();
    if (pid_ == 0) {
        // Its own process group, so whatever it starts ends with it.
        ::setpgid(0, 0);
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out >= 0) {
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
        }
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0)
            ::dup2(null, STDIN_FILENO);
        ::execve(argv[0], argv, envp.data());
        ::_exit(127);
    }
    if (pid_ < 0) {
        startFailure_ = std::string("fork failed: ") + std::strerror(errno);
        return;
    }

    const auto deadline = Clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (!PortListens(port_)) {
        if (!Running()) {
            startFailure_ = "the server ended before it listened (status " + std::to_string(exitStatus_)
                            + "): " + Output();
            return;
        }
        if (MsLeft(deadline) == 0) {
            startFailure_ = "the server does not listen on port " + std::to_string(port_) + " after "
                            + std::to_string(kStartTimeoutMs / 1000) + " s: " + Output();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

ServerProcess::~ServerProcess()
{
    if (pid_ <= 0)
        return;
    if (Running()) {
        ::kill(pid_, SIGTERM);
        const auto deadline = Clock::now() + std::chrono::milliseconds(kStopTimeoutMs);
        while (Running() && MsLeft(deadline) > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (Running()) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    // Helpers it may have started (GStreamer's plugin scanner) are in its group.
    ::kill(-pid_, SIGKILL);
}

bool ServerProcess::Running() const
{
    if (pid_ <= 0 || exitStatus_ != -1)
        return false;
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == 0)
        return true;
    exitStatus_ = done == pid_ ? status : 0;
    return false;
}

std::string ServerProcess::Output() const
{
    std::ifstream in(home_.path().toStdString() + "/server.log");
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    constexpr std::size_t kShown = 4096;
    return all.size() > kShown ? "..." + all.substr(all.size() - kShown) : all;
}

std::string ServerProcess::ThreadStacks() const
{
    if (!Running())
        return "(the server has ended)";
    const std::string command = "command -v gdb >/dev/null 2>&1 || { echo '(no gdb to show the stacks)'; exit; }; "
                                "timeout 60 gdb -p " + std::to_string(pid_)
                                + " -batch -ex 'thread apply all bt' 2>/dev/null | grep -E '^(Thread|#)' | grep -v ' in  () '";
    std::string stacks;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        while (const std::size_t read = std::fread(buffer, 1, sizeof buffer, pipe))
            stacks.append(buffer, read);
        ::pclose(pipe);
    }
    return stacks;
}

std::map<std::string, int> ServerProcess::OpenDescriptorKinds() const
{
    std::map<std::string, int> kinds;
    const std::string folder = "/proc/" + std::to_string(pid_) + "/fd";
    DIR* dir = ::opendir(folder.c_str());
    while (const dirent* entry = dir ? ::readdir(dir) : nullptr) {
        if (entry->d_name[0] == '.')
            continue;
        char target[4096];
        const ssize_t length = ::readlink((folder + "/" + entry->d_name).c_str(), target, sizeof target - 1);
        if (length < 0)
            continue;
        std::string kind(target, static_cast<std::size_t>(length));
        for (const char* numbered : {"socket:[", "pipe:["}) {
            if (kind.starts_with(numbered))
                kind = std::string(numbered, std::strlen(numbered) - 2);
        }
        ++kinds[kind];
    }
    if (dir)
        ::closedir(dir);
    return kinds;
}

int ServerProcess::OpenDescriptorCount() const
{
    int count = 0;
    for (const auto& [kind, n] : OpenDescriptorKinds())
        count += n;
    return count;
}

long ServerProcess::ResidentKiB() const { return StatusKiB("VmRSS:"); }

long ServerProcess::PeakResidentKiB() const { return StatusKiB("VmHWM:"); }

long ServerProcess::StatusKiB(const std::string& field) const
{
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(field))
            return std::strtol(line.c_str() + field.size(), nullptr, 10);
    }
    return -1;
}

bool PortListens(uint16_t port)
{
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (state == "0A" && local.ends_with(wanted))
                return true;
        }
    }
    return false;
}

WireClient::~WireClient() { Close(); }

bool WireClient::Connect(uint16_t port, int timeoutMs)
{
    Close();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (;;) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return true;
        const int error = errno;
        Close();
        if (error != ECONNREFUSED || MsLeft(deadline) == 0) {
            errno = error;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool WireClient::Send(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool WireClient::ReadSome(std::string& into, int timeoutMs, bool* ended)
{
    pollfd readable{fd_, POLLIN, 0};
    const int ready = ::poll(&readable, 1, timeoutMs);
    if (ready <= 0)
        return false;
    char chunk[65536];
    const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
    if (got <= 0) {
        if (ended)
            *ended = got == 0 || errno != EINTR;
        return false;
    }
    into.append(chunk, static_cast<std::size_t>(got));
    return true;
}

std::string WireClient::ReadExactly(std::size_t count, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string received;
    while (fd_ >= 0 && received.size() < count) {
        pollfd readable{fd_, POLLIN, 0};
        if (::poll(&readable, 1, MsLeft(deadline)) <= 0)
            break;
        const std::size_t offset = received.size();
        received.resize(count);
        const ssize_t got = ::recv(fd_, received.data() + offset, count - offset, 0);
        received.resize(offset + static_cast<std::size_t>(got > 0 ? got : 0));
        if (got == 0 || (got < 0 && errno != EINTR))
            break;
    }
    return received;
}

std::string WireClient::ReadToEnd(int timeoutMs, bool* closed)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string received;
    bool ended = false;
    while (fd_ >= 0 && !ended && MsLeft(deadline) > 0)
        ReadSome(received, MsLeft(deadline), &ended);
    if (closed)
        *closed = ended;
    return received;
}

std::string WireClient::ReadQuiet(int quietMs)
{
    std::string received;
    bool ended = false;
    while (fd_ >= 0 && !ended && ReadSome(received, quietMs, &ended)) {
    }
    return received;
}

void WireClient::ShutdownWrite()
{
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_WR);
}

void WireClient::Reset()
{
    if (fd_ < 0)
        return;
    linger hard{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    Close();
}

void WireClient::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

}  // namespace tallowcrest::testing
