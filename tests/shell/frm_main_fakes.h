#pragma once

#include <QWidget>

#include <algorithm>
#include <cctype>
#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "playback/settings_store.h"
#include "remote/socket.h"
#include "shell/dialogs.h"

namespace tallowcrest::test {

// In-memory settings; keys match in any letter case, as in the real store.
class MemorySettings : public ISettingsStore {
public:
    std::string Read(const std::string& app, const std::string& section, const std::string& key,
                     const std::string& defaultValue) override
    {
        const auto found = values.find(Address(app, section, key));
        return found == values.end() ? defaultValue : found->second;
    }
    void Save(const std::string& app, const std::string& section, const std::string& key,
              const std::string& value) override
    {
        values[Address(app, section, key)] = value;
    }
    void Seed(const std::string& key, const std::string& value)
    {
        Save(kAppName, kSettingsSection, key, value);
    }
    std::string Stored(const std::string& key) { return Read(kAppName, kSettingsSection, key, "<absent>"); }

    std::map<std::string, std::string> values;

private:
    static std::string Address(const std::string& app, const std::string& section, std::string key)
    {
        std::transform(key.begin(), key.end(), key.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return app + "/" + section + "/" + key;
    }
};

struct ShownMessage {
    std::string text;
    std::string title;
    bool windowVisible;
};

class RecordingMessageBox : public IMessageBox {
public:
    void Show(const std::string& text, const std::string& title, MessageStyle) override
    {
        shown.push_back({text, title, window && window->isVisible()});
    }
    QWidget* window = nullptr;
    std::vector<ShownMessage> shown;
};

class ScriptedPrompt : public IPrompt {
public:
    std::string Ask(const std::string& message) override
    {
        asked.push_back(message);
        if (answers.empty())
            return {};
        std::string answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::deque<std::string> answers;
    std::vector<std::string> asked;
};

// Records what the window asks of its socket; never touches the network.
class RecordingSocket : public ISocket {
public:
    void SetLocalPort(int32_t port) override { ports.push_back(port); }
    void Listen() override
    {
        ++listens;
        state = Listening;
    }
    void Accept(int32_t) override { state = Connected; }
    void Close() override { state = Closed; }
    std::string GetData() override { return std::exchange(incoming, {}); }
    void SendData(std::string_view bytes) override { sent.append(bytes); }
    int State() const override { return state; }
    void Hold(int) override {}

    std::vector<int32_t> ports;
    int listens = 0;
    int state = Closed;
    std::string incoming;
    std::string sent;
};

}  // namespace tallowcrest::test
