#ifndef NETWORKDOCK_H
#define NETWORKDOCK_H

#include "censussnapshot.h"
#include "dmxframe.h"
#include "dmxsource.h"
#include "nodeinfo.h"
#include "timecodesource.h"
#include "universetraffic.h"

#include <QDockWidget>
#include <QHash>
#include <QList>

class NodeTableModel;
class QAction;
class QCheckBox;
class QAbstractItemModel;
class QLabel;
class QSortFilterProxyModel;
class QTableView;
class QTabWidget;
class SacnSourceTableModel;
class SourceTableModel;
class TimeCodeTableModel;
class UniverseTableModel;

// The network view's dock: which universes of either protocol are live and who sends each,
// which nodes answer polls, and which time code arrives. It shows the snapshots it is handed and asks for the
// senders of a universe by a signal; it holds no engine.
class NetworkDock : public QDockWidget
{
    Q_OBJECT
    friend class tst_Vardolux;
    friend class tst_NetworkView;
    friend class tst_NetworkViewSession;

public:
    explicit NetworkDock(QWidget *parent = nullptr);

    // Shows a census in the tables. universeOnShow: the universe whose senders the Sources
    // table lists while no universe is selected.
    void showCensus(const CensusSnapshot &census, UniverseKey universeOnShow);

    void showCensus(const QList<UniverseTraffic> &universes, const QList<NodeInfo> &nodes,
                    const QList<TimeCodeSource> &timeCode, quint64 unstoredSources,
                    qint64 nowMs);
    // The census's senders of sourcesUniverse(); sACN ones are joined with what the last
    // census said of them.
    void showSources(const QList<DmxSource> &sources, qint64 nowMs);
    void showMalformedWithoutSource(quint64 count);
    void showSacnMalformed(quint64 count);
    // Universes beyond the Universes table's bound, which the census counted but not listed.
    void showUnlistedUniverses(quint64 count);
    // Hides the universes without a live sender. Switched on by itself once more than a
    // screenful of silent rows would show, unless the user chose.
    void setLiveOnly(bool on);
    bool liveOnly() const;
    // Replies of nodes beyond the Nodes table's bound, which the engine counted but not stored.
    void showUnstoredNodes(quint64 replies);
    // The universe whose senders the Sources table lists.
    UniverseKey sourcesUniverse() const;

signals:
    // The user asked to see this universe in the channel table.
    void universeChosen(UniverseKey universe);
    // The Sources table lists this universe now; showSources() answers.
    void sourcesWanted(UniverseKey universe);
    // The user asked to forget the universes, senders and nodes that fell silent.
    void forgetSilentRequested();

private:
    QTableView *addTable(QAbstractItemModel *model, QSortFilterProxyModel **proxy);
    QWidget *createUniversesPage();
    QWidget *createControls();
    void switchLiveOnlyWhenCrowded();
    void universeActivated(const QModelIndex &proxyIndex);
    void nodeActivated(const QModelIndex &proxyIndex);
    void refreshSources();
    void updateNodesNote();

    UniverseTableModel *m_universeModel;
    SourceTableModel *m_sourceModel;
    SacnSourceTableModel *m_sacnSourceModel;
    NodeTableModel *m_nodeModel;
    TimeCodeTableModel *m_timeCodeModel;
    QSortFilterProxyModel *m_universeProxy = nullptr;
    QSortFilterProxyModel *m_sourceProxy = nullptr;
    QSortFilterProxyModel *m_nodeProxy = nullptr;
    QSortFilterProxyModel *m_timeCodeProxy = nullptr;
    QTableView *m_universeView = nullptr;
    QTableView *m_sourceView = nullptr;
    QTableView *m_nodeView = nullptr;
    QTableView *m_timeCodeView = nullptr;
    QTabWidget *m_tabs = nullptr;
    QLabel *m_sourcesTitle = nullptr;
    QLabel *m_unstoredNote = nullptr;
    QLabel *m_malformedNote = nullptr;
    QLabel *m_sacnMalformedNote = nullptr;
    QLabel *m_unlistedNote = nullptr;
    QAction *m_forgetSilentAction = nullptr;
    QCheckBox *m_liveOnlyBox = nullptr;
    bool m_liveOnlyChosen = false; // the user set the box; it no longer switches by itself
    QLabel *m_unstoredNodesNote = nullptr;
    quint64 m_unstoredNodes = 0;

    QHash<quint32, QString> m_nodeNames;
    QList<SacnSourceInfo> m_sacnSources;
    QList<quint16> m_sacnDiscovered;
    UniverseKey m_universeOnShow;
};

#endif // NETWORKDOCK_H
