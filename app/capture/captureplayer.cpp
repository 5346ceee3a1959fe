#include "captureplayer.h"

#include "capturesession.h"
#include "monotonicclock.h"

#include <algorithm>

namespace {

// Between two timer events while playing in real time: a datagram is late by at most this.
constexpr int PlayIntervalMs = 5;
// How many datagrams go by between two looks at the slice's clock.
constexpr int ClockEvery = 64;
// A seek moves the capture's timeline this far beyond "now", so that time never runs back for
// the engines and views.
constexpr qint64 SeekGapNs = 1'000'000;
// Records of other traffic passed over in one read: some 5 ms of libpcap's reading, so that a
// capture made mostly of other traffic keeps the window answering.
constexpr quint64 PassOverLimit = 20'000;

} // namespace

CapturePlayer::CapturePlayer(CaptureSession *session, QObject *parent)
    : QObject(parent), m_session(session)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_reader.setPassOverLimit(PassOverLimit);
    connect(&m_timer, &QTimer::timeout, this, &CapturePlayer::feedDue);
}

// The window's session may be gone before its children: only the clock goes back to live.
CapturePlayer::~CapturePlayer()
{
    if (m_state != State::Closed)
        MonotonicClock::setPlayback(MonotonicClock::Playback::Live, 0);
}

bool CapturePlayer::open(const QString &path, CaptureIndex index)
{
    close();
    if (!m_reader.open(path)) {
        m_error = m_reader.errorString();
        return false;
    }
    m_error.clear();
    m_index = std::move(index);
    m_fed = 0;
    m_hasPending = false;
    m_catchUpUntilNs = -1;
    m_lastFedNs = m_index.firstTimeNs();
    m_session->setPlayingCapture(true);
    MonotonicClock::setCaptureOrigin(m_lastFedNs, MonotonicClock::steadyNs());
    m_state = State::Paused;
    runClock(MonotonicClock::fromCaptureNs(m_lastFedNs));
    play();
    return true;
}

void CapturePlayer::close()
{
    if (m_state == State::Closed)
        return;
    m_timer.stop();
    m_reader.close();
    m_hasPending = false;
    m_index = {};
    m_session->setPlayingCapture(false);
    setState(State::Closed);
}

void CapturePlayer::play()
{
    if (m_state == State::Closed || m_state == State::Playing)
        return;
    if (m_state == State::AtEnd) {
        m_state = State::Playing;
        seek(0);
    }
    m_state = State::Playing;
    runClock(MonotonicClock::nowNs());
    restartTimer();
    emit stateChanged();
}

void CapturePlayer::pause()
{
    if (m_state != State::Playing)
        return;
    m_state = State::Paused;
    runClock(MonotonicClock::nowNs());
    restartTimer();
    emit stateChanged();
}

void CapturePlayer::step()
{
    if (m_state == State::Closed || m_catchUpUntilNs >= 0)
        return;
    pause();
    // One step is one datagram, however much other traffic lies before it.
    bool found = havePending();
    while (!found && m_reader.passedOverLimit())
        found = havePending();
    if (!found) {
        reachEnd();
        return;
    }
    feedPending();
    // A datagram due a moment ago may still have been waiting: time does not run back for it.
    MonotonicClock::setPlayback(MonotonicClock::Playback::Frozen,
                                std::max(MonotonicClock::nowNs(),
                                         MonotonicClock::fromCaptureNs(m_lastFedNs)));
    setState(State::Paused);
}

void CapturePlayer::seek(qint64 offsetNs)
{
    if (m_state == State::Closed || m_index.entries().empty())
        return;
    const qint64 target = m_index.firstTimeNs() + std::clamp<qint64>(offsetNs, 0, durationNs());
    const CaptureIndex::Entry entry = *m_index.entryAtOrBefore(target - SeekLeadNs);
    if (!m_reader.seek(entry.position)) {
        emit readFailed(m_reader.errorString());
        return;
    }
    m_hasPending = false;
    m_session->forgetReceived();
    MonotonicClock::setCaptureOrigin(entry.timeNs, MonotonicClock::nowNs() + SeekGapNs);
    m_lastFedNs = entry.timeNs;
    m_catchUpUntilNs = target;
    if (m_state == State::AtEnd)
        m_state = State::Paused;
    MonotonicClock::setPlayback(MonotonicClock::Playback::Frozen,
                                MonotonicClock::fromCaptureNs(entry.timeNs));
    m_timer.start(0);
    emit stateChanged();
}

void CapturePlayer::setSpeed(int quarters)
{
    m_speed = std::max(0, quarters);
    if (m_state != State::Playing)
        return;
    runClock(MonotonicClock::nowNs());
    restartTimer();
}

qint64 CapturePlayer::captureTimeNs() const
{
    if (m_catchUpUntilNs >= 0)
        return m_catchUpUntilNs;
    return std::clamp(MonotonicClock::toCaptureNs(MonotonicClock::nowNs()),
                      m_index.firstTimeNs(), std::max(m_index.firstTimeNs(), m_index.lastTimeNs()));
}

qint64 CapturePlayer::positionNs() const
{
    return m_state == State::Closed ? 0 : captureTimeNs() - m_index.firstTimeNs();
}

void CapturePlayer::runClock(qint64 fromNs)
{
    const bool running = m_state == State::Playing && m_speed != AsFastAsPossible
                         && m_catchUpUntilNs < 0;
    MonotonicClock::setPlayback(running ? MonotonicClock::Playback::Running
                                        : MonotonicClock::Playback::Frozen,
                                fromNs, m_speed);
}

bool CapturePlayer::havePending()
{
    if (!m_hasPending)
        m_hasPending = m_reader.readNext(&m_pending);
    return m_hasPending;
}

void CapturePlayer::feedPending()
{
    // Merged captures may step back a little; time must not run back for the engines.
    m_pending.timeNs = std::max(m_pending.timeNs, m_lastFedNs);
    m_lastFedNs = m_pending.timeNs;
    m_session->feedCapturedDatagram(m_pending);
    m_hasPending = false;
    ++m_fed;
}

void CapturePlayer::feedDue()
{
    m_sliceClock.start();
    const bool catchingUp = m_catchUpUntilNs >= 0;
    const bool fast = catchingUp || m_speed == AsFastAsPossible;
    const qint64 dueNs = fast ? m_catchUpUntilNs : MonotonicClock::toCaptureNs(MonotonicClock::nowNs());
    for (int count = 0; count < SliceDatagrams; ++count) {
        if (count % ClockEvery == ClockEvery - 1 && m_sliceClock.nsecsElapsed() > SliceNs)
            break;
        if (!havePending()) {
            if (!m_reader.passedOverLimit())
                reachEnd(); // else the next timer event reads on
            return;
        }
        if ((catchingUp || !fast) && m_pending.timeNs > dueNs) {
            if (catchingUp) {
                m_catchUpUntilNs = -1;
                runClock(MonotonicClock::fromCaptureNs(dueNs));
                restartTimer();
                emit stateChanged();
            }
            return;
        }
        feedPending();
        if (fast)
            MonotonicClock::setPlayback(MonotonicClock::Playback::Frozen,
                                        MonotonicClock::fromCaptureNs(m_lastFedNs));
    }
}

void CapturePlayer::reachEnd()
{
    m_timer.stop();
    m_catchUpUntilNs = -1;
    MonotonicClock::setPlayback(MonotonicClock::Playback::Frozen,
                                MonotonicClock::fromCaptureNs(m_lastFedNs));
    if (!m_reader.errorString().isEmpty())
        emit readFailed(m_reader.errorString());
    setState(State::AtEnd);
}

void CapturePlayer::restartTimer()
{
    if (m_catchUpUntilNs >= 0 || (m_state == State::Playing && m_speed == AsFastAsPossible))
        m_timer.start(0);
    else if (m_state == State::Playing)
        m_timer.start(PlayIntervalMs);
    else
        m_timer.stop();
}

void CapturePlayer::setState(State state)
{
    m_state = state;
    emit stateChanged();
}
