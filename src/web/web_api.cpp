#include "web/web_api.h"

#include "library/track_scan.h"
#include "server/controls.h"
#include "server/now_playing.h"
#include "server/title_search.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace tallowcrest {

namespace {

// Thrown by the request handlers, answered by handle().
struct Refusal {
    int status;
    QByteArray reason;
};

[[noreturn]] void refuse(QByteArray reason, int status = 400)
{
    throw Refusal{status, std::move(reason)};
}

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject parseBody(const QByteArray& body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        refuse("the body is not JSON: " + error.errorString().toUtf8());
    if (!document.isObject())
        refuse("the body must be a JSON object");
    return document.object();
}

double numberField(const QJsonObject& body, const char* name)
{
    const QJsonValue value = body.value(QLatin1String(name));
    if (!value.isDouble())
        refuse(QByteArray("\"") + name + "\" must be a number");
    return value.toDouble();
}

qint64 wholeField(const QJsonObject& body, const char* name, double lowest, double highest)
{
    const double value = numberField(body, name);
    if (value != std::floor(value) || value < lowest || value > highest)
        refuse(QByteArray("\"") + name + "\" must be a whole number from " + QByteArray::number(lowest, 'f', 0)
               + " to " + QByteArray::number(highest, 'f', 0));
    return static_cast<qint64>(value);
}

int queryNumber(const QUrlQuery& query, const char* name, int fallback, int highest)
{
    if (!query.hasQueryItem(QLatin1String(name)))
        return fallback;
    bool ok = false;
    const int value = query.queryItemValue(QLatin1String(name)).toInt(&ok);
    if (!ok || value < 0 || value > highest)
        refuse(QByteArray(name) + " must be a whole number from 0 to " + QByteArray::number(highest));
    return value;
}

// A track's tags into `into`; numbers a tag does not give are 0.
void addDetails(QJsonObject& into, const TrackDetails& details)
{
    const TrackTags& tags = details.tags;
    into.insert("title", tags.title);
    into.insert("artist", tags.artist);
    into.insert("album", tags.album);
    into.insert("albumArtist", tags.albumArtist);
    into.insert("trackNumber", tags.trackNumber);
    into.insert("year", tags.year);
    into.insert("genre", tags.genre);
    into.insert("length", qint64((tags.lengthMs + 500) / 1000));
    into.insert("art", details.art.isEmpty() ? QJsonValue() : QJsonValue(QLatin1String("/api/art/") + details.art));
}

QJsonObject rowJson(const NowPlaying& nowPlaying, int index)
{
    const std::string_view path = nowPlaying.rowPath(index);
    const std::size_t slash = path.rfind('/');
    const std::string_view folder = slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
    const QByteArray bytes(path.data(), qsizetype(path.size()));
    QJsonObject row{
        {"index", index},
        {"folder", decodedName(folder)},
        {"uri", QString::fromLatin1("file://" + bytes.toPercentEncoding("/"))},
    };
    addDetails(row, nowPlaying.details(index));
    return row;
}

const char* statusName(NowPlaying::Status status)
{
    switch (status) {
    case NowPlaying::Status::Playing: return "playing";
    case NowPlaying::Status::Paused: return "paused";
    case NowPlaying::Status::Stopped: break;
    }
    return "stopped";
}

// A command that did not go through: 409 when the server's state stands in
// its way, 400 when the request asked for what cannot be.
void requireDone(Outcome outcome, const char* reason = nullptr)
{
    if (!reason)
        reason = describe(outcome);
    switch (outcome) {
    case Outcome::Done: return;
    case Outcome::NothingLoaded:
    case Outcome::StaleList:
    case Outcome::CannotPlay: refuse(reason, 409);
    case Outcome::NoSuchRow:
    case Outcome::OutOfRange: refuse(reason);
    }
}

}  // namespace

WebApi::WebApi(Controls& controls, const NowPlaying& nowPlaying) : m_controls(controls), m_nowPlaying(nowPlaying) {}

WebReply WebApi::handle(std::string_view method, const QString& path, const QUrlQuery& query,
                        const QByteArray& body)
{
    if (path == QLatin1String("replaygain") && method == "GET")
        return {200, "application/json", json(replayGain())};
    const bool reads = path == QLatin1String("state") || path == QLatin1String("tracks");
    const bool writes = path == QLatin1String("play") || path == QLatin1String("control")
        || path == QLatin1String("volume") || path == QLatin1String("shuffle") || path == QLatin1String("seek")
        || path == QLatin1String("replaygain");
    if (!reads && !writes)
        return errorReply(404, "no such API: /api/" + path.toUtf8());
    if (method != (reads ? "GET" : "POST")) {
        WebReply reply = errorReply(405, reads ? "use GET" : "use POST");
        reply.headers.emplace_back("Allow", reads ? "GET" : "POST");
        return reply;
    }
    if (body.size() > kMaxBodyBytes)
        return errorReply(413, "the body is larger than 64 KiB");
    try {
        if (path == QLatin1String("tracks"))
            return tracks(query);
        if (writes) {
            const QJsonObject request = parseBody(body);
            if (path == QLatin1String("play"))
                play(request);
            else if (path == QLatin1String("control"))
                control(request);
            else if (path == QLatin1String("volume"))
                volume(request);
            else if (path == QLatin1String("seek"))
                requireDone(m_controls.seek(wholeField(request, "position", 0, 1e12)));
            else if (path == QLatin1String("replaygain"))
                return {200, "application/json", json(setReplayGain(request))};
            else if (const QJsonValue on = request.value(QLatin1String("shuffle")); on.isBool())
                m_controls.setShuffle(on.toBool());
            else
                refuse("\"shuffle\" must be true or false");
        }
        return {200, "application/json", json(state())};
    } catch (const Refusal& refusal) {
        return errorReply(refusal.status, refusal.reason);
    } catch (const std::exception& failure) {
        return errorReply(500, failure.what());
    }
}

QJsonObject WebApi::state() const
{
    const IndexProgress progress = m_nowPlaying.indexProgress();
    QJsonObject state{
        {"state", QLatin1String(statusName(m_nowPlaying.status()))},
        {"position", m_nowPlaying.position()},
        {"duration", m_nowPlaying.length()},
        {"volume", m_nowPlaying.volume()},
        {"shuffle", m_nowPlaying.shuffle()},
        {"client", m_nowPlaying.clientConnected()},
        {"index", m_nowPlaying.row()},
        {"version", qint64(m_nowPlaying.listVersion())},
        {"replaygain", QString::fromLatin1(nameOf(m_nowPlaying.replayGain()).data())},
        {"soundOutput", !m_nowPlaying.soundOutputMissing()},
        {"indexing", QJsonObject{{"done", progress.done}, {"total", progress.total}, {"running", progress.running}}},
    };
    addDetails(state, m_nowPlaying.playingDetails());
    return state;
}

WebReply WebApi::art(std::string_view method, const QString& key, const QByteArray& ifNoneMatch) const
{
    if (method != "GET") {
        WebReply reply = errorReply(405, "use GET");
        reply.headers.emplace_back("Allow", "GET");
        return reply;
    }
    const QString file = m_nowPlaying.artFile(key);
    QFile thumbnail(file);
    if (file.isEmpty() || !thumbnail.open(QIODevice::ReadOnly))
        return errorReply(404, "no such picture");
    const QByteArray tag = '"' + key.toLatin1() + '"';
    WebReply reply{200, "image/jpeg", {}, {{"ETag", tag}, {"Cache-Control", "private, max-age=31536000, immutable"}}};
    const QList<QByteArray> held = ifNoneMatch.split(',');
    if (std::any_of(held.begin(), held.end(), [&tag](const QByteArray& one) {
            const QByteArray trimmed = one.trimmed();
            return trimmed == tag || trimmed == "W/" + tag || trimmed == "*";
        }))
        reply.status = 304;
    else
        reply.body = thumbnail.readAll();
    return reply;
}

QJsonObject WebApi::replayGain() const
{
    return {{"mode", QString::fromLatin1(nameOf(m_nowPlaying.replayGain()).data())},
            {"preamp", m_nowPlaying.replayGainPreamp()}};
}

QJsonObject WebApi::setReplayGain(const QJsonObject& body)
{
    const std::optional<ReplayGainMode> mode =
        parseReplayGainMode(body.value(QLatin1String("mode")).toString().toStdString());
    if (!body.value(QLatin1String("mode")).isString() || !mode)
        refuse("\"mode\" must be \"off\", \"track\", \"album\" or \"auto\"");
    m_controls.setReplayGain(*mode);
    return replayGain();
}

WebReply WebApi::tracks(const QUrlQuery& query)
{
    const int offset = queryNumber(query, "offset", 0, std::numeric_limits<int>::max());
    const int limit = queryNumber(query, "limit", kDefaultLimit, kMaxLimit);
    const QString text = query.queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded);
    QJsonArray rows;
    int total = 0;
    if (text.isEmpty()) {
        total = m_nowPlaying.rowCount();
        for (int index = offset; index < total && index - offset < limit; ++index)
            rows.append(rowJson(m_nowPlaying, index));
    } else {
        const SearchPage found = m_nowPlaying.search(text, offset, limit);
        total = found.total;
        for (const int index : found.rows)
            rows.append(rowJson(m_nowPlaying, index));
    }
    return {200, "application/json",
            json({{"total", total}, {"version", qint64(m_nowPlaying.listVersion())}, {"offset", offset}, {"rows", rows}})};
}

void WebApi::play(const QJsonObject& body)
{
    const qint64 index = wholeField(body, "index", 0, 1e9);
    const qint64 version = wholeField(body, "version", 0, 9e15);
    requireDone(m_controls.playRow(int(index), quint64(version)));
}

void WebApi::control(const QJsonObject& body)
{
    const QString action = body.value(QLatin1String("action")).toString();
    if (action == QLatin1String("play"))
        requireDone(m_controls.play());
    else if (action == QLatin1String("pause"))
        requireDone(m_controls.pause());
    else if (action == QLatin1String("stop"))
        requireDone(m_controls.stop());
    else if (action == QLatin1String("next"))
        requireDone(m_controls.next());
    else if (action == QLatin1String("previous"))
        requireDone(m_controls.previous());
    else
        refuse("unknown action \"" + action.toUtf8() + "\": play, pause, stop, next or previous");
}

void WebApi::volume(const QJsonObject& body)
{
    requireDone(m_controls.setVolume(numberField(body, "volume")), "\"volume\" must be from 0 to 1");
}

}  // namespace tallowcrest
