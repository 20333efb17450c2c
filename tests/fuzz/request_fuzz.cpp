// Sends a connected server the blocks of one input; checks what the protocol promises of every reply. Byte 0:
// bits 0-2 the volume, 3-5 the media folder, 6-7 after how many sends the link fails; byte 1: bits 0-1 where the
// list file goes, 2-3 whether the player refuses a.mp3; then blocks split at 0xFF (0xFF 0xFF is one 0xFF byte).
#include "library/track_list_model.h"
#include "remote/protocol.h"
#include "server/server_controller.h"
#include "server/settings_store.h"
#include "support/fakes.h"
#include <filesystem>
#include <fstream>
#include <map>

using namespace tallowcrest;
using namespace tallowcrest::testing;
namespace fs = std::filesystem;
namespace wire = tallowcrest::protocol;
static void require(bool holds, const std::string& block, const char* broken)
{
    if (!holds)
        std::fprintf(stderr, "request fuzz: %s; block: %.200s\n", broken, block.c_str()), std::abort();
}
// Plain files under media/, enough for a list of several pieces; an argument's leading "@" is root.
struct TestTree {
    std::string root = fs::temp_directory_path() / "tallowcrest-fuzz.XXXXXX";
    TestTree()
    {
        ::mkdtemp(root.data());
        std::vector<std::string> files{"a.mp3", "B.MP3", "caf\xe9.mp3", "note.txt", "sub/deep/d.mp3", "dirs/in/e.mp3"};
        for (int i = 0; i < 45; ++i)
            files.push_back("many/track " + std::to_string(i) + " with a name long enough to fill pieces.mp3");
        for (std::string& file : files)
            fs::create_directories(fs::path(file = root + "/media/" + file).parent_path()), std::ofstream(file) << 1;
        fs::create_directories(root + "/list");
    }
    ~TestTree() { fs::remove_all(root); }
};
struct MemorySettings : ISettingsStore {
    using S = const std::string&;
    std::map<std::string, std::string> values;
    std::string read(S, S, S key, S none) override { return values.contains(key) ? values[key] : none; }
    void save(S, S, S key, S value) override { values[key] = value; }
};
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const TestTree tree;
    const std::string& root = tree.root;
    if (size < 2)
        return 0;
    FakeSocket socket;
    FakePlayer player;
    TrackListModel list;
    MemorySettings settings;
    RecordingMessageBox box;
    ScriptedPrompt prompt;
    const int place = data[1] & 3;  // the list file's: a folder of its own (0, 1), a missing one, none at all
    const std::string listFile = root + (place < 2 ? "/list" : "/none") + "/tracks.temp";
    ServerController server({settings, list, box, prompt, socket, player, nullptr,
                             [&] { return place == 3 ? throw std::runtime_error("no place") : listFile; }});
    const std::string folders[] = {root + "/media", root + "/media/", kFolderNotSet, root + "/none", "",
                                   root + "/media/sub/deep", root + "/media/a.mp3", root + "/media/dirs"};
    settings.save(kAppName, kSettingsSection, kDirKey, folders[(data[0] >> 3) & 7]);
    player.level = std::vector{-600, 0, -50, -100, -10000, -9950, -9900, -5000}[data[0] & 7];
    socket.sendsBeforeFailure = std::vector{-1, 0, 1, 4}[data[0] >> 6];
    player.unplayable = {data[1] & 12 ? root + "/media/a.mp3" : ""};
    prompt.answers = {"", root + "/missing", root + "/media"};
    server.Form_Load();
    require(socket.state == SocketState::Listening, "", "not listening after start-up");
    emit socket.connectionRequest(1);
    const auto handle = [&](const std::string& block) {
        const std::string op = block.substr(0, 2), fileBefore = player.opened;
        const auto [calls, volume, rows] = std::tuple(player.calls.size(), player.level, list.version());
        socket.sent.clear(), socket.holds.clear();
        socket.incoming = block;
        emit socket.dataArrival();
        const auto& sent = socket.sent;
        const bool cut = socket.sendsBeforeFailure == 0, transport = op >= wire::kPlay && op <= wire::kPause;
        const bool isList = op == wire::kListTracks && !sent.empty(), ended = isList && sent.back() == wire::kListEnd;
        require(socket.incoming.empty() && socket.state == SocketState::Connected, block, "the connection was lost");
        if (!isList && !sent.empty() && sent[0].starts_with(wire::kTrackOpened))
            require(op == wire::kOpenTrack && player.opened == block.substr(2) && player.calls.size() > calls, block,
                    "CODE_11 without opening the track named");
        else if (!isList && !sent.empty())
            require(sent[0] == wire::kTrackEnded && player.calls.size() == calls &&
                        (op == wire::kOpenTrack || (transport && fileBefore.empty())),
                    block, "a reply that is no word of the protocol, or one to a request that gets none");
        require(sent.size() <= 1 || isList, block, "more than one reply");
        const bool owed = (transport && fileBefore.empty()) ||
                          (op == wire::kOpenTrack && !player.unplayable.contains(block.substr(2)));
        require(!sent.empty() || cut || !owed, block, "no reply to a request that gets one");
        require(ended || cut || op != wire::kListTracks || place > 1, block, "no list though its file has a place");
        require(ended || list.version() == rows, block, "the track list changed with no list sent");
        require(op == wire::kOpenTrack || transport || player.calls.size() == calls, block, "the player was driven");
        const int wanted = volume + (op == wire::kLouder ? 100 : op == wire::kQuieter ? -100 : 0);
        const bool inRange = wanted >= IMediaPlayer::kSilent && wanted <= IMediaPlayer::kLoudest;
        require(player.level == (inRange ? wanted : volume), block, "the volume did not move by one step");
        // START, pieces of 2048 bytes (the last one shorter), END and a pause; each line is a file under the
        // media folder, and the window shows as many rows.
        require(!isList || (sent[0] == wire::kListStart && (ended || cut)), block, "a list not in START ... END");
        std::string text;
        for (std::size_t i = 1; i + ended < sent.size(); text += sent[i++])
            require(sent[i].size() == wire::kListPieceSize ||
                        (i + 2 >= sent.size() && !sent[i].empty() && sent[i].size() < wire::kListPieceSize),
                    block, "a list piece of the wrong size");
        const std::string folder = server.MediaFolder() + (server.MediaFolder().ends_with('/') ? "" : "/");
        int lines = 0;
        for (std::size_t at = 0, end = 0; ended && at < text.size(); at = end + 2, ++lines) {
            const std::string line = text.substr(at, (end = text.find(wire::kLineEnd, at)) - at);
            require(end != std::string::npos && line.starts_with(folder) && fs::is_regular_file(line), block,
                    "a list line that is no file under the media folder");
        }
        require(!ended || (lines == list.count() && socket.holds.size() == 1), block,
                "the window's list is not the one sent, or no pause after it");
    };
    std::string block;
    for (size_t i = 2; i <= size; ++i)
        if (i < size && (data[i] != 0xff || (i + 1 < size && data[i + 1] == 0xff && ++i)))
            block.push_back(char(data[i]));
        else
            handle(block.size() > 2 && block[2] == '@' ? block.replace(2, 1, root) : block), block.clear();
    emit socket.peerClosed();
    require(socket.state == SocketState::Listening, "", "not listening again after the client left");
    return 0;
}
#ifndef TALLOWCREST_LIBFUZZER
// Replays the input files named; a broken promise aborts.
int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string input{std::istreambuf_iterator<char>(std::ifstream(argv[i], std::ios::binary).rdbuf()), {}};
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    return argc > 1 ? 0 : 1;
}
#endif
