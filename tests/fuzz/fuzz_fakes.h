#pragma once

// Stand-ins for the components around the request dispatcher. Each one
// refuses what the real component refuses, so a request that would break the
// real one breaks here too; what they are asked is logged for the checks.

#include "library/track_list.h"
#include "playback/media_player.h"
#include "remote/fakes.h"
#include "remote/component_failure.h"
#include "remote/socket.h"
#include "shell/dialogs.h"

#include <deque>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tallowcrest::fuzz {

// Hands out one block per arrival and logs every send and hold. Like the real
// socket, once the connection is lost every later send fails as well.
class BlockSocket : public ISocket {
public:
    struct Op {
        enum Kind { Sent, SendFailed, Held } kind;
        std::string bytes;
        int ms = 0;
    };

    void SetLocalPort(int32_t) override {}
    void Listen() override { throw std::runtime_error("the connection is in use"); }
    void Accept(int32_t) override { throw std::runtime_error("no pending connection"); }
    void Close() override { lost = true; }
    std::string GetData() override { return std::exchange(incoming, {}); }
    void SendData(std::string_view bytes) override
    {
        if (!lost && sendsLeft == 0)
            lost = true;
        if (lost) {
            log.push_back({Op::SendFailed, std::string(bytes)});
            throw std::runtime_error("The connection is closed");
        }
        if (bytes.empty())
            return;
        if (sendsLeft > 0)
            --sendsLeft;
        log.push_back({Op::Sent, std::string(bytes)});
    }
    int State() const override { return lost ? Closed : Connected; }
    void Hold(int ms) override { log.push_back({Op::Held, {}, ms}); }

    std::string incoming;
    long sendsLeft = -1;  // negative: the connection is never lost
    bool lost = false;
    std::vector<Op> log;
};

// The unit tests' fake player (volume range, transient failures), checking a
// path on Open the way the real player does.
class CheckingPlayer : public testing::FakePlayer {
public:
    void Open(const std::string& path) override
    {
        FailIfAsked();
        if (path.empty() || path.find('\0') != std::string::npos)
            throw std::runtime_error("cannot open \"" + path + "\": no such file name");
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            throw std::runtime_error("cannot open \"" + path + "\"");
        struct stat info {};
        const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
        ::close(fd);
        if (!regular)
            throw std::runtime_error("cannot open \"" + path + "\": not a regular file");
        fileName = path;
        calls.push_back("open");
    }
};

// Rows and selection with the bounds checks of the on-screen list.
class CheckingTrackList : public ITrackList {
public:
    void Clear() override
    {
        rows.clear();
        selected = -1;
    }
    void AddRows(std::vector<std::string> added) override
    {
        for (auto& row : added)
            rows.push_back(std::move(row));
    }
    int Count() const override { return static_cast<int>(rows.size()); }
    const std::string& Row(int index) const override
    {
        if (index < 0 || index >= Count())
            throw std::out_of_range("no such row");
        return rows[static_cast<std::size_t>(index)];
    }
    int SelectedIndex() const override { return selected; }
    void SetSelectedIndex(int index) override
    {
        if (index < -1 || index >= Count())
            throw std::out_of_range("no such row");
        selected = index;
    }

    std::vector<std::string> rows;
    int selected = -1;
};

// Answers the folder prompt from a script; asking past its end is a fault of
// the request (a prompt that keeps coming back), so it throws.
class ScriptedFolderPrompt : public IPrompt {
public:
    std::string Ask(const std::string&) override
    {
        ++asked;
        if (answers.empty())
            throw std::runtime_error("the folder prompt came back once too often");
        std::string answer = std::move(answers.front());
        answers.pop_front();
        return answer;
    }

    std::deque<std::string> answers;
    int asked = 0;
};

}  // namespace tallowcrest::fuzz
