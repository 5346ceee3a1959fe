#include "playbackbar.h"

#include "captureplayer.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>

#include <algorithm>
#include <limits>

namespace {

constexpr qint64 NsPerMs = 1'000'000;
constexpr int TimelineWidth = 320;

} // namespace

PlaybackBar::PlaybackBar(CapturePlayer *player, QWidget *parent)
    : QToolBar(tr("Playback"), parent), m_player(player)
{
    setObjectName(QStringLiteral("playbackToolBar"));
    m_playAction = addAction(style()->standardIcon(QStyle::SP_MediaPlay), tr("Play"));
    m_playAction->setObjectName(QStringLiteral("playCaptureAction"));
    m_playAction->setStatusTip(tr("Play or pause the capture"));
    connect(m_playAction, &QAction::triggered, this, &PlaybackBar::togglePlay);
    m_stepAction = addAction(style()->standardIcon(QStyle::SP_MediaSkipForward), tr("Step"));
    m_stepAction->setObjectName(QStringLiteral("stepCaptureAction"));
    m_stepAction->setStatusTip(tr("Play the capture's next packet, then pause"));
    connect(m_stepAction, &QAction::triggered, player, &CapturePlayer::step);

    m_timeline = new QSlider(Qt::Horizontal, this);
    m_timeline->setObjectName(QStringLiteral("captureTimeline"));
    m_timeline->setMinimumWidth(TimelineWidth);
    m_timeline->setStatusTip(tr("Where the capture is; drag to go elsewhere"));
    addWidget(m_timeline);
    connect(m_timeline, &QSlider::sliderMoved, this, &PlaybackBar::showTimeAt);
    connect(m_timeline, &QSlider::sliderReleased, this, &PlaybackBar::seekToHandle);
    // A click beside the handle or a key moves it without a drag.
    connect(m_timeline, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove)
            QMetaObject::invokeMethod(this, &PlaybackBar::seekToHandle, Qt::QueuedConnection);
    });

    m_speedBox = new QComboBox(this);
    m_speedBox->setObjectName(QStringLiteral("captureSpeedBox"));
    m_speedBox->setStatusTip(tr("How fast the capture plays"));
    const QList<QPair<QString, int>> speeds = {
            {tr("×0.25"), 1}, {tr("×0.5"), 2}, {tr("×1"), 4}, {tr("×2"), 8},
            {tr("×4"), 16},   {tr("×8"), 32},  {tr("As fast as possible"), CapturePlayer::AsFastAsPossible}};
    for (const auto &speed : speeds)
        m_speedBox->addItem(speed.first, speed.second);
    m_speedBox->setCurrentIndex(m_speedBox->findData(CapturePlayer::RealTime));
    m_speedBox->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    addWidget(m_speedBox);
    connect(m_speedBox, &QComboBox::activated, this, &PlaybackBar::chooseSpeed);

    m_timeLabel = new QLabel(this);
    m_timeLabel->setObjectName(QStringLiteral("captureTimeLabel"));
    m_timeLabel->setTextFormat(Qt::PlainText);
    m_timeLabel->setMargin(4);
    addWidget(m_timeLabel);
}

QString PlaybackBar::timeOfDay(qint64 epochNs)
{
    return QDateTime::fromMSecsSinceEpoch(epochNs / NsPerMs).toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString PlaybackBar::offset(qint64 ns)
{
    const qint64 ms = std::max<qint64>(0, ns / NsPerMs);
    const qint64 seconds = ms / 1000;
    const QString rest = QStringLiteral("%1.%2")
                                 .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                                 .arg(ms % 1000, 3, 10, QLatin1Char('0'));
    if (seconds < 3600)
        return QStringLiteral("%1:%2").arg(seconds / 60).arg(rest);
    return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
            .arg(rest);
}

void PlaybackBar::refresh()
{
    const bool playing = m_player->state() == CapturePlayer::State::Playing;
    m_playAction->setText(playing ? tr("Pause") : tr("Play"));
    m_playAction->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause
                                                        : QStyle::SP_MediaPlay));
    const qint64 durationMs = std::min<qint64>(m_player->durationNs() / NsPerMs,
                                               std::numeric_limits<int>::max());
    if (m_timeline->maximum() != int(durationMs)) {
        m_timeline->setRange(0, int(durationMs));
        m_timeline->setPageStep(std::max(1, int(durationMs / 20)));
    }
    if (m_timeline->isSliderDown())
        return;
    {
        const QSignalBlocker blocker(m_timeline);
        m_timeline->setValue(int(std::min<qint64>(m_player->positionNs() / NsPerMs, durationMs)));
    }
    m_timeLabel->setText(tr("%1   %2 / %3")
                                 .arg(timeOfDay(m_player->captureTimeNs()),
                                      offset(m_player->positionNs()),
                                      offset(m_player->durationNs())));
}

void PlaybackBar::togglePlay()
{
    if (m_player->state() == CapturePlayer::State::Playing)
        m_player->pause();
    else
        m_player->play();
    refresh();
}

void PlaybackBar::seekToHandle()
{
    m_player->seek(qint64(m_timeline->value()) * NsPerMs);
    refresh();
}

void PlaybackBar::showTimeAt(int ms)
{
    const qint64 ns = qint64(ms) * NsPerMs;
    m_timeLabel->setText(tr("%1   %2 / %3")
                                 .arg(timeOfDay(m_player->index().firstTimeNs() + ns), offset(ns),
                                      offset(m_player->durationNs())));
}

void PlaybackBar::chooseSpeed(int index)
{
    m_player->setSpeed(m_speedBox->itemData(index).toInt());
}
