#include "universetablemodel.h"

#include "networktexts.h"

UniverseTableModel::UniverseTableModel(QObject *parent)
    : RecordTableModel({tr("Universe"), tr("Net:Sub:Uni"), tr("Sources"), tr("Rate"),
                        tr("Sequence errors"), tr("Last seen"), tr("Warning")},
                       parent)
{
}

void UniverseTableModel::setUniverses(const QList<UniverseTraffic> &universes, qint64 nowMs)
{
    replaceRows(universes, nowMs);
}

int UniverseTableModel::universeAt(int row) const
{
    return int(recordAt(row).portAddress) + 1;
}

quint64 UniverseTableModel::keyOf(const UniverseTraffic &universe) const
{
    return universe.portAddress;
}

bool UniverseTableModel::looksTheSame(const UniverseTraffic &before,
                                      const UniverseTraffic &after) const
{
    return showsTheSameTexts(before, after);
}

bool UniverseTableModel::isLive(const UniverseTraffic &universe) const
{
    return universe.liveSources > 0;
}

QVariant UniverseTableModel::foreground(const UniverseTraffic &universe, int) const
{
    if (universe.conflict())
        return NetworkTexts::warningColour();
    if (universe.liveSources == 0)
        return NetworkTexts::staleColour();
    return QVariant();
}

QVariant UniverseTableModel::toolTip(const UniverseTraffic &universe, int column) const
{
    if (column == WarningColumn && universe.conflict())
        return tr("%1 senders are live on this universe; the nodes take the levels of "
                  "either, so the lights flicker between them.")
                .arg(universe.liveSources);
    if (column == SourcesColumn && universe.moreSources > 0)
        return tr("%1 further senders were seen but not stored").arg(universe.moreSources);
    return QVariant();
}

QVariant UniverseTableModel::alignment(int column) const
{
    if (column == NetSubUniColumn || column == WarningColumn || column == LastSeenColumn)
        return QVariant();
    return rightAligned();
}

QVariant UniverseTableModel::display(const UniverseTraffic &universe, int column,
                                     qint64 nowMs) const
{
    switch (column) {
    case UniverseColumn:
        return int(universe.portAddress) + 1;
    case NetSubUniColumn:
        return NetworkTexts::netSubUni(universe.portAddress);
    case SourcesColumn:
        if (universe.moreSources > 0)
            return tr("%1 (+%2)").arg(universe.liveSources).arg(universe.moreSources);
        return universe.liveSources;
    case RateColumn:
        return NetworkTexts::rate(universe.rateHz);
    case SequenceErrorsColumn:
        return universe.sequenceErrors;
    case LastSeenColumn:
        return NetworkTexts::age(universe.lastSeenMs, nowMs);
    case WarningColumn:
        return universe.conflict() ? tr("Conflict: %1 sources").arg(universe.liveSources)
                                   : QString();
    default:
        return QVariant();
    }
}

QVariant UniverseTableModel::sortValue(const UniverseTraffic &universe, int column) const
{
    switch (column) {
    case UniverseColumn:
    case NetSubUniColumn:
        return universe.portAddress;
    case SourcesColumn:
        return universe.liveSources;
    case RateColumn:
        return universe.rateHz;
    case SequenceErrorsColumn:
        return universe.sequenceErrors;
    case LastSeenColumn:
        return universe.lastSeenMs;
    case WarningColumn:
        return universe.conflict() ? universe.liveSources : 0;
    default:
        return QVariant();
    }
}
