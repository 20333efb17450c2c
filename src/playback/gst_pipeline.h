#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
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
};

// What the pipeline thread reports, for the generation it was playing.
struct PipelineEvent {
    enum class Kind { Ended, Failed, Position, Duration, Seeked };

    Kind kind = Kind::Position;
    quint64 generation = 0;
    qint64 ms = 0;
    QString message;
};

struct PipelineShared;

// A thread that owns one GStreamer playbin and carries out the wishes handed
// to it. Nothing here waits for GStreamer: a thread stuck inside it can be
// abandoned, and is then left to clean up after itself, should it ever
// return, without reporting anything more.
class PipelineThread {
public:
    // report runs on the pipeline thread (it must only post elsewhere);
    // beforeStateChange, when set, runs there right before each state change.
    PipelineThread(std::function<void(const PipelineEvent&)> report, std::function<void()> beforeStateChange);
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
