#include "fuzz/request_fuzz_harness.h"

#include "fuzz/fuzz_fakes.h"
#include "remote/request_dispatcher.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tallowcrest::fuzz {

namespace {

constexpr char kSeparator = '\xff';
constexpr std::size_t kPieceSize = 2048;
constexpr int kPauseAfterListMs = 200;
constexpr int kVolumeStep = 100;

std::function<void(const std::string&)>& ViolationHandler()
{
    static std::function<void(const std::string&)> handler = [](const std::string& what) {
        std::fprintf(stderr, "request fuzz: broken promise: %s\n", what.c_str());
        std::abort();
    };
    return handler;
}

void Require(bool holds, const std::string& what)
{
    if (!holds)
        ViolationHandler()(what);
}

// Plain files only in the media tree, so that the expected list does not hang
// on how the scan treats links, pipes or hidden files; those live beside it,
// for requests that name them directly.
class TestTree {
public:
    TestTree()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tallowcrest-fuzz.XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make the test tree");
        root = pattern;
        media = root + "/media";
        listFolder = root + "/list";

        for (const char* relative : {"a.mp3", "B.MP3", "sp ace.mp3", "caf\xe9.mp3", "note.txt", "x.mp3.txt",
                                     "sub/c.mp3", "sub/deeper/d.mp3", "only-dirs/inner/e.mp3"})
            AddFile(media + "/" + relative);
        for (int i = 0; i < 45; ++i)
            AddFile(media + "/many/track " + std::to_string(i) + " with a name long enough to fill pieces.mp3");
        std::filesystem::create_directories(listFolder);

        const std::string odd = root + "/odd";
        std::filesystem::create_directories(odd + "/folder.mp3");
        AddFile(odd + "/mp3");
        AddFile(odd + "/.hidden.mp3");
        ::mkfifo((odd + "/pipe.mp3").c_str(), 0600);
        std::filesystem::create_symlink(media + "/a.mp3", odd + "/link.mp3");
        std::filesystem::create_symlink(root + "/nowhere", odd + "/dangling.mp3");
    }

    ~TestTree()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    // The track lines a scan of folder has to find, in no particular order.
    std::vector<std::string> TracksUnder(std::string folder) const
    {
        if (folder.empty() || folder.back() != '/')
            folder.push_back('/');
        std::vector<std::string> tracks;
        for (const std::string& track : tracks_) {
            if (track.starts_with(folder))
                tracks.push_back(track);
        }
        std::sort(tracks.begin(), tracks.end());
        return tracks;
    }

    std::string root;
    std::string media;
    std::string listFolder;

private:
    void AddFile(const std::string& path)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path) << "not really sound";
        const std::string_view name = std::string_view(path).substr(path.rfind('/') + 1);
        if (name.ends_with(".mp3") || name.ends_with(".MP3"))
            tracks_.push_back(path);
    }

    std::vector<std::string> tracks_;
};

const TestTree& Tree()
{
    static const TestTree tree;
    return tree;
}

enum class ListFilePlace { Private, MissingFolder, NoPlace };

struct Setup {
    int volume;
    std::string mediaFolder;
    long sendsLeft;
    ListFilePlace listFile;
    int transientFailures;

    static Setup From(unsigned char first, unsigned char second)
    {
        static constexpr int kVolumes[] = {-600, 0, -50, -100, -10000, -9950, -9900, -5000};
        static constexpr long kSendsLeft[] = {-1, 0, 1, 4};
        static constexpr ListFilePlace kPlaces[] = {ListFilePlace::Private, ListFilePlace::Private,
                                                    ListFilePlace::MissingFolder, ListFilePlace::NoPlace};
        static constexpr int kFailures[] = {0, 1, 2, 5};
        const TestTree& tree = Tree();
        const std::string folders[] = {tree.media,          tree.media + "/",      "not set",
                                       tree.root + "/none", "",                    tree.media + "/sub/deeper",
                                       tree.media + "/a.mp3", tree.media + "/only-dirs"};
        return {kVolumes[first & 7], folders[(first >> 3) & 7], kSendsLeft[(first >> 6) & 3],
                kPlaces[second & 3], kFailures[(second >> 2) & 3]};
    }
};

std::vector<std::string> SplitBlocks(std::string_view rest)
{
    std::vector<std::string> blocks(1);
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != kSeparator) {
            blocks.back().push_back(rest[i]);
        } else if (i + 1 < rest.size() && rest[i + 1] == kSeparator) {
            blocks.back().push_back(kSeparator);
            ++i;
        } else {
            blocks.emplace_back();
        }
    }
    return blocks;
}

std::string WithTreeFolder(std::string block)
{
    if (block.size() > 2 && block[2] == '@')
        block.replace(2, 1, Tree().root);
    return block;
}

std::string Printable(std::string_view bytes)
{
    std::string shown;
    for (const unsigned char c : bytes.substr(0, 200)) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            shown.push_back(static_cast<char>(c));
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        }
    }
    return bytes.size() > 200 ? shown + "..." : shown;
}

// What a path names, found out independently of the dispatcher.
bool NamesRegularFile(const std::string& path)
{
    struct stat info {};
    return !path.empty() && path.find('\0') == std::string::npos && ::stat(path.c_str(), &info) == 0 &&
           S_ISREG(info.st_mode);
}

bool Exists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::string ExpectedTitle(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    return name.size() < 4 ? std::string() : std::string(name.substr(0, name.size() - 4));
}

// The clear cases of a shuffle argument; nullopt for texts that must leave
// the flag alone, and "unknown" (no check) for number-like texts beyond them.
enum class ShuffleAnswer { On, Off, Unchanged, Unchecked };

ShuffleAnswer ExpectedShuffle(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "true")
        return ShuffleAnswer::On;
    if (lower == "false")
        return ShuffleAnswer::Off;
    if (!text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return text.find_first_not_of('0') == std::string_view::npos ? ShuffleAnswer::Off : ShuffleAnswer::On;
    if (text.empty() || text.find_first_not_of("0123456789+-.eE") != std::string_view::npos)
        return ShuffleAnswer::Unchanged;
    return ShuffleAnswer::Unchecked;
}

class World {
public:
    explicit World(const Setup& setup)
        : mediaFolder_(setup.mediaFolder),
          listFile_(setup.listFile),
          dispatcher_({socket_, player_, list_, [this] { return mediaFolder_; },
                       [this] { AskForFolder(); }, [this](bool on) { shuffleOn_ = on; },
                       [this](const std::string& text) { caption_ = text; }, [this] { return ListFile(); }})
    {
        player_.volume = setup.volume;
        player_.transientFailures = setup.transientFailures;
        socket_.sendsLeft = setup.sendsLeft;
        prompt_.answers = {"", Tree().root + "/missing", Tree().media};
        list_.rows = {"a row from before"};
        std::filesystem::remove(PrivateListFile());
    }

    void Handle(const std::string& block)
    {
        const Before before = Snapshot();
        socket_.incoming = block;
        dispatcher_.Winsock_DataArrival();
        Require(socket_.incoming.empty(), "the block was not read");
        Check(block, before);
    }

private:
    struct Before {
        std::string fileName;
        int volume;
        std::size_t playerCalls;
        int transientFailures;
        std::string caption;
        bool shuffleOn;
        std::vector<std::string> rows;
        int selected;
        std::size_t logSize;
        bool socketLost;
        std::string mediaFolder;
        int prompts;
    };

    Before Snapshot() const
    {
        return {player_.fileName, player_.volume,   player_.calls.size(), player_.transientFailures,
                caption_,         shuffleOn_,       list_.rows,           list_.selected,
                socket_.log.size(), socket_.lost,   mediaFolder_,         prompt_.asked};
    }

    std::string PrivateListFile() const { return Tree().listFolder + "/tracks.temp"; }

    std::string ListFile() const
    {
        switch (listFile_) {
        case ListFilePlace::Private:
            return PrivateListFile();
        case ListFilePlace::MissingFolder:
            return Tree().root + "/no-such-folder/tracks.temp";
        case ListFilePlace::NoPlace:
            break;
        }
        throw std::runtime_error("no private folder for the track list");
    }

    void AskForFolder()
    {
        sendsAtPrompt_.push_back(socket_.log.size());
        mediaFolder_ = prompt_.Ask("Please enter the Local Directory that you wish to use:");
    }

    // Player calls that the fake fails first: each step is tried at most
    // three times, so a step fails for good when three failures are left.
    bool StepSucceeds(int& failuresLeft) const
    {
        const int failed = std::min(failuresLeft, 3);
        failuresLeft -= failed;
        return failed < 3;
    }

    // The socket's log for this request, checked against the sends the
    // request should have made had the connection held: what was sent must
    // be a prefix of them, and a failed send must end the request.
    std::vector<std::string> SentNow(const Before& before, const std::string& context, bool& cut) const
    {
        std::vector<std::string> sent;
        cut = false;
        for (std::size_t i = before.logSize; i < socket_.log.size(); ++i) {
            const BlockSocket::Op& op = socket_.log[i];
            Require(!cut, context + ": the socket was used after a send had failed");
            if (op.kind == BlockSocket::Op::SendFailed)
                cut = true;
            else if (op.kind == BlockSocket::Op::Sent)
                sent.push_back(op.bytes);
        }
        return sent;
    }

    void ExpectSends(const Before& before, const std::string& context, const std::vector<std::string>& expected)
    {
        bool cut = false;
        const std::vector<std::string> sent = SentNow(before, context, cut);
        for (std::size_t i = before.logSize; i < socket_.log.size(); ++i)
            Require(socket_.log[i].kind != BlockSocket::Op::Held, context + ": held the thread");
        if (cut) {
            Require(sent.size() < expected.size() &&
                        std::equal(sent.begin(), sent.end(), expected.begin()),
                    context + ": sent something else before the connection was lost");
        } else {
            std::string shownSent, shownExpected;
            for (const auto& s : sent)
                shownSent += "[" + Printable(s) + "]";
            for (const auto& s : expected)
                shownExpected += "[" + Printable(s) + "]";
            Require(sent == expected, context + ": sent " + shownSent + ", expected " + shownExpected);
        }
    }

    void ExpectUnchanged(const Before& before, const std::string& context, bool player, bool caption,
                         bool shuffle, bool list, bool folder)
    {
        if (player) {
            Require(player_.fileName == before.fileName && player_.volume == before.volume &&
                        player_.calls.size() == before.playerCalls,
                    context + ": the player was changed");
        }
        if (caption)
            Require(caption_ == before.caption, context + ": the caption was changed");
        if (shuffle)
            Require(shuffleOn_ == before.shuffleOn, context + ": shuffle was changed");
        if (list)
            Require(list_.rows == before.rows && list_.selected == before.selected,
                    context + ": the track list was changed");
        if (folder)
            Require(mediaFolder_ == before.mediaFolder && prompt_.asked == before.prompts,
                    context + ": the folder prompt was shown");
    }

    void Check(const std::string& block, const Before& before)
    {
        const std::string context = "block \"" + Printable(block) + "\"";
        const std::string opcode = block.substr(0, std::min<std::size_t>(block.size(), 2));
        const std::string argument = block.size() > 2 ? block.substr(2) : std::string();
        Require(player_.transientFailures >= 0, context + ": bad failure count");

        if (opcode == "00")
            return CheckTrackList(before, context);
        if (opcode == "01")
            return CheckOpen(argument, before, context);
        if (opcode == "02" || opcode == "03" || opcode == "04") {
            const char* call = opcode == "02" ? "play" : opcode == "03" ? "stop" : "pause";
            return CheckTransport(call, before, context);
        }
        if (opcode == "05" || opcode == "06")
            return CheckVolume(opcode == "05" ? kVolumeStep : -kVolumeStep, before, context);
        if (opcode == "07")
            return CheckShuffle(argument, before, context);

        ExpectSends(before, context, {});
        ExpectUnchanged(before, context, true, true, true, true, true);
    }

    void CheckTrackList(const Before& before, const std::string& context)
    {
        ExpectUnchanged(before, context, true, true, true, false, false);
        const bool folderUsable = !before.mediaFolder.empty() && Exists(before.mediaFolder);
        if (folderUsable) {
            Require(prompt_.asked == before.prompts, context + ": prompted for a folder that was usable");
        } else {
            Require(prompt_.asked > before.prompts, context + ": no prompt for an unusable folder");
            Require(!mediaFolder_.empty() && Exists(mediaFolder_), context + ": went on without a usable folder");
            for (std::size_t sends : sendsAtPrompt_)
                Require(sends == before.logSize, context + ": sent something before the folder was settled");
        }
        sendsAtPrompt_.clear();

        const bool listFileUsable = listFile_ == ListFilePlace::Private;
        if (!listFileUsable) {
            ExpectSends(before, context, {});
            Require(list_.rows == before.rows, context + ": the list changed though no list was written");
            return;
        }

        bool cut = false;
        const std::vector<std::string> sent = SentNow(before, context, cut);
        std::vector<int> holds;
        for (std::size_t i = before.logSize; i < socket_.log.size(); ++i) {
            if (socket_.log[i].kind == BlockSocket::Op::Held)
                holds.push_back(socket_.log[i].ms);
        }
        if (!sent.empty())
            Require(sent.front() == "START", context + ": the list did not start with START");
        std::string listBytes;
        bool ended = false;
        for (std::size_t i = 1; i < sent.size(); ++i) {
            Require(!ended, context + ": something was sent after END");
            if (sent[i] == "END") {
                ended = true;
                continue;
            }
            Require(sent[i].size() <= kPieceSize, context + ": a piece longer than 2048 bytes");
            listBytes += sent[i];
            // Only the last piece may be short; the next send must then be END.
            if (sent[i].size() < kPieceSize)
                Require(i + 1 == sent.size() || sent[i + 1] == "END", context + ": a short piece in the middle");
        }

        if (cut) {
            Require(!ended, context + ": the send of END failed and yet END was recorded");
            Require(holds.empty(), context + ": held the thread after a failed send");
            Require(list_.rows == before.rows && list_.selected == before.selected,
                    context + ": the list was refilled from a request that failed");
            return;
        }

        Require(ended, context + ": the list did not end with END");
        Require(holds == std::vector<int>{kPauseAfterListMs}, context + ": not one 200 ms hold after the list");
        Require(!socket_.log.empty() && socket_.log.back().kind == BlockSocket::Op::Held,
                context + ": the hold was not the last thing");
        for (std::size_t i = 1; i + 2 < sent.size(); ++i)
            Require(sent[i].size() == kPieceSize, context + ": a piece before the last one is short");

        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < listBytes.size()) {
            const std::size_t end = listBytes.find("\r\n", start);
            Require(end != std::string::npos, context + ": the list does not end with CR LF");
            if (end == std::string::npos)
                break;
            lines.push_back(listBytes.substr(start, end - start));
            start = end + 2;
        }
        Require(list_.rows == lines, context + ": the track list is not the list that was sent");
        Require(list_.selected == -1, context + ": a selection survived the refill");
        std::vector<std::string> sorted = lines;
        std::sort(sorted.begin(), sorted.end());
        Require(sorted == Tree().TracksUnder(mediaFolder_), context + ": the list does not hold the folder's tracks");
        Require(!Exists(PrivateListFile()), context + ": the track-list file was left behind");
    }

    void CheckOpen(const std::string& argument, const Before& before, const std::string& context)
    {
        ExpectUnchanged(before, context, false, false, true, true, true);
        const std::string path = argument;
        if (!NamesRegularFile(path)) {
            ExpectSends(before, context, {"CODE_12"});
            ExpectUnchanged(before, context, true, true, false, false, false);
            return;
        }
        int failuresLeft = before.transientFailures;
        if (!StepSucceeds(failuresLeft)) {
            ExpectSends(before, context, {});
            ExpectUnchanged(before, context, true, true, false, false, false);
            return;
        }
        const std::string title = ExpectedTitle(path);
        Require(player_.fileName == path, context + ": the player did not open the path as given");
        Require(player_.calls.size() == before.playerCalls + 1 && player_.calls.back() == "open",
                context + ": the player was not opened exactly once");
        Require(caption_ == "Tallowcrest Server: " + title, context + ": caption \"" + Printable(caption_) + "\"");
        ExpectSends(before, context, {"CODE_11" + title});
    }

    void CheckTransport(const char* call, const Before& before, const std::string& context)
    {
        ExpectUnchanged(before, context, false, true, true, true, true);
        Require(player_.fileName == before.fileName && player_.volume == before.volume,
                context + ": the player's file or volume changed");
        if (before.fileName.empty()) {
            ExpectSends(before, context, {"CODE_12"});
            Require(player_.calls.size() == before.playerCalls, context + ": a call without a loaded file");
            return;
        }
        ExpectSends(before, context, {});
        int failuresLeft = before.transientFailures;
        if (StepSucceeds(failuresLeft))
            Require(player_.calls.size() == before.playerCalls + 1 && player_.calls.back() == call,
                    context + ": the player was not asked to " + call);
        else
            Require(player_.calls.size() == before.playerCalls, context + ": a failed call was recorded");
    }

    void CheckVolume(int step, const Before& before, const std::string& context)
    {
        ExpectUnchanged(before, context, false, true, true, true, true);
        ExpectSends(before, context, {});
        const long wanted = static_cast<long>(before.volume) + step;
        const bool inRange = wanted >= IMediaPlayer::kSilent && wanted <= IMediaPlayer::kLoudest;
        Require(player_.volume == (inRange ? wanted : before.volume),
                context + ": volume " + std::to_string(player_.volume) + " from " + std::to_string(before.volume));
        Require(player_.fileName == before.fileName && player_.calls.size() == before.playerCalls,
                context + ": the player was changed");
    }

    void CheckShuffle(const std::string& argument, const Before& before, const std::string& context)
    {
        ExpectUnchanged(before, context, true, true, false, true, true);
        ExpectSends(before, context, {});
        switch (ExpectedShuffle(argument)) {
        case ShuffleAnswer::On:
            Require(shuffleOn_, context + ": shuffle is not on");
            break;
        case ShuffleAnswer::Off:
            Require(!shuffleOn_, context + ": shuffle is not off");
            break;
        case ShuffleAnswer::Unchanged:
            Require(shuffleOn_ == before.shuffleOn, context + ": shuffle changed");
            break;
        case ShuffleAnswer::Unchecked:
            break;
        }
    }

    BlockSocket socket_;
    CheckingPlayer player_;
    CheckingTrackList list_;
    ScriptedFolderPrompt prompt_;
    std::string mediaFolder_;
    bool shuffleOn_ = false;
    std::string caption_ = "Tallowcrest Server";
    ListFilePlace listFile_;
    std::vector<std::size_t> sendsAtPrompt_;
    RequestDispatcher dispatcher_;
};

}  // namespace

void SetViolationHandler(std::function<void(const std::string&)> handler)
{
    ViolationHandler() = std::move(handler);
}

void RunInput(std::string_view input)
{
    if (input.size() < 2)
        return;
    World world(Setup::From(static_cast<unsigned char>(input[0]), static_cast<unsigned char>(input[1])));
    for (const std::string& block : SplitBlocks(input.substr(2)))
        world.Handle(WithTreeFolder(block));
}

}  // namespace tallowcrest::fuzz
