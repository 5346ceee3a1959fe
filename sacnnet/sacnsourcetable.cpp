#include "sacnsourcetable.h"

#include "sacnmessage.h"

#include <QString>

#include <algorithm>
#include <cstring>

struct SacnSourceTable::Entry
{
    SourceIdentity identity;
    quint16 universe = 0;
    quint8 priority = 0;
    quint8 nameSize = 0;
    uchar name[SacnMessage::SourceNameSize];
    quint16 syncAddress = 0;
    bool preview = false;
    bool terminated = false;
    qint64 firstSeenMs = 0;
    qint64 lastSeenMs = 0;
    qint64 lastPerAddressMs = -1;
    quint64 invalidPriorityPackets = 0;
    quint64 packets = 0;
};

namespace {

quint32 hashOf(const SourceIdentity &identity, quint16 universe)
{
    quint32 hash = 2166136261u ^ universe;
    for (const quint8 byte : identity.cid)
        hash = (hash ^ byte) * 16777619u;
    return hash;
}

} // namespace

SacnSourceTable::SacnSourceTable()
    : m_entries(new Entry[MaxSources]), m_index(new qint16[IndexSize]())
{
}

SacnSourceTable::~SacnSourceTable() = default;

SacnSourceTable::Entry *SacnSourceTable::find(const SacnMessage &message, int *freeSlot)
{
    const quint16 universe = message.frame.universe.number;
    for (quint32 slot = hashOf(message.frame.source, universe) % IndexSize;;
         slot = (slot + 1) % IndexSize) {
        const int stored = m_index[slot];
        if (stored == 0) {
            *freeSlot = int(slot);
            return nullptr;
        }
        Entry &entry = m_entries[stored - 1];
        if (entry.universe == universe && entry.identity == message.frame.source)
            return &entry;
    }
}

void SacnSourceTable::record(const SacnMessage &message, qint64 nowMs)
{
    int freeSlot = -1;
    Entry *entry = find(message, &freeSlot);
    if (!entry) {
        // A full table is swept at most once a second: under a flood of new CIDs a sweep per
        // packet would cost more than the packets.
        if (m_count == MaxSources && nowMs - m_lastSweepMs >= 1000) {
            m_lastSweepMs = nowMs;
            forgetLost(nowMs);
            find(message, &freeSlot);
        }
        if (m_count == MaxSources) {
            ++m_unstoredPackets;
            return;
        }
        entry = &m_entries[m_count];
        *entry = Entry();
        entry->identity = message.frame.source;
        entry->universe = message.frame.universe.number;
        entry->firstSeenMs = nowMs;
        m_index[freeSlot] = qint16(++m_count);
    } else if (!isLive(*entry, nowMs)) {
        // Back after it was lost: a new stream of the same source.
        entry->firstSeenMs = nowMs;
        entry->terminated = false;
    }
    entry->identity.address = message.frame.source.address;
    entry->lastSeenMs = nowMs;
    entry->terminated = entry->terminated || message.streamTerminated();
    ++entry->packets;
    if (message.invalidPriority)
        ++entry->invalidPriorityPackets;
    if (message.startCode == SacnMessage::StartCodePerAddressPriority)
        entry->lastPerAddressMs = nowMs;
    entry->priority = message.frame.priority;
    entry->syncAddress = message.syncAddress;
    entry->preview = message.preview();
    entry->nameSize = message.sourceNameSize;
    std::memcpy(entry->name, message.sourceName, message.sourceNameSize);
}

bool SacnSourceTable::isLive(const Entry &entry, qint64 nowMs)
{
    return !entry.terminated && nowMs - entry.lastSeenMs < SourceLossMs;
}

void SacnSourceTable::forgetLost(qint64 nowMs)
{
    int kept = 0;
    for (int i = 0; i < m_count; ++i) {
        if (!isLive(m_entries[i], nowMs))
            continue;
        if (kept != i)
            m_entries[kept] = m_entries[i];
        ++kept;
    }
    m_count = kept;
    rebuildIndex();
}

void SacnSourceTable::rebuildIndex()
{
    std::fill_n(m_index.get(), IndexSize, qint16(0));
    for (int i = 0; i < m_count; ++i) {
        const Entry &entry = m_entries[i];
        quint32 slot = hashOf(entry.identity, entry.universe) % IndexSize;
        while (m_index[slot] != 0)
            slot = (slot + 1) % IndexSize;
        m_index[slot] = qint16(i + 1);
    }
}

void SacnSourceTable::clear()
{
    m_count = 0;
    m_unstoredPackets = 0;
    rebuildIndex();
}

QList<SacnSourceInfo> SacnSourceTable::sources(qint64 nowMs) const
{
    QList<SacnSourceInfo> list;
    for (int i = 0; i < m_count; ++i) {
        const Entry &entry = m_entries[i];
        if (!isLive(entry, nowMs))
            continue;
        SacnSourceInfo info;
        info.cid = entry.identity.cid;
        info.name = QString::fromUtf8(reinterpret_cast<const char *>(entry.name), entry.nameSize);
        info.address = entry.identity.address;
        info.universe = entry.universe;
        info.priority = entry.priority;
        info.invalidPriorityPackets = entry.invalidPriorityPackets;
        info.perAddressPriority = entry.lastPerAddressMs >= 0
                && nowMs - entry.lastPerAddressMs < SourceLossMs;
        info.syncAddress = entry.syncAddress;
        info.preview = entry.preview;
        info.firstSeenMs = entry.firstSeenMs;
        info.lastSeenMs = entry.lastSeenMs;
        info.packets = entry.packets;
        list.append(info);
    }
    std::stable_sort(list.begin(), list.end(), [](const SacnSourceInfo &a, const SacnSourceInfo &b) {
        return a.universe < b.universe;
    });
    return list;
}
