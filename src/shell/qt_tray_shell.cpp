#include "shell/qt_tray_shell.h"

#include <QCursor>
#include <QMenu>
#include <QWidget>

namespace tallowcrest {

QtTrayShell::QtTrayShell(QWidget* window) : m_window(window)
{
    connect(&m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // Reported once the icon's window is out of its mouse handler: what
        // the codes set off may remove the icon, and its window with it.
        QMetaObject::invokeMethod(
            this,
            [this, reason] {
                for (int code : mouseCodes(reason)) {
                    // A callback that removed the icon has also ended the
                    // rest of this activation.
                    const auto callback = m_callback;
                    if (!callback)
                        return;
                    callback(code);
                }
            },
            Qt::QueuedConnection);
    });
}

QtTrayShell::~QtTrayShell()
{
    delete m_systemMenu;
}

std::vector<int> QtTrayShell::mouseCodes(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return {513, 514};
    case QSystemTrayIcon::DoubleClick:
        return {515, 514};
    case QSystemTrayIcon::Context:
        return {516, 517};
    default:
        return {};
    }
}

void QtTrayShell::addIcon(const NotifyData& record)
{
    m_callback = record.callback;
    showIcon(record);
    m_trayIcon.show();
}

void QtTrayShell::modifyIcon(const NotifyData& record)
{
    showIcon(record);
}

void QtTrayShell::deleteIcon(const NotifyData&)
{
    m_callback = nullptr;
    m_trayIcon.hide();
}

void QtTrayShell::showIcon(const NotifyData& record)
{
    m_trayIcon.setIcon(record.hIcon);
    m_trayIcon.setToolTip(record.tipShown());
}

QPoint QtTrayShell::cursorPos() const
{
    return QCursor::pos();
}

void QtTrayShell::popupSystemMenu(QObject* window, QPoint at)
{
    QWidget* target = qobject_cast<QWidget*>(window);
    if (!target)
        target = m_window;
    if (!target)
        return;
    delete m_systemMenu;
    auto* menu = new QMenu;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    m_systemMenu = menu;

    const QPointer<QWidget> guarded(target);
    const auto act = [guarded](auto operation) {
        return [guarded, operation] {
            if (guarded)
                operation(guarded.data());
        };
    };
    const Qt::WindowStates state = target->windowState();
    const bool minimized = state & Qt::WindowMinimized;
    // A window minimised from maximised keeps both flags.
    const bool maximized = !minimized && (state & Qt::WindowMaximized);

    QAction* restore = menu->addAction(tr("Restore"), menu, act([](QWidget* w) {
        w->setWindowState(w->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
        w->show();
    }));
    restore->setEnabled(minimized || maximized || !target->isVisible());
    QAction* minimize = menu->addAction(tr("Minimize"), menu, act([](QWidget* w) { w->showMinimized(); }));
    minimize->setEnabled(!minimized);
    QAction* maximize = menu->addAction(tr("Maximize"), menu, act([](QWidget* w) {
        w->setWindowState((w->windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
        w->show();
    }));
    maximize->setEnabled(!maximized);
    menu->addSeparator();
    menu->addAction(tr("Close"), menu, act([](QWidget* w) { w->close(); }));

    menu->popup(at);
}

bool QtTrayShell::available() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

}  // namespace tallowcrest
