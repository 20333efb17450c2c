#include "support/server_process.h"

#include "support/wire_client.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QThread>

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace tallowcrest::testing {

namespace {

constexpr int kStartTimeoutMs = 30000;

std::string quoted(const std::string& value)
{
    std::string text = "\"";
    for (const char c : value) {
        if (c == '\\' || c == '"')
            text.push_back('\\');
        text.push_back(c);
    }
    return text + "\"";
}

}  // namespace

ServerProcess::ServerProcess(const std::string& mediaFolder)
{
    const QString home = m_home.path();
    for (const char* folder : {"config/TallowcrestServer", "runtime", "cache", "data"})
        QDir(home).mkpath(QString::fromLatin1(folder));
    QFile::setPermissions(home + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_port = freePort();
    // The web remote gets a free port too: servers side by side never share one.
    uint16_t webPort = freePort();
    while (webPort == m_port)
        webPort = freePort();
    std::ofstream(home.toStdString() + "/config/TallowcrestServer/TallowcrestServer.conf")
        << "[Settings]\nDir=" << quoted(mediaFolder) << "\nPort=" << m_port << "\nWebPort=" << webPort << "\n";

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "SESSION_MANAGER"})
        environment.remove(QString::fromLatin1(name));
    environment.insert("HOME", home);
    environment.insert("XDG_CONFIG_HOME", home + "/config");
    environment.insert("XDG_RUNTIME_DIR", home + "/runtime");
    environment.insert("XDG_CACHE_HOME", home + "/cache");
    environment.insert("XDG_DATA_HOME", home + "/data");
    environment.insert("QT_QPA_PLATFORM", "offscreen");

    QProcess process;
    process.setProgram(QStringLiteral(TALLOWCREST_BINARY_DIR "/tallowcrest-server"));
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(home + "/server.log");
    process.setStandardErrorFile(home + "/server.log");
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        m_startFailure = "cannot start the server: " + process.errorString().toStdString();
        return;
    }
    m_pid = static_cast<pid_t>(pid);

    for (const QDeadlineTimer deadline(kStartTimeoutMs); !portListens(m_port); QThread::msleep(20)) {
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

bool ServerProcess::running() const
{
    // Started detached, the server is not our child: ask the system.
    if (m_pid <= 0 || m_ended)
        return false;
    std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("State:"))
            return !(m_ended = line.find('Z') != std::string::npos);
    }
    m_ended = true;
    return false;
}

std::string ServerProcess::output() const
{
    std::ifstream in(m_home.path().toStdString() + "/server.log");
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    return all.size() > 4096 ? "..." + all.substr(all.size() - 4096) : all;
}

int ServerProcess::openDescriptorCount() const
{
    DIR* dir = ::opendir(("/proc/" + std::to_string(m_pid) + "/fd").c_str());
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir))
        count += entry->d_name[0] != '.';
    ::closedir(dir);
    return count;
}

long ServerProcess::residentKiB() const
{
    std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:"))
            return std::stol(line.substr(6));
    }
    return -1;
}

bool portListens(uint16_t port)
{
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);
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

}  // namespace tallowcrest::testing
