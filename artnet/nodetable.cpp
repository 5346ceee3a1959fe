#include "nodetable.h"
#include "artnetpackets.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

using namespace ArtNetPackets;

struct NodeTable::Entry
{
    quint8 reply[PollReply::Size]; // what arrived of the reply, zeros past its end
    quint32 source;
    qint64 firstSeenMs;
    qint64 lastSeenMs;
    int missedPolls;
    bool repliedSincePoll;
    bool self;
};

namespace {

QString nameField(const quint8 *field, int size)
{
    const char *text = reinterpret_cast<const char *>(field);
    return QString::fromLatin1(text, int(qstrnlen(text, uint(size))));
}

// Net (bits 14-8) and Sub-Net (bits 7-4) come from the switches, the universe from the port.
quint16 portAddress(const quint8 *reply, quint8 port)
{
    return quint16(((reply[PollReply::NetSwitch] & 0x7F) << 8)
                   | ((reply[PollReply::SubSwitch] & 0x0F) << 4) | (port & 0x0F));
}

} // namespace

NodeTable::NodeTable()
    : m_entries(new Entry[MaxNodes]),
      m_keys(new quint64[MaxNodes]()),
      m_order(new quint16[MaxNodes]())
{
}

NodeTable::~NodeTable() = default;

void NodeTable::clear()
{
    m_count = 0;
    m_polled = false;
    m_malformed = 0;
    m_unstored = 0;
}

int NodeTable::find(quint64 key, bool *found) const
{
    const quint64 *begin = m_keys.get();
    const quint64 *end = begin + m_count;
    const quint64 *at = std::lower_bound(begin, end, key);
    *found = at != end && *at == key;
    return int(at - begin);
}

bool NodeTable::recordReply(const uchar *datagram, int size, quint32 source, qint64 nowMs,
                            bool self)
{
    if (size < MinReplySize) {
        ++m_malformed;
        return false;
    }
    const quint8 bindIndex = size > PollReply::BindIndex ? datagram[PollReply::BindIndex] : 0;
    const quint64 key = quint64(source) << 8 | bindIndex;
    bool found = false;
    const int position = find(key, &found);
    Entry *entry;
    if (found) {
        entry = &m_entries[m_order[position]];
    } else {
        if (m_count >= MaxNodes) {
            ++m_unstored;
            return false;
        }
        std::copy_backward(m_keys.get() + position, m_keys.get() + m_count,
                           m_keys.get() + m_count + 1);
        std::copy_backward(m_order.get() + position, m_order.get() + m_count,
                           m_order.get() + m_count + 1);
        m_keys[position] = key;
        m_order[position] = quint16(m_count);
        entry = &m_entries[m_count++];
        entry->source = source;
        entry->firstSeenMs = nowMs;
    }
    keepBytes(*entry, datagram, size);
    entry->lastSeenMs = nowMs;
    entry->missedPolls = 0;
    entry->repliedSincePoll = true;
    entry->self = self;
    return true;
}

void NodeTable::keepBytes(Entry &entry, const uchar *datagram, int size)
{
    const size_t arrived = size_t(std::min(size, PollReply::Size));
    std::memcpy(entry.reply, datagram, arrived);
    std::memset(entry.reply + arrived, 0, PollReply::Size - arrived);
}

void NodeTable::pollSent()
{
    for (int i = 0; i < m_count; ++i) {
        Entry &entry = m_entries[i];
        if (m_polled && !entry.repliedSincePoll)
            ++entry.missedPolls;
        entry.repliedSincePoll = false;
    }
    m_polled = true;
}

NodeInfo NodeTable::copyOf(const Entry &entry)
{
    const quint8 *r = entry.reply;
    NodeInfo node;
    node.packetAddress = qFromBigEndian<quint32>(r + PollReply::IpAddress);
    node.sourceAddress = entry.source;
    node.port = qFromLittleEndian<quint16>(r + PollReply::Port);
    node.bindIndex = r[PollReply::BindIndex];
    node.shortName = nameField(r + PollReply::ShortName, PollReply::ShortNameSize);
    node.longName = nameField(r + PollReply::LongName, PollReply::LongNameSize);
    node.nodeReport = nameField(r + PollReply::NodeReport, PollReply::NodeReportSize);
    node.firmware = quint16(r[PollReply::VersInfoHi] << 8 | r[PollReply::VersInfoLo]);
    node.oem = quint16(r[PollReply::OemHi] << 8 | r[PollReply::OemLo]);
    // EstaMan is sent low byte first.
    node.esta = qFromLittleEndian<quint16>(r + PollReply::EstaMan);
    std::memcpy(node.mac, r + PollReply::Mac, PollReply::MacSize);
    node.status1 = r[PollReply::Status1];
    node.status2 = r[PollReply::Status2];
    node.numPorts = quint16(r[PollReply::NumPortsHi] << 8 | r[PollReply::NumPortsLo]);
    for (int j = 0; j < PollReply::MaxPorts; ++j) {
        node.portTypes[j] = r[PollReply::PortTypes + j];
        node.goodInput[j] = r[PollReply::GoodInput + j];
        node.goodOutput[j] = r[PollReply::GoodOutput + j];
        node.swIn[j] = portAddress(r, r[PollReply::SwIn + j]);
        node.swOut[j] = portAddress(r, r[PollReply::SwOut + j]);
    }
    node.style = r[PollReply::Style];
    node.firstSeenMs = entry.firstSeenMs;
    node.lastSeenMs = entry.lastSeenMs;
    node.missedPolls = entry.missedPolls;
    node.gone = entry.missedPolls >= MissedPollsGone;
    node.self = entry.self;
    return node;
}

QList<NodeInfo> NodeTable::nodes() const
{
    QList<NodeInfo> list;
    list.reserve(m_count);
    for (int i = 0; i < m_count; ++i)
        list.append(copyOf(m_entries[m_order[i]]));
    return list;
}
