#include "shell/player_strip.h"

#include "server/controls.h"
#include "server/now_playing.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <limits>

namespace tallowcrest {

namespace {

QToolButton* makeButton(QWidget* parent, QStyle::StandardPixmap icon, const QString& name)
{
    auto* button = new QToolButton(parent);
    button->setIcon(parent->style()->standardIcon(icon));
    button->setAccessibleName(name);
    button->setToolTip(name);
    button->setAutoRaise(true);
    return button;
}

// A phone: a tall rounded outline with a dot for its button.
QIcon phoneIcon(const QColor& ink)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ink, 2.5));
    painter.drawRoundedRect(QRectF(9, 3, 14, 26), 3, 3);
    painter.setBrush(ink);
    painter.drawEllipse(QPointF(16, 24), 1.5, 1.5);
    return QIcon(pixmap);
}

}  // namespace

QString formatPlayTime(qint64 ms)
{
    const qint64 seconds = ms > 0 ? ms / 1000 : 0;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

PlayerStrip::PlayerStrip(Controls& controls, const NowPlaying& nowPlaying, QWidget* parent)
    : QWidget(parent)
    , m_controls(controls)
    , m_nowPlaying(nowPlaying)
    , m_play(makeButton(this, QStyle::SP_MediaPlay, QStringLiteral("Play")))
    , m_pause(makeButton(this, QStyle::SP_MediaPause, QStringLiteral("Pause")))
    , m_stop(makeButton(this, QStyle::SP_MediaStop, QStringLiteral("Stop")))
    , m_slider(new QSlider(Qt::Horizontal, this))
    , m_time(new QLabel(this))
    , m_noSound(new QLabel(QStringLiteral("No sound output: see the README"), this))
    , m_phone(new QToolButton(this))
{
    m_phone->setIcon(phoneIcon(palette().color(QPalette::ButtonText)));
    m_phone->setAccessibleName(QStringLiteral("Phone remote"));
    m_phone->setToolTip(QStringLiteral("Phone remote"));
    m_phone->setAutoRaise(true);
    m_phone->hide();
    m_slider->setAccessibleName(QStringLiteral("Position"));
    m_slider->setRange(0, 0);
    m_time->setAccessibleName(QStringLiteral("Time"));
    m_time->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_noSound->setAccessibleName(QStringLiteral("Warning"));
    m_noSound->setStyleSheet(QStringLiteral("color: #b00020"));
    m_noSound->hide();

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);
    layout->addWidget(m_play);
    layout->addWidget(m_pause);
    layout->addWidget(m_stop);
    layout->addSpacing(4);
    layout->addWidget(m_slider, 1);
    layout->addWidget(m_noSound);
    layout->addSpacing(4);
    layout->addWidget(m_time);
    layout->addWidget(m_phone);

    connect(m_play, &QToolButton::clicked, this, [this] { m_controls.play(); });
    connect(m_pause, &QToolButton::clicked, this, [this] { m_controls.pause(); });
    connect(m_stop, &QToolButton::clicked, this, [this] { m_controls.stop(); });
    // actionTriggered covers dragging, clicks on the groove and keys; the new
    // position is already in sliderPosition() when it fires.
    connect(m_slider, &QSlider::actionTriggered, this, [this] { m_controls.seek(m_slider->sliderPosition()); });

    connect(&m_nowPlaying, &NowPlaying::changed, this, [this](NowPlaying::Changes what) {
        if (what & NowPlaying::Change::Length)
            showLength();
        if (what & NowPlaying::Change::Position)
            showPosition();
        if (what & (NowPlaying::Change::Status | NowPlaying::Change::Track))
            updateButtons();
        if (what & NowPlaying::Change::Sound)
            showSoundWarning();
        if (what & NowPlaying::Change::Index)
            setToolTip(readingTagsText(m_nowPlaying.indexProgress()));
    });
    showSoundWarning();
    showLength();
    showPosition();
    updateButtons();
}

QSize PlayerStrip::sizeHint() const
{
    return {kDesignedWidth, kDesignedHeight};
}

void PlayerStrip::showPosition()
{
    if (!m_slider->isSliderDown())
        m_slider->setValue(static_cast<int>(std::clamp<qint64>(m_nowPlaying.position(), 0, m_slider->maximum())));
    updateTimeText();
}

void PlayerStrip::showLength()
{
    const qint64 length = qMax<qint64>(0, m_nowPlaying.length());
    m_slider->setRange(0, static_cast<int>(qMin<qint64>(length, std::numeric_limits<int>::max())));
    m_slider->setPageStep(qMax(1000, m_slider->maximum() / 10));
    m_slider->setEnabled(length > 0);
    updateTimeText();
}

void PlayerStrip::updateTimeText()
{
    m_time->setText(formatPlayTime(m_nowPlaying.position()) + QStringLiteral(" / ")
                    + formatPlayTime(m_nowPlaying.length()));
}

void PlayerStrip::showSoundWarning()
{
    m_noSound->setVisible(m_nowPlaying.soundOutputMissing());
}

void PlayerStrip::updateButtons()
{
    const bool loaded = !m_nowPlaying.file().empty();
    const NowPlaying::Status status = m_nowPlaying.status();
    m_play->setEnabled(loaded && status != NowPlaying::Status::Playing);
    m_pause->setEnabled(loaded && status == NowPlaying::Status::Playing);
    m_stop->setEnabled(loaded && status != NowPlaying::Status::Stopped);
}

}  // namespace tallowcrest
