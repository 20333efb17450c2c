#include <QApplication>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "playback/qt_media_player.h"
#include "shell/artwork.h"
#include "shell/command_line.h"
#include "shell/frm_main.h"
#include "shell/frm_splash.h"

namespace tallowcrest {

namespace {

int PrintLine(std::FILE* stream, const std::string& line, int exitStatus)
{
    std::fprintf(stream, "%s\n", line.c_str());
    return exitStatus;
}

int Main(int argc, char** argv)
{
    // --help and --version must work without a display, so before QApplication.
    switch (ParseCommandLine(std::vector<std::string_view>(argv + 1, argv + argc))) {
    case CommandLineAction::PrintVersion: return PrintLine(stdout, VersionLine(), 0);
    case CommandLineAction::PrintHelp: return PrintLine(stdout, UsageLine(), 0);
    case CommandLineAction::UsageError: return PrintLine(stderr, UsageLine(), kUsageExitStatus);
    case CommandLineAction::Run: break;
    }

    QtMediaPlayer::SelectBackend();
    QApplication app(argc, argv);
    // QApplication takes its own options out of argv; -geometry, for one, is
    // only taken on X11, and what is left over is not ours either.
    if (QCoreApplication::arguments().size() > 1)
        return PrintLine(stderr, UsageLine(), kUsageExitStatus);
    QApplication::setApplicationName(QStringLiteral("TallowcrestServer"));
    QApplication::setOrganizationName(QStringLiteral("TallowcrestServer"));
    QApplication::setWindowIcon(WindowIcon());

    {
        frmSplash splash;
        splash.exec();
    }

    frmMain window;
    window.show();
    return app.exec();
}

}  // namespace

}  // namespace tallowcrest

int main(int argc, char** argv) { return tallowcrest::Main(argc, argv); }
