#include <QApplication>

#include "playback/qt_media_player.h"
#include "shell/artwork.h"
#include "shell/frm_main.h"
#include "shell/frm_splash.h"

namespace tallowcrest {

namespace {

int Main(int argc, char** argv)
{
    QtMediaPlayer::SelectBackend();
    QApplication app(argc, argv);
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
