#pragma once

#include "playback/media_player.h"
#include "remote/component_failure.h"
#include "remote/socket.h"

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tallowcrest::testing {

// Records what the server sends, one entry per SendData call.
class RecordingSocket : public ISocket {
public:
    void SetLocalPort(int32_t port) override { localPort = port; }
    void Listen() override
    {
        if (listenFailure)
            throw std::runtime_error(listenFailure);
        state = Listening;
    }
    void Accept(int32_t) override { state = Connected; }
    void Close() override { state = Closed; }
    std::string GetData() override { return std::exchange(incoming, {}); }
    void SendData(std::string_view bytes) override
    {
        if (sendsBeforeFailure == 0)
            throw std::runtime_error("connection lost");
        --sendsBeforeFailure;
        sent.emplace_back(bytes);
    }
    int State() const override { return state; }
    void Hold(int ms) override { holds.push_back(ms); }

    std::string AllSent() const
    {
        std::string all;
        for (const auto& piece : sent)
            all += piece;
        return all;
    }

    int32_t localPort = 0;
    int state = Closed;
    const char* listenFailure = nullptr;
    long sendsBeforeFailure = -1;  // negative: never fails
    std::string incoming;
    std::vector<std::string> sent;
    std::vector<int> holds;
};

class FakePlayer : public IMediaPlayer {
public:
    void Open(const std::string& path) override
    {
        FailIfAsked();
        fileName = path;
        calls.push_back("open");
    }
    void Play() override { FailIfAsked(); calls.push_back("play"); }
    void Stop() override { FailIfAsked(); calls.push_back("stop"); }
    void Pause() override { FailIfAsked(); calls.push_back("pause"); }
    std::string FileName() const override { return fileName; }
    int Volume() const override { return volume; }
    void SetVolume(int level) override
    {
        if (level < kSilent || level > kLoudest)
            throw std::out_of_range("volume");
        volume = level;
    }

    std::string fileName;
    int volume = -600;
    std::vector<std::string> calls;
    int transientFailures = 0;  // ComponentFailures before a call succeeds
    int failedCalls = 0;

protected:
    void FailIfAsked()
    {
        if (transientFailures > 0) {
            --transientFailures;
            ++failedCalls;
            throw ComponentFailure("busy");
        }
    }
};

}  // namespace tallowcrest::testing
