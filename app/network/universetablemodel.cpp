#include "universetablemodel.h"

#include "networktexts.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

// What one live sACN source adds to its universe's row.
void addSacnSource(UniverseRow *row, const SacnSourceInfo &source)
{
    if (source.syncAddress != 0) {
        if (row->syncAddress == 0)
            row->syncAddress = source.syncAddress;
        else if (row->syncAddress != source.syncAddress)
            row->syncDiffers = true;
    }
    // Neither preview data nor a priority beyond the range drives a receiver's output.
    if (source.preview || source.priority > NetworkTexts::MaxSacnPriority)
        return;
    row->perAddressPriority = row->perAddressPriority || source.perAddressPriority;
    if (++row->drivingSources == 1 || source.priority > row->topPriority) {
        row->topPriority = source.priority;
        row->atTopPriority = 1;
    } else if (source.priority == row->topPriority) {
        ++row->atTopPriority;
    }
}

// As the protocol's box shows it: Art-Net port-address + 1, the sACN universe itself.
int universeNumber(const UniverseTraffic &traffic)
{
    return traffic.protocol == DmxProtocol::ArtNet ? int(traffic.portAddress) + 1
                                                   : int(traffic.portAddress);
}

quint64 protocolKey(const UniverseTraffic &traffic)
{
    return quint64(traffic.protocol) << 16 | traffic.portAddress;
}

} // namespace

UniverseTableModel::UniverseTableModel(QObject *parent)
    : RecordTableModel({tr("Protocol"), tr("Universe"), tr("Net:Sub:Uni"), tr("Sources"),
                        tr("Priority"), tr("Sync"), tr("Rate"), tr("Sequence errors"),
                        tr("Last seen"), tr("Warning")},
                       parent)
{
}

void UniverseTableModel::setUniverses(const QList<UniverseTraffic> &universes, qint64 nowMs,
                                      const QList<SacnSourceInfo> &sacnSources,
                                      const QList<quint16> &discovered)
{
    QHash<quint16, UniverseRow> sacn;
    for (const SacnSourceInfo &source : sacnSources)
        addSacnSource(&sacn[source.universe], source);
    const QSet<quint16> announced(discovered.cbegin(), discovered.cend());

    QList<UniverseRow> rows;
    rows.reserve(universes.size() + discovered.size());
    QSet<quint16> sacnListed;
    for (const UniverseTraffic &traffic : universes) {
        UniverseRow row;
        if (traffic.protocol == DmxProtocol::Sacn) {
            row = sacn.value(traffic.portAddress);
            row.announced = announced.contains(traffic.portAddress);
            sacnListed.insert(traffic.portAddress);
        }
        row.traffic = traffic;
        rows << row;
    }
    for (quint16 universe : discovered) {
        if (sacnListed.contains(universe))
            continue;
        UniverseRow row;
        row.traffic.protocol = DmxProtocol::Sacn;
        row.traffic.portAddress = universe;
        row.announced = true;
        rows << row;
    }
    m_silentRows = int(std::count_if(rows.cbegin(), rows.cend(), [](const UniverseRow &row) {
        return row.traffic.liveSources == 0;
    }));
    replaceRows(rows, nowMs);
}

int UniverseTableModel::universeAt(int row) const
{
    return universeNumber(recordAt(row).traffic);
}

UniverseKey UniverseTableModel::universeKeyAt(int row) const
{
    const UniverseTraffic &traffic = recordAt(row).traffic;
    return {traffic.protocol, traffic.portAddress};
}

// Art-Net universe 5 and sACN universe 5 are two rows.
quint64 UniverseTableModel::keyOf(const UniverseRow &row) const
{
    return protocolKey(row.traffic);
}

bool UniverseTableModel::looksTheSame(const UniverseRow &before, const UniverseRow &after) const
{
    return showsTheSameTexts(before, after);
}

UniverseTableModel::SacnState UniverseTableModel::sacnState(const UniverseRow &row)
{
    if (row.traffic.liveSources == 0)
        return row.announced ? SacnState::AnnouncedSilent : SacnState::Quiet;
    if (row.drivingSources < 2)
        return SacnState::Quiet;
    if (row.perAddressPriority)
        return SacnState::PerAddressPriority;
    return row.atTopPriority >= 2 ? SacnState::Fight : SacnState::PriorityWins;
}

bool UniverseTableModel::conflict(const UniverseRow &row)
{
    if (row.traffic.protocol == DmxProtocol::ArtNet)
        return row.traffic.conflict();
    return sacnState(row) == SacnState::Fight;
}

bool UniverseTableModel::isLive(const UniverseRow &row) const
{
    return row.traffic.liveSources > 0;
}

QVariant UniverseTableModel::foreground(const UniverseRow &row, int) const
{
    if (conflict(row))
        return NetworkTexts::warningColour();
    if (row.traffic.liveSources == 0)
        return NetworkTexts::staleColour();
    return QVariant();
}

QString UniverseTableModel::warning(const UniverseRow &row) const
{
    if (row.traffic.protocol == DmxProtocol::ArtNet)
        return row.traffic.conflict() ? tr("Conflict: %1 sources").arg(row.traffic.liveSources)
                                      : QString();
    switch (sacnState(row)) {
    case SacnState::Fight:
        return tr("Conflict: %1 sources at priority %2")
                .arg(row.atTopPriority)
                .arg(row.topPriority);
    case SacnState::PriorityWins:
        return tr("Priority %1 wins among %2 sources")
                .arg(row.topPriority)
                .arg(row.drivingSources);
    case SacnState::PerAddressPriority:
        return tr("Per-address priorities decide among %1 sources").arg(row.drivingSources);
    case SacnState::AnnouncedSilent:
        return tr("announced by discovery, silent");
    case SacnState::Quiet:
        break;
    }
    return QString();
}

QVariant UniverseTableModel::warningToolTip(const UniverseRow &row) const
{
    if (row.traffic.protocol == DmxProtocol::ArtNet) {
        if (!row.traffic.conflict())
            return QVariant();
        return tr("%1 senders are live on this universe; the nodes take the levels of "
                  "either, so the lights flicker between them.")
                .arg(row.traffic.liveSources);
    }
    switch (sacnState(row)) {
    case SacnState::Fight:
        return tr("%1 sources send this universe at the same priority, %2; each receiver "
                  "merges them as it chooses (most take the highest level), so the lights may "
                  "follow either.")
                .arg(row.atTopPriority)
                .arg(row.topPriority);
    case SacnState::PriorityWins:
        return tr("The source at priority %1 drives the lights; the others take over when it "
                  "falls silent for 2.5 s.")
                .arg(row.topPriority);
    case SacnState::PerAddressPriority:
        return tr("A source sends per-address priorities (start code 0xDD): each channel "
                  "follows the source that gives it the highest priority.");
    case SacnState::AnnouncedSilent:
        return tr("A universe discovery packet lists this universe, but nobody sent it data "
                  "in the last 2.5 s.");
    case SacnState::Quiet:
        break;
    }
    return QVariant();
}

QVariant UniverseTableModel::toolTip(const UniverseRow &row, int column) const
{
    if (column == WarningColumn)
        return warningToolTip(row);
    if (column == SourcesColumn && row.traffic.moreSources > 0)
        return tr("%1 further senders were seen but not stored").arg(row.traffic.moreSources);
    if (column == SyncColumn && row.syncDiffers)
        return tr("Its sources name different sync universes");
    return QVariant();
}

QVariant UniverseTableModel::alignment(int column) const
{
    if (column == ProtocolColumn || column == NetSubUniColumn || column == WarningColumn
        || column == LastSeenColumn)
        return QVariant();
    return rightAligned();
}

QVariant UniverseTableModel::display(const UniverseRow &row, int column, qint64 nowMs) const
{
    const UniverseTraffic &traffic = row.traffic;
    const bool sacn = traffic.protocol == DmxProtocol::Sacn;
    switch (column) {
    case ProtocolColumn:
        return NetworkTexts::protocol(traffic.protocol);
    case UniverseColumn:
        return universeNumber(traffic);
    case NetSubUniColumn:
        return sacn ? QString() : NetworkTexts::netSubUni(traffic.portAddress);
    case SourcesColumn:
        if (traffic.moreSources > 0)
            return tr("%1 (+%2)").arg(traffic.liveSources).arg(traffic.moreSources);
        return traffic.liveSources;
    case PriorityColumn:
        if (row.drivingSources == 0)
            return QString();
        if (row.perAddressPriority)
            return tr("%1, per-address").arg(row.topPriority);
        return row.topPriority;
    case SyncColumn:
        if (row.syncAddress == 0)
            return QString();
        if (row.syncDiffers)
            return tr("%1 and others").arg(row.syncAddress);
        return row.syncAddress;
    case RateColumn:
        return NetworkTexts::rate(traffic.rateHz);
    case SequenceErrorsColumn:
        return traffic.sequenceErrors;
    case LastSeenColumn:
        return NetworkTexts::age(traffic.lastSeenMs, nowMs);
    case WarningColumn:
        return warning(row);
    default:
        return QVariant();
    }
}

QVariant UniverseTableModel::sortValue(const UniverseRow &row, int column) const
{
    const UniverseTraffic &traffic = row.traffic;
    switch (column) {
    case ProtocolColumn:
    case NetSubUniColumn:
        return protocolKey(traffic);
    case UniverseColumn:
        // By the number shown, whatever the protocol; Art-Net first where both have it.
        return qint64(universeNumber(traffic)) * 2 + qint64(traffic.protocol);
    case SourcesColumn:
        return traffic.liveSources;
    case PriorityColumn:
        return row.drivingSources > 0 ? int(row.topPriority) : -1;
    case SyncColumn:
        return row.syncAddress;
    case RateColumn:
        return traffic.rateHz;
    case SequenceErrorsColumn:
        return traffic.sequenceErrors;
    case LastSeenColumn:
        return traffic.lastSeenMs;
    case WarningColumn:
        return conflict(row) ? qMax(traffic.liveSources, row.atTopPriority) : 0;
    default:
        return QVariant();
    }
}
