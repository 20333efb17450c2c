#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUrlQuery>

#include <string_view>
#include <utility>
#include <vector>

namespace tallowcrest {

class ServerController;

struct WebReply {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    std::vector<std::pair<QByteArray, QByteArray>> headers = {};
};

// A reply whose body is {"error": reason}.
WebReply errorReply(int status, const QByteArray& reason);

// The JSON API under /api/ that the page and scripts use, over the server's
// controller and free of sockets. Every change goes through the controller
// or the player, by the same rules as the window's own controls.
class WebApi {
public:
    static constexpr qsizetype kMaxBodyBytes = 64 * 1024;
    static constexpr int kDefaultLimit = 100;
    static constexpr int kMaxLimit = 500;

    explicit WebApi(ServerController& controller);

    // path is the part after "/api/". Bad input gets 400 with a one-line
    // reason; nothing thrown gets out.
    WebReply handle(std::string_view method, const QString& path, const QUrlQuery& query, const QByteArray& body);

    QJsonObject state();

private:
    WebReply tracks(const QUrlQuery& query);
    void play(const QJsonObject& body);
    void control(const QJsonObject& body);
    void volume(const QJsonObject& body);

    ServerController& m_controller;
};

// Volume 0..1 as the player's linear gain, and back to a level in
// hundredths of a decibel.
double volumeForLevel(int level);
int levelForVolume(double volume);

// The title of a row as the caption shows it, without copying the row.
std::string_view titleOfPath(std::string_view path);

}  // namespace tallowcrest
