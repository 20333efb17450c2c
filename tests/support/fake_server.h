#pragma once

#include "library/track_list_model.h"
#include "server/controls.h"
#include "server/now_playing.h"
#include "server/qt_settings_store.h"
#include "server/server_controller.h"
#include "support/fakes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <string>

namespace tallowcrest::testing {

// The window's logic as the start-up builds it, over the shared fakes and
// the real settings file in a folder of its own.
struct FakeServer {
    // Empty files under the work folder, as rows of the list.
    void fillList(const std::vector<QString>& names)
    {
        std::string text;
        for (const QString& name : names) {
            QDir(work.path()).mkpath(QFileInfo(name).path());
            QFile(work.filePath(name)).open(QIODevice::WriteOnly);
            text += work.filePath(name).toStdString() + "\r\n";
        }
        lstFiles.clear();
        lstFiles.addLines(text);
    }
    std::string path(const QString& relative) const { return work.filePath(relative).toStdString(); }
    void connectClient() { winsock.state = SocketState::Connected; }
    Controls& controls() { return controller.controls(); }
    const NowPlaying& nowPlaying() const { return controller.nowPlaying(); }

    IsolatedSettings isolation;
    QTemporaryDir work;
    QtSettingsStore settings;
    TrackListModel lstFiles;
    RecordingMessageBox messageBox;
    ScriptedPrompt prompt;
    FakeSocket winsock;
    FakePlayer media;
    ServerController controller{{
        .settings = settings,
        .lstFiles = lstFiles,
        .messageBox = messageBox,
        .prompt = prompt,
        .winsock = winsock,
        .media = media,
        .trackListFile = [this] { return work.filePath("tracks.temp").toStdString(); },
    }};
};

}  // namespace tallowcrest::testing
