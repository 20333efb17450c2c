#pragma once

#include <QWidget>

#include <memory>

#include "library/track_list_model.h"

class QListView;
class QPushButton;

namespace tallowcrest {

class FolderPrescan;
class IMediaPlayer;
class IMessageBox;
class ITrayShell;
class IPrompt;
class ISettingsStore;
class ISocket;
class PlayerStrip;
class QtTrayShell;
class ServerController;
class ShellIcon;

// The main window: four buttons, the player strip and the track list, laid
// out at fixed positions. It hosts the components and hands their events to
// the ServerController, which holds the server's state.
class frmMain : public QWidget {
    Q_OBJECT

public:
    // The components the window hosts.
    struct Components {
        ISettingsStore& settings;
        IMessageBox& messageBox;
        IPrompt& prompt;
        ISocket& winsock;
        IMediaPlayer& media;
        // The notification area for the tray icon; nullptr: the desktop's.
        ITrayShell* trayShell = nullptr;
        // The scan started at program start, if any.
        FolderPrescan* prescan = nullptr;
    };

    // Builds the real components: the user's settings file, Qt dialogs, a
    // TCP socket and the GStreamer player.
    explicit frmMain(FolderPrescan* prescan = nullptr, QWidget* parent = nullptr);
    explicit frmMain(Components components, QWidget* parent = nullptr);
    ~frmMain() override;

    ServerController& controller() { return *m_controller; }
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
    struct OwnedComponents;

    void build(Components components);
    void createControls(IMediaPlayer& media);
    void connectControls();
    void keepSelectionInStep();

    void Form_Resize();
    void createShellIcon(ITrayShell* trayShell);
    void ShellIcon_Click(int button);

    std::unique_ptr<OwnedComponents> m_owned;
    TrackListModel m_trackList;
    std::unique_ptr<ServerController> m_controller;
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
