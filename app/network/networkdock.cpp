#include "networkdock.h"

#include "dmxcensus.h"
#include "nodetable.h"
#include "nodetablemodel.h"
#include "sacnsourcetablemodel.h"
#include "sourcetablemodel.h"
#include "timecodetablemodel.h"
#include "universetablemodel.h"

#include <QAction>
#include <QCheckBox>
#include <QCursor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int SortRole = Qt::UserRole;
constexpr int LiveRole = Qt::UserRole + 1;
// More silent universes than a dock shows at once bury the live ones.
constexpr int ScreenfulOfRows = 40;
// Rows beyond those on show that fitting a column looks at.
constexpr int SampledRows = 64;

// A node's port as the spin box shows its universe (port-address + 1).
UniverseKey artNetUniverse(int universe)
{
    return {DmxProtocol::ArtNet, quint16(universe - 1)};
}

} // namespace

NetworkDock::NetworkDock(QWidget *parent)
    : QDockWidget(tr("Network"), parent),
      m_universeModel(new UniverseTableModel(this)),
      m_sourceModel(new SourceTableModel(this)),
      m_sacnSourceModel(new SacnSourceTableModel(this)),
      m_nodeModel(new NodeTableModel(this)),
      m_timeCodeModel(new TimeCodeTableModel(this))
{
    setObjectName(QStringLiteral("networkDock"));
    m_tabs = new QTabWidget(this);
    m_tabs->addTab(createUniversesPage(), tr("Universes"));
    m_nodeView = addTable(m_nodeModel, &m_nodeProxy);
    m_nodeView->setObjectName(QStringLiteral("nodeView"));
    m_tabs->addTab(m_nodeView, tr("Nodes"));
    m_timeCodeView = addTable(m_timeCodeModel, &m_timeCodeProxy);
    m_timeCodeView->setObjectName(QStringLiteral("timeCodeView"));
    m_tabs->addTab(m_timeCodeView, tr("Time code"));
    m_tabs->setCornerWidget(createControls());
    // Under the tabs rather than inside the Nodes page, so the page stays the table itself.
    m_unstoredNodesNote = new QLabel;
    m_unstoredNodesNote->setObjectName(QStringLiteral("unstoredNodesNote"));
    m_unstoredNodesNote->setTextFormat(Qt::PlainText);
    m_unstoredNodesNote->setVisible(false);
    auto *page = new QWidget;
    auto *pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->addWidget(m_tabs);
    pageLayout->addWidget(m_unstoredNodesNote);
    setWidget(page);

    connect(m_universeView, &QAbstractItemView::doubleClicked, this,
            &NetworkDock::universeActivated);
    connect(m_universeView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &NetworkDock::refreshSources);
    connect(m_nodeView, &QAbstractItemView::doubleClicked, this, &NetworkDock::nodeActivated);
    connect(m_tabs, &QTabWidget::currentChanged, this, &NetworkDock::updateNodesNote);
    refreshSources();
}

QWidget *NetworkDock::createUniversesPage()
{
    m_universeView = addTable(m_universeModel, &m_universeProxy);
    m_universeView->setObjectName(QStringLiteral("universeView"));
    m_universeView->setToolTip(tr("Double-click a universe to show its levels in the table"));
    m_sourceView = addTable(m_sourceModel, &m_sourceProxy);
    m_sourceView->setObjectName(QStringLiteral("sourceView"));

    m_malformedNote = new QLabel;
    m_malformedNote->setObjectName(QStringLiteral("malformedNote"));
    m_malformedNote->setVisible(false);
    m_sacnMalformedNote = new QLabel;
    m_sacnMalformedNote->setObjectName(QStringLiteral("sacnMalformedNote"));
    m_sacnMalformedNote->setVisible(false);
    m_unlistedNote = new QLabel;
    m_unlistedNote->setObjectName(QStringLiteral("unlistedNote"));
    m_unlistedNote->setVisible(false);
    auto *universes = new QWidget;
    auto *universesLayout = new QVBoxLayout(universes);
    universesLayout->setContentsMargins(0, 0, 0, 0);
    universesLayout->addWidget(m_universeView);
    universesLayout->addWidget(m_malformedNote);
    universesLayout->addWidget(m_sacnMalformedNote);
    universesLayout->addWidget(m_unlistedNote);

    m_sourcesTitle = new QLabel;
    m_unstoredNote = new QLabel;
    m_unstoredNote->setVisible(false);

    auto *sources = new QWidget;
    auto *sourcesLayout = new QVBoxLayout(sources);
    sourcesLayout->setContentsMargins(0, 0, 0, 0);
    sourcesLayout->addWidget(m_sourcesTitle);
    sourcesLayout->addWidget(m_sourceView);
    sourcesLayout->addWidget(m_unstoredNote);

    auto *splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(universes);
    splitter->addWidget(sources);
    return splitter;
}

QWidget *NetworkDock::createControls()
{
    m_forgetSilentAction = new QAction(tr("&Forget Silent"), this);
    m_forgetSilentAction->setObjectName(QStringLiteral("forgetSilentAction"));
    m_forgetSilentAction->setStatusTip(tr("Forget the universes, senders and nodes that fell "
                                          "silent, and what was counted beyond the tables"));
    connect(m_forgetSilentAction, &QAction::triggered, this, &NetworkDock::forgetSilentRequested);
    // Every table's context menu offers it.
    for (QTableView *view : {m_universeView, m_sourceView, m_nodeView, m_timeCodeView}) {
        view->setContextMenuPolicy(Qt::ActionsContextMenu);
        view->addAction(m_forgetSilentAction);
    }

    m_liveOnlyBox = new QCheckBox(tr("Live only"));
    m_liveOnlyBox->setObjectName(QStringLiteral("liveOnlyBox"));
    m_liveOnlyBox->setStatusTip(tr("Hide the universes that no sender keeps live"));
    connect(m_liveOnlyBox, &QCheckBox::toggled, this, &NetworkDock::setLiveOnly);
    connect(m_liveOnlyBox, &QCheckBox::clicked, this, [this] { m_liveOnlyChosen = true; });
    m_universeProxy->setFilterRole(LiveRole);

    auto *controls = new QWidget;
    auto *layout = new QHBoxLayout(controls);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->addWidget(m_liveOnlyBox);
    auto *forget = new QToolButton;
    forget->setObjectName(QStringLiteral("forgetSilentButton"));
    forget->setDefaultAction(m_forgetSilentAction);
    forget->setAutoRaise(true);
    layout->addWidget(forget);
    return controls;
}

void NetworkDock::setLiveOnly(bool on)
{
    m_liveOnlyBox->setChecked(on);
    // LiveRole reads "true" or "false"; an empty filter lets every row through.
    m_universeProxy->setFilterFixedString(on ? QStringLiteral("true") : QString());
}

bool NetworkDock::liveOnly() const
{
    return m_liveOnlyBox->isChecked();
}

void NetworkDock::switchLiveOnlyWhenCrowded()
{
    if (!m_liveOnlyChosen && !liveOnly() && m_universeModel->silentRows() > ScreenfulOfRows)
        setLiveOnly(true);
}

QTableView *NetworkDock::addTable(QAbstractItemModel *model, QSortFilterProxyModel **proxy)
{
    *proxy = new QSortFilterProxyModel(this);
    (*proxy)->setSourceModel(model);
    (*proxy)->setSortRole(SortRole);
    auto *view = new QTableView;
    view->setModel(*proxy);
    view->setSortingEnabled(true);
    view->sortByColumn(0, Qt::AscendingOrder);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setAlternatingRowColors(true);
    view->setWordWrap(false);
    // Fitting every row of a show's thousand universes on every refresh took some 70 ms of the
    // thread that also reads the socket; rows of one height and columns fitted to a sample of
    // rows take 5 ms.
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    view->horizontalHeader()->setResizeContentsPrecision(SampledRows);
    return view;
}

void NetworkDock::showCensus(const CensusSnapshot &census, UniverseKey universeOnShow)
{
    m_universeOnShow = universeOnShow;
    m_sacnSources = census.sacnSources;
    m_sacnDiscovered = census.sacnDiscovered;
    showCensus(census.universes, census.nodes, census.timeCode, census.unstoredSources,
               census.nowMs);
    showMalformedWithoutSource(census.malformedWithoutSource);
    showSacnMalformed(census.sacnMalformed);
    showUnlistedUniverses(census.unlistedUniverses);
    showUnstoredNodes(census.unstoredNodes);
    refreshSources();
}

void NetworkDock::showCensus(const QList<UniverseTraffic> &universes,
                             const QList<NodeInfo> &nodes,
                             const QList<TimeCodeSource> &timeCode, quint64 unstoredSources,
                             qint64 nowMs)
{
    m_universeModel->setUniverses(universes, nowMs, m_sacnSources, m_sacnDiscovered);
    switchLiveOnlyWhenCrowded();
    m_nodeModel->setNodes(nodes, nowMs);
    m_timeCodeModel->setSources(timeCode, nowMs);

    m_nodeNames.clear();
    for (const NodeInfo &node : nodes) {
        if (!node.shortName.isEmpty())
            m_nodeNames.insert(node.sourceAddress, node.shortName);
    }
    m_unstoredNote->setVisible(unstoredSources > 0);
    if (unstoredSources > 0)
        m_unstoredNote->setText(tr("%1 further senders beyond the table's bounds were counted "
                                   "but not stored")
                                        .arg(unstoredSources));
}

// Cut ArtDmx from a sender that never named a universe have no row in the Sources table.
void NetworkDock::showMalformedWithoutSource(quint64 count)
{
    m_malformedNote->setVisible(count > 0);
    if (count > 0)
        m_malformedNote->setText(tr("%1 malformed ArtDmx from senders that named no universe")
                                         .arg(count));
}

// A malformed sACN packet may fail before its universe: it is counted here and by its sender.
void NetworkDock::showSacnMalformed(quint64 count)
{
    m_sacnMalformedNote->setVisible(count > 0);
    if (count > 0)
        m_sacnMalformedNote->setText(tr("%1 malformed sACN packets passed over").arg(count));
}

void NetworkDock::showUnlistedUniverses(quint64 count)
{
    m_unlistedNote->setVisible(count > 0);
    if (count > 0)
        m_unlistedNote->setText(tr("%1 further universes beyond the table's %2 were counted but "
                                   "not listed")
                                        .arg(count)
                                        .arg(DmxCensus::MaxUniverses));
}

void NetworkDock::showUnstoredNodes(quint64 replies)
{
    if (replies == m_unstoredNodes)
        return;
    m_unstoredNodes = replies;
    // Replies, not nodes: a node beyond the bound is counted again at every poll it answers.
    m_unstoredNodesNote->setText(tr("%1 replies from further nodes beyond the table's %2 were "
                                    "counted but not stored")
                                         .arg(replies)
                                         .arg(NodeTable::MaxNodes));
    updateNodesNote();
}

void NetworkDock::updateNodesNote()
{
    m_unstoredNodesNote->setVisible(m_unstoredNodes > 0 && m_tabs->currentWidget() == m_nodeView);
}

void NetworkDock::showSources(const QList<DmxSource> &sources, qint64 nowMs)
{
    const UniverseKey universe = sourcesUniverse();
    QAbstractItemModel *shown = m_sourceModel;
    if (universe.protocol == DmxProtocol::Sacn) {
        m_sacnSourceModel->setSources(universe.number, sources, m_sacnSources, nowMs);
        shown = m_sacnSourceModel;
    } else {
        m_sourceModel->setSources(sources, m_nodeNames, nowMs);
    }
    // The two protocols tell their senders apart by different columns.
    if (m_sourceProxy->sourceModel() != shown)
        m_sourceProxy->setSourceModel(shown);
}

UniverseKey NetworkDock::sourcesUniverse() const
{
    const QModelIndexList selected = m_universeView->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return m_universeOnShow;
    return m_universeModel->universeKeyAt(
            m_universeProxy->mapToSource(selected.first()).row());
}

void NetworkDock::refreshSources()
{
    const UniverseKey universe = sourcesUniverse();
    if (universe.protocol == DmxProtocol::Sacn)
        m_sourcesTitle->setText(tr("Sources of sACN universe %1").arg(universe.number));
    else
        m_sourcesTitle->setText(tr("Sources of universe %1").arg(int(universe.number) + 1));
    emit sourcesWanted(universe);
}

void NetworkDock::universeActivated(const QModelIndex &proxyIndex)
{
    const QModelIndex index = m_universeProxy->mapToSource(proxyIndex);
    if (index.isValid())
        emit universeChosen(m_universeModel->universeKeyAt(index.row()));
}

void NetworkDock::nodeActivated(const QModelIndex &proxyIndex)
{
    const QList<int> universes = m_nodeModel->universesAt(m_nodeProxy->mapToSource(proxyIndex));
    if (universes.size() == 1) {
        emit universeChosen(artNetUniverse(universes.first()));
        return;
    }
    if (universes.isEmpty())
        return;
    // A node with several ports: the user picks one of them.
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("portMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (int universe : universes) {
        menu->addAction(tr("Show universe %1").arg(universe), this,
                        [this, universe] { emit universeChosen(artNetUniverse(universe)); });
    }
    menu->popup(QCursor::pos());
}
