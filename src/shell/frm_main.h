#pragma once

#include <QWidget>

#include <memory>

#include "library/track_list_model.h"

class QListView;
class QPushButton;

namespace tallowcrest {

class IMessageBox;
class ITrayShell;
class IPrompt;
class ISettingsStore;
class ISocket;
class PlayerStrip;
class QtTrayShell;
class QtMediaPlayer;
class ServerController;
class ShellIcon;
class Winsock;

// The main window: four buttons, the player strip and the track list, laid
// out at fixed positions. It hosts the components and hands their events to
// the ServerController, which holds the server's state.
class frmMain : public QWidget {
    Q_OBJECT

public:
    // The components the window drives. A Winsock passed here also has its
    // events forwarded; any other ISocket is only driven.
    struct Components {
        ISettingsStore& settings;
        IMessageBox& messageBox;
        IPrompt& prompt;
        ISocket& winsock;
        QtMediaPlayer& media;
        // The notification area for the tray icon; nullptr: the desktop's.
        ITrayShell* trayShell = nullptr;
    };

    // Builds the real components: the user's settings file, Qt dialogs, a
    // TCP socket and the Qt media player.
    explicit frmMain(QWidget* parent = nullptr);
    explicit frmMain(Components components, QWidget* parent = nullptr);
    ~frmMain() override;

    ServerController& controller() { return *controller_; }
    TrackListModel& trackList() { return trackList_; }
    ShellIcon& shellIcon() { return *ShellIcon_; }

    // The first show loads the window (settings, track list, listening)
    // before it appears on screen, once per window.
    void setVisible(bool visible) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct OwnedComponents;

    frmMain(std::unique_ptr<OwnedComponents> owned, QWidget* parent);
    void Build(Components components);
    void CreateControls(QtMediaPlayer& media);
    void ConnectSocketEvents(Winsock& winsock);
    void ConnectPlaybackEvents(QtMediaPlayer& media);
    void KeepSelectionInStep();

    void Form_Resize();
    void CreateShellIcon(ITrayShell* trayShell);
    void ShellIcon_Click(int button);
    void cmdExit_Click();

    std::unique_ptr<OwnedComponents> owned_;
    TrackListModel trackList_;
    std::unique_ptr<ServerController> controller_;
    bool loaded_ = false;
    bool syncingSelection_ = false;

    QPushButton* cmdDir_ = nullptr;
    QPushButton* cmdPort_ = nullptr;
    QPushButton* cmdRandomize_ = nullptr;
    QPushButton* cmdExit_ = nullptr;
    QListView* lstFiles_ = nullptr;
    PlayerStrip* Media_ = nullptr;
    // After the notification area, so that the icon is removed before it goes.
    std::unique_ptr<QtTrayShell> ownTrayShell_;
    ITrayShell* trayShell_ = nullptr;
    std::unique_ptr<ShellIcon> ShellIcon_;
};

}  // namespace tallowcrest
