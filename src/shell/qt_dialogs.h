#pragma once

#include "server/dialogs.h"

#include <QWidget>

namespace tallowcrest {

// Modal dialogs on Qt Widgets. They stay above `owner` once it is on screen;
// before that (a message during the main window's load) they stand alone.
// The owner, when given, outlives the dialog object.
class QtMessageBox : public IMessageBox {
public:
    explicit QtMessageBox(QWidget* owner = nullptr) : m_owner(owner) {}
    void setOwner(QWidget* owner) { m_owner = owner; }
    void show(const std::string& text, const std::string& title, MessageStyle style) override;

private:
    QWidget* m_owner;
};

class QtPrompt : public IPrompt {
public:
    explicit QtPrompt(QWidget* owner = nullptr) : m_owner(owner) {}
    void setOwner(QWidget* owner) { m_owner = owner; }
    std::string ask(const std::string& message) override;

private:
    QWidget* m_owner;
};

}  // namespace tallowcrest
