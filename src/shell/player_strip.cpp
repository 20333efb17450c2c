#include "shell/player_strip.h"

#include "playback/qt_media_player.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <limits>

namespace tallowcrest {

namespace {

QToolButton* MakeButton(QWidget* parent, QStyle::StandardPixmap icon, const QString& name)
{
    auto* button = new QToolButton(parent);
    button->setIcon(parent->style()->standardIcon(icon));
    button->setAccessibleName(name);
    button->setToolTip(name);
    button->setAutoRaise(true);
    return button;
}

}  // namespace

QString FormatPlayTime(qint64 ms)
{
    const qint64 seconds = ms > 0 ? ms / 1000 : 0;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

PlayerStrip::PlayerStrip(QtMediaPlayer& player, QWidget* parent)
    : QWidget(parent)
    , m_player(player)
    , m_play(MakeButton(this, QStyle::SP_MediaPlay, QStringLiteral("Play")))
    , m_pause(MakeButton(this, QStyle::SP_MediaPause, QStringLiteral("Pause")))
    , m_stop(MakeButton(this, QStyle::SP_MediaStop, QStringLiteral("Stop")))
    , m_slider(new QSlider(Qt::Horizontal, this))
    , m_time(new QLabel(this))
{
    m_slider->setAccessibleName(QStringLiteral("Position"));
    m_slider->setRange(0, 0);
    m_time->setAccessibleName(QStringLiteral("Time"));
    m_time->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);
    layout->addWidget(m_play);
    layout->addWidget(m_pause);
    layout->addWidget(m_stop);
    layout->addSpacing(4);
    layout->addWidget(m_slider, 1);
    layout->addSpacing(4);
    layout->addWidget(m_time);

    connect(m_play, &QToolButton::clicked, this, [this] { m_player.Play(); });
    connect(m_pause, &QToolButton::clicked, this, [this] { m_player.Pause(); });
    connect(m_stop, &QToolButton::clicked, this, [this] { m_player.Stop(); });
    // actionTriggered covers dragging, clicks on the groove and keys; the new
    // position is already in sliderPosition() when it fires.
    connect(m_slider, &QSlider::actionTriggered, this,
            [this] { m_player.setPosition(m_slider->sliderPosition()); });

    connect(&m_player, &QtMediaPlayer::positionChanged, this, &PlayerStrip::showPosition);
    connect(&m_player, &QtMediaPlayer::durationChanged, this, &PlayerStrip::showDuration);
    connect(&m_player, &QtMediaPlayer::playbackStateChanged, this, &PlayerStrip::updateButtons);
    connect(&m_player, &QtMediaPlayer::opened, this, &PlayerStrip::updateButtons);

    showDuration(m_player.duration());
    showPosition(m_player.position());
    updateButtons();
}

QSize PlayerStrip::sizeHint() const
{
    return {kDesignedWidth, kDesignedHeight};
}

void PlayerStrip::showPosition(qint64 ms)
{
    m_position = ms;
    if (!m_slider->isSliderDown())
        m_slider->setValue(static_cast<int>(std::clamp<qint64>(ms, 0, m_slider->maximum())));
    updateTimeText();
}

void PlayerStrip::showDuration(qint64 ms)
{
    m_duration = qMax<qint64>(0, ms);
    m_slider->setRange(0, static_cast<int>(qMin<qint64>(m_duration, std::numeric_limits<int>::max())));
    m_slider->setPageStep(qMax(1000, m_slider->maximum() / 10));
    m_slider->setEnabled(m_duration > 0);
    updateTimeText();
}

void PlayerStrip::updateTimeText()
{
    m_time->setText(FormatPlayTime(m_position) + QStringLiteral(" / ") + FormatPlayTime(m_duration));
}

void PlayerStrip::updateButtons()
{
    const bool loaded = !m_player.FileName().empty();
    const QMediaPlayer::PlaybackState state = m_player.playbackState();
    m_play->setEnabled(loaded && state != QMediaPlayer::PlayingState);
    m_pause->setEnabled(loaded && state == QMediaPlayer::PlayingState);
    m_stop->setEnabled(loaded && state != QMediaPlayer::StoppedState);
}

}  // namespace tallowcrest
