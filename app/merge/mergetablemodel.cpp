#include "mergetablemodel.h"

#include "networktexts.h"
#include "sourcepalette.h"

#include <algorithm>

namespace {

constexpr int Channels = DmxFrame::MaxChannels;

} // namespace

MergeTableModel::MergeTableModel(QObject *parent) : QAbstractTableModel(parent)
{
    m_fresh.reserve(Channels);
    m_rows.reserve(Channels);
    m_differs.fill(false);
    makeSummary();
}

void MergeTableModel::setMerge(const UniverseMerge &merge)
{
    const bool otherSources = !sameSources(merge);
    const bool otherLevels = !sameLevels(merge);
    if (otherSources)
        beginResetModel();
    m_merge = merge;
    if (otherSources) {
        m_labels.clear();
        for (const MergeSourceLevels &source : std::as_const(m_merge.sources))
            m_labels << NetworkTexts::visible(source.label);
    }
    findDifferences();
    makeSummary();
    chooseChannels();
    if (otherSources) {
        m_rows = m_fresh;
        endResetModel();
        return;
    }
    showChannels(m_fresh);
    if (otherLevels && !m_rows.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    if (otherLevels && !m_merge.sources.isEmpty())
        emit headerDataChanged(Qt::Horizontal, FirstSourceColumn, columnCount() - 1);
}

void MergeTableModel::setAllChannels(bool all)
{
    if (all == m_allChannels)
        return;
    m_allChannels = all;
    chooseChannels();
    showChannels(m_fresh);
}

bool MergeTableModel::sameSources(const UniverseMerge &fresh) const
{
    if (fresh.sources.size() != m_merge.sources.size())
        return false;
    for (qsizetype i = 0; i < fresh.sources.size(); ++i) {
        const MergeSourceLevels &before = m_merge.sources.at(i);
        const MergeSourceLevels &after = fresh.sources.at(i);
        if (before.identity != after.identity || before.label != after.label)
            return false;
    }
    return true;
}

bool MergeTableModel::sameLevels(const UniverseMerge &fresh) const
{
    if (fresh.merged != m_merge.merged || fresh.mergedCount != m_merge.mergedCount
        || fresh.winner != m_merge.winner || fresh.sources.size() != m_merge.sources.size())
        return false;
    for (qsizetype i = 0; i < fresh.sources.size(); ++i) {
        const MergeSourceLevels &before = m_merge.sources.at(i);
        const MergeSourceLevels &after = fresh.sources.at(i);
        if (before.levels != after.levels || before.count != after.count
            || before.live != after.live || before.inMerge != after.inMerge
            || before.droppedByNode != after.droppedByNode || before.priority != after.priority)
            return false;
    }
    return true;
}

// A channel differs when two live sources that carry it send it at different levels; a source
// that fell silent, or whose frame ends before the channel, has no say in it.
void MergeTableModel::findDifferences()
{
    m_wins.assign(size_t(m_merge.sources.size()), 0);
    m_live = int(std::count_if(m_merge.sources.cbegin(), m_merge.sources.cend(),
                               [](const MergeSourceLevels &source) { return source.live; }));
    m_differing = 0;
    for (int channel = 0; channel < Channels; ++channel) {
        int lowest = 256;
        int highest = -1;
        for (const MergeSourceLevels &source : std::as_const(m_merge.sources)) {
            if (!source.live || channel >= source.count)
                continue;
            lowest = std::min(lowest, int(source.levels[size_t(channel)]));
            highest = std::max(highest, int(source.levels[size_t(channel)]));
        }
        const bool differs = highest > lowest;
        m_differs[size_t(channel)] = differs;
        if (!differs)
            continue;
        ++m_differing;
        const int winner = m_merge.winner[size_t(channel)];
        if (winner >= 0 && size_t(winner) < m_wins.size())
            ++m_wins[size_t(winner)];
    }
}

void MergeTableModel::makeSummary()
{
    if (m_live == 0) {
        m_summary = tr("No live source: nothing to merge");
        return;
    }
    if (m_live == 1) {
        const auto live = std::find_if(m_merge.sources.cbegin(), m_merge.sources.cend(),
                                       [](const MergeSourceLevels &source) { return source.live; });
        m_summary = tr("Only %1 is live: nothing to merge")
                            .arg(m_labels.at(live - m_merge.sources.cbegin()));
        return;
    }
    QStringList wins;
    for (int source = 0; source < m_labels.size(); ++source) {
        if (m_merge.sources.at(source).live || m_wins[size_t(source)] > 0)
            wins << tr("%1 wins %2").arg(m_labels.at(source)).arg(m_wins[size_t(source)]);
    }
    const QString differ = m_differing == 1 ? tr("1 channel differs")
                                            : tr("%1 channels differ").arg(m_differing);
    m_summary = differ + QLatin1String("; ") + wins.join(QLatin1String(", "));
}

QString MergeTableModel::nodeDropNote() const
{
    QStringList dropped;
    for (int source = 0; source < m_labels.size(); ++source) {
        if (m_merge.sources.at(source).droppedByNode)
            dropped << m_labels.at(source);
    }
    if (dropped.isEmpty())
        return QString();
    return tr("A node merges two sources only: it would leave out %1")
            .arg(dropped.join(QLatin1String(", ")));
}

void MergeTableModel::chooseChannels()
{
    m_fresh.clear();
    for (int channel = 0; channel < Channels; ++channel) {
        if (m_allChannels || m_differs[size_t(channel)])
            m_fresh.push_back(quint16(channel));
    }
}

// Both lists ascend, so what stays is a subsequence of both: vanished runs go from the bottom
// up, then new runs go in where they belong.
void MergeTableModel::showChannels(const std::vector<quint16> &fresh)
{
    for (int last = int(m_rows.size()) - 1; last >= 0;) {
        const auto stays = [&fresh](quint16 channel) {
            return std::binary_search(fresh.cbegin(), fresh.cend(), channel);
        };
        if (stays(m_rows[size_t(last)])) {
            --last;
            continue;
        }
        int first = last;
        while (first > 0 && !stays(m_rows[size_t(first - 1)]))
            --first;
        beginRemoveRows(QModelIndex(), first, last);
        m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
        endRemoveRows();
        last = first - 1;
    }
    size_t row = 0;
    for (size_t at = 0; at < fresh.size();) {
        if (row < m_rows.size() && m_rows[row] == fresh[at]) {
            ++row;
            ++at;
            continue;
        }
        size_t end = at;
        while (end < fresh.size() && (row >= m_rows.size() || fresh[end] != m_rows[row]))
            ++end;
        beginInsertRows(QModelIndex(), int(row), int(row + end - at) - 1);
        m_rows.insert(m_rows.begin() + qsizetype(row), fresh.begin() + qsizetype(at),
                      fresh.begin() + qsizetype(end));
        endInsertRows();
        row += end - at;
        at = end;
    }
}

int MergeTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int MergeTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : FirstSourceColumn + int(m_merge.sources.size());
}

QVariant MergeTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.parent().isValid() || index.row() >= rowCount()
        || index.column() >= columnCount())
        return QVariant();
    const int channel = m_rows[size_t(index.row())];
    const int column = index.column();
    const int source = column - FirstSourceColumn;
    switch (role) {
    case Qt::DisplayRole:
        return display(channel, column);
    case SortRole:
        return sortValue(channel, column);
    case Qt::TextAlignmentRole:
        return column == WinnerColumn ? QVariant()
                                      : QVariant(int(Qt::AlignRight | Qt::AlignVCenter));
    case Qt::BackgroundRole:
        // Only where the sources disagree: where they agree, nobody wins anything.
        if (source >= 0 && m_differs[size_t(channel)] && m_merge.winner[size_t(channel)] == source)
            return SourcePalette::tint(source);
        return QVariant();
    case Qt::ForegroundRole:
        if (source >= 0 && !m_merge.sources.at(source).live)
            return NetworkTexts::staleColour();
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant MergeTableModel::display(int channel, int column) const
{
    if (column == ChannelColumn)
        return channel + 1;
    if (column == MergedColumn)
        return channel < m_merge.mergedCount ? QVariant(int(m_merge.merged[size_t(channel)]))
                                             : QVariant();
    if (column == WinnerColumn) {
        const int winner = m_merge.winner[size_t(channel)];
        return winner >= 0 && winner < m_labels.size() ? QVariant(m_labels.at(winner)) : QVariant();
    }
    const MergeSourceLevels &source = m_merge.sources.at(column - FirstSourceColumn);
    return channel < source.count ? QVariant(int(source.levels[size_t(channel)])) : QVariant();
}

QVariant MergeTableModel::sortValue(int channel, int column) const
{
    if (column == WinnerColumn)
        return display(channel, column);
    const QVariant shown = display(channel, column);
    return shown.isValid() ? shown : QVariant(-1);
}

QVariant MergeTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section >= FirstSourceColumn)
        return sourceHeader(section - FirstSourceColumn, role);
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case ChannelColumn:
        return tr("Channel");
    case MergedColumn:
        return tr("Merged");
    default:
        return tr("Winner");
    }
}

QVariant MergeTableModel::sourceHeader(int source, int role) const
{
    const MergeSourceLevels &levels = m_merge.sources.at(source);
    const bool sacn = levels.identity.protocol == DmxProtocol::Sacn;
    if (role == Qt::DisplayRole)
        return sacn ? tr("%1, priority %2").arg(m_labels.at(source)).arg(levels.priority)
                    : m_labels.at(source);
    if (role != Qt::ToolTipRole)
        return QVariant();
    QStringList facts;
    facts << (levels.live ? tr("live")
                          : levels.inMerge ? tr("silent, still in the merge")
                                           : tr("silent, out of the merge"));
    if (levels.droppedByNode)
        facts << tr("a node merging two sources would leave it out");
    if (levels.count < Channels)
        facts << tr("its frames carry %1 channels").arg(levels.count);
    return m_labels.at(source) + QLatin1Char('\n') + facts.join(QLatin1String(", "));
}
