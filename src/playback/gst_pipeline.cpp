#include "playback/gst_pipeline.h"

#include "playback/playback_log.h"

#include <QFile>
#include <QStringList>

#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace tallowcrest {

namespace {

constexpr auto kPositionInterval = std::chrono::milliseconds(200);
constexpr auto kExitPatience = std::chrono::seconds(2);
// playbin's GstPlayFlags: audio only.
constexpr guint kPlayFlagAudio = 0x2;

void ensureGstreamer()
{
    static std::once_flag ready;
    std::call_once(ready, [] { gst_init(nullptr, nullptr); });
}

qint64 nowMs()
{
    using namespace std::chrono;
    return std::max<qint64>(1, duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// A bus message the pipeline thread acts on, tagged with the run it came from.
struct BusNote {
    enum class Kind { End, Error, Duration, AsyncDone, StreamStart };

    Kind kind;
    quint64 run;
    QString text;
    // For errors: the element that failed and GStreamer's debug text.
    QString element = {};
    QString debug = {};
};

// A file that would not play, as the log tells it: the message, and which
// element gave up and why as far as GStreamer said. The path and the debug
// text are quoted, so that no name can break the line.
struct FailedFile {
    const std::string& path;
    const BusNote& note;
};

QDebug operator<<(QDebug out, const FailedFile& failed)
{
    const QDebugStateSaver saver(out);
    out.nospace() << QFile::decodeName(failed.path.c_str()) << ": ";
    out.noquote() << failed.note.text;
    if (!failed.note.element.isEmpty())
        out << " (element " << failed.note.element << ')';
    if (!failed.note.debug.isEmpty())
        out.quote() << " debug: " << failed.note.debug;
    return out;
}

}  // namespace

struct PipelineShared {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable exited;
    PipelineWish wish;
    quint64 wishSerial = 0;
    std::deque<BusNote> notes;
    // Set when the player lets go of the thread: from then on it reports
    // nothing and finishes as soon as it can.
    bool released = false;
    bool finished = false;

    std::atomic<quint64> run{0};
    std::atomic<quint64> carriedOut{0};
    std::atomic<qint64> busySinceMs{0};

    std::function<void(const PipelineEvent&)> report;
    std::function<void()> beforeStateChange;
    std::string output;

    // Gapless play: the generation whose file the decoders read now, and the
    // queued file set in its place, until it begins at the sink. A wait for
    // the next file ends when cutSerial moves (the pipeline is going down).
    quint64 decoding = 0;
    std::optional<std::pair<quint64, std::string>> switching;
    std::condition_variable wishChanged;
    quint64 cutSerial = 0;
    std::atomic<bool> stripGainTags{true};

    void deliver(const PipelineEvent& event)
    {
        const std::lock_guard lock(mutex);
        if (!released)
            report(event);
    }

    void note(BusNote note)
    {
        {
            const std::lock_guard lock(mutex);
            notes.push_back(std::move(note));
        }
        wake.notify_one();
    }
};

namespace {

class BusyScope {
public:
    explicit BusyScope(PipelineShared& shared)
        : m_shared(shared)
    {
        m_shared.busySinceMs.store(nowMs());
    }
    ~BusyScope() { m_shared.busySinceMs.store(0); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    PipelineShared& m_shared;
};

// Runs on whichever thread posts. Every message is taken off the bus here:
// nobody pops the bus, so one left on it would stay for good.
GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer data)
{
    auto* shared = static_cast<PipelineShared*>(data);
    std::optional<BusNote> note;
    const quint64 run = shared->run.load();
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS:
        note = BusNote{BusNote::Kind::End, run, {}};
        break;
    case GST_MESSAGE_ERROR: {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        note = BusNote{BusNote::Kind::Error, run, QString::fromUtf8(error ? error->message : "playback error"),
                       QString::fromUtf8(GST_MESSAGE_SRC_NAME(message)), QString::fromUtf8(debug)};
        g_clear_error(&error);
        g_free(debug);
        break;
    }
    case GST_MESSAGE_DURATION_CHANGED:
        note = BusNote{BusNote::Kind::Duration, run, {}};
        break;
    case GST_MESSAGE_ASYNC_DONE:  // the whole pipeline has prerolled
        note = BusNote{BusNote::Kind::AsyncDone, run, {}};
        break;
    case GST_MESSAGE_STREAM_START:  // a file's first data reached the sink
        note = BusNote{BusNote::Kind::StreamStart, run, {}};
        break;
    default:
        break;
    }
    gst_message_unref(message);
    if (note)
        shared->note(std::move(*note));
    return GST_BUS_DROP;
}

// How long the decoders wait, at the end of a file, for the player to name
// the next one: it does so as soon as it hears that the file before began.
constexpr auto kNextFilePatience = std::chrono::seconds(3);

// Runs on a streaming thread when the decoders have read the whole file:
// setting the next URI now makes playbin go on with it without a gap.
void onAboutToFinish(GstElement* playbin, gpointer data)
{
    auto* shared = static_cast<PipelineShared*>(data);
    std::unique_lock lock(shared->mutex);
    const quint64 finishing = shared->decoding, cut = shared->cutSerial;
    // The next file is named once the one finishing has begun at the sink:
    // a short file can be read to its end before that.
    shared->wishChanged.wait_for(lock, kNextFilePatience, [&] {
        return shared->released || shared->cutSerial != cut || shared->wish.generation == finishing;
    });
    const PipelineWish& wish = shared->wish;
    if (shared->released || shared->cutSerial != cut || wish.generation != finishing || wish.nextPath.empty()
        || wish.action != PipelineWish::Action::Play)
        return;
    gchar* uri = gst_filename_to_uri(wish.nextPath.c_str(), nullptr);
    if (!uri)
        return;
    g_object_set(playbin, "uri", uri, nullptr);
    g_free(uri);
    shared->decoding = wish.nextGeneration;
    shared->switching.emplace(wish.nextGeneration, wish.nextPath);
}

// With ReplayGain off, the gain tags never reach the element that acts on
// them: the file plays as it was mastered.
GstPadProbeReturn stripGainTags(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    auto* shared = static_cast<PipelineShared*>(data);
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_TAG || !shared->stripGainTags.load())
        return GST_PAD_PROBE_OK;
    GstTagList* tags = nullptr;
    gst_event_parse_tag(event, &tags);
    GstTagList* kept = gst_tag_list_copy(tags);
    for (const char* tag : {GST_TAG_TRACK_GAIN, GST_TAG_TRACK_PEAK, GST_TAG_ALBUM_GAIN, GST_TAG_ALBUM_PEAK,
                            GST_TAG_REFERENCE_LEVEL})
        gst_tag_list_remove_tag(kept, tag);
    gst_event_unref(event);
    GST_PAD_PROBE_INFO_DATA(info) = gst_event_new_tag(kept);
    return GST_PAD_PROBE_OK;
}

// The sound goes nowhere when the default output could open no device and
// fell back to a sink that plays nothing.
bool endsOnFakeSink(GstElement* output)
{
    bool fake = false;
    GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(output));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
        GstElementFactory* factory = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
        fake |= factory && g_strcmp0(GST_OBJECT_NAME(factory), "fakesink") == 0;
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(elements);
    return fake;
}

// The sink the sound goes to: the description, or the desktop's default.
GstElement* makeSink(const std::string& description)
{
    if (description.empty())
        return gst_element_factory_make("autoaudiosink", "tallowcrest-sink");
    GError* error = nullptr;
    GstElement* sink = gst_parse_bin_from_description(description.c_str(), TRUE, &error);
    if (sink)
        gst_object_set_name(GST_OBJECT(sink), "tallowcrest-sink");
    else
        qCWarning(playbackLog) << "the sound output" << description.c_str() << "cannot be used:"
                               << (error ? error->message : "no such sink");
    g_clear_error(&error);
    return sink;
}

class Worker {
public:
    explicit Worker(std::shared_ptr<PipelineShared> shared)
        : m_shared(std::move(shared))
    {
    }

    void run()
    {
        ensureGstreamer();
        createPlaybin();
        loop();
        destroyPlaybin();
        {
            const std::lock_guard lock(m_shared->mutex);
            m_shared->finished = true;
        }
        m_shared->exited.notify_all();
    }

private:
    using Action = PipelineWish::Action;

    // playbin ! [rgvolume ! rglimiter ! volume ! sink]: the gain from the
    // tags, a limiter against clipping, then the user's level.
    void createPlaybin()
    {
        const std::pair<GstElement*, const char*> elements[] = {
            {gst_element_factory_make("playbin", "tallowcrest-playbin"), "playbin"},
            {gst_element_factory_make("rgvolume", "tallowcrest-replaygain"), "rgvolume"},
            {gst_element_factory_make("rglimiter", "tallowcrest-limiter"), "rglimiter"},
            {gst_element_factory_make("volume", "tallowcrest-volume"), "volume"},
            {makeSink(m_shared->output), "the sound output"},
        };
        QStringList missing;
        for (const auto& [element, name] : elements)
            if (!element)
                missing << QString::fromLatin1(name);
        if (!missing.isEmpty()) {
            qCWarning(playbackLog).noquote() << "GStreamer could not create" << missing.join(QStringLiteral(", "))
                                             << "- nothing can be played";
            for (const auto& [element, name] : elements)
                if (element)
                    gst_object_unref(gst_object_ref_sink(element));
            return;
        }
        const auto [playbin, replayGain, limiter, volume, sink] =
            std::tuple(elements[0].first, elements[1].first, elements[2].first, elements[3].first, elements[4].first);
        m_playbin = GST_ELEMENT(gst_object_ref_sink(playbin));
        // Our own volume in front of the sink rather than playbin's
        // soft-volume flag: playbin 1.22 leaks the volume element it makes
        // for that, and its pads, every time it goes through NULL.
        m_volume = GST_ELEMENT(gst_object_ref(volume));
        m_replayGain = GST_ELEMENT(gst_object_ref(replayGain));
        m_limiter = GST_ELEMENT(gst_object_ref(limiter));
        m_output = gst_bin_new("tallowcrest-output");
        gst_object_ref(m_output);
        gst_bin_add_many(GST_BIN(m_output), replayGain, limiter, volume, sink, nullptr);
        if (!gst_element_link_many(replayGain, limiter, volume, sink, nullptr))
            qCWarning(playbackLog) << "GStreamer could not link the gain and volume elements to the sound output";
        GstPad* first = gst_element_get_static_pad(replayGain, "sink");
        gst_pad_add_probe(first, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, stripGainTags, m_shared.get(), nullptr);
        gst_element_add_pad(m_output, gst_ghost_pad_new("sink", first));
        gst_object_unref(first);
        g_object_set(m_playbin, "flags", kPlayFlagAudio, "audio-sink", m_output, nullptr);
        g_signal_connect(m_playbin, "about-to-finish", G_CALLBACK(onAboutToFinish), m_shared.get());
        GstBus* bus = gst_element_get_bus(m_playbin);
        gst_bus_set_sync_handler(bus, onBusMessage, m_shared.get(), nullptr);
        gst_object_unref(bus);
    }

    void destroyPlaybin()
    {
        if (!m_playbin)
            return;
        changeState(GST_STATE_NULL);
        GstBus* bus = gst_element_get_bus(m_playbin);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        for (GstElement* element : {m_volume, m_replayGain, m_limiter, m_output, m_playbin})
            gst_object_unref(element);
        m_playbin = m_volume = m_replayGain = m_limiter = m_output = nullptr;
    }

    void loop()
    {
        for (;;) {
            PipelineWish wish;
            quint64 serial = 0;
            std::deque<BusNote> notes;
            {
                std::unique_lock lock(m_shared->mutex);
                const auto hasWork = [&] {
                    return m_shared->released || m_shared->wishSerial != m_wishSerial || !m_shared->notes.empty();
                };
                // Asleep without a time-out unless something plays: an idle
                // server must not wake up.
                if (ticking())
                    m_shared->wake.wait_for(lock, kPositionInterval, hasWork);
                else
                    m_shared->wake.wait(lock, hasWork);
                if (m_shared->released)
                    return;
                wish = m_shared->wish;
                serial = m_wishSerial = m_shared->wishSerial;
                notes.swap(m_shared->notes);
            }
            carryOut(wish);
            for (const BusNote& note : notes)
                handle(note);
            seekIfDue();
            m_shared->carriedOut.store(serial);
            if (ticking())
                publishPosition();
        }
    }

    bool ticking() const { return m_playbin && !m_done && m_action == Action::Play; }

    void carryOut(const PipelineWish& wish)
    {
        if (m_playbin && wish.gain != m_gain) {
            m_gain = wish.gain;
            g_object_set(m_volume, "volume", m_gain, nullptr);
        }
        if (m_playbin && (wish.replayGain != m_replayGainOn || wish.albumGain != m_albumGain
                          || wish.preampDb != m_preampDb)) {
            m_replayGainOn = wish.replayGain, m_albumGain = wish.albumGain, m_preampDb = wish.preampDb;
            m_shared->stripGainTags.store(!m_replayGainOn);
            g_object_set(m_replayGain, "album-mode", m_albumGain, "pre-amp", m_replayGainOn ? m_preampDb : 0.0,
                         nullptr);
            g_object_set(m_limiter, "enabled", m_replayGainOn, nullptr);
        }
        if (wish.generation != m_generation) {
            m_generation = wish.generation;
            m_path = wish.path;
            m_action = wish.action;
            m_retried = false;
            m_pendingSeekMs.reset();
            start();
        } else if (!m_done && wish.action != m_action) {
            m_action = wish.action;
            changeState(m_action == Action::Pause ? GST_STATE_PAUSED : GST_STATE_PLAYING);
        }
        if (wish.seekSerial != m_seekSerial) {
            m_seekSerial = wish.seekSerial;
            if (wish.seekGeneration == m_generation && !m_done)
                m_pendingSeekMs = wish.seekMs;
        }
    }

    // Switching through READY can deadlock playbin; through NULL it does not,
    // and once NULL has returned no streaming thread is left to post for the
    // run before.
    void toNull()
    {
        {
            // A streaming thread waiting for the next file must not hold
            // the pipeline up on its way down.
            const std::lock_guard lock(m_shared->mutex);
            ++m_shared->cutSerial;
            m_shared->switching.reset();
        }
        m_shared->wishChanged.notify_all();
        if (m_playbin)
            changeState(GST_STATE_NULL);
        m_run = m_shared->run.fetch_add(1) + 1;
        const std::lock_guard lock(m_shared->mutex);
        m_shared->decoding = m_generation;
        m_shared->switching.reset();
    }

    void start()
    {
        toNull();
        m_prerolled = false;
        m_seekInFlight = false;
        m_lastPosition = m_lastDuration = -1;
        m_done = m_action == Action::Stop;
        if (m_done)
            return;
        if (!m_playbin) {
            fail({BusNote::Kind::Error, m_run, QStringLiteral("GStreamer has no playbin element")});
            return;
        }
        GError* error = nullptr;
        gchar* uri = gst_filename_to_uri(m_path.c_str(), &error);
        if (!uri) {
            const QString message = QString::fromUtf8(error ? error->message : "no URI for the file");
            g_clear_error(&error);
            fail({BusNote::Kind::Error, m_run, message});
            return;
        }
        g_object_set(m_playbin, "uri", uri, nullptr);
        g_free(uri);
        if (changeState(m_action == Action::Play ? GST_STATE_PLAYING : GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
            m_shared->note({BusNote::Kind::Error, m_run, QStringLiteral("the file could not be played")});
    }

    void fail(const BusNote& failure)
    {
        qCWarning(playbackLog).nospace() << "could not play " << FailedFile{m_path, failure};
        m_done = true;
        m_shared->deliver({PipelineEvent::Kind::Failed, m_generation, 0, failure.text});
        toNull();
    }

    // The queued file has begun at the sink, or failed before it could: it is
    // the current one from now on.
    void advance()
    {
        std::optional<std::pair<quint64, std::string>> next;
        {
            const std::lock_guard lock(m_shared->mutex);
            next.swap(m_shared->switching);
        }
        if (!next)
            return;
        m_shared->deliver({PipelineEvent::Kind::Advanced, m_generation, 0, {}, next->first, next->second});
        m_generation = next->first;
        m_path = next->second;
        m_retried = false;
        m_pendingSeekMs.reset();
        m_lastPosition = m_lastDuration = -1;
        publishDuration();
    }

    void handle(const BusNote& note)
    {
        if (note.run != m_run || m_done)
            return;
        // An end or a failure while a queued file is on its way belongs to
        // that file.
        if (note.kind != BusNote::Kind::Duration && note.kind != BusNote::Kind::AsyncDone)
            advance();
        switch (note.kind) {
        case BusNote::Kind::StreamStart:
            break;
        case BusNote::Kind::End:
            m_done = true;
            m_shared->deliver({PipelineEvent::Kind::Ended, m_generation, 0, {}});
            // Lets go of the file and the sound device.
            toNull();
            break;
        case BusNote::Kind::Error:
            // A good file has now and then failed to be recognised; a second
            // try from NULL has always played it.
            if (!m_retried) {
                qCDebug(playbackLog).nospace() << "trying once more to play " << FailedFile{m_path, note};
                m_retried = true;
                start();
            } else {
                fail(note);
            }
            break;
        case BusNote::Kind::AsyncDone:
            m_prerolled = true;
            publishDuration();
            if (m_shared->output.empty() && !m_toldNoSound && endsOnFakeSink(m_output)) {
                m_toldNoSound = true;
                m_shared->deliver({PipelineEvent::Kind::NoSoundOutput, m_generation, 0, {}});
            }
            if (std::exchange(m_seekInFlight, false)) {
                if (const std::optional<qint64> ms = query(gst_element_query_position)) {
                    m_lastPosition = *ms;
                    m_shared->deliver({PipelineEvent::Kind::Seeked, m_generation, *ms, {}});
                }
            }
            break;
        case BusNote::Kind::Duration:
            publishDuration();
            break;
        }
    }

    void seekIfDue()
    {
        if (!m_pendingSeekMs || !m_prerolled || m_seekInFlight || m_done)
            return;
        const qint64 ms = *std::exchange(m_pendingSeekMs, std::nullopt);
        const BusyScope busy(*m_shared);
        m_seekInFlight = gst_element_seek_simple(m_playbin, GST_FORMAT_TIME,
                                                 GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT),
                                                 ms * GST_MSECOND);
    }

    std::optional<qint64> query(gboolean (*queryFn)(GstElement*, GstFormat, gint64*))
    {
        gint64 value = 0;
        const BusyScope busy(*m_shared);
        if (!queryFn(m_playbin, GST_FORMAT_TIME, &value) || value < 0)
            return std::nullopt;
        return value / GST_MSECOND;
    }

    void publishPosition()
    {
        const std::optional<qint64> ms = query(gst_element_query_position);
        if (ms && *ms != m_lastPosition) {
            m_lastPosition = *ms;
            m_shared->deliver({PipelineEvent::Kind::Position, m_generation, *ms, {}});
        }
    }

    void publishDuration()
    {
        const std::optional<qint64> ms = query(gst_element_query_duration);
        if (ms && *ms != m_lastDuration) {
            m_lastDuration = *ms;
            m_shared->deliver({PipelineEvent::Kind::Duration, m_generation, *ms, {}});
        }
    }

    GstStateChangeReturn changeState(GstState state)
    {
        const BusyScope busy(*m_shared);
        if (m_shared->beforeStateChange)
            m_shared->beforeStateChange();
        return gst_element_set_state(m_playbin, state);
    }

    std::shared_ptr<PipelineShared> m_shared;
    GstElement* m_playbin = nullptr;
    GstElement* m_volume = nullptr;
    GstElement* m_replayGain = nullptr;
    GstElement* m_limiter = nullptr;
    GstElement* m_output = nullptr;
    bool m_replayGainOn = true;
    bool m_albumGain = true;
    double m_preampDb = -1000.0;
    bool m_toldNoSound = false;
    quint64 m_wishSerial = 0;
    quint64 m_run = 0;
    quint64 m_generation = 0;
    std::string m_path;
    Action m_action = Action::Stop;
    double m_gain = -1.0;
    // The current run has ended, failed or was a stop: nothing more to do.
    bool m_done = true;
    bool m_retried = false;
    bool m_prerolled = false;
    bool m_seekInFlight = false;
    quint64 m_seekSerial = 0;
    std::optional<qint64> m_pendingSeekMs;
    qint64 m_lastPosition = -1;
    qint64 m_lastDuration = -1;
};

}  // namespace

PipelineThread::PipelineThread(std::function<void(const PipelineEvent&)> report,
                               std::function<void()> beforeStateChange, const std::string& output)
    : m_shared(std::make_shared<PipelineShared>())
{
    m_shared->report = std::move(report);
    m_shared->beforeStateChange = std::move(beforeStateChange);
    m_shared->output = output;
    // The thread keeps the shared state alive for as long as it runs, also
    // after it has been abandoned.
    m_thread = std::thread([shared = m_shared] { Worker(shared).run(); });
}

PipelineThread::~PipelineThread()
{
    if (!m_thread.joinable())
        return;
    std::unique_lock lock(m_shared->mutex);
    m_shared->released = true;
    m_shared->wake.notify_one();
    if (m_shared->exited.wait_for(lock, kExitPatience, [&] { return m_shared->finished; })) {
        lock.unlock();
        m_thread.join();
    } else {
        m_thread.detach();
    }
}

void PipelineThread::want(const PipelineWish& wish)
{
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->wish = wish;
        ++m_shared->wishSerial;
    }
    m_shared->wake.notify_one();
    m_shared->wishChanged.notify_all();
}

bool PipelineThread::idle() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->carriedOut.load() == m_shared->wishSerial && m_shared->busySinceMs.load() == 0;
}

qint64 PipelineThread::stuckForMs() const
{
    const qint64 since = m_shared->busySinceMs.load();
    return since == 0 ? 0 : nowMs() - since;
}

void PipelineThread::abandon()
{
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->released = true;
    }
    m_shared->wake.notify_one();
    if (m_thread.joinable())
        m_thread.detach();
}

// Parses the description as the pipeline will, creating its elements but
// opening no device.
std::optional<QString> checkSinkDescription(const std::string& description)
{
    ensureGstreamer();
    GError* error = nullptr;
    GstElement* sink = gst_parse_bin_from_description(description.c_str(), TRUE, &error);
    std::optional<QString> why;
    if (!sink || error)
        why = QString::fromUtf8(error ? error->message : "it names no sink");
    g_clear_error(&error);
    if (sink && !why) {
        // "audioconvert" parses too, but would leave the sound nowhere to go.
        GstIterator* sinks = gst_bin_iterate_sinks(GST_BIN(sink));
        GValue first = G_VALUE_INIT;
        if (gst_iterator_next(sinks, &first) == GST_ITERATOR_OK)
            g_value_unset(&first);
        else
            why = QStringLiteral("it names no sink");
        gst_iterator_free(sinks);
    }
    if (sink)
        gst_object_unref(gst_object_ref_sink(sink));
    return why;
}

}  // namespace tallowcrest
