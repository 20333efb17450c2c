#pragma once

#include <QWidget>

class QLabel;
class QSlider;
class QToolButton;

namespace tallowcrest {

class IMediaPlayer;

// Elapsed or total play time as "m:ss"; minutes are not wrapped into hours.
QString formatPlayTime(qint64 ms);

// The strip under the player: play, pause and stop buttons, a position slider
// that seeks, and "elapsed / total" time. It drives the player it is given,
// which must outlive it.
class PlayerStrip : public QWidget {
    Q_OBJECT

public:
    static constexpr int kDesignedWidth = 541;
    static constexpr int kDesignedHeight = 45;

    explicit PlayerStrip(IMediaPlayer& player, QWidget* parent = nullptr);

    QSize sizeHint() const override;

    QToolButton* playButton() const { return m_play; }
    QToolButton* pauseButton() const { return m_pause; }
    QToolButton* stopButton() const { return m_stop; }
    QSlider* positionSlider() const { return m_slider; }
    QLabel* timeLabel() const { return m_time; }
    // Opens the phone remote's pairing; hidden until the remote is running.
    QToolButton* phoneButton() const { return m_phone; }

private:
    void showPosition(qint64 ms);
    void showDuration(qint64 ms);
    void updateTimeText();
    void updateButtons();

    IMediaPlayer& m_player;
    QToolButton* m_play;
    QToolButton* m_pause;
    QToolButton* m_stop;
    QSlider* m_slider;
    QLabel* m_time;
    QToolButton* m_phone;
    qint64 m_position = 0;
    qint64 m_duration = 0;
};

}  // namespace tallowcrest
