#pragma once

#include <optional>
#include <string>

namespace tallowcrest {

// Modal user dialogs, reached through interfaces so that the logic can run
// without a display. Texts are UTF-8.

enum class MessageStyle { Critical };

class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // Returns when the user has dismissed the box.
    virtual void show(const std::string& text, const std::string& title, MessageStyle style) = 0;
};

class IPrompt {
public:
    virtual ~IPrompt() = default;
    // A modal text prompt with an empty field. A cancelled prompt answers the
    // empty text, exactly as an empty answer does.
    virtual std::string ask(const std::string& message) = 0;
};

}  // namespace tallowcrest
