// The network view on a real capture session: consoles in the peer namespace send Art-Net and
// sACN at once; the dock, its double-click and the status-bar indicator show both protocols.
// With VARDOLUX_PROTOCOLS_SCREENSHOT set it saves the dock's picture there.
#include "capturesession.h"
#include "networkdock.h"
#include "networkview.h"
#include "privatenetwork.h"
#include "sacnsourcetablemodel.h"
#include "testpackets.h"
#include "universeindicator.h"
#include "universetablemodel.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

namespace {

// Every row's cells in these columns, joined by spaces.
QStringList rows(const QAbstractItemModel &model, std::initializer_list<int> columns)
{
    QStringList shown;
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList cells;
        for (int column : columns)
            cells << model.index(row, column).data().toString();
        shown << cells.join(' ');
    }
    return shown;
}

TestPackets::SacnData sacn(quint16 universe, const char *cid, const char *name, quint8 priority)
{
    TestPackets::SacnData packet;
    packet.universe = universe;
    packet.cid = QByteArray::fromHex(cid);
    packet.sourceName = name;
    packet.priority = priority;
    packet.values = QByteArray(512, '\x40');
    return packet;
}

} // namespace

class tst_NetworkViewSession : public QObject
{
    Q_OBJECT

private slots:
    void showsBothProtocols();
};

void tst_NetworkViewSession::showsBothProtocols()
{
    VARDOLUX_REQUIRE_PRIVATE_NETWORK();
    QVERIFY(PrivateNetwork::runInPeer({"ip", "addr", "add", "2.0.0.21/8", "dev", "art1"}));
    QUdpSocket console;
    QUdpSocket backup;
    QString error;
    QVERIFY(console.setSocketDescriptor(PrivateNetwork::peerUdpSocket("2.0.0.20", 0, &error)));
    QVERIFY(backup.setSocketDescriptor(PrivateNetwork::peerUdpSocket("2.0.0.21", 0, &error)));
    const QHostAddress local(PrivateNetwork::LocalAddress);

    // Art-Net 5, and 1 from two outputs; sACN 5 at priorities 150 and 100, sACN 9 at 100 twice;
    // discovery announces 5 and 12. 20 Hz for 30 s at most.
    const char *mainDesk = "6f1c2a9e4b7d4e21a3c58f0e9d7b6a51";
    QList<std::pair<QUdpSocket *, TestPackets::SacnData>> senders{
            {&console, sacn(5, mainDesk, "Main desk", 150)},
            {&backup, sacn(5, "0d5e8b7c21f94a6bb1e04c7d2f9a3e88", "Backup desk", 100)},
            {&backup, sacn(9, "c3a41f0e77d24b8c9e6a5d1b0f2e4c17", "Stage left", 100)},
            {&backup, sacn(9, "9b2e6d4a13c54f7e8a0b1c2d3e4f5a6b", "Stage right", 100)}};
    int ticks = 0;
    QTimer clock;
    connect(&clock, &QTimer::timeout, this, [&] {
        if (++ticks > 600)
            return clock.stop();
        const QByteArray levels(512, '\x40');
        for (quint8 physical : {0, 1})
            console.writeDatagram(TestPackets::artDmx(0, levels, quint8(ticks), physical), local,
                                  6454);
        console.writeDatagram(TestPackets::artDmx(4, levels, quint8(ticks)), local, 6454);
        for (auto &[socket, packet] : senders) {
            packet.sequence = quint8(ticks);
            socket->writeDatagram(TestPackets::sacnData(packet), local, 5568);
        }
        if (ticks % 20 == 1)
            console.writeDatagram(TestPackets::sacnDiscovery(QByteArray::fromHex(mainDesk),
                                                             "Main desk", 0, 0, {5, 12}),
                                  local, 5568);
    });
    clock.start(50);

    // The window goes first: closing its dock asks the session to stop listening.
    CaptureSession session;
    session.start({});
    QVERIFY(session.setUniverse(5));
    QSpinBox universeBox;
    universeBox.setRange(1, 65536);
    universeBox.setValue(5);
    QMainWindow window;
    auto *view = new NetworkView(&window, &session, &universeBox);
    window.show();
    view->toggleAction()->trigger();
    NetworkDock *dock = view->dock();

    const QAbstractItemModel &universes = *dock->m_universeProxy;
    QTRY_COMPARE_WITH_TIMEOUT(rows(universes, {UniverseTableModel::ProtocolColumn,
                                               UniverseTableModel::UniverseColumn,
                                               UniverseTableModel::WarningColumn}),
                              (QStringList{"Art-Net 1 Conflict: 2 sources", "Art-Net 5 ",
                                           "sACN 5 Priority 150 wins among 2 sources",
                                           "sACN 9 Conflict: 2 sources at priority 100",
                                           "sACN 12 announced by discovery, silent"}),
                              10000);
    dock->m_universeView->selectRow(2);
    QCOMPARE(dock->m_sourcesTitle->text(), QStringLiteral("Sources of sACN universe 5"));
    QTRY_COMPARE(rows(*dock->m_sourceProxy,
                      {SacnSourceTableModel::CidColumn, SacnSourceTableModel::NameColumn,
                       SacnSourceTableModel::PriorityColumn, SacnSourceTableModel::AddressColumn}),
                 (QStringList{"0d5e8b7c-21f9-4a6b-b1e0-4c7d2f9a3e88 Backup desk 100 2.0.0.21",
                              "6f1c2a9e-4b7d-4e21-a3c5-8f0e9d7b6a51 Main desk 150 2.0.0.20"}));

    // A double-click names the universe; an Art-Net one also sets the spin box.
    QSignalSpy chosen(view, &NetworkView::universeChosen);
    emit dock->m_universeView->doubleClicked(universes.index(3, 0));
    QCOMPARE(chosen.takeFirst().at(0).value<UniverseKey>(), (UniverseKey{DmxProtocol::Sacn, 9}));
    QCOMPARE(universeBox.value(), 5);
    emit dock->m_universeView->doubleClicked(universes.index(0, 0));
    QCOMPARE(chosen.takeFirst().at(0).value<UniverseKey>(), (UniverseKey{DmxProtocol::ArtNet, 0}));
    QCOMPARE(universeBox.value(), 1);

    // The indicator follows the session's universe on show, in either protocol.
    session.setProtocol(DmxProtocol::Sacn);
    for (const auto &[universe, text] : {std::pair{9, "2 sACN sources"},
                                         std::pair{5, "2 sACN sources, priority 150 wins"}}) {
        QVERIFY(session.setSacnUniverse(universe));
        view->refresh();
        QCOMPARE(view->indicator()->text(), QLatin1String(text));
        QCOMPARE(view->indicator()->warns(), universe == 9);
    }

    const QString screenshot = qEnvironmentVariable("VARDOLUX_PROTOCOLS_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        dock->setFloating(true);
        dock->resize(1200, 520);
        QTest::qWait(1200);
        QVERIFY(dock->grab().save(screenshot));
    }
}

QTEST_MAIN(tst_NetworkViewSession)
#include "tst_networkviewsession.moc"
