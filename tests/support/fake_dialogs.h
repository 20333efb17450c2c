#pragma once

#include "shell/dialogs.h"

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tallowcrest::testing {

// Records every message box instead of showing it.
class RecordingMessageBox : public IMessageBox {
public:
    struct Shown {
        std::string text;
        std::string title;
        MessageStyle style;
    };

    void Show(const std::string& text, const std::string& title, MessageStyle style) override
    {
        shown.push_back({text, title, style});
    }

    std::vector<Shown> shown;
};

// Answers prompts from a script. When the script runs out it throws, so a
// loop that keeps prompting ends instead of hanging the test.
class ScriptedPrompt : public IPrompt {
public:
    std::string Ask(const std::string& message) override
    {
        asked.push_back(message);
        if (onAsk)
            onAsk();
        if (answers.empty())
            throw std::runtime_error("the test has no answer for: " + message);
        std::string answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::deque<std::string> answers;
    std::vector<std::string> asked;
    std::function<void()> onAsk;
};

}  // namespace tallowcrest::testing
