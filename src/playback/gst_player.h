#pragma once

#include "playback/gst_pipeline.h"
#include "playback/media_player.h"

#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tallowcrest {

struct GstPlayerOptions {
    // A GStreamer call that has not returned after this long is taken as
    // hung: its thread and pipeline are abandoned for fresh ones.
    int stuckAfterMs = 4000;
    // Runs on the pipeline thread right before each state change; tests
    // inject a hang here.
    std::function<void()> beforeStateChange = {};
    // Where the sound goes: a sink description as gst-launch-1.0 writes it
    // ("alsasink device=hw:1"), or empty for the desktop's default output.
    std::string audioOutput = {};
};

// The media player on GStreamer's playbin. Every GStreamer call runs on a
// pipeline thread of its own; the calls here only record what is wanted, and
// answer from that record.
class GstPlayer : public IMediaPlayer {
    Q_OBJECT

public:
    // 6 dB below full, so that the first request to raise the volume has
    // room to act.
    static constexpr int kStartingVolume = -600;

    explicit GstPlayer(QObject* parent = nullptr);
    explicit GstPlayer(GstPlayerOptions options, QObject* parent = nullptr);
    ~GstPlayer() override;

    void open(const std::string& path) override;
    void play() override;
    void stop() override;
    void pause() override;
    std::string fileName() const override;
    int volume() const override;
    void setVolume(int level) override;

    PlaybackState playbackState() const override;
    qint64 position() const override;
    qint64 duration() const override;
    void seek(qint64 ms) override;
    void queueNext(const std::string& path) override;
    void setReplayGain(ReplayGain mode, double preampDb) override;
    bool soundOutputMissing() const override { return m_soundOutputMissing; }

    // Why a sound output description cannot be used; nothing when it can.
    static std::optional<QString> checkAudioOutput(const std::string& description);

private:
    void startRun();
    void advance(quint64 generation, const std::string& path);
    void setState(PlaybackState state);
    void setPosition(qint64 ms);
    void setDuration(qint64 ms);
    void hand();
    void startPipeline();
    void watchPipeline();
    void onPipelineEvent(quint64 pipelineId, const PipelineEvent& event);

    GstPlayerOptions m_options;
    std::string m_fileName;
    int m_volume = kStartingVolume;
    PlaybackState m_state = PlaybackState::Stopped;
    qint64 m_position = 0;
    qint64 m_duration = 0;
    // Changes on every open, every stop, every fresh start after a stop, end
    // or failure, and when a queued file begins; ends and failures count
    // only for the current one. Numbers come from one count.
    quint64 m_generation = 0;
    quint64 m_lastGeneration = 0;
    bool m_soundOutputMissing = false;
    PipelineWish m_wish;
    // Only events from the current pipeline thread count, not from one that
    // was abandoned.
    quint64 m_pipelineId = 0;
    std::unique_ptr<PipelineThread> m_pipeline;
    // Runs only while something plays or the pipeline thread is busy.
    QTimer m_watchdog;
};

}  // namespace tallowcrest
