#include "eventdetector.h"

#include "dmxcensus.h"
#include "eventdetectorstate.h"
#include "eventlog.h"
#include "nodetable.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {


QString tr(const char *text)
{
    return QCoreApplication::translate("EventDetector", text);
}

QString addressText(quint32 address)
{
    return QHostAddress(address).toString();
}


quint32 universeKey(UniverseKey key)
{
    return quint32(key.protocol) << 16 | key.number;
}

} // namespace

size_t EventDetector::SourceKey::hash(size_t seed) const
{
    const SourceIdentity &who = identity;
    seed = qHashMulti(seed, universeKey(universe), who.address, who.physical);
    if (who.protocol == DmxProtocol::Sacn)
        seed = qHashBits(who.cid.data(), who.cid.size(), seed);
    return seed;
}

EventDetector::EventDetector(EventLog *log) : m_log(log) { }

EventDetector::~EventDetector() = default;

void EventDetector::reset()
{
    m_sources.clear();
    m_lostOrder.clear();
    m_universes.clear();
    m_senders.clear();
    m_nodes.clear();
    m_timeCode.clear();
    std::fill(std::begin(m_lastPassMs), std::end(m_lastPassMs), -1);
}

DmxEvent EventDetector::event(DmxEventKind kind, const Pass &pass) const
{
    DmxEvent event;
    event.kind = kind;
    event.wallMs = pass.wallMs;
    event.clockMs = pass.nowMs + pass.clockOffsetMs;
    return event;
}

void EventDetector::append(DmxEvent event)
{
    m_log->append(std::move(event));
}

QString EventDetector::sourceText(const SourceIdentity &source, const QString &name)
{
    QString text = addressText(source.address);
    if (source.protocol == DmxProtocol::ArtNet && source.physical != 0)
        text += tr(" physical %1").arg(source.physical);
    if (!name.isEmpty())
        text += QStringLiteral(" (%1)").arg(name);
    return text;
}

namespace {

// A node report reads "#0001 [0042] Power On Tests successful": the bracketed count goes up
// with every reply and is no change.
QString reportWithoutCounter(const QString &report)
{
    const qsizetype open = report.indexOf(QLatin1Char('['));
    const qsizetype close = report.indexOf(QLatin1Char(']'));
    if (!report.startsWith(QLatin1Char('#')) || open < 0 || close < open)
        return report;
    return report.left(open) + report.mid(close + 1);
}

QString portsText(const NodeInfo &node)
{
    QStringList ports;
    for (int i = 0; i < std::min<int>(node.numPorts, 4); ++i) {
        const bool input = node.portTypes[i] & 0x40;
        const bool output = node.portTypes[i] & 0x80;
        if (output)
            ports << QStringLiteral("out %1").arg(node.swOut[i] + 1);
        if (input)
            ports << QStringLiteral("in %1").arg(node.swIn[i] + 1);
    }
    return ports.join(QLatin1Char(' '));
}

QString nodeText(const NodeInfo &node)
{
    QString text = QHostAddress(node.sourceAddress).toString();
    if (node.bindIndex > 1)
        text += QCoreApplication::translate("EventDetector", " page %1").arg(node.bindIndex);
    if (!node.shortName.isEmpty())
        text += QStringLiteral(" (%1)").arg(node.shortName);
    return text;
}

} // namespace

void EventDetector::nodeEvent(DmxEventKind kind, const NodeInfo &node, const QString &text,
                              const Pass &pass)
{
    DmxEvent event = this->event(kind, pass);
    event.hasSource = true;
    event.source = SourceIdentity::artNet(node.sourceAddress, 0);
    event.sourceName = node.shortName;
    event.text = nodeText(node) + text;
    append(std::move(event));
}

QString EventDetector::nodeChanges(const NodeState &before, const NodeInfo &now)
{
    QStringList changes;
    if (before.shortName != now.shortName || before.longName != now.longName)
        changes << tr("name \"%1\" to \"%2\"").arg(before.shortName, now.shortName);
    if (before.packetAddress != now.packetAddress)
        changes << tr("IP %1 to %2").arg(addressText(before.packetAddress),
                                          addressText(now.packetAddress));
    const bool portsChanged = before.numPorts != now.numPorts
            || !std::equal(before.swIn.begin(), before.swIn.end(), now.swIn)
            || !std::equal(before.swOut.begin(), before.swOut.end(), now.swOut)
            || !std::equal(before.portTypes.begin(), before.portTypes.end(), now.portTypes);
    if (portsChanged)
        changes << tr("ports %1").arg(portsText(now));
    if (before.report != reportWithoutCounter(now.nodeReport))
        changes << tr("report \"%1\"").arg(now.nodeReport);
    return changes.join(QStringLiteral("; "));
}

void EventDetector::detectNodes(const QList<NodeInfo> &nodes, const Pass &pass)
{
    const quint64 serial = ++m_passSerial;
    for (const NodeInfo &node : nodes) {
        if (node.self)
            continue;
        const quint64 key = quint64(node.sourceAddress) << 8 | node.bindIndex;
        const bool known = m_nodes.contains(key);
        if (!known && m_nodes.size() >= MaxNodes)
            continue;
        NodeState &state = m_nodes[key];
        if (!known) {
            nodeEvent(node.gone ? DmxEventKind::NodeGone : DmxEventKind::NodeAppeared, node,
                      node.gone ? tr(" missed %1 polls").arg(NodeTable::MissedPollsGone)
                                : tr(" appeared"),
                      pass);
        } else if (node.gone != state.gone) {
            nodeEvent(node.gone ? DmxEventKind::NodeGone : DmxEventKind::NodeBack, node,
                      node.gone ? tr(" missed %1 polls").arg(NodeTable::MissedPollsGone)
                                : tr(" came back"),
                      pass);
        } else if (!node.gone) {
            const QString changes = nodeChanges(state, node);
            if (!changes.isEmpty())
                nodeEvent(DmxEventKind::NodeChanged, node, QStringLiteral(": ") + changes, pass);
        }
        state.gone = node.gone;
        state.pass = serial;
        state.packetAddress = node.packetAddress;
        state.shortName = node.shortName;
        state.longName = node.longName;
        state.report = reportWithoutCounter(node.nodeReport);
        state.numPorts = node.numPorts;
        std::copy(std::begin(node.swIn), std::end(node.swIn), state.swIn.begin());
        std::copy(std::begin(node.swOut), std::end(node.swOut), state.swOut.begin());
        std::copy(std::begin(node.portTypes), std::end(node.portTypes), state.portTypes.begin());
    }
    // A node the table forgot had gone already: it stays known as gone, so that its return is
    // "came back"; the gone ones make room first.
    if (m_nodes.size() >= MaxNodes)
        m_nodes.removeIf([serial](const QHash<quint64, NodeState>::iterator &it) {
            return it->gone && it->pass != serial;
        });
}

QString EventDetector::timeCodeText(const std::array<quint8, 4> &framesToHours)
{
    auto two = [](int value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); };
    return QStringLiteral("%1:%2:%3:%4").arg(two(framesToHours[3]), two(framesToHours[2]),
                                            two(framesToHours[1]), two(framesToHours[0]));
}

void EventDetector::detectTimeCode(const QList<TimeCodeSource> &senders, const Pass &pass)
{
    for (const TimeCodeSource &sender : senders) {
        const quint32 key = sender.sender.toIPv4Address();
        const bool known = m_timeCode.contains(key);
        if (!known && m_timeCode.size() >= MaxTimeCodeSenders)
            continue;
        TimeCodeState &state = m_timeCode[key];
        const bool running = pass.nowMs - sender.lastSeenMs < TimeCodeStoppedMs;
        DmxEvent event = this->event(DmxEventKind::TimeCodeStarted, pass);
        event.hasSource = true;
        event.source = SourceIdentity::artNet(key, 0);
        const QString who = addressText(key) + QStringLiteral(": ");
        if (running && !state.running) {
            event.text = who + tr("at %1").arg(timeCodeText({sender.frames, sender.seconds, sender.minutes, sender.hours}));
            append(event);
        } else if (!running && state.running) {
            event.kind = DmxEventKind::TimeCodeStopped;
            event.text = who + tr("stopped at %1").arg(timeCodeText({sender.frames, sender.seconds, sender.minutes, sender.hours}));
            append(event);
        }
        if (!known || !running)
            state.jumps = sender.jumps;
        if (sender.jumps != state.jumps && pass.nowMs - state.jumpEventMs >= TimeCodeJumpEventMs) {
            event.kind = DmxEventKind::TimeCodeJumped;
            event.count = sender.jumps - state.jumps;
            event.text = who + tr("%1 to %2").arg(timeCodeText(sender.jumpedFrom),
                                                   timeCodeText(sender.jumpedTo));
            append(event);
            state.jumps = sender.jumps;
            state.jumpEventMs = pass.nowMs;
        }
        state.running = running;
        state.lastSeenMs = sender.lastSeenMs;
    }
}

int EventDetector::trackedSources() const
{
    return int(m_sources.size());
}
