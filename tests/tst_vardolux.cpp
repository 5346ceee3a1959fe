// The main window end to end: with the real Art-Net engine in a private network, recording and
// sending, the engine's port and identity, and the channel activity and network views on live
// traffic. The peer namespace plays the console and the node on the other end of the cable.
// What the window does without a network is tst_window's.
#include "vardolux.h"

#include "activityviews.h"
#include "artnet.h"
#include "boxcloser.h"
#include "capturecontrol.h"
#include "captureplayback.h"
#include "captureplayer.h"
#include "capturesession.h"
#include "capturewriter.h"
#include "channeltrace.h"
#include "mergedock.h"
#include "mergetablemodel.h"
#include "mergeview.h"
#include "framehistory.h"
#include "modalwatcher.h"
#include "model.h"
#include "networkdock.h"
#include "nodetablemodel.h"
#include "privatenetwork.h"
#include "protocolbar.h"
#include "recordingfile.h"
#include "sacnmessage.h"
#include "sacnpackets.h"
#include "scopewidget.h"
#include "smallfilesystem.h"
#include "sourcetablemodel.h"
#include "testpackets.h"
#include "timecodetablemodel.h"
#include "universeindicator.h"
#include "universetablemodel.h"
#include "peerwindowfixture.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUdpSocket>
#include <QWidgetAction>
#include <QWindow>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using TestPackets::artDmx;
using TestPackets::artPollReply;
using TestPackets::artTimeCode;
using TestPackets::bytes;

// A console's sACN packet of universe 7 with its CID's every byte `console`.
QByteArray sacnLevels(char console, quint8 priority, const QByteArray &levels, quint8 options = 0)
{
    TestPackets::SacnData packet;
    packet.cid = QByteArray(16, console);
    packet.priority = priority;
    packet.options = options;
    packet.universe = 7;
    packet.values = levels;
    return TestPackets::sacnData(packet);
}

// QTest::mouseDClick of Qt 6.4 reaches an item view's viewport without a double-click that the
// view recognises (it sees only a second press); a click and then the double-click event is
// what a user's double-click delivers.
void doubleClick(QAbstractItemView *view, const QModelIndex &index)
{
    QWidget *viewport = view->viewport();
    const QPoint point = view->visualRect(index).center();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, point);
    QMouseEvent event(QEvent::MouseButtonDblClick, point, viewport->mapToGlobal(point),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
}

// CLOCK_MONOTONIC read directly, the clock of the frames' arrival times.
qint64 monotonicNs()
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

quint16 opCodeOf(const QByteArray &packet)
{
    if (packet.size() < 10 || !packet.startsWith(QByteArray("Art-Net\0", 8)))
        return 0;
    return quint16(quint8(packet.at(8)) | (quint8(packet.at(9)) << 8));
}

// The ArtPollReply packets the peer gets within timeoutMs; it stops at the first.
QList<QByteArray> pollRepliesTo(QUdpSocket &peer, int timeoutMs)
{
    QList<QByteArray> replies;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs && replies.isEmpty()) {
        QTest::qWait(10);
        while (peer.hasPendingDatagrams()) {
            QByteArray datagram(int(peer.pendingDatagramSize()), '\0');
            peer.readDatagram(datagram.data(), datagram.size());
            if (opCodeOf(datagram) == 0x2100)
                replies << datagram;
        }
    }
    return replies;
}


} // namespace

class tst_Vardolux : public QObject, public PeerWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Construction and commands
    void startsStoppedWithEmptyTable();
    void setUniverseNeedsEngineAndRange_data();
    void setUniverseNeedsEngineAndRange();

    // Settings, help and about
    void shortcutsWorkInUniverseBox_data();
    void shortcutsWorkInUniverseBox();

    // End to end with the engine
    void recordShowsNoDataBeforeAnyPacket();
    void recordShowsReceivedFrame();
    void universeChangeDuringRecording();
    void freezeSurvivesStopAndRecord();
    void sendPutsFrameOnTheWire();
    void sendFrameLengths_data();
    void sendFrameLengths();
    void sendIsTheSameInEveryViewMode();
    void loadWhileSendingReplacesPacket();
    void wholeJobByKeyboard();
    void loadWhileSendingRefusesTooShortFrame();
    void sendWithoutRouteIsReported();
    void engineCarriesIdentityAndPollMode();
    void playedCaptureIsNotAnswered();
    void busyPortIsReportedOncePerCommand();
    void laterSuccessClearsPortFailure_data();
    void laterSuccessClearsPortFailure();
    void sharedPortIsReportedOnce();
    void sendingNoteNamesUniverseAndNetworks();
    void sacnRecordShowsMergedLevels_data();
    void sacnRecordShowsMergedLevels();
    void protocolSwitchKeepsRecording();
    void sacnSendPutsStreamOnTheWire();
    void sacnPortNotes_data();
    void sacnPortNotes();

    // Channel activity
    void exportOnFullDiskKeepsOldFile_data();
    void exportOnFullDiskKeepsOldFile();
    void glitchBetweenTicksIsCaught();
    void exportKeepsArrivalTimesOfBusyWindow();
    void scopeDrawsOneFrameSpike_data();
    void scopeDrawsOneFrameSpike();

    // Network view
    void networkViewOpensAndCloses_data();
    void networkViewOpensAndCloses();
    void doubleClickShowsUniverse_data();
    void doubleClickShowsUniverse();
    void nodesNoteCountsUnstoredReplies_data();
    void nodesNoteCountsUnstoredReplies();
    void networkViewShowsConflict();
    void mergeViewShowsTwoConsolesFighting();

    // Capture
    void captureByShortcutWithNetworkViewOnly();

private:
    QList<QByteArray> receiveArtDmx(QUdpSocket *socket, int count, int timeoutMs);
    static std::vector<std::unique_ptr<QUdpSocket>> openConsoles();
    void activityScreenshot(Vardolux &window, QUdpSocket *peer);
};

void tst_Vardolux::initTestCase()
{
    VARDOLUX_REQUIRE_PRIVATE_NETWORK();
    QVERIFY2(PrivateNetwork::hasPeer(), "this test needs the peer namespace (netns-run --peer)");
    setUpSettings();
}

void tst_Vardolux::init()
{
    freshFiles();
}

void tst_Vardolux::cleanup()
{
    dropFiles();
}

// Up to count ArtDmx datagrams that reach the peer within the time; other datagrams are dropped.
QList<QByteArray> tst_Vardolux::receiveArtDmx(QUdpSocket *socket, int count, int timeoutMs)
{
    QList<QByteArray> received;
    QElapsedTimer clock;
    clock.start();
    while (received.size() < count && clock.elapsed() < timeoutMs) {
        if (!socket->hasPendingDatagrams()) {
            QTest::qWait(10);
            continue;
        }
        QByteArray datagram(int(socket->pendingDatagramSize()), '\0');
        socket->readDatagram(datagram.data(), datagram.size());
        if (opCodeOf(datagram) == 0x5000)
            received << datagram;
    }
    return received;
}

// ---------------------------------------------------------------------------------------------
// Construction and commands

void tst_Vardolux::startsStoppedWithEmptyTable()
{
    auto window = makeWindow();
    QVERIFY(window->engine == nullptr);
    QVERIFY(window->recordTimer == nullptr);
    QVERIFY(window->frameBuffer == nullptr);
    QVERIFY(!window->frozen);
    QVERIFY(!window->sending);
    QCOMPARE(window->model->rowCount(), 32);
    QCOMPARE(window->model->columnCount(), 16);
    QCOMPARE(allCellTexts(*window), QStringList(512, QStringLiteral("none data")));

    // No engine means no socket: the port is still free for anyone.
    QUdpSocket probe;
    QVERIFY2(probe.bind(QHostAddress::AnyIPv4, ArtNetPort), qPrintable(probe.errorString()));
}

void tst_Vardolux::setUniverseNeedsEngineAndRange_data()
{
    QTest::addColumn<int>("universe");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("0") << 0 << false;
    QTest::newRow("1") << 1 << true;
    QTest::newRow("32768") << 32768 << true;
    QTest::newRow("65536") << 65536 << true;
    QTest::newRow("65537") << 65537 << false;
    QTest::newRow("negative") << -1 << false;
}

void tst_Vardolux::setUniverseNeedsEngineAndRange()
{
    QFETCH(int, universe);
    QFETCH(bool, accepted);
    auto window = makeWindow();
    QVERIFY2(!window->setUniverse(universe), "accepted a universe without an engine");
    window->ensureEngine();
    QCOMPARE(window->setUniverse(universe), accepted);
}

// ---------------------------------------------------------------------------------------------
// Settings, help and about

void tst_Vardolux::shortcutsWorkInUniverseBox_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QKeySequence>("shortcut");

    // Every action of the window that has a shortcut, whatever it is.
    Vardolux window;
    for (QAction *action : window.findChildren<QAction *>(Qt::FindDirectChildrenOnly))
        if (!action->shortcut().isEmpty())
            QTest::newRow(qPrintable(action->objectName() + QLatin1Char(' ')
                                     + action->shortcut().toString()))
                    << action->objectName() << action->shortcut();
}

void tst_Vardolux::shortcutsWorkInUniverseBox()
{
    QFETCH(QString, field);
    QFETCH(QKeySequence, shortcut);
    auto window = makeWindow();
    window->resize(1200, 400); // room for every toolbar, so that the box is not in an overflow
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    auto *action = window->findChild<QAction *>(field, Qt::FindDirectChildrenOnly);
    QVERIFY(action);
    QSignalSpy triggered(action, &QAction::triggered);

    // As a user does: into the box, a universe typed over the old one, Return.
    auto *edit = window->universeSpinBox->findChild<QLineEdit *>();
    QVERIFY(edit);
    QTest::mouseClick(edit, Qt::LeftButton);
    QVERIFY(edit->isVisible());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("12"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(window->universeSpinBox->value(), 12);
    QWidget *focus = QApplication::focusWidget();
    QVERIFY(focus == window->universeSpinBox || window->universeSpinBox->isAncestorOf(focus));

    ModalWatcher closer([](QWidget *widget) { widget->close(); });
    const QKeyCombination key = shortcut[0];
    QTest::keyClick(focus, key.key(), key.keyboardModifiers());
    QCOMPARE(triggered.size(), 1);
    window->stop();
}

// ---------------------------------------------------------------------------------------------
// End to end with the engine

void tst_Vardolux::recordShowsNoDataBeforeAnyPacket()
{
    auto window = makeWindow();
    window->recordAction->trigger();
    QVERIFY(window->engine);
    QVERIFY(window->recordTimer);
    QCOMPARE(window->recordTimer->interval(), 200);
    QVERIFY(window->recordAction->isChecked());
    QVERIFY(!window->sendAction->isChecked());
    QVERIFY(!window->stopAction->isChecked());
    QTRY_COMPARE(allCellTexts(*window), QStringList(512, QStringLiteral("no data")));

    // Record again restarts with a new timer; engine and buffer are reused.
    artnet *engine = window->engine;
    unsigned char *buffer = window->frameBuffer;
    window->recordAction->trigger();
    QCOMPARE(window->engine, engine);
    QCOMPARE(window->frameBuffer, buffer);
    QVERIFY(window->recordAction->isChecked());

    window->stopAction->trigger();
    QVERIFY(!window->recordTimer);
    QVERIFY(window->stopAction->isChecked());
    QVERIFY(!window->recordAction->isChecked());
}

void tst_Vardolux::recordShowsReceivedFrame()
{
    std::unique_ptr<QUdpSocket> peer;
    std::unique_ptr<Vardolux> window;
    QVERIFY(startRecording(peer, window));

    QByteArray levels;
    for (int channel = 0; channel < 24; ++channel)
        levels.append(char(channel * 10 + 5));
    QVERIFY(sendToWindow(*peer, artDmx(0, levels)));
    QTRY_COMPARE(cellText(*window, 0, 0), QStringLiteral("5"));

    QStringList expected(512, QStringLiteral("no data"));
    for (int channel = 0; channel < 24; ++channel)
        expected[channel] = QString::number(channel * 10 + 5);
    QCOMPARE(allCellTexts(*window), expected);

    if (qEnvironmentVariableIsSet("VARDOLUX_SCREENSHOT")) {
        QByteArray full;
        for (int channel = 0; channel < 512; ++channel)
            full.append(char((channel * 37) % 256));
        sendToWindow(*peer, artDmx(0, full));
        window->resize(680, 720);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_COMPARE(cellText(*window, 31, 15), QString::number((511 * 37) % 256));
        window->optimizeAction->trigger();
        window->statusBar()->showMessage(QStringLiteral("Ready"));
        QTest::qWait(100);
        QVERIFY(window->grab().save(qEnvironmentVariable("VARDOLUX_SCREENSHOT")));
    }
}

void tst_Vardolux::universeChangeDuringRecording()
{
    std::unique_ptr<QUdpSocket> peer;
    std::unique_ptr<Vardolux> window;
    QVERIFY(startRecording(peer, window));
    sendToWindow(*peer, artDmx(0, bytes({11, 12})));
    QTRY_COMPARE(cellText(*window, 0, 0), QStringLiteral("11"));

    // Universe 2 is port-address 1.
    window->universeSpinBox->setValue(2);
    QTRY_COMPARE(cellText(*window, 0, 0), QStringLiteral("no data"));
    sendToWindow(*peer, artDmx(0, bytes({13, 14})));
    QTest::qWait(500);
    QCOMPARE(cellText(*window, 0, 0), QStringLiteral("no data"));
    sendToWindow(*peer, artDmx(1, bytes({21, 22, 23})));
    QTRY_COMPARE(cellText(*window, 0, 2), QStringLiteral("23"));

    // A SubUni of 0x80 and a Net byte: universe 0x0180 + 1.
    window->universeSpinBox->setValue(0x0181);
    QTRY_COMPARE(cellText(*window, 0, 0), QStringLiteral("no data"));
    sendToWindow(*peer, artDmx(0x0180, bytes({99, 98})));
    QTRY_COMPARE(cellText(*window, 0, 0), QStringLiteral("99"));
}

void tst_Vardolux::freezeSurvivesStopAndRecord()
{
    std::unique_ptr<QUdpSocket> peer;
    std::unique_ptr<Vardolux> window;
    QVERIFY(startRecording(peer, window));
    sendToWindow(*peer, artDmx(0, bytes({11, 11})));
    QTRY_COMPARE(cellText(*window, 0, 0), QStringLiteral("11"));

    window->freezeAction->trigger();
    QVERIFY(window->frozen);
    QVERIFY(window->freezeAction->isChecked());
    sendToWindow(*peer, artDmx(0, bytes({22, 22})));
    QTest::qWait(600);
    QCOMPARE(cellText(*window, 0, 0), QStringLiteral("11"));

    window->stopAction->trigger();
    window->recordAction->trigger();
    QVERIFY(window->frozen);
    QTest::qWait(600);
    QCOMPARE(cellText(*window, 0, 0), QStringLiteral("11"));

    window->freezeAction->trigger();
    QVERIFY(!window->frozen);
    QVERIFY(!window->freezeAction->isChecked());
    QTRY_COMPARE(cellText(*window, 0, 0), QStringLiteral("no data"));
    sendToWindow(*peer, artDmx(0, bytes({33, 33})));
    QTRY_COMPARE(cellText(*window, 0, 0), QStringLiteral("33"));

    // Stopped and frozen: Freeze only clears the flag, without a box.
    window->freezeAction->trigger();
    QVERIFY(window->frozen);
    window->stopAction->trigger();
    BoxCloser closer;
    window->freezeAction->trigger();
    QVERIFY(!window->frozen);
    QCOMPARE(closer.boxes.size(), 0);
}

void tst_Vardolux::sendPutsFrameOnTheWire()
{
    auto peer = openPeerSocket();
    QVERIFY(peer);
    auto window = makeWindow();
    window->universeSpinBox->setValue(0x0104); // port-address 0x0103
    showFrame(*window, bytes({1, 2, 3, 4, 5, 6}));
    window->sendAction->trigger();
    QVERIFY(window->sending);
    QVERIFY(window->sendAction->isChecked());
    QVERIFY(!window->recordAction->isChecked());
    QVERIFY(!window->stopAction->isChecked());

    QElapsedTimer clock;
    clock.start();
    const QList<QByteArray> received = receiveArtDmx(peer.get(), 3, 3000);
    QCOMPARE(received.size(), 3); // the first and two repeats
    // Repeats come on the 500 ms refresh (a coarse timer, so a little early at most), not as
    // fast as the network takes them; later is possible on a loaded machine.
    QVERIFY2(clock.elapsed() >= 900, qPrintable(QStringLiteral("three packets in %1 ms")
                                                        .arg(clock.elapsed())));
    const QByteArray expected = QByteArray("Art-Net\0", 8) // ID
            + bytes({0x00, 0x50})                           // OpCode ArtDmx
            + bytes({0x00, 0x0e})                           // protocol 14
            + bytes({0x00, 0x00})                           // Sequence, Physical
            + bytes({0x03, 0x01})                           // SubUni, Net
            + bytes({0x00, 0x06})                           // LengthHi, Length
            + bytes({1, 2, 3, 4, 5, 6});                    // data
    for (const QByteArray &packet : received)
        QCOMPARE(packet.toHex(' '), expected.toHex(' '));

    // A later change of the universe does not change the repeated packet.
    window->universeSpinBox->setValue(9);
    const QList<QByteArray> repeated = receiveArtDmx(peer.get(), 2, 2000);
    QCOMPARE(repeated.size(), 2);
    QCOMPARE(repeated.last().toHex(' '), expected.toHex(' '));

    window->stopAction->trigger();
    QVERIFY(!window->sending);
    receiveArtDmx(peer.get(), 100, 100); // what was already under way
    QVERIFY2(receiveArtDmx(peer.get(), 1, 1200).isEmpty(), "still sending after Stop");
}

void tst_Vardolux::sendFrameLengths_data()
{
    QTest::addColumn<QByteArray>("levels");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("0 levels: nothing") << QByteArray() << QByteArray();
    QTest::newRow("1 level: nothing") << bytes({7}) << QByteArray();
    QTest::newRow("3 levels") << bytes({7, 8, 9}) << bytes({7, 8, 9});
    QTest::newRow("5 levels") << bytes({1, 2, 3, 4, 5}) << bytes({1, 2, 3, 4, 5});
    QTest::newRow("512 levels") << QByteArray(512, char(0xab)) << QByteArray(512, char(0xab));
}

void tst_Vardolux::sendFrameLengths()
{
    QFETCH(QByteArray, levels);
    QFETCH(QByteArray, sent);
    auto peer = openPeerSocket();
    QVERIFY(peer);
    auto window = makeWindow();
    if (!levels.isEmpty())
        showFrame(*window, levels);
    window->sendAction->trigger();
    QVERIFY(window->sending);
    QVERIFY(window->sendAction->isChecked());

    const QList<QByteArray> received = receiveArtDmx(peer.get(), 1, sent.isEmpty() ? 1200 : 3000);
    if (sent.isEmpty()) {
        QVERIFY2(received.isEmpty(), "a frame too short for ArtDmx went out");
        QCOMPARE(window->statusBar()->currentMessage(),
                 QStringLiteral("Nothing sent: a frame needs 2 to 512 channels"));
    } else {
        QCOMPARE(received.size(), 1);
        QCOMPARE(received.first().mid(16, 2),
                 bytes({int(sent.size() >> 8), int(sent.size() & 0xff)}));
        QCOMPARE(received.first().mid(18), sent);
        QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Ready"));
    }
}

void tst_Vardolux::sendIsTheSameInEveryViewMode()
{
    auto peer = openPeerSocket();
    QVERIFY(peer);
    auto window = makeWindow();
    QByteArray levels;
    for (int channel = 0; channel < 40; ++channel)
        levels.append(char(channel * 6));
    showFrame(*window, levels);

    QList<QByteArray> packets;
    for (QAction *mode : {window->viewDecimalAction, window->viewPercentAction,
                          window->viewHexAction, window->viewBarAction}) {
        mode->trigger();
        window->sendAction->trigger();
        const QList<QByteArray> received = receiveArtDmx(peer.get(), 1, 3000);
        QCOMPARE(received.size(), 1);
        packets << received.first();
        window->stopAction->trigger();
        receiveArtDmx(peer.get(), 100, 100);
    }
    QCOMPARE(packets.first().mid(18), levels);
    for (const QByteArray &packet : packets)
        QCOMPARE(packet.toHex(), packets.first().toHex());
}

void tst_Vardolux::loadWhileSendingReplacesPacket()
{
    const QString path = m_files->filePath(QStringLiteral("replay.xml"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(RecordingFile::toXml(bytes({9, 8, 7, 6}), 9).toLatin1());
    }
    auto peer = openPeerSocket();
    QVERIFY(peer);
    auto window = makeWindow();
    window->universeSpinBox->setValue(3); // port-address 2
    showFrame(*window, bytes({1, 2, 3}));
    window->sendAction->trigger();
    QList<QByteArray> received = receiveArtDmx(peer.get(), 1, 3000);
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().mid(14), bytes({2, 0, 0, 3, 1, 2, 3}));

    window->loadFile(path);
    QCOMPARE(cellText(*window, 0, 3), QStringLiteral("6"));
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("File loaded"));
    // What was under way may still hold the old frame; from the loaded one on, only the new.
    received = receiveArtDmx(peer.get(), 4, 4000);
    QVERIFY2(received.size() >= 3, qPrintable(QString::number(received.size())));
    const int first = int(received.indexOf(artDmx(2, bytes({9, 8, 7, 6}))));
    QVERIFY2(first >= 0 && first <= 1, qPrintable(QString::number(first)));
    for (int i = first; i < received.size(); ++i)
        QCOMPARE(received.at(i).toHex(' '), artDmx(2, bytes({9, 8, 7, 6})).toHex(' '));
}

// The whole job as a technician does it, by keyboard only: record a console's universe, freeze,
// save, start afresh, open the recording and send it to a node on the same universe.
void tst_Vardolux::wholeJobByKeyboard()
{
    auto peer = openPeerSocket();
    QVERIFY(peer);
    const QHostAddress local(PrivateNetwork::LocalAddress);
    const QString path = m_files->filePath(QStringLiteral("show.xml"));
    QByteArray levels;
    for (int channel = 0; channel < 512; ++channel)
        levels.append(char((channel * 7 + 3) % 256));

    auto window = makeWindow();
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    const auto press = [&](Qt::Key key) {
        window->activateWindow(); // the offscreen platform does not give it back after a dialog
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), key, Qt::ControlModifier);
    };
    window->universeSpinBox->setValue(0x0103); // port-address 0x0102

    press(Qt::Key_R);
    QVERIFY(window->recordAction->isChecked());
    QTRY_COMPARE(cellText(*window, 0, 0), QStringLiteral("no data")); // receiving from the first tick
    peer->writeDatagram(artDmx(0x0102, levels), local, ArtNetPort);
    QTRY_COMPARE(cellText(*window, 31, 15), QString::number(quint8(levels.at(511))));
    press(Qt::Key_F);
    QVERIFY(window->frozen);
    peer->writeDatagram(artDmx(0x0102, QByteArray(512, char(1))), local, ArtNetPort);
    QTest::qWait(400);

    {
        ModalWatcher saveAs([&](QWidget *widget) {
            if (auto *dialog = qobject_cast<QFileDialog *>(widget))
                chooseInDialog(dialog, path);
            else
                widget->close();
        });
        press(Qt::Key_S);
        QCOMPARE(saveAs.seen(), 1);
    }
    QByteArray saved;
    QVERIFY(RecordingFile::read(fileBytes(path)).frames.size() == 1);
    saved = RecordingFile::read(fileBytes(path)).frames.first();
    QCOMPARE(saved.toHex(), levels.toHex());

    press(Qt::Key_T);
    press(Qt::Key_F); // unfreeze
    QVERIFY(!window->frozen);
    press(Qt::Key_N);
    {
        ModalWatcher open([&](QWidget *widget) {
            if (auto *dialog = qobject_cast<QFileDialog *>(widget))
                chooseInDialog(dialog, path);
            else
                widget->close();
        });
        press(Qt::Key_O);
        QCOMPARE(open.seen(), 1);
    }
    QCOMPARE(window->currentFile, path);

    receiveArtDmx(peer.get(), 100, 100); // nothing of ours is under way yet; drop any stray
    press(Qt::Key_E);
    QVERIFY(window->sendAction->isChecked());
    const QList<QByteArray> received = receiveArtDmx(peer.get(), 2, 3000);
    QCOMPARE(received.size(), 2);
    for (const QByteArray &packet : received)
        QCOMPARE(packet.toHex(' '), artDmx(0x0102, levels).toHex(' '));
    press(Qt::Key_T);
}

void tst_Vardolux::loadWhileSendingRefusesTooShortFrame()
{
    const QString path = m_files->filePath(QStringLiteral("one.xml"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(RecordingFile::toXml(bytes({0x44}), 1).toLatin1());
    }
    auto peer = openPeerSocket();
    QVERIFY(peer);
    auto window = makeWindow();
    showFrame(*window, bytes({1, 2}));
    window->sendAction->trigger();
    QCOMPARE(receiveArtDmx(peer.get(), 1, 3000).size(), 1);

    window->loadFile(path);
    QCOMPARE(cellText(*window, 0, 0), QStringLiteral("68"));
    QCOMPARE(window->currentFile, path);
    QCOMPARE(window->statusBar()->currentMessage(),
             QStringLiteral("Nothing sent: a frame needs 2 to 512 channels"));
    // The engine goes on repeating the frame it had.
    const QList<QByteArray> received = receiveArtDmx(peer.get(), 2, 3000);
    QCOMPARE(received.size(), 2);
    QCOMPARE(received.last().mid(18), bytes({1, 2}));
}

void tst_Vardolux::sendWithoutRouteIsReported()
{
    // A show network without a default route: the limited broadcast has no way out, the
    // network's directed broadcast still reaches the node.
    auto peer = openPeerSocket();
    QVERIFY(peer);
    QVERIFY(PrivateNetwork::run({"ip", "route", "del", "default"}));
    auto restoreRoute = qScopeGuard([] {
        PrivateNetwork::run({"ip", "link", "set", "art0", "up"});
        PrivateNetwork::run({"ip", "route", "add", "default", "dev", "art0"});
    });
    auto window = makeWindow();
    showFrame(*window, bytes({1, 2, 3}));
    window->sendAction->trigger();
    QList<QByteArray> received = receiveArtDmx(peer.get(), 1, 3000);
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().mid(18), bytes({1, 2, 3}));
    QCOMPARE(window->sendingLabel->text(), QStringLiteral("Sending universe 1 on 2.0.0.0/8"));

    // No way out at all: said, and nothing claims to be sent.
    QVERIFY(PrivateNetwork::run({"ip", "link", "set", "art0", "down"}));
    window->sendAction->trigger();
    QCOMPARE(window->statusBar()->currentMessage(),
             QStringLiteral("Nothing sent: the network refused the ArtDmx packet"));
    QVERIFY(window->sending);
    QVERIFY(window->sendingLabel->isHidden());
}

void tst_Vardolux::engineCarriesIdentityAndPollMode()
{
    auto peer = openPeerSocket();
    QVERIFY(peer);
    const QHostAddress local(PrivateNetwork::LocalAddress);
    auto window = makeWindow();
    window->pollModeAction->setChecked(true);
    window->recordAction->trigger();

    auto pollReplies = [&](int timeoutMs) { return pollRepliesTo(*peer, timeoutMs); };

    QVERIFY(peer->writeDatagram(TestPackets::artPoll(0x00), local, ArtNetPort) > 0);
    const QList<QByteArray> replies = pollReplies(3000);
    QVERIFY2(!replies.isEmpty(), "no ArtPollReply with poll mode on");
    const QByteArray reply = replies.first();
    QVERIFY(reply.size() >= 108);
    QCOMPARE(quint8(reply.at(16)), quint8(0));    // VersInfoHi
    QCOMPARE(quint8(reply.at(17)), quint8(6));    // VersInfoLo
    QCOMPARE(quint8(reply.at(20)), quint8(0x00)); // OemHi
    QCOMPARE(quint8(reply.at(21)), quint8(0xff)); // Oem
    QCOMPARE(QByteArray(reply.constData() + 26), QByteArray("Vardolux"));       // ShortName
    QCOMPARE(QByteArray(reply.constData() + 44),
             QByteArray("Vardolux V0.6 by www.vardolux.example"));                // LongName

    // Switched off, polls go unanswered.
    window->pollModeAction->trigger();
    QVERIFY(!window->pollModeAction->isChecked());
    pollReplies(100);
    QVERIFY(peer->writeDatagram(TestPackets::artPoll(0x00), local, ArtNetPort) > 0);
    QVERIFY2(pollReplies(1000).isEmpty(), "answered a poll with poll mode off");
}

// Poll Mode on: neither an ArtPoll in a played capture nor one from the live network while the
// capture is open gets an answer; once it is closed, the live one does.
void tst_Vardolux::playedCaptureIsNotAnswered()
{
    auto peer = openPeerSocket();
    QVERIFY(peer);
    const QString path = m_files->filePath(QStringLiteral("polls.pcap"));
    {
        CaptureWriter writer(path);
        for (int i = 0; i < 20; ++i)
            writer.add(1'760'000'000'000'000'000 + i * 10'000'000LL, 0x02000014, ArtNetPort,
                       0x0200000A, ArtNetPort, TestPackets::artPoll(0x00));
    }
    auto window = makeWindow();
    window->pollModeAction->setChecked(true);
    window->capturePlayback->openCapture(path);
    QTRY_COMPARE(window->capturePlayback->player()->state(), CapturePlayer::State::AtEnd);
    const QHostAddress local(PrivateNetwork::LocalAddress);
    QVERIFY(peer->writeDatagram(TestPackets::artPoll(0x00), local, ArtNetPort) > 0);
    QVERIFY2(pollRepliesTo(*peer, 1000).isEmpty(), "answered a poll while a capture is open");
    window->capturePlayback->closeCapture();
    QVERIFY(peer->writeDatagram(TestPackets::artPoll(0x00), local, ArtNetPort) > 0);
    QVERIFY2(!pollRepliesTo(*peer, 3000).isEmpty(), "no answer once the capture is closed");
}

void tst_Vardolux::busyPortIsReportedOncePerCommand()
{
    QUdpSocket holder;
    QVERIFY2(holder.bind(QHostAddress::AnyIPv4, ArtNetPort), qPrintable(holder.errorString()));
    auto window = makeWindow();
    const QString message = QStringLiteral("Cannot open Art-Net port 6454");

    window->recordAction->trigger();
    QCOMPARE(window->statusBar()->currentMessage(), message);
    QVERIFY(window->recordAction->isChecked());
    window->statusBar()->clearMessage();
    QTest::qWait(700); // three ticks, each failing to receive
    QVERIFY2(window->statusBar()->currentMessage().isEmpty(), "the tick repeated the message");

    showFrame(*window, bytes({1, 2, 3}));
    window->sendAction->trigger();
    QCOMPARE(window->statusBar()->currentMessage(), message);
    QVERIFY(window->sendAction->isChecked());
    QVERIFY(window->sending);

    window->statusBar()->clearMessage();
    window->pollModeAction->trigger();
    QVERIFY(window->pollModeAction->isChecked());
    QCOMPARE(window->statusBar()->currentMessage(), message);

    window->statusBar()->clearMessage();
    window->networkViewAction->trigger();
    QVERIFY(window->networkDock->isVisibleTo(window.get()));
    QCOMPARE(window->statusBar()->currentMessage(), message);
    window->networkViewAction->trigger();

    // Once the port is free, the next command gets it.
    holder.close();
    window->statusBar()->clearMessage();
    window->recordAction->trigger();
    QVERIFY(window->statusBar()->currentMessage().isEmpty());
}

void tst_Vardolux::laterSuccessClearsPortFailure_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("Record") << QStringLiteral("record");
    QTest::newRow("Send") << QStringLiteral("send");
    QTest::newRow("Poll Mode") << QStringLiteral("poll");
}

void tst_Vardolux::laterSuccessClearsPortFailure()
{
    QFETCH(QString, command);
    auto holder = std::make_unique<QUdpSocket>();
    QVERIFY2(holder->bind(QHostAddress::AnyIPv4, ArtNetPort), qPrintable(holder->errorString()));
    auto window = makeWindow();
    showFrame(*window, bytes({1, 2, 3}));
    window->recordAction->trigger();
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Cannot open Art-Net port 6454"));

    holder.reset();
    if (command == QLatin1String("record")) {
        window->recordAction->trigger();
    } else if (command == QLatin1String("send")) {
        window->stopAction->trigger();
        window->sendAction->trigger();
    } else {
        window->pollModeAction->trigger();
        QVERIFY(window->pollModeAction->isChecked());
    }
    QCOMPARE(window->statusBar()->currentMessage(), QString());
}

void tst_Vardolux::sharedPortIsReportedOnce()
{
    // Another program holding the port with address reuse lets the second bind through.
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress::AnyIPv4, ArtNetPort,
                        QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
    auto window = makeWindow();
    window->recordAction->trigger();
    QVERIFY(window->engine->portShared());
    const QString shared = QStringLiteral(
            "Art-Net port 6454 is shared with another program: unicast packets may go to it instead");
    QCOMPARE(window->statusBar()->currentMessage(), shared);

    window->statusBar()->clearMessage();
    window->recordAction->trigger();
    window->pollModeAction->trigger();
    QCOMPARE(window->statusBar()->currentMessage(), QString());

    // Alone on the port, nothing is said.
    holder.close();
    window.reset();
    auto alone = makeWindow();
    alone->recordAction->trigger();
    QVERIFY(!alone->engine->portShared());
    QCOMPARE(alone->statusBar()->currentMessage(), QStringLiteral("Ready"));
}

void tst_Vardolux::sacnRecordShowsMergedLevels_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QString>("shown");

    QTest::newRow("higher priority wins whatever its levels")
            << sacnLevels('A', 100, bytes({200, 200, 200})) << sacnLevels('B', 150, bytes({10, 20}))
            << "10 20 200";
    QTest::newRow("equal priorities: highest level")
            << sacnLevels('A', 100, bytes({200, 5, 9})) << sacnLevels('B', 100, bytes({10, 20}))
            << "200 20 9";
    QTest::newRow("preview passed over")
            << sacnLevels('A', 100, bytes({200, 5})) << sacnLevels('B', 150, bytes({10}), 0x80)
            << "200 5 no data";
    QTest::newRow("stream terminated at once")
            << sacnLevels('A', 100, bytes({200, 5})) << sacnLevels('B', 150, bytes({10}), 0x40)
            << "200 5 no data";
}

void tst_Vardolux::sacnRecordShowsMergedLevels()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(QString, shown);
    std::unique_ptr<QUdpSocket> peer;
    std::unique_ptr<Vardolux> window;
    QVERIFY(startRecording(peer, window, {DmxProtocol::Sacn, 7}));
    QVERIFY(sendToWindow(*peer, first, SacnPort));
    QTRY_VERIFY(cellText(*window, 0, 0) != QLatin1String("no data"));
    QVERIFY(sendToWindow(*peer, second, SacnPort));
    const auto firstCells = [&] {
        return QStringList{cellText(*window, 0, 0), cellText(*window, 0, 1), cellText(*window, 0, 2)}
                .join(u' ');
    };
    QTRY_COMPARE(firstCells(), shown);
    QTest::qWait(450); // two more ticks: the merge holds while its sources live
    QCOMPARE(firstCells(), shown);

    if (qEnvironmentVariableIsSet("VARDOLUX_PROTOCOL_SCREENSHOT") && QTest::currentDataTag()
        == QLatin1String("higher priority wins whatever its levels")) {
        TestPackets::SacnData packet;
        packet.cid = QByteArray(16, 'B');
        packet.priority = 150;
        packet.universe = 7;
        packet.sequence = 1;
        for (int channel = 0; channel < 512; ++channel)
            packet.values.append(char((channel * 53) % 256));
        sendToWindow(*peer, TestPackets::sacnData(packet), SacnPort);
        window->resize(720, 640);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_COMPARE(cellText(*window, 31, 15), QString::number((511 * 53) % 256));
        window->optimizeAction->trigger();
        window->statusBar()->showMessage(QStringLiteral("Ready"));
        QTest::qWait(100);
        QVERIFY(window->grab().save(qEnvironmentVariable("VARDOLUX_PROTOCOL_SCREENSHOT")));
    }
}

void tst_Vardolux::protocolSwitchKeepsRecording()
{
    std::unique_ptr<QUdpSocket> peer;
    std::unique_ptr<Vardolux> window;
    QVERIFY(startRecording(peer, window));
    sendToWindow(*peer, artDmx(0, bytes({33, 33})));
    QTRY_COMPARE(cellText(*window, 0, 0), QStringLiteral("33"));

    // As the user switches: the box, then the sACN universe.
    window->protocolBar->m_protocolBox->setCurrentIndex(1);
    window->protocolBar->m_universeBox->setValue(7);
    QTRY_COMPARE(cellText(*window, 0, 0), QStringLiteral("no data"));
    sendToWindow(*peer, sacnLevels('A', 100, bytes({10, 11})), SacnPort);
    sendToWindow(*peer, artDmx(0, bytes({34, 34})));
    QTRY_COMPARE(cellText(*window, 0, 0), QStringLiteral("10"));
    QVERIFY(window->recordAction->isChecked());

    // What the activity views kept of Art-Net is not the sACN universe's.
    const QString csvPath = m_files->filePath(QStringLiteral("sacn.csv"));
    QVERIFY(window->activityViews->exportTo(csvPath));
    QList<QByteArray> channelLevels;
    for (const QByteArray &line : fileBytes(csvPath).trimmed().split('\n').mid(1))
        channelLevels << line.mid(line.indexOf(',') + 1);
    QCOMPARE(channelLevels, (QList<QByteArray>{"1,10", "2,11"}));
    const ChannelActivity::Statistics &channel1 = window->activityViews->m_activity.statistics(0);
    QCOMPARE(QList<int>({channel1.minimum, channel1.maximum, int(channel1.changes)}),
             QList<int>({10, 10, 0}));

    window->showUniverse({DmxProtocol::ArtNet, 0});
    sendToWindow(*peer, artDmx(0, bytes({35, 35})));
    QTRY_COMPARE(cellText(*window, 0, 0), QStringLiteral("35"));
}

void tst_Vardolux::sacnSendPutsStreamOnTheWire()
{
    QString error;
    const int fd = PrivateNetwork::peerUdpSocket(QString(), SacnPort, &error);
    QVERIFY2(fd >= 0, qPrintable(error));
    ip_mreqn membership = {};
    membership.imr_multiaddr.s_addr = htonl(0xEFFF0007u);      // universe 7's group
    membership.imr_address.s_addr = htonl(0x02000014u);        // on the peer's 2.0.0.20
    QCOMPARE(::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership), 0);
    QUdpSocket peer;
    QVERIFY(peer.setSocketDescriptor(fd, QUdpSocket::BoundState));
    const auto next = [&peer](SacnMessage *message, QByteArray *datagram) {
        if (!QTest::qWaitFor([&] { return peer.hasPendingDatagrams(); }, 2000))
            return false;
        datagram->resize(int(peer.pendingDatagramSize()));
        peer.readDatagram(datagram->data(), datagram->size());
        SacnPackets::readDatagram(reinterpret_cast<const uchar *>(datagram->constData()),
                                  datagram->size(), 0, 0, message);
        return true;
    };

    auto window = makeWindow();
    window->showUniverse({DmxProtocol::Sacn, 7});
    window->protocolBar->m_priorityBox->setValue(150);
    showFrame(*window, bytes({1, 2, 3}));
    window->sendAction->trigger();
    QVERIFY(window->sendingLabel->text().startsWith(
            QStringLiteral("Sending sACN universe 7 at priority 150 on 2.0.0.0/8")));
    QByteArray datagram;
    SacnMessage message;
    QVERIFY(next(&message, &datagram));
    QCOMPARE(message.kind, SacnMessage::Kind::Data);
    QCOMPARE(message.frame.priority, quint8(150));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(message.frame.levels), message.frame.count),
             bytes({1, 2, 3}));

    // Stop lets receivers go at once; nothing goes out as Art-Net meanwhile.
    window->stopAction->trigger();
    QVERIFY(window->sendingLabel->isHidden());
    bool terminated = false;
    while (!terminated && next(&message, &datagram))
        terminated = message.streamTerminated();
    QVERIFY(terminated);
}

void tst_Vardolux::sacnPortNotes_data()
{
    QTest::addColumn<bool>("held");
    QTest::addColumn<bool>("shared");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("recordedAgain"); // once the holder is gone

    const QString sharedNote = QStringLiteral("sACN port 5568 is shared with another program: "
                                              "unicast packets may go to it instead");
    QTest::newRow("free") << false << false << "Ready" << "Ready";
    QTest::newRow("held") << true << false << "Cannot open sACN port 5568" << "";
    QTest::newRow("shared") << true << true << sharedNote << sharedNote;
}

void tst_Vardolux::sacnPortNotes()
{
    QFETCH(bool, held);
    QFETCH(bool, shared);
    QFETCH(QString, message);
    QFETCH(QString, recordedAgain);
    QUdpSocket holder;
    if (held)
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, SacnPort,
                            shared ? QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint
                                   : QAbstractSocket::DontShareAddress));
    auto window = makeWindow();
    window->showUniverse({DmxProtocol::Sacn, 7});
    window->recordAction->trigger();
    QCOMPARE(window->statusBar()->currentMessage(), message);

    holder.close();
    window->recordAction->trigger();
    QCOMPARE(window->statusBar()->currentMessage(), recordedAgain);
}

void tst_Vardolux::sendingNoteNamesUniverseAndNetworks()
{
    const QString path = m_files->filePath(QStringLiteral("replay.xml"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(RecordingFile::toXml(bytes({9, 8, 7, 6}), 2).toLatin1());
    }
    auto window = makeWindow();
    window->show();
    QVERIFY(window->sendingLabel->isHidden());
    window->universeSpinBox->setValue(5);
    showFrame(*window, bytes({1, 2, 3}));
    window->sendAction->trigger();
    QVERIFY(window->sendingLabel->isVisible());
    const QString onFive = QStringLiteral("Sending universe 5 on 2.0.0.0/8");
    QCOMPARE(window->sendingLabel->text(), onFive);

    // The repeated packet keeps its universe until the next Send or a load.
    window->universeSpinBox->setValue(9);
    QCOMPARE(window->sendingLabel->text(), onFive);
    window->loadFile(path);
    QCOMPARE(window->sendingLabel->text(), QStringLiteral("Sending universe 9 on 2.0.0.0/8"));
    QVERIFY(window->sendingLabel->isVisible());
    // A message in the status bar does not hide it.
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("File loaded"));
    QVERIFY(window->sendingLabel->isVisible());

    window->stopAction->trigger();
    QVERIFY(window->sendingLabel->isHidden());
    window->recordAction->trigger();
    QVERIFY(window->sendingLabel->isHidden());
}

// ---------------------------------------------------------------------------------------------
// Channel activity


void tst_Vardolux::exportOnFullDiskKeepsOldFile_data()
{
    QTest::addColumn<bool>("ontoOldFile"); // else onto a new file

    QTest::newRow("onto an earlier export") << true;
    QTest::newRow("onto a new file") << false;
}

// As with the recording file: the box says why, the old export stays byte for byte, and no
// cut or empty file is left behind.
void tst_Vardolux::exportOnFullDiskKeepsOldFile()
{
    VARDOLUX_REQUIRE_EMPTY_SMALL_FILE_SYSTEM();
    QFETCH(bool, ontoOldFile);
    const QDir disk(SmallFileSystem::path());
    std::unique_ptr<QUdpSocket> peer;
    std::unique_ptr<Vardolux> window;
    QVERIFY(startRecording(peer, window));
    for (int level : {10, 20, 30})
        sendToWindow(*peer, artDmx(0, bytes({level, 7})));
    QTRY_COMPARE(cellText(*window, 0, 0), QStringLiteral("30"));
    QCOMPARE(window->activityViews->m_activity.statistics(0).changes, quint32(2));

    const QString target = disk.filePath(ontoOldFile ? QStringLiteral("old.csv")
                                                     : QStringLiteral("new.csv"));
    QByteArray before;
    if (ontoOldFile) {
        QVERIFY(window->activityViews->exportTo(target));
        before = fileBytes(target);
        QVERIFY(before.startsWith("time_ms,channel,level\n"));
    }
    VARDOLUX_FILL_SMALL_FILE_SYSTEM();
    const QStringList filesBefore = SmallFileSystem::files();

    BoxCloser closer;
    QVERIFY(!window->activityViews->exportTo(target));
    QCOMPARE(closer.boxes.size(), 1);
    QCOMPARE(closer.boxes.first().title, QStringLiteral("Application"));
    QCOMPARE(closer.boxes.first().icon, QMessageBox::Warning);
    QCOMPARE(closer.boxes.first().text,
             QStringLiteral("Cannot write file %1:\n%2.")
                     .arg(target, QString::fromLocal8Bit(strerror(ENOSPC))));
    QCOMPARE(SmallFileSystem::files(), filesBefore);
    if (ontoOldFile)
        QCOMPARE(fileBytes(target), before);
}

// A console sends a steady level, one frame of glitch and the steady level again, all within
// one refresh: the table never shows the glitch, but the channel is tinted and counted, the
// scope holds the spike and the export lists it.
void tst_Vardolux::glitchBetweenTicksIsCaught()
{
    std::unique_ptr<QUdpSocket> peer;
    std::unique_ptr<Vardolux> window;
    QVERIFY(startRecording(peer, window));
    ActivityViews *views = window->activityViews;
    views->m_highlightAction->trigger();
    views->m_scopeDock->toggleViewAction()->trigger();
    window->tableView->selectionModel()->select(window->model->index(0, 1),
                                                QItemSelectionModel::Select);
    QCOMPARE(views->m_trace.channels(), QList<int>{1});
    QTRY_COMPARE(cellText(*window, 0, 1), QStringLiteral("no data"));
    sendToWindow(*peer, artDmx(0, bytes({7, 16, 7})));
    QTRY_COMPARE(cellText(*window, 0, 1), QStringLiteral("16"));
    QTest::qWait(300);
    const QModelIndex cell = window->model->index(0, 1);
    QVERIFY(!window->model->data(cell, Qt::BackgroundRole).isValid());

    for (int level : {16, 255, 16})
        sendToWindow(*peer, artDmx(0, bytes({7, level, 7})));
    QTRY_COMPARE(int(views->m_activity.statistics(1).changes), 2);
    QCOMPARE(int(views->m_activity.statistics(1).maximum), 255);
    QCOMPARE(int(views->m_activity.statistics(0).changes), 0);
    QTRY_VERIFY(window->model->data(cell, Qt::BackgroundRole).isValid());
    QVERIFY(!window->model->data(window->model->index(0, 0), Qt::BackgroundRole).isValid());
    QVERIFY(window->model->data(cell, Qt::ToolTipRole)
                    .toString()
                    .contains(QStringLiteral("Changes since the reset: 2")));
    QCOMPARE(cellText(*window, 0, 1), QStringLiteral("16"));

    bool spike = false;
    for (int point = 0; point < views->m_trace.size(); ++point)
        spike = spike || views->m_trace.at(point).levels[0] == 255;
    QVERIFY2(spike, "the scope's trace lacks the glitch");

    // Frozen, the counts, the tint and the scope hold; unfrozen, they catch up.
    window->freezeAction->trigger();
    const QVariant heldTint = window->model->data(cell, Qt::BackgroundRole);
    const int heldPoints = views->m_trace.size();
    sendToWindow(*peer, artDmx(0, bytes({7, 200, 7})));
    QTest::qWait(2500);
    QCOMPARE(int(views->m_activity.statistics(1).changes), 2);
    QCOMPARE(window->model->data(cell, Qt::BackgroundRole), heldTint);
    QCOMPARE(views->m_trace.size(), heldPoints);
    window->freezeAction->trigger();
    QTRY_COMPARE(int(views->m_activity.statistics(1).changes), 3);
    QTRY_COMPARE(cellText(*window, 0, 1), QStringLiteral("200"));

    const QString csvPath = m_files->filePath(QStringLiteral("glitch.csv"));
    QVERIFY(views->exportTo(csvPath));
    const QList<QByteArray> lines = fileBytes(csvPath).split('\n');
    QCOMPARE(lines.first(), QByteArray("time_ms,channel,level"));
    QStringList levels;
    for (const QByteArray &line : lines.mid(1))
        if (line.split(',').value(1) == "2")
            levels << QString::fromLatin1(line.split(',').value(2));
    QCOMPARE(levels, (QStringList{"16", "255", "16", "200"}));

    if (qEnvironmentVariableIsSet("VARDOLUX_ACTIVITY_SCREENSHOT"))
        activityScreenshot(*window, peer.get());

    // A new universe is a new history: nothing counted, nothing tinted.
    window->universeSpinBox->setValue(2);
    QTRY_COMPARE(cellText(*window, 0, 1), QStringLiteral("no data"));
    QCOMPARE(int(views->m_activity.statistics(1).changes), 0);
    QVERIFY(!window->model->data(cell, Qt::BackgroundRole).isValid());
}

// A console sends a ramp at 44 frames/s while the window is busy for 150 ms of every 200: the
// export must give each frame the time it arrived, not the time the window got round to it.
void tst_Vardolux::exportKeepsArrivalTimesOfBusyWindow()
{
    QString error;
    const int console = PrivateNetwork::peerSenderSocket(QString(), 0, &error);
    QVERIFY2(console >= 0, qPrintable(error));
    const auto closeConsole = qScopeGuard([console] { ::close(console); });
    auto window = makeWindow();
    window->recordAction->trigger();
    QTRY_COMPARE(cellText(*window, 0, 0), QStringLiteral("no data"));

    constexpr int Frames = 88;
    constexpr qint64 PeriodNs = 1'000'000'000 / 44;
    std::vector<qint64> sentBefore(Frames), sentAfter(Frames);
    std::atomic<bool> allSent{false};
    std::thread sender([&] {
        sockaddr_in target = {};
        target.sin_family = AF_INET;
        target.sin_port = htons(ArtNetPort);
        inet_pton(AF_INET, PrivateNetwork::LocalAddress, &target.sin_addr);
        const qint64 startNs = monotonicNs();
        for (int frame = 0; frame < Frames; ++frame) {
            const qint64 dueNs = startNs + frame * PeriodNs;
            const timespec due = {time_t(dueNs / 1'000'000'000), long(dueNs % 1'000'000'000)};
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
            const QByteArray packet = artDmx(0, bytes({frame + 1, 0}));
            sentBefore[size_t(frame)] = monotonicNs();
            ::sendto(console, packet.constData(), size_t(packet.size()), 0,
                     reinterpret_cast<const sockaddr *>(&target), sizeof target);
            sentAfter[size_t(frame)] = monotonicNs();
        }
        allSent = true;
    });
    // Busy as a long refresh or a dialog being built makes it, with datagrams queuing meanwhile.
    QTimer busy;
    connect(&busy, &QTimer::timeout, this, [] { QThread::msleep(150); });
    busy.start(200);
    QTRY_VERIFY_WITH_TIMEOUT(allSent, 10000);
    busy.stop();
    sender.join();
    QTRY_COMPARE(cellText(*window, 0, 0), QString::number(Frames));

    const QString csvPath = m_files->filePath(QStringLiteral("ramp.csv"));
    QVERIFY(window->activityViews->exportTo(csvPath));
    QList<double> exportedMs;
    for (const QByteArray &line : fileBytes(csvPath).split('\n')) {
        const QList<QByteArray> fields = line.split(',');
        if (fields.value(1) == "1") {
            QCOMPARE(fields.value(2).toInt(), int(exportedMs.size()) + 1);
            exportedMs << fields.value(0).toDouble();
        }
    }
    QCOMPARE(int(exportedMs.size()), Frames);
    // The kernel stamps a frame within its sendto(); the export counts from the first frame.
    constexpr double NsPerMs = 1e6;
    for (int frame = 1; frame < Frames; ++frame) {
        const double earliest = double(sentBefore[size_t(frame)] - sentAfter[0]) / NsPerMs;
        const double latest = double(sentAfter[size_t(frame)] - sentBefore[0]) / NsPerMs;
        QVERIFY2(exportedMs.at(frame) >= earliest - 1 && exportedMs.at(frame) <= latest + 1,
                 qPrintable(QStringLiteral("frame %1 exported at %2 ms, sent at %3 to %4 ms")
                                    .arg(frame)
                                    .arg(exportedMs.at(frame), 0, 'f', 3)
                                    .arg(earliest, 0, 'f', 3)
                                    .arg(latest, 0, 'f', 3)));
    }
}

void tst_Vardolux::scopeDrawsOneFrameSpike_data()
{
    QTest::addColumn<int>("spanSeconds");
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("framesPerSecond");
    QTest::addColumn<double>("spikeSecondsAgo");

    QTest::newRow("10 s, console at 44 frames/s") << 10 << 560 << 44.0 << 3.0;
    QTest::newRow("60 s, console at 44 frames/s, narrow") << 60 << 240 << 44.0 << 50.0;
    QTest::newRow("60 s, console at 44 frames/s, wide") << 60 << 1600 << 44.0 << 0.5;
    QTest::newRow("30 s, flood at 10,000 frames/s") << 30 << 800 << 10000.0 << 0.4;
}

// The scope reduces each pixel column to the levels it covered: one frame of 255 among steady
// frames of 16 must be a full spike at its time, whatever the span, width and frame rate, and
// nothing else rises above the steady level.
void tst_Vardolux::scopeDrawsOneFrameSpike()
{
    QFETCH(int, spanSeconds);
    QFETCH(int, width);
    QFETCH(double, framesPerSecond);
    QFETCH(double, spikeSecondsAgo);
    constexpr qint64 Second = 1'000'000'000;
    const qint64 nowNs = 70 * Second;
    const qint64 periodNs = qint64(double(Second) / framesPerSecond);
    const qint64 spikeNs = nowNs - qint64(spikeSecondsAgo * double(Second));
    ChannelTrace trace;
    trace.setChannels({0});
    bool spikeSent = false;
    for (qint64 timeNs = nowNs - qint64(spanSeconds + 1) * Second; timeNs <= nowNs;
         timeNs += periodNs) {
        const uchar level = !spikeSent && timeNs >= spikeNs ? 255 : 16;
        spikeSent = spikeSent || level == 255;
        trace.addFrame(&level, 1, timeNs);
    }
    ScopeWidget scope(&trace);
    scope.resize(width, 220);
    scope.setSpanSeconds(spanSeconds);
    scope.setNow(nowNs);
    const QImage image = scope.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb color = ScopeWidget::channelColor(0).rgb();

    // The plot's corners as the scope lays them out: from the top margin down to the bottom
    // margin, from the axis labels to the right margin.
    const int top = 22, bottom = image.height() - 18, left = 34, right = image.width() - 8;
    const int steadyRow = int(std::lround(bottom - (bottom - top) * 16 / 255.0));
    auto drawnInRow = [&](int row, int fromColumn, int toColumn) {
        QList<int> columns;
        for (int x = fromColumn; x <= toColumn; ++x)
            if (image.pixel(x, row) == color)
                columns << x;
        return columns;
    };
    const QList<int> spikeColumns = drawnInRow(top + 1, left, right);
    QVERIFY2(!spikeColumns.isEmpty(), "no spike at 255");
    const double expected =
            right - (right - left) * spikeSecondsAgo / double(spanSeconds);
    QVERIFY2(spikeColumns.size() <= 3 && std::abs(spikeColumns.first() - expected) <= 3,
             qPrintable(QStringLiteral("spike at columns %1, expected near %2")
                                .arg(QString::number(spikeColumns.first()))
                                .arg(expected)));
    QCOMPARE(drawnInRow((top + steadyRow) / 2, left, right), spikeColumns);
    // The steady level runs from the left edge to now.
    QVERIFY(drawnInRow(steadyRow, left, left + 2).size() > 0);
    QVERIFY(drawnInRow(steadyRow, right - 2, right).size() > 0);
}

// The picture for the README: a show look at 44 Hz with a chase, a fader, and a fixture that
// drops out for one frame now and then.
void tst_Vardolux::activityScreenshot(Vardolux &window, QUdpSocket *peer)
{
    window.resize(900, 860);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *selection = window.tableView->selectionModel();
    selection->select(window.model->index(0, 4), QItemSelectionModel::Select);
    selection->select(window.model->index(0, 8), QItemSelectionModel::Select);
    QByteArray levels(512, '\0');
    for (int channel = 0; channel < 96; ++channel)
        levels[channel] = char((channel * 37) % 200 + 40);
    levels[1] = char(16);
    window.optimizeAction->trigger();
    window.statusBar()->showMessage(QStringLiteral("Ready"));
    constexpr int Frames = 44 * 8;
    for (int frame = 0; frame < Frames; ++frame) {
        levels[4] = char(frame * 255 / (Frames - 1));             // channel 5: a fader
        levels[8] = char(frame % 60 == 30 ? 0 : 180);              // channel 9: drops out
        for (int chase = 19; chase < 23; ++chase)                   // channels 20-23: a chase
            levels[chase] = char((frame * 12 + chase * 64) % 256);
        sendToWindow(*peer, artDmx(0, levels));
        QTest::qWait(22);
    }
    // At once, while the chase still moved in the last refresh.
    QVERIFY(window.grab().save(qEnvironmentVariable("VARDOLUX_ACTIVITY_SCREENSHOT")));
}

// ---------------------------------------------------------------------------------------------
// Network view

void tst_Vardolux::networkViewOpensAndCloses_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("F6, F6") << "F6";
    QTest::newRow("context menu, twice") << "context menu";
    QTest::newRow("status-bar indicator, then the dock's close") << "indicator";
}

void tst_Vardolux::networkViewOpensAndCloses()
{
    QFETCH(QString, way);
    auto window = makeWindow();
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    const auto useWay = [&](bool opening) {
        if (way == QLatin1String("F6")) {
            QTest::keyClick(window.get(), Qt::Key_F6);
        } else if (way == QLatin1String("context menu")) {
            std::unique_ptr<QMenu> menu(window->createPopupMenu());
            QVERIFY(menu->actions().contains(window->networkViewAction));
            window->networkViewAction->trigger();
        } else if (opening) {
            QTest::mouseClick(window->universeIndicator, Qt::LeftButton);
        } else {
            window->networkDock->close();
        }
    };

    useWay(true);
    QVERIFY(window->networkDock->isVisible());
    QVERIFY(window->networkViewAction->isChecked());
    QVERIFY(window->engine);
    QVERIFY(window->engine->censusEnabled());
    QVERIFY(window->engine->nodePolling());
    // Listening does not record: the run state and the table stay as they were.
    QVERIFY(!window->recordTimer);
    QVERIFY(window->stopAction->isChecked());
    QTest::qWait(600);
    QCOMPARE(cellText(*window, 0, 0), QStringLiteral("none data"));

    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    useWay(false);
    QVERIFY(!window->networkDock->isVisible());
    QVERIFY(!window->networkViewAction->isChecked());
    QVERIFY(!window->engine->censusEnabled());
    QVERIFY(!window->engine->nodePolling());

    // Open at close or not, the dock leaves no trace in the settings.
    useWay(true);
    QVERIFY(window->close());
    QSettings settings(Organisation, Application);
    QCOMPARE(settings.allKeys(), WrittenKeys);
}

void tst_Vardolux::doubleClickShowsUniverse_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("universe");

    QTest::newRow("universe row") << "universes" << 10;
    QTest::newRow("node with one output port") << "one port" << 18;
    QTest::newRow("node with two output ports, chosen from the menu") << "two ports" << 34;
    // The Art-Net box keeps its number; the Protocol toolbar shows sACN 532.
    QTest::newRow("sacn universe row") << "sacn" << 1;
}

void tst_Vardolux::doubleClickShowsUniverse()
{
    QFETCH(QString, table);
    QFETCH(int, universe);
    auto window = makeWindow();
    window->resize(900, 700);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->networkViewAction->trigger();
    window->networkTimer->stop(); // the census of this test stands still
    NetworkDock *dock = window->networkDock;

    UniverseTraffic four;
    four.portAddress = 3;
    UniverseTraffic ten;
    ten.portAddress = 9;
    NodeInfo node;
    node.sourceAddress = node.packetAddress = 0x02000014;
    node.shortName = QStringLiteral("Rack");
    node.numPorts = table == QLatin1String("two ports") ? 2 : 1;
    node.portTypes[0] = node.portTypes[1] = 0x80;
    node.swOut[0] = table == QLatin1String("two ports") ? 0x20 : 0x11;
    node.swOut[1] = 0x21;
    UniverseTraffic sacn;
    sacn.protocol = DmxProtocol::Sacn;
    sacn.portAddress = 532;
    dock->showCensus({four, ten, sacn}, {node}, {}, 0, 1000);
    // Malformed ArtDmx that no Sources row can show get a note of their own, only while any.
    dock->showMalformedWithoutSource(3);
    QVERIFY(dock->m_malformedNote->isVisibleTo(dock));
    QCOMPARE(dock->m_malformedNote->text(),
             QStringLiteral("3 malformed ArtDmx from senders that named no universe"));
    dock->showMalformedWithoutSource(0);
    QVERIFY(!dock->m_malformedNote->isVisibleTo(dock));

    QTableView *view = dock->m_universeView;
    QModelIndex cell = dock->m_universeProxy->index(1, UniverseTableModel::UniverseColumn);
    for (int row = 0; table == QLatin1String("sacn") && row < 3; ++row) {
        if (dock->m_universeProxy->index(row, UniverseTableModel::ProtocolColumn).data() == "sACN")
            cell = dock->m_universeProxy->index(row, UniverseTableModel::UniverseColumn);
    }
    if (table != QLatin1String("universes") && table != QLatin1String("sacn")) {
        view = dock->m_nodeView;
        dock->m_tabs->setCurrentWidget(view);
        cell = dock->m_nodeProxy->index(0, NodeTableModel::OutputsColumn);
    }
    QVERIFY(cell.isValid());
    QTRY_VERIFY(view->isVisible());
    doubleClick(view, cell);
    if (table == QLatin1String("two ports")) {
        QMenu *menu = nullptr;
        QTRY_VERIFY((menu = dock->findChild<QMenu *>(QStringLiteral("portMenu"))));
        QCOMPARE(menu->actions().size(), 2);
        QCOMPARE(menu->actions().at(0)->text(), QStringLiteral("Show universe 33"));
        menu->actions().at(1)->trigger();
    }
    QCOMPARE(window->universeSpinBox->value(), universe);
    const UniverseKey onShow = table == QLatin1String("sacn")
            ? UniverseKey{DmxProtocol::Sacn, 532}
            : UniverseKey{DmxProtocol::ArtNet, quint16(universe - 1)};
    QCOMPARE(window->session->universeOnShow(), onShow);
}

void tst_Vardolux::nodesNoteCountsUnstoredReplies_data()
{
    QTest::addColumn<quint64>("unstored");
    QTest::addColumn<bool>("nodesTab");
    QTest::addColumn<QString>("note");

    QTest::newRow("every reply stored") << quint64(0) << true << QString();
    QTest::newRow("5000 pages: 3976 beyond the bound")
            << quint64(3976) << true
            << "3976 replies from further nodes beyond the table's 1024 were counted but not "
               "stored";
    QTest::newRow("beyond the bound, another tab on show") << quint64(3976) << false << QString();
}

void tst_Vardolux::nodesNoteCountsUnstoredReplies()
{
    QFETCH(quint64, unstored);
    QFETCH(bool, nodesTab);
    QFETCH(QString, note);
    auto window = makeWindow();
    window->networkViewAction->trigger();
    window->networkTimer->stop(); // the census of this test stands still
    NetworkDock *dock = window->networkDock;
    dock->m_tabs->setCurrentWidget(dock->m_nodeView);
    dock->showUnstoredNodes(unstored);
    if (!nodesTab)
        dock->m_tabs->setCurrentIndex(0);
    auto *label = dock->findChild<QLabel *>(QStringLiteral("unstoredNodesNote"));
    QVERIFY(label);
    QCOMPARE(label->isVisibleTo(dock), !note.isEmpty());
    if (!note.isEmpty())
        QCOMPARE(label->text(), note);
}

// The peer plays two consoles that send one universe, and a node that answers polls.
// Two consoles in the peer namespace, at 2.0.0.20 and 2.0.0.21; none when the namespace
// refuses one (with the reason as a warning).
std::vector<std::unique_ptr<QUdpSocket>> tst_Vardolux::openConsoles()
{
    std::vector<std::unique_ptr<QUdpSocket>> consoles;
    if (!PrivateNetwork::runInPeer({"ip", "addr", "replace", "2.0.0.21/8", "dev", "art1"}))
        return consoles;
    for (const char *address : {"2.0.0.20", "2.0.0.21"}) {
        QString error;
        const int descriptor = PrivateNetwork::peerUdpSocket(QLatin1String(address), 0, &error);
        auto console = std::make_unique<QUdpSocket>();
        if (descriptor < 0 || !console->setSocketDescriptor(descriptor)) {
            qWarning("console %s: %s", address, qPrintable(error));
            return {};
        }
        consoles.push_back(std::move(console));
    }
    return consoles;
}

void tst_Vardolux::networkViewShowsConflict()
{
    const auto consoles = openConsoles();
    QVERIFY(consoles.size() == 2);
    auto node = openPeerSocket();
    QVERIFY(node);
    const QHostAddress local(PrivateNetwork::LocalAddress);
    QByteArray levels;
    QByteArray otherLevels;
    for (int channel = 0; channel < 512; ++channel) {
        levels.append(char((channel * 37) % 256));
        otherLevels.append(char(255 - (channel * 37) % 256));
    }

    // 40 Hz from each console for at most 8 s; the second skips every fifth Sequence number.
    int ticks = 0;
    QTimer consoleClock;
    connect(&consoleClock, &QTimer::timeout, this, [&] {
        if (++ticks > 320)
            return consoleClock.stop();
        consoles[0]->writeDatagram(artDmx(4, levels, quint8(1 + ticks % 255)), local, ArtNetPort);
        consoles[0]->writeDatagram(artDmx(0, levels, quint8(1 + ticks % 255)), local, ArtNetPort);
        if (ticks % 5 != 0)
            consoles[1]->writeDatagram(artDmx(4, otherLevels, quint8(1 + ticks % 255)), local,
                                       ArtNetPort);
    });
    consoleClock.start(25);

    auto window = makeWindow();
    window->resize(900, 760);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->universeSpinBox->setValue(5);
    window->pollModeAction->trigger(); // its own reply shows in the list too
    QTest::keyClick(window.get(), Qt::Key_F6);
    QVERIFY(window->networkDock->isVisible());

    // The engine polls; the node answers.
    bool polled = false;
    QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                while (node->hasPendingDatagrams() && !polled) {
                    QByteArray datagram(int(node->pendingDatagramSize()), '\0');
                    node->readDatagram(datagram.data(), datagram.size());
                    polled = opCodeOf(datagram) == 0x2000;
                }
                return polled;
            }(),
            5000);
    node->writeDatagram(artPollReply(0x02000014, "Peer desk", 4), local, ArtNetPort);
    // The media server on the same host sends EBU time code, then moves on by a frame.
    node->writeDatagram(artTimeCode(4, 3, 2, 1, 1), local, ArtNetPort);
    // An ArtDmx cut after its protocol version names no universe; its sender, 2.0.0.20, named
    // one in other packets, so its Sources row shows it and the note under the Universes table
    // stays hidden.
    node->writeDatagram(artDmx(0, levels).left(12), local, ArtNetPort);

    UniverseTableModel *universes = window->networkDock->m_universeModel;
    SourceTableModel *sources = window->networkDock->m_sourceModel;
    QTRY_COMPARE(universes->rowCount(), 2);
    const int row = universes->universeAt(0) == 5 ? 0 : 1;
    QTRY_COMPARE(universes->data(universes->index(row, UniverseTableModel::WarningColumn))
                         .toString(),
                 QStringLiteral("Conflict: 2 sources"));
    QTRY_COMPARE(sources->rowCount(), 2);
    QStringList addresses;
    for (int source = 0; source < 2; ++source)
        addresses << sources->data(sources->index(source, SourceTableModel::AddressColumn))
                             .toString();
    const int first = addresses.at(0) == QLatin1String("2.0.0.20") ? 0 : 1;
    QTRY_COMPARE(sources->data(sources->index(first, SourceTableModel::MalformedColumn)).toInt(), 1);
    QCOMPARE(sources->data(sources->index(1 - first, SourceTableModel::MalformedColumn)).toInt(), 0);
    QVERIFY(!window->networkDock->m_malformedNote->isVisible());
    addresses.sort();
    QCOMPARE(addresses, (QStringList{"2.0.0.20", "2.0.0.21"}));
    QTRY_VERIFY(sources->data(sources->index(1, SourceTableModel::SequenceErrorsColumn)).toInt()
                        > 0
                || sources->data(sources->index(0, SourceTableModel::SequenceErrorsColumn)).toInt()
                        > 0);
    NodeTableModel *nodes = window->networkDock->m_nodeModel;
    QTRY_COMPARE(nodes->rowCount(), 2);
    QStringList names;
    for (int row = 0; row < nodes->rowCount(); ++row)
        names << nodes->data(nodes->index(row, NodeTableModel::NameColumn)).toString();
    names.sort();
    QCOMPARE(names, (QStringList{"Peer desk", "Vardolux (this program)"}));
    QTRY_VERIFY(sources->match(sources->index(0, SourceTableModel::NodeColumn), Qt::DisplayRole,
                               QStringLiteral("Peer desk"))
                        .size()
                == 1);
    QTRY_COMPARE(window->universeIndicator->text(), QStringLiteral("2 sources"));
    QVERIFY(window->universeIndicator->warns());
    QCOMPARE(cellText(*window, 0, 0), QStringLiteral("none data"));

    TimeCodeTableModel *timeCode = window->networkDock->m_timeCodeModel;
    QTRY_COMPARE(timeCode->rowCount(), 1);
    node->writeDatagram(artTimeCode(5, 3, 2, 1, 1), local, ArtNetPort);
    QTRY_COMPARE(timeCode->data(timeCode->index(0, TimeCodeTableModel::TimeColumn)).toString(),
                 QStringLiteral("01:02:03:05"));
    QCOMPARE(timeCode->data(timeCode->index(0, TimeCodeTableModel::SenderColumn)).toString(),
             QStringLiteral("2.0.0.20"));
    QCOMPARE(timeCode->data(timeCode->index(0, TimeCodeTableModel::TypeColumn)).toString(),
             QStringLiteral("EBU 25"));
    QVERIFY(timeCode->isRunning(0));

    if (qEnvironmentVariableIsSet("VARDOLUX_NETWORK_SCREENSHOT")) {
        window->recordAction->trigger();
        QTRY_COMPARE(cellText(*window, 31, 15).size() <= 3, true);
        window->optimizeAction->trigger();
        window->statusBar()->clearMessage();
        QTest::qWait(1200);
        QVERIFY(window->grab().save(qEnvironmentVariable("VARDOLUX_NETWORK_SCREENSHOT")));
    }
}

// Two consoles on universe 1: 2.0.0.20 at 20 frames/s sends 200 on channels 1-4, 2.0.0.21 at
// 10 frames/s sends 50 there and 255 on channel 10; on channel 12 the first jumps between 40
// and 220 every half second while the second ramps from 80 to 179.
void tst_Vardolux::mergeViewShowsTwoConsolesFighting()
{
    const auto consoles = openConsoles();
    QVERIFY(consoles.size() == 2);
    QByteArray first(512, '\0');
    QByteArray second(512, '\0');
    for (int channel = 0; channel < 4; ++channel) {
        first[channel] = char(200);
        second[channel] = char(50);
    }
    second[9] = char(255);
    int ticks = 0;
    QTimer consoleClock;
    connect(&consoleClock, &QTimer::timeout, this, [&] {
        if (++ticks > 240)
            return consoleClock.stop();
        first[11] = char((ticks / 10) % 2 ? 220 : 40);
        second[11] = char(80 + (ticks * 5) % 100);
        const QHostAddress local(PrivateNetwork::LocalAddress);
        consoles[0]->writeDatagram(artDmx(0, first), local, ArtNetPort);
        if (ticks % 2 == 0)
            consoles[1]->writeDatagram(artDmx(0, second), local, ArtNetPort);
    });
    consoleClock.start(50);
    auto window = makeWindow();
    window->resize(900, 760);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->recordAction->trigger();

    QTest::keyClick(window.get(), Qt::Key_F9);
    MergeDock *dock = window->mergeView->dock();
    QVERIFY(dock->isVisible());
    QTRY_VERIFY(QRegularExpression(QStringLiteral("^6 channels differ; 2\\.0\\.0\\.20 wins [45], "
                                                  "2\\.0\\.0\\.21 wins [12]$"))
                        .match(dock->m_summary->text())
                        .hasMatch());
    QCOMPARE(dock->m_proxy->rowCount(), 6);
    const QModelIndexList tenth = dock->m_proxy->match(
            dock->m_proxy->index(0, MergeTableModel::ChannelColumn), Qt::DisplayRole, 10);
    QCOMPARE(tenth.size(), 1);
    QCOMPARE(tenth.first().siblingAtColumn(MergeTableModel::WinnerColumn).data().toString(),
             QStringLiteral("2.0.0.21"));

    // A double-click selects the channel's cell, and the scope plots it once per console.
    const QModelIndex twelfth = dock->m_proxy->match(
            dock->m_proxy->index(0, MergeTableModel::ChannelColumn), Qt::DisplayRole, 12).value(0);
    QVERIFY(twelfth.isValid());
    doubleClick(dock->m_view, twelfth);
    QCOMPARE(window->tableView->selectionModel()->selectedIndexes(),
             QModelIndexList{window->model->index(0, 11)});
    window->activityViews->m_perSourceAction->trigger();
    QVERIFY(window->activityViews->m_scopeDock->isVisible());
    const SourceTraces &traces = window->activityViews->m_sourceTraces;
    QTRY_COMPARE(traces.size(), 2);
    QTRY_VERIFY(traces.trace(0).size() > 4 && traces.trace(1).size() > 4);
    QCOMPARE(traces.label(0), QStringLiteral("2.0.0.20"));

    // Closed, the dock's refresh stops; a click on the warning indicator opens it again.
    QTest::keyClick(window.get(), Qt::Key_F9);
    QVERIFY(!dock->isVisible());
    QVERIFY(!window->mergeView->refreshTimer()->isActive());
    QTRY_VERIFY(window->universeIndicator->warns());
    QTest::mouseClick(window->universeIndicator, Qt::LeftButton);
    QVERIFY(dock->isVisible());

    if (qEnvironmentVariableIsSet("VARDOLUX_MERGE_VIEW_SCREENSHOT")) {
        QDockWidget *scope = window->activityViews->m_scopeDock;
        for (QDockWidget *shown : {static_cast<QDockWidget *>(dock), scope}) {
            shown->setFloating(true);
            shown->resize(640, 300);
        }
        QTest::qWait(5000);
        QVERIFY(dock->grab().save(qEnvironmentVariable("VARDOLUX_MERGE_VIEW_SCREENSHOT")));
        QVERIFY(scope->grab().save(qEnvironmentVariable("VARDOLUX_SOURCE_SCOPE_SCREENSHOT")));
    }
}

// The Capture menu before Help, its entries in the context menu, Ctrl+Shift+R with its file
// dialog, the live status-bar label, Ctrl+Shift+T, and a file that cannot be written.
void tst_Vardolux::captureByShortcutWithNetworkViewOnly()
{
    auto peer = openPeerSocket();
    QVERIFY(peer);
    const QString path = m_files->filePath(QStringLiteral("show.pcap"));
    auto window = makeWindow();
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QStringList menus;
    for (const QAction *action : window->menuBar()->actions())
        if (!action->isSeparator())
            menus << action->text();
    QCOMPARE(menus,
             QStringList({"&File", "&Run", "&Tools", "&View", "&Capture", "&Phone", "&Help"}));
    CaptureControl *control = window->captureControl;
    QCOMPARE(control->menu()->actions().first(), control->startAction());
    std::unique_ptr<QMenu> popup(window->createPopupMenu());
    QVERIFY(popup->actions().contains(control->stopAction()));

    QTest::keyClick(window.get(), Qt::Key_F6);
    QString proposed;
    {
        ModalWatcher dialog([&](QWidget *widget) {
            if (auto *files = qobject_cast<QFileDialog *>(widget)) {
                proposed = files->selectedFiles().value(0);
                chooseInDialog(files, path);
            } else {
                widget->close();
            }
        });
        QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(dialog.seen(), 1);
    }
    QVERIFY2(QRegularExpression(QStringLiteral("^vardolux-\\d{8}-\\d{6}\\.pcap$"))
                     .match(QFileInfo(proposed).fileName())
                     .hasMatch(),
             qPrintable(proposed));
    for (int i = 0; i < 5; ++i)
        QVERIFY(sendToWindow(*peer, artDmx(0, QByteArray(512, char(i)))));
    // The window's own polls come back too.
    QTRY_VERIFY(window->session->captureStatus().datagrams >= 5);
    QTRY_VERIFY2(control->statusLabel()->text().startsWith(
                         QStringLiteral("Capturing: show.pcap · 00:00:0")),
                 qPrintable(control->statusLabel()->text()));
    QVERIFY(control->statusLabel()->isVisible());
    QVERIFY(!window->recordAction->isChecked());

    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(!window->session->capturing());
    QVERIFY(!control->statusLabel()->isVisible());
    QVERIFY(window->statusBar()->currentMessage().startsWith("Capture written: show.pcap"));
    QCOMPARE(QFileInfo(path).size(), qint64(window->session->captureStatus().bytesWritten));

    QVERIFY(!control->startCaptureTo(m_files->filePath(QStringLiteral("missing/show.pcap"))));
    QVERIFY2(control->statusLabel()->text().startsWith("Cannot write the capture file"),
             qPrintable(control->statusLabel()->text()));
    QVERIFY(control->statusLabel()->isVisible());
}

QTEST_MAIN(tst_Vardolux)
#include "tst_vardolux.moc"
