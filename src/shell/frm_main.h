#pragma once

#include <QWidget>

#include <memory>


class QListView;
class QPushButton;

namespace tallowcrest {

class TrackListModel;
class ITrayShell;
class PlayerStrip;
class QtTrayShell;
class ServerController;
class ShellIcon;

// The main window: four buttons, the player strip and the track list, laid
// out at fixed positions. It hands its events to the ServerController, which
// holds the server's state; both are given to it and outlive it.
class frmMain : public QWidget {
    Q_OBJECT

public:
    struct Parts {
        ServerController& controller;
        // The rows the list shows: the controller's own track list.
        TrackListModel& trackList;
        // The notification area for the tray icon; nullptr: the desktop's.
        ITrayShell* trayShell = nullptr;
    };

    explicit frmMain(Parts parts, QWidget* parent = nullptr);
    ~frmMain() override;

    ServerController& controller() { return m_controller; }
    TrackListModel& trackList() { return m_trackList; }
    ShellIcon& shellIcon() { return *m_ShellIcon; }
    PlayerStrip& playerStrip() { return *m_Media; }

    // The first show loads the window (settings, track list, listening)
    // before it appears on screen, once per window.
    void setVisible(bool visible) override;

    // Brings the window back from the tray, the taskbar or behind others.
    void bringBack();
    // "Exit": ends the program at once.
    [[noreturn]] void cmdExit_Click();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void connectControls();
    void keepSelectionInStep();

    void Form_Resize();
    void createShellIcon(ITrayShell* trayShell);
    void ShellIcon_Click(int button);

    ServerController& m_controller;
    TrackListModel& m_trackList;
    bool m_loaded = false;
    bool m_syncingSelection = false;

    QPushButton* m_cmdDir = nullptr;
    QPushButton* m_cmdPort = nullptr;
    QPushButton* m_cmdRandomize = nullptr;
    QPushButton* m_cmdExit = nullptr;
    QListView* m_lstFiles = nullptr;
    PlayerStrip* m_Media = nullptr;
    // After the notification area, so that the icon is removed before it goes.
    std::unique_ptr<QtTrayShell> m_ownTrayShell;
    ITrayShell* m_trayShell = nullptr;
    std::unique_ptr<ShellIcon> m_ShellIcon;
};

}  // namespace tallowcrest
