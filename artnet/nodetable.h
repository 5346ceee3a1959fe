#ifndef NODETABLE_H
#define NODETABLE_H

#include "nodeinfo.h"

#include <QList>
#include <QtGlobal>

#include <memory>

// The nodes on the network as their ArtPollReply packets describe them, one entry per UDP
// source address and BindIndex (a node with many ports often answers with one reply per group
// of four, BindIndex 1, 2, ...). Knows no socket: it is fed the reply's bytes, its source and
// the time. Bounded: beyond MaxNodes new entries are counted, not stored; nothing is
// allocated after construction.
class NodeTable
{
public:
    static constexpr int MaxNodes = 1024;
    static constexpr int MinReplySize = 207; // up to the MAC: what the oldest nodes send
    static constexpr int MissedPollsGone = 3;

    NodeTable();
    ~NodeTable();
    NodeTable(const NodeTable &) = delete;
    NodeTable &operator=(const NodeTable &) = delete;

    // One ArtPollReply datagram (identifier and opcode already checked) from an IPv4 source;
    // self when it is this program's own reply. False when it was too short or not stored.
    bool recordReply(const uchar *datagram, int size, quint32 source, qint64 nowMs, bool self);
    // An ArtPoll went out: every node that did not reply since the poll before has missed one.
    void pollSent();
    void clear();
    // Forgets the nodes that count as gone, in place; the count beyond the bound starts afresh.
    void forgetGone();

    QList<NodeInfo> nodes() const; // sorted by source address, then BindIndex
    quint64 malformedReplies() const { return m_malformed; }
    quint64 unstoredReplies() const { return m_unstored; }

private:
    struct Entry;

    int find(quint64 key, bool *found) const;
    static void keepBytes(Entry &entry, const uchar *datagram, int size);
    static NodeInfo copyOf(const Entry &entry);

    std::unique_ptr<Entry[]> m_entries;
    std::unique_ptr<quint64[]> m_keys;  // sorted: source address << 8 | BindIndex
    std::unique_ptr<quint16[]> m_order; // entry of each key
    std::unique_ptr<quint16[]> m_keptSlot; // while forgetting: an entry's new slot
    int m_count = 0;
    bool m_polled = false;
    quint64 m_malformed = 0;
    quint64 m_unstored = 0;
};

#endif // NODETABLE_H
