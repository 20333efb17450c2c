#include "server/now_playing.h"

#include "library/track_list.h"
#include "library/track_scan.h"
#include "playback/media_player.h"
#include "playback/volume_scale.h"
#include "remote/socket.h"
#include "server/caption.h"
#include "server/title_search.h"

#include <QLocale>

namespace tallowcrest {

NowPlaying::NowPlaying(const IMediaPlayer& player, const ITrackList& list, const ISocket& socket,
                       const LibraryIndex* library, QObject* parent)
    : QObject(parent), m_player(player), m_list(list), m_socket(socket), m_library(library)
{
    if (m_library)
        connect(m_library, &LibraryIndex::indexed, this, &NowPlaying::noteIndexed);
    const auto forward = [this](Changes what) { return [this, what] { emit changed(what); }; };
    connect(&player, &IMediaPlayer::stateChanged, this, forward(Change::Status | Change::Track));
    connect(&player, &IMediaPlayer::positionChanged, this, forward(Change::Position));
    connect(&player, &IMediaPlayer::durationChanged, this, forward(Change::Length));
    connect(&player, &IMediaPlayer::seeked, this, forward(Change::Seeked | Change::Position));
    connect(&player, &IMediaPlayer::volumeChanged, this, forward(Change::Volume));
    connect(&player, &IMediaPlayer::soundOutputLost, this, forward(Change::Sound));
}

NowPlaying::Status NowPlaying::status() const
{
    switch (m_player.playbackState()) {
    case IMediaPlayer::PlaybackState::Playing: return Status::Playing;
    case IMediaPlayer::PlaybackState::Paused: return Status::Paused;
    case IMediaPlayer::PlaybackState::Stopped: break;
    }
    return Status::Stopped;
}

int NowPlaying::row() const { return m_list.selectedIndex(); }

std::string NowPlaying::file() const { return m_player.fileName(); }

QString NowPlaying::caption() const
{
    const QString designed = QString::fromUtf8(kDesignedCaption.data(), qsizetype(kDesignedCaption.size()));
    return m_title.isNull() ? designed : designed + QStringLiteral(": ") + m_title;
}

qint64 NowPlaying::position() const { return m_player.position(); }

qint64 NowPlaying::length() const { return m_player.duration(); }

int NowPlaying::volumeLevel() const { return m_player.volume(); }

double NowPlaying::volume() const { return gainForLevel(m_player.volume()); }

bool NowPlaying::clientConnected() const
{
    const SocketState state = m_socket.State();
    return state != SocketState::Closed && state != SocketState::Listening;
}

std::uint64_t NowPlaying::listVersion() const { return m_list.version(); }

int NowPlaying::rowCount() const { return m_list.count(); }

std::string_view NowPlaying::rowPath(int row) const { return m_list.row(row); }

void NowPlaying::showTitleOf(std::string_view path)
{
    // The title's bytes as Qt shows file names; never null, so that a name
    // too short for a title still makes the caption "Tallowcrest Server: ".
    const std::string_view title = TrackTitle(path);
    m_title = decodedName(title);
    if (m_title.isNull())
        m_title = QStringLiteral("");
    emit changed(Change::Title);
}

void NowPlaying::setShuffle(bool on)
{
    if (on == m_shuffle)
        return;
    m_shuffle = on;
    emit changed(Change::Shuffle);
}

bool NowPlaying::soundOutputMissing() const { return m_player.soundOutputMissing(); }

void NowPlaying::setReplayGain(ReplayGainMode mode, double preampDb)
{
    if (mode == m_replayGain && preampDb == m_replayGainPreamp)
        return;
    m_replayGain = mode;
    m_replayGainPreamp = preampDb;
    emit changed(Change::ReplayGain);
}

void NowPlaying::noteClientChanged() { emit changed(Change::Client); }

void NowPlaying::noteTrackBegan() { emit changed(Change::Track | Change::Length | Change::Position); }

void NowPlaying::noteListChanged(const std::string& folder)
{
    m_listFolder = withTrailingSeparator(folder);
    emit changed(Change::List);
}

TrackDetails NowPlaying::details(int row) const
{
    return row >= 0 && row < m_list.count() ? detailsOf(m_list.row(row)) : TrackDetails{};
}

TrackDetails NowPlaying::playingDetails() const
{
    const std::string file = m_player.fileName();
    return file.empty() ? TrackDetails{} : detailsOf(file);
}

TrackDetails NowPlaying::detailsOf(std::string_view path) const
{
    TrackDetails found = m_library ? m_library->details(path).value_or(TrackDetails{}) : TrackDetails{};
    TrackTags& tags = found.tags;
    if (tags.isBare()) {
        const std::size_t slash = path.rfind('/');
        std::string_view folder = slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
        if (!m_listFolder.empty() && folder.starts_with(m_listFolder))
            folder.remove_prefix(m_listFolder.size());
        tags.album = decodedName(folder.substr(0, folder.empty() ? 0 : folder.size() - 1));
    }
    if (tags.title.isEmpty())
        tags.title = decodedName(TrackTitle(path));
    return found;
}

SearchPage NowPlaying::search(const QString& query, int offset, int limit) const
{
    if (m_library) {
        if (SearchPage page = m_library->search(query, offset, limit); page.total >= 0)
            return page;
    }
    SearchPage page;
    const TitleMatcher matcher(query);
    for (int row = 0; row < m_list.count(); ++row) {
        if (!matcher.matches(TrackTitle(m_list.row(row))))
            continue;
        if (page.total >= offset && page.total - offset < limit)
            page.rows.push_back(row);
        ++page.total;
    }
    return page;
}

QString NowPlaying::artFile(const QString& key) const { return m_library ? m_library->artFile(key) : QString(); }

IndexProgress NowPlaying::indexProgress() const { return m_library ? m_library->progress() : IndexProgress{}; }

void NowPlaying::noteIndexed()
{
    Changes what;
    const TrackDetails playing = playingDetails();
    if (playing.tags != m_announcedDetails.tags || playing.art != m_announcedDetails.art)
        what |= Change::Tags;
    const IndexProgress progress = indexProgress();
    const IndexProgress& before = m_announcedProgress;
    if (progress.done != before.done || progress.total != before.total || progress.running != before.running)
        what |= Change::Index;
    m_announcedDetails = playing;
    m_announcedProgress = progress;
    if (what)
        emit changed(what);
}

QString readingTagsText(const IndexProgress& progress)
{
    if (!progress.running)
        return {};
    const QLocale grouped(QLocale::English, QLocale::UnitedStates);
    return QStringLiteral("Reading tags: %1 of %2").arg(grouped.toString(progress.done), grouped.toString(progress.total));
}

}  // namespace tallowcrest
