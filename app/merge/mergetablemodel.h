#ifndef MERGETABLEMODEL_H
#define MERGETABLEMODEL_H

#include "universemerge.h"

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>

#include <array>
#include <vector>

// The channels of the universe on show where its live sources disagree (or all of them): the
// merged level, the source that gives it, and each source's own level, the winner's cell
// tinted in the source's colour. A refresh updates the rows in place, removing and inserting
// only the channels that stopped or started to differ, so that a view keeps its selection,
// sort order and scroll position while two consoles fight.
class MergeTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { ChannelColumn, MergedColumn, WinnerColumn, FirstSourceColumn };
    // The raw value of a cell for sorting; -1 where a cell shows no level.
    static constexpr int SortRole = Qt::UserRole;

    explicit MergeTableModel(QObject *parent = nullptr);

    void setMerge(const UniverseMerge &merge);
    // All 512 channels, or only those where the live sources differ.
    void setAllChannels(bool all);
    bool allChannels() const { return m_allChannels; }

    // The channel (0-511) a row shows.
    int channelAt(int row) const { return m_rows.at(size_t(row)); }
    // Channels where the live sources' levels differ.
    int differingChannels() const { return m_differing; }
    // "n channels differ; A wins n, B wins m", or why nothing can differ.
    QString summary() const { return m_summary; }
    // Which source a real node would leave out of its merge; empty when none.
    QString nodeDropNote() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void findDifferences();
    void makeSummary();
    void chooseChannels();
    void showChannels(const std::vector<quint16> &fresh);
    bool sameSources(const UniverseMerge &fresh) const;
    bool sameLevels(const UniverseMerge &fresh) const;
    QVariant display(int channel, int column) const;
    QVariant sortValue(int channel, int column) const;
    QVariant sourceHeader(int source, int role) const;

    UniverseMerge m_merge;
    // Each source's label as shown, made once per refresh for data() to hand out.
    QStringList m_labels;
    std::vector<quint16> m_rows;  // ascending channels
    std::vector<quint16> m_fresh; // the rows a refresh asks for, kept for its capacity
    std::array<bool, DmxFrame::MaxChannels> m_differs;
    std::vector<int> m_wins;     // per source: differing channels it gives the merged level
    int m_differing = 0;
    int m_live = 0;
    QString m_summary;
    bool m_allChannels = false;
};

#endif // MERGETABLEMODEL_H
