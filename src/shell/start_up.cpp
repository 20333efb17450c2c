#include "shell/start_up.h"

#include <QApplication>
#include <QStandardPaths>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "library/library_index.h"
#include "library/track_list_model.h"
#include "mpris/mpris_service.h"
#include "playback/gst_player.h"
#include "remote/winsock.h"
#include "server/audio_output.h"
#include "server/folder_prescan.h"
#include "server/qt_settings_store.h"
#include "server/server_controller.h"
#include "server/stall_watch.h"
#include "shell/artwork.h"
#include "shell/command_line.h"
#include "shell/frm_main.h"
#include "shell/frm_splash.h"
#include "shell/phone_dialog.h"
#include "shell/player_strip.h"
#include "shell/qt_dialogs.h"
#include "web/pairing.h"
#include "web/web_remote.h"

namespace tallowcrest {

namespace {

int printLine(std::FILE* stream, const std::string& line, int exitStatus)
{
    std::fprintf(stream, "%s\n", line.c_str());
    return exitStatus;
}


}  // namespace

int Main(int argc, char** argv)
{
    // --help, --version and --pairing-url must work without a display, so before QApplication.
    switch (parseCommandLine(std::vector<std::string_view>(argv + 1, argv + argc))) {
    case CommandLineAction::PrintVersion: return printLine(stdout, versionLine(), 0);
    case CommandLineAction::PrintHelp: return printLine(stdout, usageLine(), 0);
    case CommandLineAction::PrintPairingUrl: {
        QtSettingsStore settings;
        const PairingUrlLine line = storedPairingUrl(settings);
        return printLine(line.ok ? stdout : stderr, line.text, line.ok ? 0 : 1);
    }
    case CommandLineAction::UsageError: return printLine(stderr, usageLine(), kUsageExitStatus);
    case CommandLineAction::Run: break;
    }

    // The media folder is scanned while the splash shows, from the very
    // start; the window's load takes the result.
    QtSettingsStore settings;
    FolderPrescan prescan(settings);

    QApplication app(argc, argv);
    // QApplication takes its own options out of argv; -geometry, for one, is
    // only taken on X11, and what is left over is not ours either.
    if (QCoreApplication::arguments().size() > 1)
        return printLine(stderr, usageLine(), kUsageExitStatus);
    QApplication::setApplicationName(QStringLiteral("TallowcrestServer"));
    QApplication::setOrganizationName(QStringLiteral("TallowcrestServer"));
    QApplication::setWindowIcon(windowIcon());

    {
        frmSplash splash;
        splash.exec();
    }

    // Every part is made here, once, and lives until the program ends.
    QtMessageBox messageBox;
    QtPrompt prompt;
    Winsock winsock;
    GstPlayer media({.audioOutput = chosenAudioOutput(settings, messageBox, &GstPlayer::checkAudioOutput)});
    TrackListModel trackList;
    // Opens its database in the background: the first list is read only once the server listens.
    LibraryIndex library(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
                         + QStringLiteral("/TallowcrestServer"));
    ServerController controller({
        .settings = settings,
        .lstFiles = trackList,
        .messageBox = messageBox,
        .prompt = prompt,
        .winsock = winsock,
        .media = media,
        .prescan = &prescan,
        .library = &library,
    });
    frmMain window({.controller = controller, .trackList = trackList});
    messageBox.setOwner(&window);
    prompt.setOwner(&window);
    window.show();

    const auto stallWatch = StallWatch::fromEnvironment();
    const WindowHands hands{[&] { window.bringBack(); }, [&] { window.cmdExit_Click(); }};
    const auto mpris = MprisService::start(controller.controls(), controller.nowPlaying(), hands);
    WebRemote phoneRemote(controller.controls(), controller.nowPlaying(), settings, messageBox);
    if (phoneRemote.start()) {
        offerPhoneRemote(window.playerStrip().phoneButton(), &window,
                         {[&] { return phoneRemote.pairingUrl(); }, [&] { phoneRemote.newCode(); }});
    }
    return app.exec();
}

}  // namespace tallowcrest
