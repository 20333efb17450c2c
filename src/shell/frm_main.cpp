#include "shell/frm_main.h"

#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QListView>
#include <QPushButton>
#include <QResizeEvent>

#include <cstdlib>

#include "playback/qt_media_player.h"
#include "playback/qt_settings_store.h"
#include "playback/server_controller.h"
#include "remote/winsock.h"
#include "shell/artwork.h"
#include "shell/layout_rule.h"
#include "shell/player_strip.h"
#include "shell/qt_dialogs.h"
#include "shell/qt_tray_shell.h"
#include "shell/shell_icon.h"

namespace tallowcrest {

namespace {

constexpr int kClientWidth = 700;
constexpr int kClientHeight = 309;

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, QRect geometry)
{
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setGeometry(geometry);
    return button;
}

}  // namespace

struct frmMain::OwnedComponents {
    explicit OwnedComponents(QWidget* window) : messageBox(window), prompt(window) {}

    Components Parts() { return Components{settings, messageBox, prompt, winsock, media}; }

    QtSettingsStore settings;
    QtMessageBox messageBox;
    QtPrompt prompt;
    Winsock winsock;
    QtMediaPlayer media;
};

frmMain::frmMain(QWidget* parent)
    : frmMain(std::make_unique<OwnedComponents>(this), parent)
{
}

frmMain::frmMain(std::unique_ptr<OwnedComponents> owned, QWidget* parent)
    : QWidget(parent), owned_(std::move(owned))
{
    Build(owned_->Parts());
}

frmMain::frmMain(Components components, QWidget* parent) : QWidget(parent)
{
    Build(components);
}

frmMain::~frmMain()
{
    // The strip and the list refer to components and the model held here:
    // they go first.
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

void frmMain::Build(Components components)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tallowcrest Server"));
    setWindowIcon(WindowIcon());
    resize(kClientWidth, kClientHeight);

    controller_ = std::make_unique<ServerController>(ServerController::Components{
        components.settings,
        trackList_,
        components.messageBox,
        components.prompt,
        components.winsock,
        components.media,
        [this](const std::string& caption) { setWindowTitle(QString::fromStdString(caption)); },
    });

    CreateControls(components.media);
    KeepSelectionInStep();
    CreateShellIcon(components.trayShell);

    connect(cmdDir_, &QPushButton::clicked, this, [this] { controller_->cmdDir_Click(); });
    connect(cmdPort_, &QPushButton::clicked, this, [this] { controller_->cmdPort_Click(); });
    connect(cmdExit_, &QPushButton::clicked, this, &frmMain::cmdExit_Click);
    ConnectPlaybackEvents(components.media);

    if (auto* winsock = dynamic_cast<Winsock*>(&components.winsock))
        ConnectSocketEvents(*winsock);
}

void frmMain::CreateControls(QtMediaPlayer& media)
{
    cmdDir_ = MakeButton(this, "cmdDir", "Change Dir", QRect(0, 0, 77, 23));
    cmdPort_ = MakeButton(this, "cmdPort", "Change Port", QRect(78, 0, 77, 23));
    cmdRandomize_ = MakeButton(this, "cmdRandomize", "Randomize", QRect(0, 24, 77, 23));
    cmdExit_ = MakeButton(this, "cmdExit", "Exit", QRect(78, 24, 77, 23));

    lstFiles_ = new QListView(this);
    lstFiles_->setObjectName(QStringLiteral("lstFiles"));
    lstFiles_->setGeometry(0, 46, 701, 264);
    lstFiles_->setSelectionMode(QAbstractItemView::SingleSelection);
    lstFiles_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Uniform rows let a view over hundreds of thousands of tracks lay out
    // without measuring each one.
    lstFiles_->setUniformItemSizes(true);
    lstFiles_->setModel(&trackList_);

    Media_ = new PlayerStrip(media, this);
    Media_->setObjectName(QStringLiteral("Media"));
    Media_->setGeometry(158, 0, 541, 45);

    setTabOrder(Media_, cmdPort_);
    setTabOrder(cmdPort_, cmdDir_);
    setTabOrder(cmdDir_, cmdExit_);
    setTabOrder(cmdExit_, lstFiles_);
    setTabOrder(lstFiles_, cmdRandomize_);
}

void frmMain::ConnectPlaybackEvents(QtMediaPlayer& media)
{
    connect(cmdRandomize_, &QPushButton::clicked, this, [this] { controller_->cmdRandomize_Click(); });
    // The press of a double-click has already made the row under the pointer
    // the selection.
    connect(lstFiles_, &QListView::doubleClicked, this, [this] { controller_->lstFiles_DblClick(); });
    lstFiles_->installEventFilter(this);
    connect(&media, &QtMediaPlayer::endOfStream, this, [this] { controller_->Media_EndOfStream(0); });
    // Queued: the player reports the failure from inside its own signal, and
    // the handler opens the next file.
    connect(&media, &QtMediaPlayer::playbackFailed, this, [this] { controller_->Media_PlaybackFailed(); },
            Qt::QueuedConnection);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lstFiles_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            controller_->lstFiles_DblClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::ConnectSocketEvents(Winsock& winsock)
{
    connect(&winsock, &Winsock::connectionRequest, this,
            [this](int32_t requestId) { controller_->Winsock_ConnectionRequest(requestId); });
    connect(&winsock, &Winsock::dataArrival, this, [this] { controller_->Winsock_DataArrival(); });
    connect(&winsock, &Winsock::peerClosed, this, [this] { controller_->Winsock_Close(); });
    connect(&winsock, &Winsock::error, this, [this](int number, const QString& description) {
        controller_->Winsock_Error(number, description.toStdString());
    });
}

void frmMain::KeepSelectionInStep()
{
    connect(lstFiles_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (syncingSelection_)
                    return;
                syncingSelection_ = true;
                trackList_.SetSelectedIndex(current.isValid() ? current.row() : -1);
                syncingSelection_ = false;
            });
    connect(&trackList_, &TrackListModel::selectedIndexChanged, this, [this](int index) {
        if (syncingSelection_)
            return;
        syncingSelection_ = true;
        const QModelIndex row = trackList_.index(index, 0);
        if (row.isValid()) {
            lstFiles_->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect);
            lstFiles_->scrollTo(row);
        } else {
            lstFiles_->selectionModel()->clear();
        }
        syncingSelection_ = false;
    });
}

void frmMain::setVisible(bool visible)
{
    if (visible && !loaded_) {
        loaded_ = true;
        controller_->Form_Load();
    }
    QWidget::setVisible(visible);
}

void frmMain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmMain::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Minimising does not always resize the window.
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        Form_Resize();
}

void frmMain::Form_Resize()
{
    if (isMinimized()) {
        // Without a notification area the icon could never be clicked: the
        // window stays minimised where the taskbar can bring it back.
        if (!trayShell_->Available())
            return;
        ShellIcon_->SetVisible(true);
        // Withdrawn once the state change has been handled, so that the
        // hide does not cross the window manager's own iconify; a restore
        // in between keeps the window and drops the icon.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isMinimized())
                    hide();
                else
                    ShellIcon_->SetVisible(false);
            },
            Qt::QueuedConnection);
        return;
    }
    const StretchedSizes sizes =
        StretchForClientArea(width(), height(), cmdPort_->width(), cmdPort_->height());
    Media_->resize(sizes.mediaWidth, Media_->height());
    lstFiles_->resize(sizes.listWidth, sizes.listHeight);
}

void frmMain::CreateShellIcon(ITrayShell* trayShell)
{
    if (!trayShell) {
        ownTrayShell_ = std::make_unique<QtTrayShell>(this);
        trayShell = ownTrayShell_.get();
    }
    trayShell_ = trayShell;
    ShellIcon_ = std::make_unique<ShellIcon>(ShellIcon::Host{.shell = *trayShell_, .parentWindow = this});
    ShellIcon_->ReadProperties(PropertyBag{
        {QStringLiteral("_extentx"), 847},
        {QStringLiteral("_extenty"), 847},
        {QStringLiteral("icon"), QVariant::fromValue(WindowIcon())},
        {QStringLiteral("sysmenu"), false},
    });
    ShellIcon_->events.Click = [this](int button) { ShellIcon_Click(button); };
}

void frmMain::ShellIcon_Click(int)
{
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    show();
    ShellIcon_->SetVisible(false);
}

void frmMain::cmdExit_Click()
{
    // Ends at once: no close handlers, no goodbye to a connected client.
    std::_Exit(EXIT_SUCCESS);
}

}  // namespace tallowcrest
