#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "library/track_scan.h"
#include "support/mp3_fixture.h"
#include "support/server_process.h"

namespace tallowcrest::testing {

// A small library of real MP3 files in a fresh folder, in two levels, with a
// file that is no track. The tracks are long enough that none ends while a
// test runs, so the server never sends a notification of its own.
class SmallLibrary {
public:
    struct Track {
        std::string path;
        std::string title;
    };

    SmallLibrary()
    {
        const std::filesystem::path root = Root();
        std::filesystem::create_directories(root / "Album" / "Deeper");
        for (const auto& [name, title] : {std::pair{"One.mp3", "One"}, {"Album/Two.mp3", "Two"},
                                          {"Album/Deeper/Three.MP3", "Three"}, {"Four Space.mp3", "Four Space"}})
            tracks.push_back({MakeMp3(dir_.path(), name, 30.0), title});
        std::filesystem::copy_file(tracks[0].path, root / "Album" / "cover.jpg");
    }

    std::string Root() const { return dir_.path().toStdString(); }

    // The tracks as an independent walk of the folder finds them.
    std::multiset<std::string> WalkedTracks() const
    {
        std::multiset<std::string> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(Root())) {
            const std::string name = entry.path().filename().string();
            if (entry.is_regular_file() && name.size() >= 3
                && std::tolower(static_cast<unsigned char>(name[name.size() - 3])) == 'm'
                && std::tolower(static_cast<unsigned char>(name[name.size() - 2])) == 'p' && name.back() == '3')
                found.insert(entry.path().string());
        }
        return found;
    }

    std::vector<Track> tracks;

private:
    QTemporaryDir dir_;
};

// Bytes as a reader can see them: printable ASCII as is, the rest escaped.
inline std::string Printable(std::string_view bytes, std::size_t limit = 200)
{
    std::string shown;
    for (const unsigned char c : bytes.substr(0, limit)) {
        if (c >= 0x20 && c < 0x7f) {
            shown.push_back(static_cast<char>(c));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            shown += escaped;
        }
    }
    return bytes.size() > limit ? shown + "... (" + std::to_string(bytes.size()) + " bytes)" : shown;
}

// Asks a fresh connection for the track list and checks it against the walk:
// "START", one full path per line each ended by CR LF, "END", nothing after.
// Returns the whole reply, which stays the same as long as the folder does.
inline std::string RequestCheckedList(const ServerProcess& server, const SmallLibrary& library)
{
    const std::multiset<std::string> walked = library.WalkedTracks();
    std::size_t size = 5 + 3;
    for (const std::string& path : walked)
        size += path.size() + 2;

    WireClient client;
    EXPECT_TRUE(client.Connect(server.Port()));
    EXPECT_TRUE(client.Send("00"));
    const std::string reply = client.ReadExactly(size, 15000);
    client.ShutdownWrite();
    bool closed = false;
    EXPECT_EQ(Printable(client.ReadToEnd(10000, &closed)), "") << "nothing follows END";
    EXPECT_TRUE(closed);
    EXPECT_TRUE(reply.starts_with("START") && reply.ends_with("END")) << Printable(reply);
    if (reply.size() != size)
        return reply;
    const std::vector<std::string> lines = SplitTrackLines(std::string_view(reply).substr(5, size - 8));
    EXPECT_EQ(std::multiset<std::string>(lines.begin(), lines.end()), walked);
    return reply;
}

}  // namespace tallowcrest::testing
