#ifndef SACNSOURCETABLE_H
#define SACNSOURCETABLE_H

#include "sacnsourceinfo.h"

#include <QList>
#include <QtGlobal>

#include <memory>

struct SacnMessage;

// The live sACN sources, one entry per CID and universe, with what E1.31 data packets say of
// them besides their levels. A source is lost 2.5 s after its last data packet, or at once at a
// stream-terminated one. Bounded like the census whatever a network sends: at most MaxSources
// entries in a table made once, found through an open-addressed index; sources beyond it are
// counted, and nothing is allocated per packet.
class SacnSourceTable
{
public:
    static constexpr int MaxSources = 4096;
    static constexpr qint64 SourceLossMs = 2500;

    SacnSourceTable();
    ~SacnSourceTable();
    SacnSourceTable(const SacnSourceTable &) = delete;
    SacnSourceTable &operator=(const SacnSourceTable &) = delete;

    // A data message that passed every check (malformed ones are the census's).
    void record(const SacnMessage &message, qint64 nowMs);
    // Drops the lost sources and rebuilds the index: a flood gone by leaves room.
    void forgetLost(qint64 nowMs);
    void clear();

    // Live sources as of nowMs, by universe, then in order of first arrival.
    QList<SacnSourceInfo> sources(qint64 nowMs) const;
    int storedCount() const { return m_count; }
    // Packets of sources that found the table full.
    quint64 unstoredPackets() const { return m_unstoredPackets; }

private:
    struct Entry;
    static constexpr int IndexSize = 2 * MaxSources; // a power of two, half full at most

    Entry *find(const SacnMessage &message, int *freeSlot);
    static bool isLive(const Entry &entry, qint64 nowMs);
    void rebuildIndex();

    std::unique_ptr<Entry[]> m_entries;
    std::unique_ptr<qint16[]> m_index; // entry + 1, 0 = empty
    int m_count = 0;
    quint64 m_unstoredPackets = 0;
    qint64 m_lastSweepMs = -1000;
};

#endif // SACNSOURCETABLE_H
