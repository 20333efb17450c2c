#pragma once

#include "shell/dialogs.h"

#include <QWidget>

namespace tallowcrest {

// Modal dialogs on Qt Widgets. They stay above `owner` once it is on screen;
// before that (a message during the main window's load) they stand alone.
// The owner, when given, outlives the dialog object.
class QtMessageBox : public IMessageBox {
public:
    explicit QtMessageBox(QWidget* owner = nullptr) : owner_(owner) {}
    void Show(const std::string& text, const std::string& title, MessageStyle style) override;

private:
    QWidget* owner_;
};

class QtPrompt : public IPrompt {
public:
    explicit QtPrompt(QWidget* owner = nullptr) : owner_(owner) {}
    std::string Ask(const std::string& message) override;

private:
    QWidget* owner_;
};

}  // namespace tallowcrest
