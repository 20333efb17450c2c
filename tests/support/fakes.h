#pragma once
#include "playback/media_player.h"
#include "remote/socket.h"
#include "server/dialogs.h"
#include "shell/shell_icon.h"
#include <QSettings>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <numeric>
#include <set>
#include <stdexcept>

namespace tallowcrest::testing {
// Records what the server sends, one entry per SendData call.
class FakeSocket : public ISocket {
public:
    void SetLocalPort(int32_t port) override { localPort = port; }
    void Listen() override { state = SocketState::Listening; }
    void Accept(int32_t) override { state = SocketState::Connected; }
    void Close() override { state = SocketState::Closed; }
    std::string GetData() override { return std::exchange(incoming, {}); }
    void SendData(std::string_view bytes) override
    {
        if (state != SocketState::Connected || sendsBeforeFailure == 0)
            throw std::runtime_error("no connection");
        --sendsBeforeFailure;
        sent.emplace_back(bytes);
        onSend ? onSend() : void();
    }
    SocketState State() const override { return state; }
    void hold(int ms) override { holds.push_back(ms); }
    std::string allSent() const { return std::accumulate(sent.begin(), sent.end(), std::string()); }
    // What the server sends in answer to block, as it arrives from the client.
    std::string answer(const std::string& block) { return sent.clear(), incoming = block, emit dataArrival(), allSent(); }
    int32_t localPort = 0;
    SocketState state = SocketState::Closed;
    long sendsBeforeFailure = -1;  // negative: never fails
    std::string incoming;
    std::vector<std::string> sent;
    std::vector<int> holds;
    std::function<void()> onSend;
};
// Records what it was asked and refuses the paths in `unplayable`.
class FakePlayer : public IMediaPlayer {
public:
    void open(const std::string& path) override
    {
        if (unplayable.contains(path))
            throw std::runtime_error("cannot open " + path);
        calls.push_back("open " + (opened = path));
    }
    void play() override { calls.push_back("play"); }
    void stop() override { calls.push_back("stop"); }
    void pause() override { calls.push_back("pause"); }
    std::string fileName() const override { return opened; }
    int volume() const override { return level; }
    void setVolume(int level) override
    {
        if (level < kSilent || level > kLoudest)
            throw std::out_of_range("volume");
        emit volumeChanged(this->level = level);
    }
    PlaybackState playbackState() const override { return state; }
    qint64 position() const override { return positionMs; }
    qint64 duration() const override { return durationMs; }
    void seek(qint64 ms) override { calls.push_back("seek " + std::to_string(ms)); }
    void queueNext(const std::string& path) override { queued = path; }
    void setReplayGain(ReplayGain mode, double preampDb) override { gain = {mode, preampDb}; }
    bool soundOutputMissing() const override { return noSound; }
    std::string queued;
    std::pair<ReplayGain, double> gain{ReplayGain::Off, 0.0};
    bool noSound = false;
    std::string opened;
    PlaybackState state = PlaybackState::Stopped;
    int level = -600;
    qint64 positionMs = 0, durationMs = 0;  // emit positionChanged / durationChanged after setting
    std::set<std::string> unplayable;
    std::vector<std::string> calls;
};
// Records every message box instead of showing it.
class RecordingMessageBox : public IMessageBox {
public:
    struct Shown { std::string text, title; };
    void show(const std::string& text, const std::string& title, MessageStyle) override { shown.push_back({text, title}); }
    std::vector<Shown> shown;
};
// Answers prompts from a script; throws when it runs out, so no loop hangs.
class ScriptedPrompt : public IPrompt {
public:
    std::string ask(const std::string& message) override
    {
        asked.push_back(message);
        onAsk ? onAsk() : void();
        if (answers.empty())
            throw std::runtime_error("the test has no answer for: " + message);
        const std::string answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::deque<std::string> answers;
    std::vector<std::string> asked;
    std::function<void()> onAsk;
};
// Logs each call as "add 'tip shown' icon" (icon: a picture came) and each system menu as "menu of NAME at X,Y".
class FakeTrayShell : public ITrayShell {
public:
    void addIcon(const NotifyData& record) override { log.push_back(line("add ", record)); }
    void modifyIcon(const NotifyData& record) override { log.push_back(line("modify ", record)); }
    void deleteIcon(const NotifyData& record) override { log.push_back(line("delete ", record)); }
    QPoint cursorPos() const override { return {640, 790}; }
    void popupSystemMenu(QObject* window, QPoint at) override
    {
        log.push_back(QString("menu of %1 at %2,%3").arg(window->objectName()).arg(at.x()).arg(at.y()).toStdString());
    }
    bool available() const override { return true; }
    static std::string line(const QString& call, const NotifyData& record)
    {
        return (call + "'" + record.tipShown() + "'" + (record.hIcon.isNull() ? "" : " icon")).toStdString();
    }
    std::vector<std::string> log;
};
// A single-click timer that fires only when the test calls tick().
class FakeMenuTimer : public IMenuTimer {
public:
    void start(int ms) override { intervalMs = ms, active = true; }
    void stop() override { active = false; }
    bool isActive() const override { return active; }
    void tick(ShellIcon& icon) { active ? icon.tmrMenu_Timer() : void(); }
    int intervalMs = 0;
    bool active = false;
};
// Points this process's per-user settings at a fresh folder while it lives.
class IsolatedSettings {
public:
    IsolatedSettings() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path()); }
    QString filePath() const { return m_dir.path() + "/TallowcrestServer/TallowcrestServer.conf"; }
private:
    QTemporaryDir m_dir;
};
}  // namespace tallowcrest::testing
