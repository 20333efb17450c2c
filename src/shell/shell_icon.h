#pragma once

#include <QIcon>
#include <QMap>
#include <QPoint>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QObject;

namespace tallowcrest {

// The record the notification area keeps for one icon. The tip field is
// always kTipLength characters: the text, one NUL, blanks to the end; text of
// kTipLength characters or more fills it without a NUL.
struct NotifyData {
    static constexpr int kTipLength = 64;

    uint32_t cbSize = 88;
    uint32_t uID = 1;
    uint32_t uFlags = 7;  // message, icon and tip are valid
    uint32_t uCallbackMessage = 512;
    // Where the shell reports mouse activity over the icon: the mouse message
    // code (512 to 518 for the left and right buttons).
    std::function<void(int code)> callback;
    QIcon hIcon;  // null when there is no picture
    QString szTip = QString(QChar(0)) + QString(kTipLength - 1, QLatin1Char(' '));

    // The tip as the shell shows it: the field up to its NUL.
    QString tipShown() const;
};

// The notification area and the system menu, as the tray component uses them.
class ITrayShell {
public:
    virtual ~ITrayShell() = default;
    virtual void addIcon(const NotifyData& record) = 0;
    virtual void modifyIcon(const NotifyData& record) = 0;
    virtual void deleteIcon(const NotifyData& record) = 0;
    // The cursor in screen coordinates.
    virtual QPoint cursorPos() const = 0;
    // Pops up `window`'s own system menu at `at`; the chosen entry acts on
    // that window.
    virtual void popupSystemMenu(QObject* window, QPoint at) = 0;
    // False where the desktop has no notification area to put an icon in.
    virtual bool available() const = 0;
};

// Stored design-time values of a component, keys matched without regard to
// case.
class IPropertyBag {
public:
    virtual ~IPropertyBag() = default;
    virtual QVariant readProperty(const QString& key, const QVariant& defaultValue) const = 0;
    virtual void writeProperty(const QString& key, const QVariant& value, const QVariant& defaultValue) = 0;
};

// An in-memory property bag. Keys keep the case they were first written in.
class PropertyBag : public IPropertyBag {
public:
    PropertyBag() = default;
    PropertyBag(std::initializer_list<std::pair<QString, QVariant>> values);

    QVariant readProperty(const QString& key, const QVariant& defaultValue) const override;
    void writeProperty(const QString& key, const QVariant& value, const QVariant& defaultValue) override;

private:
    QMap<QString, QVariant> m_values;  // by lower-case key
};

// The timer that tells a single left click from the first half of a double
// click.
class IMenuTimer {
public:
    virtual ~IMenuTimer() = default;
    // Starts a fresh interval.
    virtual void start(int intervalMs) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// A component that owns one icon in the desktop's notification area: it adds
// the icon when Visible becomes true, updates it when the picture or the tip
// changes, removes it when Visible becomes false or the component goes, and
// turns the mouse codes the shell reports into events.
class ShellIcon {
public:
    static constexpr int kMenuIntervalMs = 500;

    struct Host {
        ITrayShell& shell;
        // The window whose system menu ShowSysMenu() pops up by default.
        QObject* parentWindow = nullptr;
        // False on a design surface: nothing is ever added to the shell.
        bool userMode = true;
        // Told the name of each property set, so that it can be stored again.
        std::function<void(const QString& name)> propertyChanged = nullptr;
        // The single-click timer; nullptr gives one driven by Qt's event loop.
        // A timer passed here must call tmrMenu_Timer() when it fires.
        IMenuTimer* menuTimer = nullptr;
    };

    // Each event receives the button: 1 left, 2 right.
    struct Events {
        std::function<void()> MouseMove;
        std::function<void(int button)> MouseDown;
        std::function<void(int button)> MouseUp;
        std::function<void(int button)> DblClick;
        std::function<void(int button)> Click;
        std::function<void(int button)> SingleClick;
    };

    explicit ShellIcon(Host host);
    // Removes the icon if it is added.
    ~ShellIcon();
    ShellIcon(const ShellIcon&) = delete;
    ShellIcon& operator=(const ShellIcon&) = delete;

    // The text as last set, without the tip field's NUL and blanks.
    QString ToolTipText() const { return m_TipText; }
    void SetToolTipText(const QString& text);
    QIcon Icon() const { return m_picture; }
    void SetIcon(const QIcon& picture);
    bool Visible() const { return m_VisibleFlag; }
    void SetVisible(bool visible);
    bool SysMenu() const { return m_SysMenuFlag; }
    void SetSysMenu(bool sysMenu);

    // Pops up `window`'s system menu at the cursor; nullptr means the window
    // hosting this component.
    void ShowSysMenu(QObject* window = nullptr);

    // Stored values under "ToolTipText", "Icon", "Visible" and "SysMenu";
    // reading one with Visible true adds the icon at once in user mode.
    void readProperties(const IPropertyBag& bag);
    void writeProperties(IPropertyBag& bag) const;

    // The shell's report of mouse activity over the icon.
    void mouseCallback(int code);
    // The single-click timer fired.
    void tmrMenu_Timer();

    const NotifyData& record() const { return m_NotifyData; }
    bool iconAdded() const { return m_IconAdded; }

    Events events;

private:
    void UpdateTrayIcon(bool show);
    void setTipField(const QString& text);
    void changed(const char* name);

    Host m_host;
    std::unique_ptr<IMenuTimer> m_ownTimer;
    IMenuTimer* m_tmrMenu = nullptr;
    NotifyData m_NotifyData;
    QString m_TipText;
    QIcon m_picture;
    bool m_VisibleFlag = false;
    bool m_SysMenuFlag = false;
    bool m_IconAdded = false;
};

}  // namespace tallowcrest
