#pragma once

#include "web/web_reply.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUrlQuery>

#include <string_view>

namespace tallowcrest {

class Controls;
class NowPlaying;

// The JSON API under /api/ that the page and scripts use, free of sockets.
// Every change goes through the controls, by the same rules as the window's
// own; every answer reads what plays now.
class WebApi {
public:
    static constexpr qsizetype kMaxBodyBytes = 64 * 1024;
    static constexpr int kDefaultLimit = 100;
    static constexpr int kMaxLimit = 500;

    WebApi(Controls& controls, const NowPlaying& nowPlaying);

    // path is the part after "/api/". Bad input gets 400 with a one-line
    // reason; nothing thrown gets out.
    WebReply handle(std::string_view method, const QString& path, const QUrlQuery& query, const QByteArray& body);

    QJsonObject state() const;
    QJsonObject replayGain() const;
    // GET /api/art/<key>: a cover thumbnail, by a key the index gave and nothing else.
    WebReply art(std::string_view method, const QString& key, const QByteArray& ifNoneMatch) const;

private:
    WebReply tracks(const QUrlQuery& query);
    void play(const QJsonObject& body);
    void control(const QJsonObject& body);
    void volume(const QJsonObject& body);
    QJsonObject setReplayGain(const QJsonObject& body);

    Controls& m_controls;
    const NowPlaying& m_nowPlaying;
};

}  // namespace tallowcrest
