#include "shell/frm_main.h"

#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QListView>
#include <QPushButton>
#include <QResizeEvent>

#include <cstdlib>

#include "library/track_list_model.h"
#include "server/now_playing.h"
#include "server/server_controller.h"
#include "shell/artwork.h"
#include "shell/layout_rule.h"
#include "shell/player_strip.h"
#include "shell/qt_tray_shell.h"
#include "shell/shell_icon.h"

namespace tallowcrest {

namespace {

constexpr int kClientWidth = 700;
constexpr int kClientHeight = 309;

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, QRect geometry)
{
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setGeometry(geometry);
    return button;
}

}  // namespace

frmMain::frmMain(Parts parts, QWidget* parent)
    : QWidget(parent), m_controller(parts.controller), m_trackList(parts.trackList)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tallowcrest Server"));
    setWindowIcon(windowIcon());
    resize(kClientWidth, kClientHeight);
    const NowPlaying& nowPlaying = m_controller.nowPlaying();
    connect(&nowPlaying, &NowPlaying::changed, this, [this, &nowPlaying](NowPlaying::Changes what) {
        if (what & NowPlaying::Change::Title)
            setWindowTitle(nowPlaying.caption());
    });

    createControls();
    keepSelectionInStep();
    createShellIcon(parts.trayShell);
    connectControls();
}

frmMain::~frmMain()
{
    // The strip and the list refer to the controller and the model: they go
    // first.
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

void frmMain::createControls()
{
    m_cmdDir = makeButton(this, "cmdDir", "Change Dir", QRect(0, 0, 77, 23));
    m_cmdPort = makeButton(this, "cmdPort", "Change Port", QRect(78, 0, 77, 23));
    m_cmdRandomize = makeButton(this, "cmdRandomize", "Randomize", QRect(0, 24, 77, 23));
    m_cmdExit = makeButton(this, "cmdExit", "Exit", QRect(78, 24, 77, 23));

    m_lstFiles = new QListView(this);
    m_lstFiles->setObjectName(QStringLiteral("lstFiles"));
    m_lstFiles->setGeometry(0, 46, 701, 264);
    m_lstFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lstFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Uniform rows let a view over hundreds of thousands of tracks lay out
    // without measuring each one.
    m_lstFiles->setUniformItemSizes(true);
    m_lstFiles->setModel(&m_trackList);

    m_Media = new PlayerStrip(m_controller.controls(), m_controller.nowPlaying(), this);
    m_Media->setObjectName(QStringLiteral("Media"));
    m_Media->setGeometry(158, 0, 541, 45);

    setTabOrder(m_Media, m_cmdPort);
    setTabOrder(m_cmdPort, m_cmdDir);
    setTabOrder(m_cmdDir, m_cmdExit);
    setTabOrder(m_cmdExit, m_lstFiles);
    setTabOrder(m_lstFiles, m_cmdRandomize);
}

void frmMain::connectControls()
{
    connect(m_cmdDir, &QPushButton::clicked, &m_controller, &ServerController::cmdDir_Click);
    connect(m_cmdPort, &QPushButton::clicked, &m_controller, &ServerController::cmdPort_Click);
    connect(m_cmdExit, &QPushButton::clicked, this, &frmMain::cmdExit_Click);
    connect(m_cmdRandomize, &QPushButton::clicked, &m_controller, &ServerController::cmdRandomize_Click);
    // The press of a double-click has already made the row under the pointer
    // the selection.
    connect(m_lstFiles, &QListView::doubleClicked, &m_controller, &ServerController::lstFiles_DblClick);
    m_lstFiles->installEventFilter(this);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_lstFiles && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            m_controller.lstFiles_DblClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::keepSelectionInStep()
{
    connect(m_lstFiles->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (m_syncingSelection)
                    return;
                m_syncingSelection = true;
                m_trackList.setSelectedIndex(current.isValid() ? current.row() : -1);
                m_syncingSelection = false;
            });
    connect(&m_trackList, &TrackListModel::selectedIndexChanged, this, [this](int index) {
        if (m_syncingSelection)
            return;
        m_syncingSelection = true;
        const QModelIndex row = m_trackList.index(index, 0);
        if (row.isValid()) {
            m_lstFiles->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect);
            m_lstFiles->scrollTo(row);
        } else {
            m_lstFiles->selectionModel()->clear();
        }
        m_syncingSelection = false;
    });
}

void frmMain::setVisible(bool visible)
{
    if (visible && !m_loaded) {
        m_loaded = true;
        m_controller.Form_Load();
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
        if (!m_trayShell->available())
            return;
        m_ShellIcon->SetVisible(true);
        // Withdrawn once the state change has been handled, so that the
        // hide does not cross the window manager's own iconify; a restore
        // in between keeps the window and drops the icon.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isMinimized())
                    hide();
                else
                    m_ShellIcon->SetVisible(false);
            },
            Qt::QueuedConnection);
        return;
    }
    const StretchedSizes sizes =
        stretchForClientArea(width(), height(), m_cmdPort->width(), m_cmdPort->height());
    m_Media->resize(sizes.mediaWidth, m_Media->height());
    m_lstFiles->resize(sizes.listWidth, sizes.listHeight);
}

void frmMain::createShellIcon(ITrayShell* trayShell)
{
    if (!trayShell) {
        m_ownTrayShell = std::make_unique<QtTrayShell>(this);
        trayShell = m_ownTrayShell.get();
    }
    m_trayShell = trayShell;
    m_ShellIcon = std::make_unique<ShellIcon>(ShellIcon::Host{.shell = *m_trayShell, .parentWindow = this});
    m_ShellIcon->readProperties(PropertyBag{
        {QStringLiteral("_extentx"), 847},
        {QStringLiteral("_extenty"), 847},
        {QStringLiteral("icon"), QVariant::fromValue(windowIcon())},
        {QStringLiteral("sysmenu"), false},
    });
    m_ShellIcon->events.Click = [this](int button) { ShellIcon_Click(button); };
}

void frmMain::ShellIcon_Click(int)
{
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    show();
    m_ShellIcon->SetVisible(false);
}

void frmMain::bringBack()
{
    if (m_ShellIcon->Visible() || isMinimized())
        ShellIcon_Click(1);
    show();
    raise();
    activateWindow();
}

void frmMain::cmdExit_Click()
{
    // Ends at once: no close handlers, no goodbye to a connected client.
    std::_Exit(EXIT_SUCCESS);
}

}  // namespace tallowcrest
