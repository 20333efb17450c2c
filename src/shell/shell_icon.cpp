#include "shell/shell_icon.h"

#include <QTimer>

namespace tallowcrest {

namespace {

constexpr int kLeftButton = 1;
constexpr int kRightButton = 2;

enum MouseCode {
    kMouseMove = 512,
    kLeftButtonDown = 513,
    kLeftButtonUp = 514,
    kLeftButtonDoubleClick = 515,
    kRightButtonDown = 516,
    kRightButtonUp = 517,
    kRightButtonDoubleClick = 518,
};

class QtMenuTimer : public IMenuTimer {
public:
    explicit QtMenuTimer(std::function<void()> tick)
    {
        QObject::connect(&timer_, &QTimer::timeout, std::move(tick));
    }
    void Start(int intervalMs) override { timer_.start(intervalMs); }
    void Stop() override { timer_.stop(); }
    bool IsActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

template <typename Event, typename... Args>
void Raise(const Event& event, Args... args)
{
    if (event)
        event(args...);
}

}  // namespace

QString NotifyData::TipShown() const
{
    const qsizetype end = szTip.indexOf(QChar(0));
    return end < 0 ? szTip : szTip.left(end);
}

PropertyBag::PropertyBag(std::initializer_list<std::pair<QString, QVariant>> values)
{
    for (const auto& [key, value] : values)
        WriteProperty(key, value, {});
}

QVariant PropertyBag::ReadProperty(const QString& key, const QVariant& defaultValue) const
{
    const auto found = values_.constFind(key.toLower());
    return found == values_.cend() ? defaultValue : found->second;
}

void PropertyBag::WriteProperty(const QString& key, const QVariant& value, const QVariant&)
{
    auto found = values_.find(key.toLower());
    if (found == values_.end())
        values_.insert(key.toLower(), {key, value});
    else
        found->second = value;
}

QStringList PropertyBag::Keys() const
{
    QStringList keys;
    for (const auto& [key, value] : values_)
        keys.push_back(key);
    return keys;
}

ShellIcon::ShellIcon(Host host) : host_(std::move(host))
{
    if (host_.menuTimer) {
        tmrMenu_ = host_.menuTimer;
    } else {
        ownTimer_ = std::make_unique<QtMenuTimer>([this] { tmrMenu_Timer(); });
        tmrMenu_ = ownTimer_.get();
    }
    NotifyData_.callback = [this](int code) { MouseCallback(code); };
}

ShellIcon::~ShellIcon()
{
    if (IconAdded_)
        UpdateTrayIcon(false);
}

void ShellIcon::SetToolTipText(const QString& text)
{
    TipText_ = text;
    SetTipField(text);
    Changed("ToolTipText");
    if (IconAdded_)
        host_.shell.Modify(NotifyData_);
}

void ShellIcon::SetIcon(const QIcon& picture)
{
    picture_ = picture;
    Changed("Icon");
    NotifyData_.hIcon = picture_;
    if (IconAdded_)
        host_.shell.Modify(NotifyData_);
}

void ShellIcon::SetVisible(bool visible)
{
    VisibleFlag_ = visible;
    Changed("Visible");
    UpdateTrayIcon(VisibleFlag_);
}

void ShellIcon::SetSysMenu(bool sysMenu)
{
    SysMenuFlag_ = sysMenu;
    Changed("SysMenu");
}

void ShellIcon::ShowSysMenu(QObject* window)
{
    if (!window)
        window = host_.parentWindow;
    const QPoint at = host_.shell.CursorPos();
    host_.shell.PopupSystemMenu(window, at);
}

void ShellIcon::ReadProperties(const IPropertyBag& bag)
{
    TipText_ = bag.ReadProperty(QStringLiteral("ToolTipText"), QString()).toString();
    SetTipField(TipText_);
    picture_ = qvariant_cast<QIcon>(bag.ReadProperty(QStringLiteral("Icon"), QIcon()));
    VisibleFlag_ = bag.ReadProperty(QStringLiteral("Visible"), false).toBool();
    SysMenuFlag_ = bag.ReadProperty(QStringLiteral("SysMenu"), true).toBool();
    NotifyData_.hIcon = picture_;
    if (host_.userMode)
        UpdateTrayIcon(VisibleFlag_);
}

void ShellIcon::WriteProperties(IPropertyBag& bag) const
{
    bag.WriteProperty(QStringLiteral("ToolTipText"), TipText_, QString());
    bag.WriteProperty(QStringLiteral("Icon"), QVariant::fromValue(picture_), QVariant::fromValue(QIcon()));
    bag.WriteProperty(QStringLiteral("Visible"), VisibleFlag_, false);
    bag.WriteProperty(QStringLiteral("SysMenu"), SysMenuFlag_, true);
}

void ShellIcon::MouseCallback(int code)
{
    switch (code) {
    case kMouseMove:
        Raise(events.MouseMove);
        break;
    case kLeftButtonDown:
        Raise(events.MouseDown, kLeftButton);
        break;
    case kLeftButtonUp:
        Raise(events.MouseUp, kLeftButton);
        Raise(events.Click, kLeftButton);
        // A second release within the interval was a double click: no
        // single click then.
        if (tmrMenu_->IsActive())
            tmrMenu_->Stop();
        else
            tmrMenu_->Start(kMenuIntervalMs);
        break;
    case kLeftButtonDoubleClick:
        Raise(events.DblClick, kLeftButton);
        break;
    case kRightButtonDown:
        Raise(events.MouseDown, kRightButton);
        break;
    case kRightButtonUp:
        if (SysMenuFlag_) {
            ShowSysMenu();
        } else {
            Raise(events.MouseUp, kRightButton);
            Raise(events.Click, kRightButton);
        }
        break;
    case kRightButtonDoubleClick:
        Raise(events.DblClick, kRightButton);
        break;
    default:
        break;
    }
}

void ShellIcon::tmrMenu_Timer()
{
    tmrMenu_->Stop();
    Raise(events.SingleClick, kLeftButton);
}

void ShellIcon::UpdateTrayIcon(bool show)
{
    if (show && !IconAdded_) {
        if (!host_.userMode)
            return;
        host_.shell.Add(NotifyData_);
        IconAdded_ = true;
    } else if (!show && IconAdded_) {
        host_.shell.Delete(NotifyData_);
        IconAdded_ = false;
    }
}

void ShellIcon::SetTipField(const QString& text)
{
    QString field = text.left(NotifyData::kTipLength);
    if (field.size() < NotifyData::kTipLength)
        field += QChar(0);
    NotifyData_.szTip = field.leftJustified(NotifyData::kTipLength, QLatin1Char(' '));
}

void ShellIcon::Changed(const char* name)
{
    if (host_.propertyChanged)
        host_.propertyChanged(QString::fromLatin1(name));
}

}  // namespace tallowcrest
