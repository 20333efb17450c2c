#pragma once
#include "support/spin.h"
#include "support/wire_client.h"
#include <QProcess>
#include <QTemporaryDir>
#include <signal.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

namespace tallowcrest::testing {
// The real server program as a user starts it: its own home and XDG folders, a settings file naming the media
// folder and free ports, no display. Constructed once the port listens (after the splash); destroyed, it ends.
class ServerProcess {
public:
    explicit ServerProcess(const std::string& mediaFolder)
    {
        const QString home = m_home.path();
        QDir(home).mkpath("config/TallowcrestServer"), QDir(home).mkdir("runtime");
        QFile::setPermissions(home + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        uint16_t webPort = m_port = freePort();
        while (webPort == m_port)
            webPort = freePort();
        std::ofstream(home.toStdString() + "/config/TallowcrestServer/TallowcrestServer.conf")
            << "[Settings]\nDir=" << mediaFolder << "\nPort=" << m_port << "\nWebPort=" << webPort << "\n";
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "SESSION_MANAGER"})
            environment.remove(name);
        for (const auto& [name, folder] : {std::pair{"HOME", ""}, {"XDG_CONFIG_HOME", "/config"}, {"XDG_RUNTIME_DIR", "/runtime"},
                                           {"XDG_CACHE_HOME", "/cache"}, {"XDG_DATA_HOME", "/data"}})
            environment.insert(name, home + folder);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess process;
        process.setProgram(TALLOWCREST_BINARY_DIR "/tallowcrest-server");
        process.setProcessEnvironment(environment);
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardOutputFile(home + "/server.log");
        process.setStandardErrorFile(home + "/server.log");
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);  // the standard three only, as from a desktop launcher
        qint64 pid = 0;
        if (!process.startDetached(&pid))
            m_startFailure = "cannot start the server: " + process.errorString().toStdString();
        m_pid = static_cast<pid_t>(pid);
        const auto listens = [this, listening = "tcp LISTEN :" + std::to_string(m_port)] {
            return std::ranges::any_of(tcpSockets(), [&](const auto& socket) { return socket.second == listening; });
        };
        for (const QDeadlineTimer deadline(30000); m_startFailure.empty() && !listens(); QThread::msleep(20))
            if (!running() || deadline.hasExpired())
                m_startFailure = "the server did not listen on port " + std::to_string(m_port) + ": " + output();
    }
    ~ServerProcess()
    {
        if (m_pid > 0 && ::kill(m_pid, SIGTERM) == 0 && !WaitUntil([this] { return !running(); }, 3000))
            ::kill(m_pid, SIGKILL);
    }
    // Empty when the server listens; otherwise why it does not.
    const std::string& startFailure() const { return m_startFailure; }
    uint16_t port() const { return m_port; }
    bool running() const { return !status("State").empty() && status("State").find('Z') == std::string::npos; }
    // The last few KiB the server printed.
    std::string output() const
    {
        QFile log(m_home.filePath("server.log"));
        const QByteArray all = log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        return (all.size() > 4096 ? "..." + all.right(4096) : all).toStdString();
    }
    // What the open descriptors lead to, sorted: a file by its path, a TCP socket by its state and local port, any
    // other inode by its kind alone (inode numbers differ from one reading to the next).
    std::vector<std::string> openDescriptors() const
    {
        const auto tcp = tcpSockets();
        std::vector<std::string> targets;
        std::error_code error;
        for (const auto& fd : std::filesystem::directory_iterator(proc() + "/fd", error)) {
            std::string target = std::filesystem::read_symlink(fd.path(), error).string();
            if (const auto open = target.find(":[");
                open != std::string::npos && target.find_first_not_of("0123456789", open + 2) == target.size() - 1) {
                const auto socket = tcp.find(target.substr(open + 2, target.size() - open - 3));
                target = socket != tcp.end() ? "socket " + socket->second : target.substr(0, open);
            }
            if (!target.empty())  // else closed meanwhile
                targets.push_back(target);
        }
        std::ranges::sort(targets);
        return targets;
    }
    // The names of the threads not named after the program: those of Qt's, GLib's and GStreamer's pools and tasks.
    std::vector<std::string> helperThreads() const
    {
        const auto name = [](const std::filesystem::path& comm) { std::string line; return std::getline(std::ifstream(comm), line), line; };
        std::vector<std::string> helpers;
        std::error_code error;
        for (const auto& task : std::filesystem::directory_iterator(proc() + "/task", error))
            if (const std::string thread = name(task.path() / "comm"); !thread.empty() && thread != name(proc() + "/comm"))
                helpers.push_back(thread);
        return helpers;
    }
    // Resident memory in KiB, or -1 when the process is gone.
    long residentKiB() const { return status("VmRSS").empty() ? -1 : std::stol(status("VmRSS")); }
private:
    std::string proc() const { return "/proc/" + std::to_string(m_pid); }
    // The TCP sockets of the server's network, IPv4 and IPv6, by inode: "tcp STATE :PORT".
    std::map<std::string, std::string> tcpSockets() const
    {
        static const char* const kStates[] = {"?", "ESTABLISHED", "SYN_SENT", "SYN_RECV", "FIN_WAIT1", "FIN_WAIT2",
                                              "TIME_WAIT", "CLOSE", "CLOSE_WAIT", "LAST_ACK", "LISTEN", "CLOSING"};
        std::map<std::string, std::string> sockets;
        for (const char* table : {"/net/tcp", "/net/tcp6"}) {
            std::ifstream in(proc() + table);
            std::string line, slot, local, remote, state, skip, inode;
            for (std::getline(in, line); in >> slot >> local >> remote >> state >> skip >> skip >> skip >> skip >> skip
                                         >> inode && std::getline(in, line);) {
                const unsigned long code = std::stoul(state, nullptr, 16);
                sockets[inode] = std::string("tcp ") + (code < std::size(kStates) ? kStates[code] : "?") + " :"
                                 + std::to_string(std::stoul(local.substr(local.find(':') + 1), nullptr, 16));
            }
        }
        return sockets;
    }
    // Started detached, the server is not our child: the system knows its state.
    std::string status(const std::string& field) const
    {
        std::ifstream in(proc() + "/status");
        for (std::string line; m_pid > 0 && std::getline(in, line);)
            if (line.starts_with(field + ":"))
                return line.substr(field.size() + 1);
        return {};
    }
    QTemporaryDir m_home;
    std::string m_startFailure;
    pid_t m_pid = -1;
    uint16_t m_port = 0;
};
}  // namespace tallowcrest::testing
