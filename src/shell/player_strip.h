#pragma once

#include <QWidget>

class QLabel;
class QSlider;
class QToolButton;

namespace tallowcrest {

class Controls;
class NowPlaying;

// Elapsed or total play time as "m:ss"; minutes are not wrapped into hours.
QString formatPlayTime(qint64 ms);

// The strip under the player: play, pause and stop buttons, a position slider
// that seeks, and "elapsed / total" time. It acts through the controls and
// shows what plays now; both must outlive it.
class PlayerStrip : public QWidget {
    Q_OBJECT

public:
    static constexpr int kDesignedWidth = 541;
    static constexpr int kDesignedHeight = 45;

    PlayerStrip(Controls& controls, const NowPlaying& nowPlaying, QWidget* parent = nullptr);

    QSize sizeHint() const override;

    // Opens the phone remote's pairing; hidden until the remote is running.
    QToolButton* phoneButton() const { return m_phone; }

private:
    void showPosition();
    void showLength();
    void updateTimeText();
    void updateButtons();
    void showSoundWarning();

    Controls& m_controls;
    const NowPlaying& m_nowPlaying;
    QToolButton* m_play;
    QToolButton* m_pause;
    QToolButton* m_stop;
    QSlider* m_slider;
    QLabel* m_time;
    // Shown when the sound goes nowhere.
    QLabel* m_noSound;
    QToolButton* m_phone;
};

}  // namespace tallowcrest
