// The network view's tables, dock and status-bar indicator, fed with census records directly:
// what each column says, how the tables follow the census in place, how they sort and filter,
// and what the dock notes and asks for.
#include "networkdock.h"
#include "networktexts.h"
#include "nodetablemodel.h"
#include "sacnpackets.h"
#include "sacnsourcetable.h"
#include "sacnsourcetablemodel.h"
#include "sourcetablemodel.h"
#include "testpackets.h"
#include "timecodetablemodel.h"
#include "universeindicator.h"
#include "universetablemodel.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QToolButton>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTest>

namespace {

constexpr qint64 Now = 100000;
const quint32 Console = 0x0200000a;  // 2.0.0.10
const quint32 Laptop = 0x02000014;   // 2.0.0.20
const int SortRole = Qt::UserRole;

UniverseTraffic universe(quint16 portAddress, int live = 1, double rate = 44,
                         quint32 sequenceErrors = 0, qint64 lastSeenMs = Now)
{
    UniverseTraffic traffic;
    traffic.portAddress = portAddress;
    traffic.sources = live;
    traffic.liveSources = live;
    traffic.rateHz = rate;
    traffic.sequenceErrors = sequenceErrors;
    traffic.lastSeenMs = lastSeenMs;
    return traffic;
}

DmxSource source(quint32 address, quint8 physical, double rate, bool live = true)
{
    DmxSource dmx;
    dmx.address = address;
    dmx.physical = physical;
    dmx.rateHz = rate;
    dmx.live = live;
    dmx.firstSeenMs = Now - 10000;
    dmx.lastSeenMs = live ? Now : Now - 5000;
    return dmx;
}

UniverseTraffic sacnUniverse(quint16 number, int live = 1)
{
    UniverseTraffic traffic = universe(number, live);
    traffic.protocol = DmxProtocol::Sacn;
    return traffic;
}

SacnSourceInfo sacnSource(quint8 priority, quint8 cid = 0x5C, bool preview = false,
                          bool perAddress = false, quint16 sync = 0)
{
    SacnSourceInfo info;
    info.cid.fill(cid);
    info.universe = 7;
    info.priority = priority;
    info.packets = 1;
    info.preview = preview;
    info.perAddressPriority = perAddress;
    info.syncAddress = sync;
    return info;
}

DmxSource censusOf(const SacnSourceInfo &info, bool live = true)
{
    DmxSource dmx = source(info.address, 0, 44, live);
    dmx.protocol = DmxProtocol::Sacn;
    dmx.cid = info.cid;
    dmx.priority = info.priority;
    return dmx;
}

QString text(const QAbstractItemModel &model, int row, int column)
{
    return model.data(model.index(row, column)).toString();
}

QStringList columnTexts(const QAbstractItemModel &model, int column)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts << text(model, row, column);
    return texts;
}

} // namespace

class tst_NetworkView : public QObject
{
    Q_OBJECT

private slots:
    void universeColumns_data();
    void universeColumns();
    void sacnUniverseColumns_data();
    void sacnUniverseColumns();
    void protocolsKeptApart();
    void universeTableFollowsCensusInPlace();
    void unchangedCensusSignalsNothing();
    void ageCountsAsChange();
    void sortsByValueNotText_data();
    void sortsByValueNotText();
    void selectionSurvivesRefresh();
    void sourceColumns();
    void sacnSourceColumns_data();
    void sacnSourceColumns();
    void nodeColumns_data();
    void nodeColumns();
    void nodePortsThatWork_data();
    void nodePortsThatWork();
    void nodesKeyedByAddressAndBindIndex();
    void timeCodeColumns_data();
    void timeCodeColumns();
    void timeCodeRunsWhileItMoves();
    void indicator_data();
    void indicator();
    void indicatorClickAsksForView();
    void dockFiltersAndNotes_data();
    void dockFiltersAndNotes();
    void dockAsksForSources();
    void dockOffersToForgetSilent();
};

void tst_NetworkView::universeColumns_data()
{
    QTest::addColumn<UniverseTraffic>("traffic");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<bool>("warns");

    QTest::newRow("one sender, universe 1")
            << universe(0) << QStringList{"Art-Net", "1", "0:0:0", "1", "", "", "44 Hz", "0", "now", ""}
            << false;
    QTest::newRow("two live senders: conflict")
            << universe(0x0012, 2, 88, 3)
            << QStringList{"Art-Net", "19", "0:1:2", "2", "", "", "88 Hz", "3", "now",
                           "Conflict: 2 sources"} << true;
    QTest::newRow("last port-address, Net 127")
            << universe(0x7fff)
            << QStringList{"Art-Net", "32768", "127:15:15", "1", "", "", "44 Hz", "0", "now", ""}
            << false;
    UniverseTraffic crowded = universe(0x0101, 64, 1000);
    crowded.moreSources = 5;
    QTest::newRow("senders beyond the bound")
            << crowded
            << QStringList{"Art-Net", "258", "1:0:1", "64 (+5)", "", "", "1000 Hz", "0", "now",
                           "Conflict: 64 sources"}
            << true;
    QTest::newRow("silent for 12 s")
            << universe(3, 0, 0, 0, Now - 12000)
            << QStringList{"Art-Net", "4", "0:0:3", "0", "", "", "0.0 Hz", "0", "12 s ago", ""}
            << false;
    QTest::newRow("keep-alive rate")
            << universe(3, 1, 0.8)
            << QStringList{"Art-Net", "4", "0:0:3", "1", "", "", "0.8 Hz", "0", "now", ""} << false;
}

void tst_NetworkView::universeColumns()
{
    QFETCH(UniverseTraffic, traffic);
    QFETCH(QStringList, texts);
    QFETCH(bool, warns);
    UniverseTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setUniverses({traffic}, Now);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.columnCount(), texts.size());
    QStringList shown;
    for (int column = 0; column < model.columnCount(); ++column)
        shown << text(model, 0, column);
    QCOMPARE(shown, texts);
    const QVariant colour =
            model.data(model.index(0, UniverseTableModel::WarningColumn), Qt::ForegroundRole);
    QCOMPARE(colour == QVariant(NetworkTexts::warningColour()), warns);
    QCOMPARE(model.universeAt(0), int(traffic.portAddress) + 1);
}

void tst_NetworkView::sacnUniverseColumns_data()
{
    QTest::addColumn<QList<SacnSourceInfo>>("sources"); // the census counts them all live
    QTest::addColumn<bool>("announced");
    QTest::addColumn<QStringList>("texts"); // Sources, Priority, Sync, Warning
    QTest::addColumn<bool>("warns");

    using Sources = QList<SacnSourceInfo>;
    QTest::newRow("one source") << Sources{sacnSource(100)} << true
                                << QStringList{"1", "100", "", ""} << false;
    QTest::newRow("equal priorities: a conflict")
            << Sources{sacnSource(100, 1), sacnSource(100, 2)} << false
            << QStringList{"2", "100", "", "Conflict: 2 sources at priority 100"} << true;
    QTest::newRow("the highest priority wins: no conflict")
            << Sources{sacnSource(100, 1), sacnSource(150, 2), sacnSource(100, 3)} << false
            << QStringList{"3", "150", "", "Priority 150 wins among 3 sources"} << false;
    QTest::newRow("per-address priority")
            << Sources{sacnSource(100, 1), sacnSource(100, 2, false, true)} << false
            << QStringList{"2", "100, per-address", "",
                           "Per-address priorities decide among 2 sources"}
            << false;
    QTest::newRow("preview and a priority beyond 200 drive nothing")
            << Sources{sacnSource(100, 1), sacnSource(180, 2, true), sacnSource(201, 3)} << false
            << QStringList{"3", "100", "", ""} << false;
    QTest::newRow("different sync universes")
            << Sources{sacnSource(100, 1, false, false, 9), sacnSource(90, 2, false, false, 12)}
            << false << QStringList{"2", "100", "9 and others", "Priority 100 wins among 2 sources"}
            << false;
    QTest::newRow("announced, nobody sends it")
            << Sources{} << true << QStringList{"0", "", "", "announced by discovery, silent"}
            << false;
}

void tst_NetworkView::sacnUniverseColumns()
{
    QFETCH(QList<SacnSourceInfo>, sources);
    QFETCH(bool, announced);
    QFETCH(QStringList, texts);
    QFETCH(bool, warns);
    UniverseTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    // Announced alone, the universe has a row of its own.
    QList<UniverseTraffic> census;
    if (!sources.isEmpty())
        census << sacnUniverse(7, int(sources.size()));
    model.setUniverses(census, Now, sources, announced ? QList<quint16>{7} : QList<quint16>{});
    QCOMPARE(model.rowCount(), 1);
    QStringList shown{text(model, 0, UniverseTableModel::ProtocolColumn) + ' '
                      + text(model, 0, UniverseTableModel::UniverseColumn)
                      + text(model, 0, UniverseTableModel::NetSubUniColumn)};
    for (int column : {UniverseTableModel::SourcesColumn, UniverseTableModel::PriorityColumn,
                       UniverseTableModel::SyncColumn, UniverseTableModel::WarningColumn})
        shown << text(model, 0, column);
    QCOMPARE(shown, QStringList{"sACN 7"} + texts);
    const QVariant colour = model.data(model.index(0, 0), Qt::ForegroundRole);
    QCOMPARE(colour == QVariant(NetworkTexts::warningColour()), warns);
    QCOMPARE(model.data(model.index(0, 0), UniverseTableModel::LiveRole).toBool(),
             !sources.isEmpty());
}

// sACN universe 5 and Art-Net port-address 5 (universe 6) are two rows; Art-Net universe 5
// (port-address 4) sorts beside the sACN one.
void tst_NetworkView::protocolsKeptApart()
{
    UniverseTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSortFilterProxyModel proxy;
    proxy.setSourceModel(&model);
    proxy.setSortRole(SortRole);
    proxy.sort(UniverseTableModel::UniverseColumn);
    model.setUniverses({universe(4), universe(5), sacnUniverse(5, 2)}, Now, {}, {3});
    QCOMPARE(columnTexts(proxy, UniverseTableModel::UniverseColumn),
             (QStringList{"3", "5", "5", "6"}));
    QCOMPARE(columnTexts(proxy, UniverseTableModel::ProtocolColumn),
             (QStringList{"sACN", "Art-Net", "sACN", "Art-Net"}));
    QCOMPARE(columnTexts(proxy, UniverseTableModel::SourcesColumn),
             (QStringList{"0", "1", "2", "1"}));
    QCOMPARE(model.universeKeyAt(2), (UniverseKey{DmxProtocol::Sacn, 5}));
}

void tst_NetworkView::universeTableFollowsCensusInPlace()
{
    UniverseTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setUniverses({universe(0), universe(1), universe(2), universe(3)}, Now);

    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    // Universe 2 and 3 gone, universe 1 changes its rate, 4 stays, 10 is new.
    model.setUniverses({universe(0, 1, 30), universe(3), universe(9)}, Now);

    QCOMPARE(reset.size(), 0);
    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed.at(0).at(1).toInt(), 1);
    QCOMPARE(removed.at(0).at(2).toInt(), 2);
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 2);
    QCOMPARE(inserted.at(0).at(2).toInt(), 2);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).value<QModelIndex>().row(), 0);
    QCOMPARE(changed.at(0).at(1).value<QModelIndex>().row(), 0);
    QCOMPARE(changed.at(0).at(1).value<QModelIndex>().column(), model.columnCount() - 1);
    QCOMPARE(columnTexts(model, UniverseTableModel::UniverseColumn),
             (QStringList{"1", "4", "10"}));
    QCOMPARE(text(model, 0, UniverseTableModel::RateColumn), QStringLiteral("30 Hz"));

    model.setUniverses({}, Now);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(reset.size(), 0);
}

void tst_NetworkView::unchangedCensusSignalsNothing()
{
    UniverseTableModel model;
    const QList<UniverseTraffic> census{universe(0), universe(5, 2)};
    model.setUniverses(census, Now);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
    // 300 ms later: the ages still read "now".
    model.setUniverses(census, Now + 300);
    QCOMPARE(changed.size(), 0);
    QCOMPARE(layout.size(), 0);
}

void tst_NetworkView::ageCountsAsChange()
{
    SourceTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    DmxSource silent = source(Console, 0, 0, false);
    silent.lastSeenMs = Now;
    model.setSources({silent}, {}, Now + 4200);
    QCOMPARE(text(model, 0, SourceTableModel::LastSeenColumn), QStringLiteral("4 s ago"));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setSources({silent}, {}, Now + 5100);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(text(model, 0, SourceTableModel::LastSeenColumn), QStringLiteral("5 s ago"));
    model.setSources({silent}, {}, Now + 125000);
    QCOMPARE(text(model, 0, SourceTableModel::LastSeenColumn), QStringLiteral("2 min ago"));
}

void tst_NetworkView::sortsByValueNotText_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("ascending");
    QTest::addColumn<QString>("firstAfterChange");

    QTest::newRow("universe numbers") << int(UniverseTableModel::UniverseColumn)
                                      << QStringList{"2", "10", "257"} << "2";
    QTest::newRow("rates") << int(UniverseTableModel::RateColumn)
                           << QStringList{"9.0 Hz", "44 Hz", "100 Hz"} << "10";
    QTest::newRow("sequence errors") << int(UniverseTableModel::SequenceErrorsColumn)
                                     << QStringList{"2", "11", "300"} << "10";
}

void tst_NetworkView::sortsByValueNotText()
{
    QFETCH(int, column);
    QFETCH(QStringList, ascending);
    QFETCH(QString, firstAfterChange);
    UniverseTableModel model;
    QSortFilterProxyModel proxy;
    proxy.setSourceModel(&model);
    proxy.setSortRole(SortRole);
    proxy.sort(column, Qt::AscendingOrder);
    model.setUniverses({universe(9, 1, 100, 11), universe(1, 1, 9, 300), universe(256, 1, 44, 2)},
                       Now);
    QCOMPARE(columnTexts(proxy, column), ascending);

    // Universe 10 drops to the lowest rate and error count: the proxy keeps sorting on
    // dataChanged and moves its row.
    model.setUniverses({universe(9, 1, 1, 1), universe(1, 1, 9, 300), universe(256, 1, 44, 2)},
                       Now);
    QCOMPARE(text(proxy, 0, UniverseTableModel::UniverseColumn), firstAfterChange);
}

void tst_NetworkView::selectionSurvivesRefresh()
{
    UniverseTableModel model;
    QSortFilterProxyModel proxy;
    proxy.setSourceModel(&model);
    proxy.setSortRole(SortRole);
    QTableView view;
    view.setModel(&proxy);
    view.setSortingEnabled(true);
    view.sortByColumn(UniverseTableModel::UniverseColumn, Qt::AscendingOrder);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    model.setUniverses({universe(4), universe(2), universe(7)}, Now);
    view.selectRow(1); // universe 5
    QCOMPARE(text(proxy, 1, UniverseTableModel::UniverseColumn), QStringLiteral("5"));

    model.setUniverses({universe(0), universe(4, 2), universe(7)}, Now + 1000);
    const QModelIndexList selected = view.selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(text(proxy, selected.first().row(), UniverseTableModel::UniverseColumn),
             QStringLiteral("5"));
    QCOMPARE(text(proxy, selected.first().row(), UniverseTableModel::WarningColumn),
             QStringLiteral("Conflict: 2 sources"));
    QCOMPARE(proxy.sortColumn(), int(UniverseTableModel::UniverseColumn));
    QCOMPARE(columnTexts(proxy, UniverseTableModel::UniverseColumn),
             (QStringList{"1", "5", "8"}));
}

void tst_NetworkView::sourceColumns()
{
    SourceTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    DmxSource console = source(Console, 0, 44);
    console.sequenceGaps = 3;
    console.sequenceOutOfOrder = 2;
    console.malformed = 7;
    console.sendsSync = true;
    console.health.minUs = 2500;
    console.health.medianUs = 25000;
    console.health.p99Us = 31400;
    console.health.maxUs = 1200000;
    console.health.longestGapMs = 1200;
    console.health.histogram[4] = 2400; // 20-25 ms
    console.health.histogram[11] = 1;   // the 1.2 s gap
    const DmxSource laptop = source(Laptop, 1, 0.5, false);
    model.setSources({console, laptop}, {{Console, QStringLiteral("FOH desk")}}, Now);

    QCOMPARE(model.rowCount(), 2);
    QStringList first;
    QStringList second;
    for (int column = 0; column < model.columnCount(); ++column) {
        first << text(model, 0, column);
        second << text(model, 1, column);
    }
    QCOMPARE(first, (QStringList{"2.0.0.10", "FOH desk", "0", "44 Hz", "5", "7", "yes", "now",
                                 "25 / 31 ms"}));
    QCOMPARE(second,
             (QStringList{"2.0.0.20", "", "1", "0.5 Hz", "0", "0", "no", "5 s ago", "-"}));
    // The histogram: the longest bar for the usual interval, one of a block for a single gap.
    const QString health = model.data(model.index(0, SourceTableModel::HealthColumn),
                                      Qt::ToolTipRole).toString();
    QVERIFY2(health.contains(QStringLiteral("min 2.5, median 25, p99 31, max 1200 ms")),
             qPrintable(health));
    QVERIFY2(health.contains(QStringLiteral("20\u201325 ms</td><td><tt>") + QString(24, QChar(0x2588))
                             + QStringLiteral("</tt></td><td align=\"right\">2400<")),
             qPrintable(health));
    QVERIFY2(health.contains(QStringLiteral("&gt; 1000 ms</td><td><tt>\u2588</tt>")),
             qPrintable(health));
    QCOMPARE(model.data(model.index(1, 0), Qt::ForegroundRole),
             QVariant(NetworkTexts::staleColour()));
    QVERIFY(!model.data(model.index(0, 0), Qt::ForegroundRole).isValid());
    QCOMPARE(model.data(model.index(0, SourceTableModel::SequenceErrorsColumn), Qt::ToolTipRole)
                     .toString(),
             QStringLiteral("3 packets skipped ahead, 2 arrived out of order"));

    // The same address with another Physical byte is another source.
    model.setSources({console, laptop, source(Console, 1, 44)}, {}, Now);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(text(model, 0, SourceTableModel::NodeColumn), QString());
}

void tst_NetworkView::sacnSourceColumns_data()
{
    // What a sender put in its data packet, read by the receiver's own reader and table.
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("priority");
    QTest::addColumn<int>("startCode");
    QTest::addColumn<int>("options");
    QTest::addColumn<QString>("texts"); // Name, Priority, Preview

    QTest::newRow("markup stays text") << QByteArray("<img src=x onerror=alert(1)>") << 100 << 0
                                       << 0 << "<img src=x onerror=alert(1)>|100|no";
    QTest::newRow("invalid UTF-8 replaced") << QByteArray("Desk \xff\xc3(") << 100 << 0 << 0
                                            << "Desk \uFFFD\uFFFD(|100|no";
    QTest::newRow("64 bytes without a zero") << QByteArray(64, 'N') << 100 << 0 << 0
                                             << QString(64, 'N') + "|100|no";
    QTest::newRow("control characters made visible")
            << QByteArray("A\tB\nC\x1b[31m\x7f") << 100 << 0 << 0
            << "A\u2409B\u240AC\u241B[31m\u2421|100|no";
    QTest::newRow("direction override replaced") << QByteArray("\xe2\x80\xae" "desk") << 100 << 0
                                                 << 0 << "\uFFFDdesk|100|no";
    QTest::newRow("per-address priority") << QByteArray("Desk") << 100 << 0xDD << 0
                                          << "Desk|100, per-address|no";
    QTest::newRow("priority beyond 200, in red") << QByteArray("Desk") << 201 << 0 << 0
                                                 << "Desk|201 (invalid)|no";
    QTest::newRow("preview") << QByteArray("Desk") << 100 << 0 << 0x80 << "Desk|100|yes";
}

void tst_NetworkView::sacnSourceColumns()
{
    QFETCH(QByteArray, name);
    QFETCH(int, priority);
    QFETCH(int, startCode);
    QFETCH(int, options);
    QFETCH(QString, texts);
    TestPackets::SacnData packet;
    packet.sourceName = name;
    packet.priority = quint8(priority);
    packet.startCode = quint8(startCode);
    packet.options = quint8(options);
    packet.universe = 7;
    const QByteArray datagram = TestPackets::sacnData(packet);
    SacnMessage message;
    SacnPackets::readDatagram(reinterpret_cast<const uchar *>(datagram.constData()),
                              datagram.size(), Console, Now * 1'000'000, &message);
    SacnSourceTable table;
    table.record(message, Now);
    const QList<SacnSourceInfo> described = table.sources(Now);
    QCOMPARE(described.size(), 1);

    SacnSourceTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setSources(7, {censusOf(described.first())}, described, Now);
    const auto shown = [&] {
        QStringList cells;
        for (int column : {SacnSourceTableModel::CidColumn, SacnSourceTableModel::AddressColumn,
                           SacnSourceTableModel::NameColumn, SacnSourceTableModel::PriorityColumn,
                           SacnSourceTableModel::PreviewColumn})
            cells << text(model, 0, column);
        return cells.join('|');
    };
    const QString cid = QStringLiteral("5c5c5c5c-5c5c-5c5c-5c5c-5c5c5c5c5c5c|2.0.0.10|");
    QCOMPARE(shown(), cid + texts);
    const QModelIndex priorityCell = model.index(0, SacnSourceTableModel::PriorityColumn);
    QCOMPARE(model.data(priorityCell, Qt::ForegroundRole) == QVariant(NetworkTexts::warningColour()),
             priority > 200);

    // Lost (2.5 s without data): grey, with what it was last shown with.
    model.setSources(7, {censusOf(described.first(), false)}, {}, Now + 3000);
    QCOMPARE(shown(), cid + texts);
    QCOMPARE(model.data(model.index(0, 0), Qt::ForegroundRole),
             QVariant(NetworkTexts::staleColour()));
}

void tst_NetworkView::nodeColumns_data()
{
    QTest::addColumn<NodeInfo>("node");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<int>>("outputs");

    NodeInfo node;
    node.packetAddress = Laptop;
    node.sourceAddress = Laptop;
    node.shortName = QStringLiteral("Dimmer rack");
    node.firmware = 0x0106;
    const quint8 mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0xfe};
    std::copy(mac, mac + 6, node.mac);
    node.numPorts = 4;
    node.portTypes[0] = 0x80; // output
    node.portTypes[1] = 0xc0; // input and output
    node.portTypes[2] = 0x40; // input
    node.portTypes[3] = 0x80;
    node.swOut[0] = 0x0000;
    node.swOut[1] = 0x0001;
    node.swOut[3] = 0x0110;
    node.swIn[1] = 0x0005;
    node.swIn[2] = 0x0006;
    node.lastSeenMs = Now - 2500;
    QTest::newRow("four ports")
            << node
            << QStringList{"Dimmer rack", "2.0.0.20", "00:1a:2b:3c:4d:fe", "1.6", "6, 7",
                           "1, 2, 273", "ok", "2 s ago", ""}
            << QList<int>{1, 2, 273};

    NodeInfo twoPorts = node;
    twoPorts.numPorts = 2;
    twoPorts.nodeReport = QStringLiteral("#0001 [0042] Power on tests successful");
    QTest::newRow("only NumPorts count")
            << twoPorts
            << QStringList{"Dimmer rack", "2.0.0.20", "00:1a:2b:3c:4d:fe", "1.6", "6", "1, 2",
                           "#0001 [0042] Power on tests successful", "2 s ago", ""}
            << QList<int>{1, 2};

    NodeInfo moved = node;
    moved.packetAddress = 0xc0a80107; // 192.168.1.7, configured for another network
    moved.gone = true;
    moved.numPorts = 0;
    QTest::newRow("gone, wrong IP in its reply")
            << moved
            << QStringList{"Dimmer rack", "192.168.1.7", "00:1a:2b:3c:4d:fe", "1.6", "", "",
                           "gone", "2 s ago", "Reply names 192.168.1.7 but comes from 2.0.0.20"}
            << QList<int>{};

    NodeInfo self = node;
    self.self = true;
    self.shortName = QStringLiteral("Vardolux");
    self.numPorts = 1;
    QTest::newRow("this program") << self
                                  << QStringList{"Vardolux (this program)", "2.0.0.20",
                                                 "00:1a:2b:3c:4d:fe", "1.6", "", "1", "ok",
                                                 "2 s ago", ""}
                                  << QList<int>{1};
}

void tst_NetworkView::nodeColumns()
{
    QFETCH(NodeInfo, node);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, outputs);
    NodeTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setNodes({node}, Now);
    QStringList shown;
    for (int column = 0; column < model.columnCount(); ++column)
        shown << text(model, 0, column);
    QCOMPARE(shown, texts);
    QCOMPARE(model.universesAt(model.index(0, NodeTableModel::OutputsColumn)), outputs);
    QCOMPARE(model.universesAt(model.index(0, NodeTableModel::NameColumn)), QList<int>{});
    QCOMPARE(model.data(model.index(0, 0), Qt::ForegroundRole).isValid(), node.gone);
}

void tst_NetworkView::nodePortsThatWork_data()
{
    // Per port, from port 1: PortTypes and GoodInput bytes; every port on one universe, 289.
    QTest::addColumn<QByteArray>("portTypes");
    QTest::addColumn<QByteArray>("goodInput");
    QTest::addColumn<QString>("inputs");
    QTest::addColumn<QString>("outputs");
    QTest::addColumn<QStringList>("notListed");

    QTest::newRow("unpatched console: its inputs switched off")
            << QByteArray("\xc0\xc0\xc0\x00", 4) << QByteArray("\x08\x08\x08\x00", 4)
            << "" << "289, 289, 289"
            << QStringList{"Port 1 (universe 289) is disabled and not listed",
                           "Port 2 (universe 289) is disabled and not listed",
                           "Port 3 (universe 289) is disabled and not listed"};
    QTest::newRow("input receiving data")
            << QByteArray("\x40\x00\x00\x00", 4) << QByteArray("\x80\x00\x00\x00", 4)
            << "289" << "" << QStringList{};
    QTest::newRow("disabled beside other status bits; all but disabled")
            << QByteArray("\x40\x40\x00\x00", 4) << QByteArray("\x8c\xf7\x00\x00", 4)
            << "289" << "" << QStringList{"Port 1 (universe 289) is disabled and not listed"};
    QTest::newRow("protocol bits alone: neither direction")
            << QByteArray("\x05\x05\x05\x05", 4) << QByteArray("\x00\x00\x00\x00", 4)
            << "" << "" << QStringList{};
    QTest::newRow("disabled bit on an output-only port")
            << QByteArray("\x80\x00\x00\x00", 4) << QByteArray("\x08\x00\x00\x00", 4)
            << "" << "289" << QStringList{};
}

void tst_NetworkView::nodePortsThatWork()
{
    QFETCH(QByteArray, portTypes);
    QFETCH(QByteArray, goodInput);
    QFETCH(QString, inputs);
    QFETCH(QString, outputs);
    QFETCH(QStringList, notListed);
    NodeInfo node;
    node.packetAddress = node.sourceAddress = Console;
    node.numPorts = 4;
    for (int port = 0; port < 4; ++port) {
        node.portTypes[port] = quint8(portTypes.at(port));
        node.goodInput[port] = quint8(goodInput.at(port));
        node.swIn[port] = node.swOut[port] = 288;
    }
    NodeTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setNodes({node}, Now);
    QCOMPARE(text(model, 0, NodeTableModel::InputsColumn), inputs);
    QCOMPARE(text(model, 0, NodeTableModel::OutputsColumn), outputs);
    const QModelIndex inputsCell = model.index(0, NodeTableModel::InputsColumn);
    QCOMPARE(model.universesAt(inputsCell).size(), inputs.isEmpty() ? 0 : inputs.count(',') + 1);
    const QStringList toolTip = model.data(inputsCell, Qt::ToolTipRole).toString().split('\n');
    QCOMPARE(toolTip.mid(1), notListed);
}

void tst_NetworkView::nodesKeyedByAddressAndBindIndex()
{
    NodeTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QList<NodeInfo> pages;
    for (quint8 bind = 1; bind <= 3; ++bind) {
        NodeInfo page;
        page.packetAddress = page.sourceAddress = Laptop;
        page.bindIndex = bind;
        page.shortName = QStringLiteral("Splitter");
        page.numPorts = 1;
        page.portTypes[0] = 0x80;
        page.swOut[0] = bind - 1;
        page.lastSeenMs = Now;
        pages << page;
    }
    model.setNodes(pages, Now);
    QCOMPARE(columnTexts(model, NodeTableModel::OutputsColumn), (QStringList{"1", "2", "3"}));

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    pages[1].gone = true;
    model.setNodes(pages, Now);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(removed.size(), 0);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).value<QModelIndex>().row(), 1);
    QCOMPARE(text(model, 1, NodeTableModel::StatusColumn), QStringLiteral("gone"));
}

void tst_NetworkView::timeCodeColumns_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("typeText");

    QTest::newRow("0") << 0 << "Film 24";
    QTest::newRow("1") << 1 << "EBU 25";
    QTest::newRow("2") << 2 << "DF 29.97";
    QTest::newRow("3") << 3 << "SMPTE 30";
    QTest::newRow("out of range") << 7 << "type 7";
}

void tst_NetworkView::timeCodeColumns()
{
    QFETCH(int, type);
    QFETCH(QString, typeText);
    TimeCodeTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    TimeCodeSource code;
    code.hours = 1;
    code.minutes = 2;
    code.seconds = 3;
    code.frames = 24;
    code.type = quint8(type);
    code.sender = QHostAddress(QStringLiteral("2.0.0.20"));
    model.setSources({code}, Now);
    QCOMPARE(text(model, 0, TimeCodeTableModel::SenderColumn), QStringLiteral("2.0.0.20"));
    QCOMPARE(text(model, 0, TimeCodeTableModel::TimeColumn), QStringLiteral("01:02:03:24"));
    QCOMPARE(text(model, 0, TimeCodeTableModel::TypeColumn), typeText);
}

void tst_NetworkView::timeCodeRunsWhileItMoves()
{
    TimeCodeTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    TimeCodeSource server;
    server.sender = QHostAddress(QStringLiteral("2.0.0.20"));
    server.seconds = 10;
    TimeCodeSource paused;
    paused.sender = QHostAddress(QStringLiteral("2.0.0.30"));

    // First sight: nothing has moved yet.
    model.setSources({server, paused}, Now);
    QCOMPARE(columnTexts(model, TimeCodeTableModel::StateColumn),
             (QStringList{"stopped", "stopped"}));
    server.frames = 12;
    model.setSources({server, paused}, Now + 500);
    QCOMPARE(columnTexts(model, TimeCodeTableModel::StateColumn),
             (QStringList{"running", "stopped"}));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setSources({server, paused}, Now + 1000);
    QVERIFY(model.isRunning(0));
    QCOMPARE(changed.size(), 0);
    // Held for a second: stopped.
    model.setSources({server, paused}, Now + 1500);
    QVERIFY(!model.isRunning(0));
    QCOMPARE(changed.size(), 1);
}

void tst_NetworkView::indicator_data()
{
    QTest::addColumn<bool>("sacn");
    QTest::addColumn<QList<DmxSource>>("sources");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("warns");
    QTest::addColumn<QStringList>("toolTipHas");

    QTest::newRow("nobody") << false << QList<DmxSource>{} << "no data" << false
                            << QStringList{"universe 3"};
    QTest::newRow("one sender")
            << false << QList<DmxSource>{source(Console, 0, 44)} << "2.0.0.10 at 44 Hz" << false
            << QStringList{"2.0.0.10 (Physical 0): 44 Hz"};
    QTest::newRow("one live, one silent")
            << false << QList<DmxSource>{source(Laptop, 0, 0, false), source(Console, 2, 40)}
            << "2.0.0.10 at 40 Hz" << false << QStringList{"2.0.0.10 (Physical 2)"};
    QTest::newRow("only silent senders")
            << false << QList<DmxSource>{source(Laptop, 0, 0, false)} << "no data" << false
            << QStringList{"4 s"};
    QTest::newRow("two senders")
            << false << QList<DmxSource>{source(Console, 0, 44), source(Laptop, 0, 30)}
            << "2 sources" << true
            << QStringList{"2.0.0.10 (Physical 0): 44 Hz", "2.0.0.20 (Physical 0): 30 Hz"};
    QTest::newRow("one address, two Physical ports")
            << false
            << QList<DmxSource>{source(Console, 0, 44), source(Console, 1, 44),
                                source(Laptop, 0, 1)}
            << "3 sources" << true << QStringList{"Physical 1"};

    const auto sacn = [](quint32 address, quint8 priority) {
        SacnSourceInfo info = sacnSource(priority, quint8(address));
        info.address = address;
        return censusOf(info);
    };
    QTest::newRow("sACN, one source")
            << true << QList<DmxSource>{sacn(Console, 100)} << "sACN 2.0.0.10 at 44 Hz" << false
            << QStringList{"sACN universe 3 comes from", "2.0.0.10, priority 100: 44 Hz"};
    QTest::newRow("sACN, equal priorities fight")
            << true << QList<DmxSource>{sacn(Console, 100), sacn(Laptop, 100)}
            << "2 sACN sources" << true << QStringList{"no one priority wins"};
    QTest::newRow("sACN, the higher priority wins: no fight")
            << true << QList<DmxSource>{sacn(Console, 100), sacn(Laptop, 150)}
            << "2 sACN sources, priority 150 wins" << false
            << QStringList{"the one at priority 150 drives", "2.0.0.20, priority 150"};
    QTest::newRow("sACN, a priority beyond 200 wins nothing")
            << true << QList<DmxSource>{sacn(Console, 250), sacn(Laptop, 100)}
            << "2 sACN sources, priority 100 wins" << false
            << QStringList{"2.0.0.10, priority 250"};
}

void tst_NetworkView::indicator()
{
    QFETCH(bool, sacn);
    QFETCH(QList<DmxSource>, sources);
    QFETCH(QString, text);
    QFETCH(bool, warns);
    QFETCH(QStringList, toolTipHas);
    UniverseIndicator indicator;
    const QColor normal = indicator.palette().color(QPalette::WindowText);
    indicator.showSources(sacn ? UniverseKey{DmxProtocol::Sacn, 3} : UniverseKey{DmxProtocol::ArtNet, 2},
                          sources);
    QCOMPARE(indicator.text(), text);
    QCOMPARE(indicator.warns(), warns);
    QCOMPARE(indicator.palette().color(QPalette::WindowText) == NetworkTexts::warningColour(),
             warns);
    for (const QString &part : toolTipHas)
        QVERIFY2(indicator.toolTip().contains(part), qPrintable(indicator.toolTip()));

    // Back to one sender: the warning colour goes.
    indicator.showSources(UniverseKey{DmxProtocol::ArtNet, 2}, {source(Console, 0, 44)});
    QVERIFY(!indicator.warns());
    QCOMPARE(indicator.palette().color(QPalette::WindowText), normal);
}

void tst_NetworkView::indicatorClickAsksForView()
{
    UniverseIndicator indicator;
    indicator.resize(120, 20);
    indicator.show();
    QVERIFY(QTest::qWaitForWindowExposed(&indicator));
    QSignalSpy clicked(&indicator, &UniverseIndicator::clicked);
    QTest::mouseClick(&indicator, Qt::RightButton);
    QCOMPARE(clicked.size(), 0);
    QTest::mouseClick(&indicator, Qt::LeftButton);
    QCOMPARE(clicked.size(), 1);
}

void tst_NetworkView::dockFiltersAndNotes_data()
{
    QTest::addColumn<int>("live");
    QTest::addColumn<int>("silent");
    QTest::addColumn<quint64>("unlisted");
    QTest::addColumn<bool>("userChoseAll"); // unchecked the box before the census came
    QTest::addColumn<int>("rowsShown");
    QTest::addColumn<QString>("note");

    QTest::newRow("a few silent universes stay listed, grey")
            << 3 << 5 << quint64(0) << false << 8 << QString();
    QTest::newRow("40 silent universes: still a screenful")
            << 2 << 40 << quint64(0) << false << 42 << QString();
    QTest::newRow("41 silent universes: live only, by itself")
            << 2 << 41 << quint64(0) << false << 2 << QString();
    QTest::newRow("the user's choice of all stands")
            << 2 << 41 << quint64(0) << true << 43 << QString();
    QTest::newRow("a flood beyond the bound")
            << 1 << 4095 << quint64(19067) << false << 1
            << "19067 further universes beyond the table's 4096 were counted but not listed";
}

void tst_NetworkView::dockFiltersAndNotes()
{
    QFETCH(int, live);
    QFETCH(int, silent);
    QFETCH(quint64, unlisted);
    QFETCH(bool, userChoseAll);
    QFETCH(int, rowsShown);
    QFETCH(QString, note);

    NetworkDock dock;
    if (userChoseAll) {
        dock.m_liveOnlyBox->click();
        dock.m_liveOnlyBox->click();
    }
    CensusSnapshot census;
    for (int u = 0; u < live + silent; ++u)
        census.universes << universe(quint16(u), u < live ? 1 : 0);
    census.unlistedUniverses = unlisted;
    census.nowMs = Now;
    dock.showCensus(census, UniverseKey());

    QCOMPARE(dock.m_universeModel->rowCount(), live + silent);
    QCOMPARE(dock.m_universeProxy->rowCount(), rowsShown);
    QCOMPARE(dock.liveOnly(), rowsShown == live);
    QCOMPARE(dock.m_unlistedNote->isVisibleTo(&dock), !note.isEmpty());
    QCOMPARE(dock.m_unlistedNote->text(), note);

    // A silent universe that comes back is shown again, where the filter is on.
    census.universes[live] = universe(quint16(live), 1);
    dock.showCensus(census, UniverseKey());
    QCOMPARE(dock.m_universeProxy->rowCount(), rowsShown + (dock.liveOnly() ? 1 : 0));
}

void tst_NetworkView::dockAsksForSources()
{
    NetworkDock dock;
    QSignalSpy wanted(&dock, &NetworkDock::sourcesWanted);
    CensusSnapshot census;
    census.universes = {universe(4), universe(9)};
    dock.showCensus(census, UniverseKey{DmxProtocol::ArtNet, 4});
    QCOMPARE(wanted.size(), 1);
    QCOMPARE(wanted.takeFirst().at(0).value<UniverseKey>().number, 4); // none selected: on show
    dock.m_universeView->selectRow(1);
    QCOMPARE(wanted.size(), 1);
    QCOMPARE(wanted.takeFirst().at(0).value<UniverseKey>().number, 9);
    dock.showCensus(census, UniverseKey{DmxProtocol::ArtNet, 4});
    QCOMPARE(wanted.takeFirst().at(0).value<UniverseKey>().number, 9);
    dock.showSources({source(Console, 0, 44)}, Now);
    QCOMPARE(dock.m_sourceModel->rowCount(), 1);
}

void tst_NetworkView::dockOffersToForgetSilent()
{
    NetworkDock dock;
    QSignalSpy forget(&dock, &NetworkDock::forgetSilentRequested);
    for (QTableView *view : dock.findChildren<QTableView *>()) {
        QCOMPARE(view->contextMenuPolicy(), Qt::ActionsContextMenu);
        QVERIFY(view->actions().contains(dock.m_forgetSilentAction));
    }
    auto *button = dock.findChild<QToolButton *>(QStringLiteral("forgetSilentButton"));
    QVERIFY(button);
    QCOMPARE(button->defaultAction(), dock.m_forgetSilentAction);
    button->click();
    QCOMPARE(forget.size(), 1);
}

QTEST_MAIN(tst_NetworkView)
#include "tst_networkview.moc"
