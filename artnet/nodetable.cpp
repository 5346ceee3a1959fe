#include "nodetable.h"
#include "artnetpackets.h"

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

NodeTable::NodeTable()
    : m_entries(new Entry[MaxNodes]),
      m_keys(new quint64[MaxNodes]()),
      m_order(new quint16[MaxNodes]()),
      m_keptSlot(new quint16[MaxNodes]())
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

void NodeTable::forgetGone()
{
    constexpr quint16 Dropped = 0xffff;
    int kept = 0;
    for (int i = 0; i < m_count; ++i) {
        if (m_entries[i].missedPolls >= MissedPollsGone) {
            m_keptSlot[i] = Dropped;
            continue;
        }
        if (kept != i)
            m_entries[kept] = m_entries[i];
        m_keptSlot[i] = quint16(kept++);
    }
    // The keys keep their order; only the dropped ones go.
    int position = 0;
    for (int p = 0; p < m_count; ++p) {
        const quint16 slot = m_keptSlot[m_order[p]];
        if (slot == Dropped)
            continue;
        m_keys[position] = m_keys[p];
        m_order[position++] = slot;
    }
    m_count = kept;
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
    const quint8 bindIndex = readPollReplyBindIndex(datagram, size);
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
    NodeInfo node;
    readArtPollReply(entry.reply, PollReply::Size, &node);
    node.sourceAddress = entry.source;
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
