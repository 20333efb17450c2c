#include "shell/qt_tray_shell.h"

#include <QCursor>
#include <QMenu>
#include <QWidget>

namespace tallowcrest {

QtTrayShell::QtTrayShell(QWidget* window) : window_(window)
{
    connect(&trayIcon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // Reported once the icon's window is out of its mouse handler: what
        // the codes set off may remove the icon, and its window with it.
        QMetaObject::invokeMethod(
            this,
            [this, reason] {
                for (int code : MouseCodes(reason)) {
                    // A callback that removed the icon has also ended the
                    // rest of this activation.
                    const auto callback = callback_;
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
    delete systemMenu_;
}

std::vector<int> QtTrayShell::MouseCodes(QSystemTrayIcon::ActivationReason reason)
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

void QtTrayShell::Add(const NotifyData& record)
{
    callback_ = record.callback;
    Show(record);
    trayIcon_.show();
}

void QtTrayShell::Modify(const NotifyData& record)
{
    Show(record);
}

void QtTrayShell::Delete(const NotifyData&)
{
    callback_ = nullptr;
    trayIcon_.hide();
}

void QtTrayShell::Show(const NotifyData& record)
{
    trayIcon_.setIcon(record.hIcon);
    trayIcon_.setToolTip(record.TipShown());
}

QPoint QtTrayShell::CursorPos() const
{
    return QCursor::pos();
}

void QtTrayShell::PopupSystemMenu(QObject* window, QPoint at)
{
    QWidget* target = qobject_cast<QWidget*>(window);
    if (!target)
        target = window_;
    if (!target)
        return;
    delete systemMenu_;
    auto* menu = new QMenu;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    systemMenu_ = menu;

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

bool QtTrayShell::Available() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

}  // namespace tallowcrest
