#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace tallowcrest {

// What the player wants of its pipeline. Only the latest wish counts: one
// that is replaced before the pipeline thread got to it is never carried out.
struct PipelineWish {
    enum class Action { Stop, Play, Pause };

    std::string path;
    // A new generation plays path afresh from its start (or stops).
    quint64 generation = 0;
    Action action = Action::Stop;
    double gain = 1.0;
    // A new seek serial asks for seekMs, if still in seekGeneration.
    quint64 seekSerial = 0;
    quint64 seekGeneration = 0;
    qint64 seekMs = 0;
    // The file to go on with, as nextGeneration, once the current one is
    // about to finish; empty for none.
    std::string nextPath;
    quint64 nextGeneration = 0;
    // Applied from the next track on.
    bool replayGain = false;
    bool albumGain = false;
    double preampDb = 0.0;
};

// What the pipeline thread reports, for the generation it was playing.
struct PipelineEvent {
    enum class Kind { Ended, Failed, Position, Duration, Seeked, Advanced, NoSoundOutput };

    Kind kind = Kind::Position;
    quint64 generation = 0;
    qint64 ms = 0;
    QString message;
    // For Advanced: the queued file, and the generation it plays as.
    quint64 advancedTo = 0;
    std::string path = {};
};

struct PipelineShared;

// Why a sink description cannot be used, or nothing when it can.
std::optional<QString> checkSinkDescription(const std::string& description);

// A thread that owns one GStreamer playbin and carries out the wishes handed
// to it. Nothing here waits for GStreamer: a thread stuck inside it can be
// abandoned, and is then left to clean up after itself, should it ever
// return, without reporting anything more.
class PipelineThread {
public:
    // report runs on the pipeline thread (it must only post elsewhere);
    // beforeStateChange, when set, runs there right before each state change.
    // output: a sink description as gst-launch-1.0 writes it, or empty for
    // the desktop's default output.
    PipelineThread(std::function<void(const PipelineEvent&)> report, std::function<void()> beforeStateChange,
                   const std::string& output);
    // Asks the thread to finish and waits a little for it; a thread that does
    // not come back in time is abandoned.
    ~PipelineThread();
    PipelineThread(const PipelineThread&) = delete;
    PipelineThread& operator=(const PipelineThread&) = delete;

    void want(const PipelineWish& wish);
    // True once the thread has carried out the last wish and is inside no
    // GStreamer call.
    bool idle() const;
    // How long the thread has been inside its current GStreamer call; 0 when
    // it is in none.
    qint64 stuckForMs() const;
    void abandon();

private:
    std::shared_ptr<PipelineShared> m_shared;
    std::thread m_thread;
};

}  // namespace tallowcrest
