#include "sourcetablemodel.h"

#include "healthtexts.h"
#include "networktexts.h"

SourceTableModel::SourceTableModel(QObject *parent)
    : RecordTableModel({tr("IP"), tr("Node"), tr("Physical"), tr("Rate"), tr("Sequence errors"),
                        tr("Malformed"), tr("ArtSync"), tr("Last seen"), tr("Intervals")},
                       parent)
{
}

void SourceTableModel::setSources(const QList<DmxSource> &sources,
                                  const QHash<quint32, QString> &nodeNames, qint64 nowMs)
{
    QList<SourceRow> rows;
    rows.reserve(sources.size());
    for (const DmxSource &source : sources)
        rows << SourceRow{source, nodeNames.value(source.address)};
    replaceRows(rows, nowMs);
}

quint64 SourceTableModel::keyOf(const SourceRow &row) const
{
    return quint64(row.source.address) << 8 | row.source.physical;
}

bool SourceTableModel::looksTheSame(const SourceRow &before, const SourceRow &after) const
{
    if (before.source.live != after.source.live)
        return false;
    return showsTheSameTexts(before, after);
}

QVariant SourceTableModel::foreground(const SourceRow &row, int) const
{
    return row.source.live ? QVariant() : QVariant(NetworkTexts::staleColour());
}

QVariant SourceTableModel::toolTip(const SourceRow &row, int column) const
{
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

QVariant SourceTableModel::alignment(int column) const
{
    if (column == AddressColumn || column == NodeColumn || column == LastSeenColumn
        || column == SyncColumn)
        return QVariant();
    return rightAligned();
}

QVariant SourceTableModel::display(const SourceRow &row, int column, qint64 nowMs) const
{
    const DmxSource &source = row.source;
    switch (column) {
    case AddressColumn:
        return NetworkTexts::address(source.address);
    case NodeColumn:
        return row.nodeName;
    case PhysicalColumn:
        return source.physical;
    case RateColumn:
        return NetworkTexts::rate(source.rateHz);
    case SequenceErrorsColumn:
        return source.sequenceGaps + source.sequenceOutOfOrder;
    case MalformedColumn:
        return source.malformed;
    case SyncColumn:
        return source.sendsSync ? tr("yes") : tr("no");
    case LastSeenColumn:
        return NetworkTexts::age(source.lastSeenMs, nowMs);
    case HealthColumn:
        return HealthTexts::cell(source.health);
    default:
        return QVariant();
    }
}

QVariant SourceTableModel::sortValue(const SourceRow &row, int column) const
{
    const DmxSource &source = row.source;
    switch (column) {
    case AddressColumn:
        return source.address;
    case NodeColumn:
        return row.nodeName;
    case PhysicalColumn:
        return source.physical;
    case RateColumn:
        return source.rateHz;
    case SequenceErrorsColumn:
        return source.sequenceGaps + source.sequenceOutOfOrder;
    case MalformedColumn:
        return source.malformed;
    case SyncColumn:
        return source.sendsSync;
    case LastSeenColumn:
        return source.lastSeenMs;
    case HealthColumn:
        return source.health.medianUs;
    default:
        return QVariant();
    }
}
