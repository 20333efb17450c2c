// A pipeline thread that hangs inside GStreamer, as the player meets it with
// its own patience: how long until the file plays on a fresh pipeline, the
// main thread's longest gap between two 10 ms ticks meanwhile, and how long
// the player takes to go while its pipeline hangs.
//
// usage: player_hang_bench FILE.mp3 [HANG_MS]   (default 20000)
#include "playback/gst_player.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return std::fprintf(stderr, "usage: player_hang_bench FILE.mp3 [HANG_MS]\n"), 2;
    const int hangMs = argc > 2 ? std::atoi(argv[2]) : 20000;
    auto hangs = std::make_shared<std::atomic<int>>(1);  // the first state change, then the one on the way out
    std::optional<tallowcrest::GstPlayer> player(
        std::in_place, tallowcrest::GstPlayerOptions{tallowcrest::GstPlayerOptions{}.stuckAfterMs, [hangs, hangMs] {
                                                         if (hangs->exchange(0) > 0)
                                                             QThread::msleep(hangMs);
                                                     }});
    QElapsedTimer sinceTick, sinceOpen;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    sinceTick.start();
    ticker.start(10);
    qint64 playingAfter = -1;
    QObject::connect(&*player, &tallowcrest::GstPlayer::positionChanged, [&](qint64 ms) {
        if (ms > 0 && playingAfter < 0)
            playingAfter = sinceOpen.elapsed(), app.quit();
    });
    sinceOpen.start();
    player->open(argv[1]);
    QTimer::singleShot(hangMs, &app, &QCoreApplication::quit);
    app.exec();
    hangs->store(1);
    QElapsedTimer destroying;
    destroying.start();
    player.reset();
    std::printf("playing on a fresh pipeline after %lld ms (patience %d ms)\n", playingAfter,
                tallowcrest::GstPlayerOptions{}.stuckAfterMs);
    std::printf("longest main-thread gap meanwhile: %lld ms\n", longestGap);
    std::printf("the player went in %lld ms with its pipeline hung for %d ms\n", destroying.elapsed(), hangMs);
    std::fflush(stdout);
    std::_Exit(playingAfter < 0);  // the hung threads are left behind, as the server leaves them
}
