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

    void addIcon(const NotifyData& record) override;
    void modifyIcon(const NotifyData& record) override;
    void deleteIcon(const NotifyData& record) override;
    QPoint cursorPos() const override;
    void popupSystemMenu(QObject* window, QPoint at) override;
    bool available() const override;

    // The codes one activation stands for, in the order they are reported.
    static std::vector<int> mouseCodes(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon& trayIcon() { return m_trayIcon; }

private:
    void showIcon(const NotifyData& record);

    QWidget* m_window;
    QSystemTrayIcon m_trayIcon;
    std::function<void(int)> m_callback;
    QPointer<QMenu> m_systemMenu;
};

}  // namespace tallowcrest
