#include "support/server_process.h"

#include "support/wire_client.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QThread>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

namespace tallowcrest::testing {

namespace {

// True when something listens on the TCP port, IPv4 or IPv6.
bool portListens(uint16_t port)
{
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string slot, local, remote, state, rest;
        while (in >> slot >> local >> remote >> state && std::getline(in, rest)) {
            if (state == "0A" && local.ends_with(wanted))
                return true;
        }
    }
    return false;
}

}  // namespace

ServerProcess::ServerProcess(const std::string& mediaFolder)
{
    const QString home = m_home.path();
    QDir(home).mkpath("config/TallowcrestServer");
    QDir(home).mkdir("runtime");
    QFile::setPermissions(home + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_port = freePort();
    uint16_t webPort = freePort();
    while (webPort == m_port)
        webPort = freePort();
    QSettings settings(home + "/config/TallowcrestServer/TallowcrestServer.conf", QSettings::IniFormat);
    settings.setValue("Settings/Dir", QString::fromStdString(mediaFolder));
    settings.setValue("Settings/Port", m_port);
    settings.setValue("Settings/WebPort", webPort);
    settings.sync();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "SESSION_MANAGER"})
        environment.remove(name);
    for (const auto& [name, folder] : {std::pair{"HOME", ""}, {"XDG_CONFIG_HOME", "/config"},
                                       {"XDG_RUNTIME_DIR", "/runtime"}, {"XDG_CACHE_HOME", "/cache"},
                                       {"XDG_DATA_HOME", "/data"}})
        environment.insert(name, home + folder);
    environment.insert("QT_QPA_PLATFORM", "offscreen");

    QProcess process;
    process.setProgram(TALLOWCREST_BINARY_DIR "/tallowcrest-server");
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(home + "/server.log");
    process.setStandardErrorFile(home + "/server.log");
    qint64 pid = 0;
    // The server gets the standard three only, as from a desktop launcher, not what the test runner left open to
    // us (its log file, pipes).
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    if (!process.startDetached(&pid)) {
        m_startFailure = "cannot start the server: " + process.errorString().toStdString();
        return;
    }
    m_pid = static_cast<pid_t>(pid);
    for (const QDeadlineTimer deadline(30000); !portListens(m_port); QThread::msleep(20)) {
        if (!running() || deadline.hasExpired()) {
            m_startFailure = "the server did not listen on port " + std::to_string(m_port) + ": " + output();
            return;
        }
    }
}

ServerProcess::~ServerProcess()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    for (const QDeadlineTimer deadline(3000); running() && !deadline.hasExpired();)
        QThread::msleep(20);
    if (running())
        ::kill(m_pid, SIGKILL);
}

// Started detached, the server is not our child: the system knows its state.
std::string ServerProcess::status(const std::string& field) const
{
    std::ifstream in("/proc/" + std::to_string(m_pid) + "/status");
    for (std::string line; m_pid > 0 && std::getline(in, line);) {
        if (line.starts_with(field + ":"))
            return line.substr(field.size() + 1);
    }
    return {};
}

bool ServerProcess::running() const
{
    const std::string state = status("State");
    return !state.empty() && state.find('Z') == std::string::npos;
}

std::string ServerProcess::output() const
{
    QFile log(m_home.filePath("server.log"));
    const QByteArray all = log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    return (all.size() > 4096 ? "..." + all.right(4096) : all).toStdString();
}

std::vector<std::string> ServerProcess::openDescriptors() const
{
    const std::string proc = "/proc/" + std::to_string(m_pid);
    // A TCP socket's inode to its state and local port, from the server's own tables.
    static const char* const kStates[] = {"", "ESTABLISHED", "SYN_SENT", "SYN_RECV", "FIN_WAIT1", "FIN_WAIT2",
                                          "TIME_WAIT", "CLOSE", "CLOSE_WAIT", "LAST_ACK", "LISTEN", "CLOSING"};
    std::map<std::string, std::string> tcp;
    for (const char* table : {"/net/tcp", "/net/tcp6"}) {
        std::ifstream in(proc + table);
        std::string line, slot, local, remote, state, skip, inode;
        for (std::getline(in, line); in >> slot >> local >> remote >> state >> skip >> skip >> skip >> skip >> skip
                                     >> inode && std::getline(in, line);) {
            const auto code = std::stoul(state, nullptr, 16);
            tcp[inode] = std::string("tcp ") + (code < std::size(kStates) ? kStates[code] : state.c_str()) + " :"
                + std::to_string(std::stoul(local.substr(local.find(':') + 1), nullptr, 16));
        }
    }
    std::vector<std::string> targets;
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd", error)) {
        std::string target = std::filesystem::read_symlink(fd.path(), error).string();
        if (target.empty())
            continue;  // closed meanwhile
        // Inode numbers ("pipe:[123]") differ from one reading to the next; kinds ("anon_inode:[eventfd]") stay.
        if (const auto open = target.find(":[");
            open != std::string::npos && target.find_first_not_of("0123456789", open + 2) == target.size() - 1) {
            const auto socket = tcp.find(target.substr(open + 2, target.size() - open - 3));
            target = socket != tcp.end() ? "socket " + socket->second : target.substr(0, open);
        }
        targets.push_back(target);
    }
    std::sort(targets.begin(), targets.end());
    return targets;
}

std::vector<std::string> ServerProcess::helperThreads() const
{
    const std::string proc = "/proc/" + std::to_string(m_pid);
    const auto name = [](const std::filesystem::path& comm) {
        std::string line;
        std::getline(std::ifstream(comm), line);
        return line;
    };
    const std::string program = name(proc + "/comm");
    std::vector<std::string> helpers;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(proc + "/task", error))
        if (const std::string thread = name(task.path() / "comm"); !thread.empty() && thread != program)
            helpers.push_back(thread);
    return helpers;
}

long ServerProcess::residentKiB() const
{
    const std::string kib = status("VmRSS");
    return kib.empty() ? -1 : std::stol(kib);
}

}  // namespace tallowcrest::testing
