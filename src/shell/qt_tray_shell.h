#pragma once

#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>

#include <vector>

#include "shell/shell_icon.h"

class QWidget;

namespace tallowcrest {

// The notification area through QSystemTrayIcon. Activations of the icon
// reach the record's callback as the mouse codes of a press and a release.
class QtTrayShell : public QObject, public ITrayShell {
    Q_OBJECT

public:
    // `window` is the window whose system menu stands in when none is given.
    explicit QtTrayShell(QWidget* window);
    ~QtTrayShell() override;

    void Add(const NotifyData& record) override;
    void Modify(const NotifyData& record) override;
    void Delete(const NotifyData& record) override;
    QPoint CursorPos() const override;
    void PopupSystemMenu(QObject* window, QPoint at) override;
    bool Available() const override;

    // The codes one activation stands for, in the order they are reported.
    static std::vector<int> MouseCodes(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon& trayIcon() { return trayIcon_; }
    // The menu last popped up, while it exists.
    QMenu* systemMenu() const { return systemMenu_; }

private:
    void Show(const NotifyData& record);

    QWidget* window_;
    QSystemTrayIcon trayIcon_;
    std::function<void(int)> callback_;
    QPointer<QMenu> systemMenu_;
};

}  // namespace tallowcrest
