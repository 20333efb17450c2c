#pragma once

#include <QDBusContext>
#include <QObject>

#include <memory>

#include "server/window_hands.h"

namespace tallowcrest {

class Controls;
class NowPlaying;

// The server on the session bus as a desktop media player, so that the media
// keys, the sound menu and playerctl reach it. It is one more hand at the
// machine: it acts through the controls by the window's own rules. Qt
// hands the context of a call to an adaptor on to the object it adapts, this.
class MprisService : public QObject, public QDBusContext {
    Q_OBJECT

public:
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char* kBusName = "org.mpris.MediaPlayer2.tallowcrest";

    // Takes the bus name (or a per-process one when that is taken) and serves
    // until destroyed. Without a usable session bus it says so in one line on
    // standard error and returns nullptr; the server runs on without it.
    static std::unique_ptr<MprisService> start(Controls& controls, const NowPlaying& nowPlaying, WindowHands hands);

    ~MprisService() override;

private:
    MprisService(Controls& controls, const NowPlaying& nowPlaying, WindowHands hands);

    QString m_busName;
};

}  // namespace tallowcrest
