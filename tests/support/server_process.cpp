#include "support/server_process.h"

#include "support/wire_client.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QThread>

#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

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

int ServerProcess::openDescriptorCount() const
{
    std::error_code error;
    const std::filesystem::directory_iterator fds("/proc/" + std::to_string(m_pid) + "/fd", error);
    return error ? -1 : static_cast<int>(std::distance(fds, {}));
}

long ServerProcess::residentKiB() const
{
    const std::string kib = status("VmRSS");
    return kib.empty() ? -1 : std::stol(kib);
}

}  // namespace tallowcrest::testing
