#ifndef UNIVERSETABLEMODEL_H
#define UNIVERSETABLEMODEL_H

#include "dmxframe.h"
#include "recordtablemodel.h"
#include "sacnsourceinfo.h"
#include "universetraffic.h"

// One universe of either protocol as the Universes table shows it: its traffic, and for sACN
// what the data packets of its live sources say about who drives the lights.
struct UniverseRow
{
    UniverseTraffic traffic;
    int drivingSources = 0;      // sACN: live sources, not preview, with a valid priority
    int atTopPriority = 0;       // of those, how many send the highest priority
    quint8 topPriority = 0;
    bool perAddressPriority = false; // one of them sends start code 0xDD
    quint16 syncAddress = 0;     // the first sync universe one of its sources names; 0: none
    bool syncDiffers = false;    // another source names another one
    bool announced = false;      // listed in sACN universe discovery
};

// Every universe that carried DMX data, Art-Net and sACN in one table: how many senders it has,
// how fast, how clean, and whether two of them fight over it. For sACN, sources at different
// priorities do not fight (the highest wins); sources at the same priority do.
class UniverseTableModel : public RecordTableModel<UniverseRow>
{
    Q_OBJECT

public:
    enum Column { ProtocolColumn, UniverseColumn, NetSubUniColumn, SourcesColumn, PriorityColumn,
                  SyncColumn, RateColumn, SequenceErrorsColumn, LastSeenColumn, WarningColumn };

    explicit UniverseTableModel(QObject *parent = nullptr);

    // sacnSources: the live sACN sources of every universe; discovered: the sACN universes that
    // universe discovery announced, each listed even while nobody sends it.
    void setUniverses(const QList<UniverseTraffic> &universes, qint64 nowMs,
                      const QList<SacnSourceInfo> &sacnSources = {},
                      const QList<quint16> &discovered = {});
    // The universe number as its protocol's box shows it (Art-Net: port-address + 1).
    int universeAt(int row) const;
    UniverseKey universeKeyAt(int row) const;
    // Rows without a live sender, as of the last setUniverses().
    int silentRows() const { return m_silentRows; }

protected:
    quint64 keyOf(const UniverseRow &row) const override;
    bool looksTheSame(const UniverseRow &before, const UniverseRow &after) const override;

private:
    enum class SacnState { Quiet, Fight, PriorityWins, PerAddressPriority, AnnouncedSilent };

    static SacnState sacnState(const UniverseRow &row);
    static bool conflict(const UniverseRow &row);
    QString warning(const UniverseRow &row) const;
    QVariant warningToolTip(const UniverseRow &row) const;
    QVariant display(const UniverseRow &row, int column, qint64 nowMs) const override;
    QVariant sortValue(const UniverseRow &row, int column) const override;
    bool isLive(const UniverseRow &row) const override;
    QVariant foreground(const UniverseRow &row, int column) const override;
    QVariant toolTip(const UniverseRow &row, int column) const override;
    QVariant alignment(int column) const override;

    int m_silentRows = 0;
};

#endif // UNIVERSETABLEMODEL_H
