#include "sacnsourcetablemodel.h"

#include "healthtexts.h"
#include "networktexts.h"

#include <QHashFunctions>

#include <cstring>

namespace {

bool sameCid(const std::array<quint8, SourceIdentity::CidSize> &a,
             const std::array<quint8, SourceIdentity::CidSize> &b)
{
    return std::memcmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace

SacnSourceTableModel::SacnSourceTableModel(QObject *parent)
    : RecordTableModel({tr("CID"), tr("Name"), tr("IP"), tr("Priority"), tr("Preview"),
                        tr("Rate"), tr("Sequence errors"), tr("Malformed"), tr("Sync"),
                        tr("Last seen"), tr("Intervals")},
                       parent)
{
}

void SacnSourceTableModel::setSources(quint16 universe, const QList<DmxSource> &sources,
                                      const QList<SacnSourceInfo> &described, qint64 nowMs)
{
    QList<const SacnSourceInfo *> ofUniverse;
    for (const SacnSourceInfo &info : described) {
        if (info.universe == universe)
            ofUniverse << &info;
    }
    QList<SacnSourceRow> rows;
    rows.reserve(sources.size());
    for (const DmxSource &source : sources)
        rows << rowOf(universe, source, ofUniverse);
    replaceRows(rows, nowMs);
}

SacnSourceRow SacnSourceTableModel::rowOf(quint16 universe, const DmxSource &source,
                                          const QList<const SacnSourceInfo *> &described) const
{
    SacnSourceRow row;
    row.source = source;
    for (const SacnSourceInfo *info : described) {
        if (sameCid(info->cid, source.cid)) {
            row.info = *info;
            row.described = true;
            row.nameText = NetworkTexts::visible(info->name);
            break;
        }
    }
    if (!row.described) {
        for (int shown = 0; shown < rowCount(); ++shown) {
            const SacnSourceRow &before = recordAt(shown);
            if (before.info.universe == universe && sameCid(before.source.cid, source.cid)) {
                row.info = before.info;
                row.nameText = before.nameText;
                break;
            }
        }
        row.info.cid = source.cid;
        row.info.universe = universe;
        if (row.info.address == 0)
            row.info.address = source.address;
    }
    row.cidText = NetworkTexts::cid(source.cid);
    row.addressText = NetworkTexts::address(row.info.address);
    return row;
}

// A network may choose CIDs that agree in any 64 bits it likes; a seeded hash of all 128 keeps
// it from hiding one source's row behind another's.
quint64 SacnSourceTableModel::keyOf(const SacnSourceRow &row) const
{
    return qHashBits(row.source.cid.data(), row.source.cid.size(), QHashSeed::globalSeed());
}

bool SacnSourceTableModel::looksTheSame(const SacnSourceRow &before,
                                        const SacnSourceRow &after) const
{
    if (isLive(before) != isLive(after) || invalidPriority(before) != invalidPriority(after))
        return false;
    return showsTheSameTexts(before, after);
}

bool SacnSourceTableModel::invalidPriority(const SacnSourceRow &row)
{
    return row.info.priority > NetworkTexts::MaxSacnPriority;
}

bool SacnSourceTableModel::isLive(const SacnSourceRow &row) const
{
    return row.source.live && row.described;
}

QVariant SacnSourceTableModel::foreground(const SacnSourceRow &row, int column) const
{
    if (!isLive(row))
        return NetworkTexts::staleColour();
    if (column == PriorityColumn && invalidPriority(row))
        return NetworkTexts::warningColour();
    return QVariant();
}

QVariant SacnSourceTableModel::toolTip(const SacnSourceRow &row, int column) const
{
    if (column == PriorityColumn && row.info.invalidPriorityPackets > 0)
        return tr("%1 packets with a priority above 200, which receivers pass over")
                .arg(row.info.invalidPriorityPackets);
    if (column == SequenceErrorsColumn)
        return tr("%1 packets skipped ahead, %2 arrived out of order")
                .arg(row.source.sequenceGaps)
                .arg(row.source.sequenceOutOfOrder);
    if (column == HealthColumn)
        return HealthTexts::toolTip(row.source.health);
    if (column == RateColumn)
        return tr("%1 packets, the last with %2 channels")
                .arg(row.source.packets)
                .arg(row.source.lastLength);
    return QVariant();
}

QVariant SacnSourceTableModel::alignment(int column) const
{
    if (column == PriorityColumn || column == RateColumn || column == SequenceErrorsColumn
        || column == MalformedColumn || column == SyncColumn || column == HealthColumn)
        return rightAligned();
    return QVariant();
}

QVariant SacnSourceTableModel::display(const SacnSourceRow &row, int column, qint64 nowMs) const
{
    const SacnSourceInfo &info = row.info;
    switch (column) {
    case CidColumn:
        return row.cidText;
    case NameColumn:
        return row.nameText;
    case AddressColumn:
        return row.addressText;
    case PriorityColumn:
        if (info.packets == 0)
            return QString();
        if (invalidPriority(row))
            return tr("%1 (invalid)").arg(info.priority);
        if (info.perAddressPriority)
            return tr("%1, per-address").arg(info.priority);
        return info.priority;
    case PreviewColumn:
        if (info.packets == 0)
            return QString();
        return info.preview ? tr("yes") : tr("no");
    case RateColumn:
        return NetworkTexts::rate(row.source.rateHz);
    case SequenceErrorsColumn:
        return row.source.sequenceGaps + row.source.sequenceOutOfOrder;
    case MalformedColumn:
        return row.source.malformed;
    case SyncColumn:
        return info.syncAddress == 0 ? QVariant(QString()) : QVariant(info.syncAddress);
    case LastSeenColumn:
        return NetworkTexts::age(row.source.lastSeenMs, nowMs);
    case HealthColumn:
        return HealthTexts::cell(row.source.health);
    default:
        return QVariant();
    }
}

QVariant SacnSourceTableModel::sortValue(const SacnSourceRow &row, int column) const
{
    const DmxSource &source = row.source;
    switch (column) {
    case CidColumn:
        return row.cidText;
    case NameColumn:
        return row.nameText;
    case AddressColumn:
        return row.info.address;
    case PriorityColumn:
        return row.info.packets == 0 ? -1 : int(row.info.priority);
    case PreviewColumn:
        return row.info.preview;
    case RateColumn:
        return source.rateHz;
    case SequenceErrorsColumn:
        return source.sequenceGaps + source.sequenceOutOfOrder;
    case MalformedColumn:
        return source.malformed;
    case SyncColumn:
        return row.info.syncAddress;
    case LastSeenColumn:
        return source.lastSeenMs;
    case HealthColumn:
        return source.health.medianUs;
    default:
        return QVariant();
    }
}
