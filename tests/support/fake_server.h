#pragma once
#include "library/library_index.h"
#include "library/track_list_model.h"
#include "server/controls.h"
#include "server/now_playing.h"
#include "server/qt_settings_store.h"
#include "server/server_controller.h"
#include "support/fakes.h"
#include "support/spin.h"
#include <QDir>

namespace tallowcrest::testing {
// Asks for a server whose lists are indexed, in a cache folder under its work folder.
struct WithIndex { bool on = true; };
// The window's logic as the start-up builds it, without the window: fake dialogs, a settings file of its own, and
// the list file in a folder of its own (test programs run side by side).
template <class Socket, class Player>
struct AssembledServer {
    explicit AssembledServer(std::function<std::string()> trackListFile = {}, std::function<float()> draw = {})
        : controller(parts(nullptr, std::move(trackListFile), std::move(draw))) {}
    explicit AssembledServer(WithIndex with)
        : index(with.on ? std::make_unique<LibraryIndex>(work.filePath("cache")) : nullptr), controller(parts()) {}
    ServerController::Components parts(FolderPrescan* prescan = nullptr, std::function<std::string()> listFile = {},
                                       std::function<float()> draw = {})
    {
        if (!listFile)
            listFile = [this] { return work.filePath("tracks.temp").toStdString(); };
        return {.settings = settings, .lstFiles = lstFiles, .messageBox = messageBox, .prompt = prompt, .winsock = winsock,
                .media = media, .prescan = prescan, .trackListFile = std::move(listFile), .drawRandom = std::move(draw),
                .library = index.get()};
    }
    Controls& controls() { return controller.controls(); }
    const NowPlaying& nowPlaying() const { return controller.nowPlaying(); }
    bool indexed() const  // runs events until the index has read the whole list
    {
        return SpinUntil([this] { const IndexProgress at = index->progress();
                                  return !at.running && at.total == lstFiles.count() && at.done == at.total; });
    }
    std::string caption() const { return nowPlaying().caption().toStdString(); }
    std::vector<std::string> rows() const
    {
        std::vector<std::string> rows(lstFiles.count());
        for (int i = 0; i < lstFiles.count(); ++i)
            rows[i] = lstFiles.row(i);
        return rows;
    }
    IsolatedSettings isolation;
    QTemporaryDir work;
    QtSettingsStore settings;
    TrackListModel lstFiles;
    RecordingMessageBox messageBox;
    ScriptedPrompt prompt;
    Socket winsock;
    Player media;
    std::unique_ptr<LibraryIndex> index;
    ServerController controller;
};
// Over the shared fakes.
struct FakeServer : AssembledServer<FakeSocket, FakePlayer> {
    using AssembledServer::AssembledServer;
    // Files, as rows of the list.
    void fillList(const std::vector<QString>& names)
    {
        std::string text;
        for (const QString& name : names)
            text += file(name) + "\r\n";
        lstFiles.clear();
        lstFiles.addLines(text);
    }
    // An empty file under the work folder.
    std::string file(const QString& relative)
    {
        QDir(work.path()).mkpath(QFileInfo(relative).path());
        return QFile(work.filePath(relative)).open(QIODevice::WriteOnly), path(relative);
    }
    std::string path(const QString& relative) const { return work.filePath(relative).toStdString(); }
    void connectClient() { winsock.state = SocketState::Connected; }
};
}  // namespace tallowcrest::testing
