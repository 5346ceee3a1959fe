#include "artnet.h"
#include "artnetdiagnostics.h"
#include "artnetpackets.h"
#include "interfacelist.h"
#include "monotonicclock.h"
#include "nodetable.h"
#include "timecodesource.h"
#include "trafficcensus.h"

#include <QColor>
#include <QMutex>
#include <QMutexLocker>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <new>

// What the engine keeps of what it receives besides the universe on show: time code, the sync
// state and the sinks fed by every whole ArtDmx, and the census and node list.

using namespace ArtNetPackets;
using ArtNetDiagnostics::writeOnce;
using ArtNetDiagnostics::writeOut;
using InterfaceList::plainAddress;

// ---------------------------------------------------------------------------------------------
// Time code, sync and data sinks

void artnet::setRecordBuffer(uchar *buffer, uint size, quint16 universeStride)
{
    if (buffer) {
        if (!startReceiving())
            return;
        std::unique_ptr<uchar[]> staging(new (std::nothrow) uchar[size]());
        if (!staging)
            return;
        QMutexLocker locker(m_recordMutex.get());
        m_recordBuffer = buffer;
        m_recordBufferSize = size;
        m_universeStride = universeStride;
        m_stagingBuffer = std::move(staging);
    } else {
        QMutexLocker locker(m_recordMutex.get());
        m_recordBuffer = nullptr;
        m_recordBufferSize = 0;
        m_universeStride = Dmx::MaxChannels;
        m_stagingBuffer.reset();
    }
}

void artnet::recordBuffer(uchar **buffer, uint *size) const
{
    if (buffer)
        *buffer = m_recordBuffer;
    if (size)
        *size = m_recordBufferSize;
}

bool artnet::copyRecordBuffer(uchar *out, uint size) const
{
    if (!out)
        return false;
    QMutexLocker locker(m_recordMutex.get());
    if (!m_recordBuffer)
        return false;
    std::memcpy(out, m_recordBuffer, std::min(size, m_recordBufferSize));
    return true;
}

void artnet::setColorTarget(QColor *colors, uint count, quint16 channelsPerUniverse)
{
    if (colors) {
        if (!startReceiving())
            return;
        m_colors = colors;
        m_colorCount = count;
        m_colorChannels = channelsPerUniverse;
    } else {
        m_colors = nullptr;
        m_colorCount = 0;
        m_colorChannels = Dmx::MaxChannels;
    }
}

// Each family's sync packets announce themselves once per process.
void artnet::syncStep(const QByteArray &datagram, bool &announce, const char *announcement)
{
    writeOnce(announce, announcement);
    m_syncMode = qint16(qint8(quint8(datagram.at(Sync::Value))));
    applySync();
}

void artnet::applySync()
{
    m_syncClock->restart();
    QMutexLocker locker(m_recordMutex.get());
    if (m_stagingBuffer && m_recordBufferSize != 0 && m_recordBuffer)
        std::memcpy(m_recordBuffer, m_stagingBuffer.get(), m_recordBufferSize);
}

namespace {

// Frames since midnight; drop-frame time code (type 2) counted as 30 frames a second, its
// skipped frame numbers allowed for in isTimeCodeJump().
int timeCodeFrame(const TimeCodeSource &timeCode)
{
    static constexpr int Rates[4] = {24, 25, 30, 30};
    const int rate = Rates[timeCode.type & 3];
    return ((timeCode.hours * 60 + timeCode.minutes) * 60 + timeCode.seconds) * rate
           + timeCode.frames;
}

bool isTimeCodeJump(const TimeCodeSource &before, const TimeCodeSource &after)
{
    if (before.type != after.type)
        return false;
    const int ahead = timeCodeFrame(after) - timeCodeFrame(before);
    if (ahead == 0 || ahead == 1)
        return false;
    const bool droppedFrames = after.type == 2 && after.seconds == 0 && after.frames == 2;
    return !(droppedFrames && ahead == 3);
}

} // namespace

// One comparison per packet with the sender's value before: a jump counts while the time code
// runs (a sender that was silent for a second starts afresh).
void artnet::updateTimeCodeSources(const QByteArray &datagram, const QHostAddress &sender,
                                   qint64 arrivalNs)
{
    const auto *bytes = reinterpret_cast<const uchar *>(datagram.constData());
    const qint64 nowMs = censusMs(arrivalNs);
    if (!m_timeCodeSources)
        m_timeCodeSources = std::make_unique<QList<TimeCodeSource>>();
    bool matched = false;
    for (TimeCodeSource &source : *m_timeCodeSources) {
        if (source.sender != sender)
            continue;
        const TimeCodeSource before = source;
        readArtTimeCode(bytes, datagram.size(), &source);
        if (nowMs - before.lastSeenMs < 1000 && isTimeCodeJump(before, source)) {
            ++source.jumps;
            source.jumpedFrom = {before.frames, before.seconds, before.minutes, before.hours};
            source.jumpedTo = {source.frames, source.seconds, source.minutes, source.hours};
        }
        source.lastSeenMs = std::max(source.lastSeenMs, nowMs);
        matched = true;
    }
    if (matched)
        return;
    TimeCodeSource source;
    readArtTimeCode(bytes, datagram.size(), &source);
    source.sender = sender;
    source.lastSeenMs = nowMs;
    m_timeCodeSources->append(source);
    m_haveTimeCode = true;
}

bool artnet::timeCodeSource(TimeCodeSource *source, QHostAddress *sender, int index)
{
    if (!source || !openSocket() || !m_haveTimeCode || !m_timeCodeSources || index < 0
        || index >= m_timeCodeSources->size())
        return false;
    const TimeCodeSource &record = m_timeCodeSources->at(index);
    source->frames = record.frames;
    source->seconds = record.seconds;
    source->minutes = record.minutes;
    source->hours = record.hours;
    source->type = record.type;
    source->lastSeenMs = record.lastSeenMs;
    source->jumps = record.jumps;
    source->jumpedFrom = record.jumpedFrom;
    source->jumpedTo = record.jumpedTo;
    if (sender)
        *sender = record.sender;
    return true;
}

qint64 artnet::sendTimeCode(const quint8 *timeCode, const QHostAddress *target)
{
    if (!timeCode || !startSending() || !discoverInterfaces())
        return -1;
    const int size = writeArtTimeCode(m_timeCode, timeCode);
    if (target)
        return sendDatagram(reinterpret_cast<const char *>(m_timeCode), quint16(size), target);
    return sendToEach(m_timeCode, size, InterfaceList::broadcastAddresses(*m_interfaces), {});
}

void artnet::copyIntoRecordTarget(uchar *target, uint start, const uchar *data, uint count) const
{
    const uint slotWidth = m_universeStride > uint(Dmx::MaxChannels - 1) ? uint(Dmx::MaxChannels)
                                                                        : uint(m_universeStride);
    const uint end = start + slotWidth;
    if (end < m_recordBufferSize)
        std::memcpy(target + start, data, count);
    else if (start < m_recordBufferSize)
        std::memcpy(target + start, data, std::min(count, m_recordBufferSize - start));
}

void artnet::copyToRecordBuffer(const uchar *packet)
{
    if (packet)
        copyFrameToRecordBuffer(workingCopyFrame(packet));
}

void artnet::copyToColors(const uchar *packet)
{
    if (packet)
        copyFrameToColors(workingCopyFrame(packet));
}

void artnet::copyFrameToRecordBuffer(const DmxFrame &frame)
{
    if (!m_recordBuffer || m_recordBufferSize == 0 || frame.universe.protocol != DmxProtocol::ArtNet)
        return;
    const uint portAddress = frame.universe.number;
    if (portAddress < m_receiveUniverse)
        return;
    const uint slot = portAddress - m_receiveUniverse;
    const uint count = std::min<uint>(frame.count, m_universeStride);
    const uint start = m_universeStride > uint(Dmx::MaxChannels - 1) ? slot * Dmx::MaxChannels
                                                                    : slot * m_universeStride;
    const uchar *data = frame.levels;

    if (m_syncMode != 0 && m_syncClock->elapsed() > 3000)
        m_syncMode = 0;
    if (m_syncMode != 0) {
        if (!m_stagingBuffer) {
            m_stagingBuffer.reset(new (std::nothrow) uchar[m_recordBufferSize]());
            if (!m_stagingBuffer)
                return;
        }
        copyIntoRecordTarget(m_stagingBuffer.get(), start, data, count);
    } else {
        QMutexLocker locker(m_recordMutex.get());
        copyIntoRecordTarget(m_recordBuffer, start, data, count);
    }
}

void artnet::copyFrameToColors(const DmxFrame &frame)
{
    if (!m_colors || m_colorCount == 0 || frame.universe.protocol != DmxProtocol::ArtNet)
        return;
    const uint portAddress = frame.universe.number;
    const uint length = frame.count;
    const uint perUniverse = m_colorChannels / 3;
    const uint width = perUniverse > uint(Dmx::MaxChannels - 1) ? uint(Dmx::MaxChannels) : perUniverse;
    if (width == 0 || length == 0)
        return;
    const uint first = portAddress * width;
    const uint end = std::min(first + width, m_colorCount);
    const uchar *data = frame.levels;
    uint j = 0;
    for (uint colour = first; colour < end && j < length; ++colour) {
        QColor &target = m_colors[colour];
        target.setRed(data[j++]);
        if (j < length)
            target.setGreen(data[j++]);
        if (j < length)
            target.setBlue(data[j++]);
    }
}

// ---------------------------------------------------------------------------------------------
// Traffic census and node list

void artnet::makeCensus()
{
    if (!m_census)
        m_census.reset(new TrafficCensus);
    if (!m_nodeTable)
        m_nodeTable.reset(new NodeTable);
}

bool artnet::setCensusEnabled(bool on)
{
    if (!on) {
        m_censusEnabled = false;
        return false;
    }
    if (!openSocket() && !m_playingCapture)
        return false;
    makeCensus();
    m_censusEnabled = true;
    return true;
}

bool artnet::startNodePolling()
{
    if (!openSocket() && !m_playingCapture)
        return false;
    makeCensus();
    m_nodePolling = true;
    if (!m_pollTimer) {
        m_pollTimer = new QTimer(this);
        connect(m_pollTimer, &QTimer::timeout, this, &artnet::pollNodes);
        m_pollTimer->start(3000);
        pollNodes();
    }
    return true;
}

void artnet::stopNodePolling()
{
    delete m_pollTimer;
    m_pollTimer = nullptr;
    m_nodePolling = false;
}

void artnet::pollNodes()
{
    // The nodes listed are the capture's, which answer no poll of ours.
    if (m_playingCapture)
        return;
    m_nodeTable->pollSent();
    sendPoll();
}

void artnet::clearCensus()
{
    if (m_census)
        m_census->clear();
    if (m_nodeTable)
        m_nodeTable->clear();
}

void artnet::forgetSilent()
{
    if (m_census)
        m_census->forgetSilent(censusClockMs());
    if (m_nodeTable)
        m_nodeTable->forgetGone();
}

void artnet::countFrame(const DmxFrame &frame)
{
    m_census->recordFrame(frame, censusMs(frame.arrivalNs));
}

void artnet::countPollReply(const QByteArray &datagram, const QHostAddress &sender,
                            qint64 arrivalNs)
{
    const quint32 source = sender.toIPv4Address();
    bool self = false;
    if (m_interfaces) {
        for (const InterfaceEntry &entry : std::as_const(*m_interfaces))
            self = self || (source != 0 && entry.address.ip().toIPv4Address() == source);
    }
    m_nodeTable->recordReply(reinterpret_cast<const uchar *>(datagram.constData()),
                             int(datagram.size()), source, censusMs(arrivalNs), self);
}

const DmxCensus *artnet::census() const
{
    return m_census.get();
}

qint64 artnet::censusClockMs() const
{
    return censusMs(MonotonicClock::nowNs());
}

QList<UniverseTraffic> artnet::universeTraffic() const
{
    return m_census ? m_census->universes(censusClockMs()) : QList<UniverseTraffic>();
}

QList<DmxSource> artnet::dmxSources(quint16 portAddress) const
{
    return m_census ? m_census->sources(portAddress, censusClockMs()) : QList<DmxSource>();
}

quint64 artnet::unstoredSources() const
{
    return m_census ? m_census->unstoredSources() : 0;
}

quint64 artnet::unlistedUniverses() const
{
    return m_census ? m_census->unlistedUniverses() : 0;
}

quint64 artnet::malformedDmx() const
{
    return m_census ? m_census->malformedDmx() : 0;
}

quint64 artnet::malformedDmxWithoutSource() const
{
    return m_census ? m_census->malformedWithoutSource() : 0;
}

QList<NodeInfo> artnet::nodes() const
{
    return m_nodeTable ? m_nodeTable->nodes() : QList<NodeInfo>();
}

quint64 artnet::malformedPollReplies() const
{
    return m_nodeTable ? m_nodeTable->malformedReplies() : 0;
}

quint64 artnet::unstoredNodes() const
{
    return m_nodeTable ? m_nodeTable->unstoredReplies() : 0;
}
