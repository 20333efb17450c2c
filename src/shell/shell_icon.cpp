#include "shell/shell_icon.h"

#include <QTimer>

namespace tallowcrest {

namespace {

constexpr int kLeftButton = 1;
constexpr int kRightButton = 2;

// The mouse messages the notification area reports, by their numbers.
constexpr int kMouseMove = 512;
constexpr int kLeftButtonDown = 513;
constexpr int kLeftButtonUp = 514;
constexpr int kLeftButtonDoubleClick = 515;
constexpr int kRightButtonDown = 516;
constexpr int kRightButtonUp = 517;
constexpr int kRightButtonDoubleClick = 518;

class QtMenuTimer : public IMenuTimer {
public:
    explicit QtMenuTimer(std::function<void()> tick)
    {
        QObject::connect(&m_timer, &QTimer::timeout, std::move(tick));
    }
    void start(int intervalMs) override { m_timer.start(intervalMs); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

template <typename Event, typename... Args>
void raiseEvent(const Event& event, Args... args)
{
    if (event)
        event(args...);
}

}  // namespace

QString NotifyData::tipShown() const
{
    const qsizetype end = szTip.indexOf(QChar(0));
    return end < 0 ? szTip : szTip.left(end);
}

PropertyBag::PropertyBag(std::initializer_list<std::pair<QString, QVariant>> values)
{
    for (const auto& [key, value] : values)
        writeProperty(key, value, {});
}

QVariant PropertyBag::readProperty(const QString& key, const QVariant& defaultValue) const
{
    return m_values.value(key.toLower(), defaultValue);
}

void PropertyBag::writeProperty(const QString& key, const QVariant& value, const QVariant&)
{
    m_values.insert(key.toLower(), value);
}

ShellIcon::ShellIcon(Host host) : m_host(std::move(host))
{
    if (m_host.menuTimer) {
        m_tmrMenu = m_host.menuTimer;
    } else {
        m_ownTimer = std::make_unique<QtMenuTimer>([this] { tmrMenu_Timer(); });
        m_tmrMenu = m_ownTimer.get();
    }
    m_NotifyData.callback = [this](int code) { mouseCallback(code); };
}

ShellIcon::~ShellIcon()
{
    if (m_IconAdded)
        UpdateTrayIcon(false);
}

void ShellIcon::SetToolTipText(const QString& text)
{
    m_TipText = text;
    setTipField(text);
    changed("ToolTipText");
    if (m_IconAdded)
        m_host.shell.modifyIcon(m_NotifyData);
}

void ShellIcon::SetIcon(const QIcon& picture)
{
    m_picture = picture;
    changed("Icon");
    m_NotifyData.hIcon = m_picture;
    if (m_IconAdded)
        m_host.shell.modifyIcon(m_NotifyData);
}

void ShellIcon::SetVisible(bool visible)
{
    m_VisibleFlag = visible;
    changed("Visible");
    UpdateTrayIcon(m_VisibleFlag);
}

void ShellIcon::SetSysMenu(bool sysMenu)
{
    m_SysMenuFlag = sysMenu;
    changed("SysMenu");
}

void ShellIcon::ShowSysMenu(QObject* window)
{
    if (!window)
        window = m_host.parentWindow;
    const QPoint at = m_host.shell.cursorPos();
    m_host.shell.popupSystemMenu(window, at);
}

void ShellIcon::readProperties(const IPropertyBag& bag)
{
    m_TipText = bag.readProperty(QStringLiteral("ToolTipText"), QString()).toString();
    setTipField(m_TipText);
    m_picture = qvariant_cast<QIcon>(bag.readProperty(QStringLiteral("Icon"), QIcon()));
    m_VisibleFlag = bag.readProperty(QStringLiteral("Visible"), false).toBool();
    m_SysMenuFlag = bag.readProperty(QStringLiteral("SysMenu"), true).toBool();
    m_NotifyData.hIcon = m_picture;
    if (m_host.userMode)
        UpdateTrayIcon(m_VisibleFlag);
}

void ShellIcon::writeProperties(IPropertyBag& bag) const
{
    bag.writeProperty(QStringLiteral("ToolTipText"), m_TipText, QString());
    bag.writeProperty(QStringLiteral("Icon"), QVariant::fromValue(m_picture), QVariant::fromValue(QIcon()));
    bag.writeProperty(QStringLiteral("Visible"), m_VisibleFlag, false);
    bag.writeProperty(QStringLiteral("SysMenu"), m_SysMenuFlag, true);
}

void ShellIcon::mouseCallback(int code)
{
    switch (code) {
    case kMouseMove:
        raiseEvent(events.MouseMove);
        break;
    case kLeftButtonDown:
        raiseEvent(events.MouseDown, kLeftButton);
        break;
    case kLeftButtonUp:
        raiseEvent(events.MouseUp, kLeftButton);
        raiseEvent(events.Click, kLeftButton);
        // A second release within the interval was a double click: no
        // single click then.
        if (m_tmrMenu->isActive())
            m_tmrMenu->stop();
        else
            m_tmrMenu->start(kMenuIntervalMs);
        break;
    case kLeftButtonDoubleClick:
        raiseEvent(events.DblClick, kLeftButton);
        break;
    case kRightButtonDown:
        raiseEvent(events.MouseDown, kRightButton);
        break;
    case kRightButtonUp:
        if (m_SysMenuFlag) {
            ShowSysMenu();
        } else {
            raiseEvent(events.MouseUp, kRightButton);
            raiseEvent(events.Click, kRightButton);
        }
        break;
    case kRightButtonDoubleClick:
        raiseEvent(events.DblClick, kRightButton);
        break;
    default:
        break;
    }
}

void ShellIcon::tmrMenu_Timer()
{
    m_tmrMenu->stop();
    raiseEvent(events.SingleClick, kLeftButton);
}

void ShellIcon::UpdateTrayIcon(bool show)
{
    if (show && !m_IconAdded) {
        if (!m_host.userMode)
            return;
        m_host.shell.addIcon(m_NotifyData);
        m_IconAdded = true;
    } else if (!show && m_IconAdded) {
        m_host.shell.deleteIcon(m_NotifyData);
        m_IconAdded = false;
    }
}

void ShellIcon::setTipField(const QString& text)
{
    QString field = text.left(NotifyData::kTipLength);
    if (field.size() < NotifyData::kTipLength)
        field += QChar(0);
    m_NotifyData.szTip = field.leftJustified(NotifyData::kTipLength, QLatin1Char(' '));
}

void ShellIcon::changed(const char* name)
{
    if (m_host.propertyChanged)
        m_host.propertyChanged(QString::fromLatin1(name));
}

}  // namespace tallowcrest
