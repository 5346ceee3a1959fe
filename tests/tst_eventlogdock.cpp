#include "peerwindowfixture.h"

#include "capturesession.h"
#include "eventalarms.h"
#include "eventcsv.h"
#include "eventfiltermodel.h"
#include "eventlog.h"
#include "eventlogdock.h"
#include "eventlogfile.h"
#include "eventlogview.h"
#include "eventtablemodel.h"
#include "statusentry.h"
#include "testpackets.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableView>
#include <QTest>

namespace {

constexpr qint64 TenPm = 1'765'317'600'000; // a wall clock time in ms
constexpr quint32 Console = 0x0200000a;     // 2.0.0.10

UniverseKey artNet(int shown) { return UniverseKey{DmxProtocol::ArtNet, quint16(shown - 1)}; }
UniverseKey sacn(int universe) { return UniverseKey{DmxProtocol::Sacn, quint16(universe)}; }

DmxEvent makeEvent(DmxEventKind kind, UniverseKey universe, const QString &text,
               bool universeSilent = false)
{
    DmxEvent made;
    made.wallMs = TenPm;
    made.kind = kind;
    made.hasUniverse = true;
    made.universe = universe;
    made.hasSource = true;
    made.source = SourceIdentity::artNet(Console, 1);
    made.sourceName = QStringLiteral("FOH");
    made.text = text;
    made.universeSilent = universeSilent;
    return made;
}

QStringList column(const QAbstractItemModel &model, int column)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts << model.index(row, column).data().toString();
    return texts;
}

} // namespace

Q_DECLARE_METATYPE(DmxEvent)

// The event log as its dock, model, filter, files and alarms show it, with a log filled by the
// test, and in the window: a double-click shows the universe, the status bar warns, and a
// console on the test network unplugged and plugged back is logged.
class tst_EventLogDock : public QObject, public PeerWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { setUpSettings(); }
    void init() { freshFiles(); }
    void cleanup() { dropFiles(); }
    void modelFollowsLog_data();
    void modelFollowsLog();
    void filter_data();
    void filter();
    void csvCell_data();
    void csvCell();
    void logFile_data();
    void logFile();
    void alarms_data();
    void alarms();
    void windowShowsEvents();
    void consoleUnpluggedAndBack();
};

void tst_EventLogDock::modelFollowsLog_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    QTest::addColumn<bool>("clear");
    QTest::addColumn<QString>("texts"); // the Text column, top to bottom
    QTest::addColumn<QString>("count");

    QTest::newRow("newest first") << 10 << 2 << 1 << false << "3,2,1" << "3 events";
    QTest::newRow("the ring let old ones go") << 3 << 2 << 3 << false << "5,4,3"
                                             << "3 events; 2 older ones made room";
    QTest::newRow("more than the ring between two looks")
            << 3 << 2 << 7 << false << "9,8,7" << "3 events; 6 older ones made room";
    QTest::newRow("cleared, then one more") << 5 << 4 << 1 << true << "5" << "1 events";
}

void tst_EventLogDock::modelFollowsLog()
{
    QFETCH(int, capacity);
    QFETCH(int, before);
    QFETCH(int, after);
    QFETCH(bool, clear);
    QFETCH(QString, texts);
    QFETCH(QString, count);
    EventLog log(capacity);
    EventLogDock dock(&log);
    QAbstractItemModelTester tester(dock.model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    int serial = 0;
    for (int i = 0; i < before; ++i)
        log.append(makeEvent(DmxEventKind::Stutter, artNet(1), QString::number(++serial)));
    dock.refresh(artNet(2));
    if (clear)
        log.clear();
    for (int i = 0; i < after; ++i)
        log.append(makeEvent(DmxEventKind::Stutter, artNet(1), QString::number(++serial)));
    dock.refresh(artNet(2));
    QCOMPARE(column(*dock.model(), EventTableModel::TextColumn).join(u','), texts);
    QCOMPARE(dock.m_count->text(), count);
}

void tst_EventLogDock::filter_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("universe");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown"); // the Text column, top to bottom

    QTest::newRow("all") << -1 << "" << "" << "d,c,b,a";
    QTest::newRow("one kind") << int(DmxEventKind::SourceLost) << "" << "" << "c,a";
    QTest::newRow("a number: either protocol") << -1 << "7" << "" << "d,b";
    QTest::newRow("a protocol's name") << -1 << "sacn 7" << "" << "d";
    QTest::newRow("a number no event names") << -1 << "70" << "" << "";
    QTest::newRow("text in any column, case aside") << -1 << "" << "art-net 7" << "b";
    QTest::newRow("kind and universe") << int(DmxEventKind::SourceLost) << "1" << "" << "a";
}

void tst_EventLogDock::filter()
{
    QFETCH(int, kind);
    QFETCH(QString, universe);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    EventLog log;
    log.append(makeEvent(DmxEventKind::SourceLost, artNet(1), QStringLiteral("a")));
    log.append(makeEvent(DmxEventKind::Stutter, artNet(7), QStringLiteral("b")));
    log.append(makeEvent(DmxEventKind::SourceLost, artNet(2), QStringLiteral("c")));
    log.append(makeEvent(DmxEventKind::ConflictStarted, sacn(7), QStringLiteral("d")));
    EventLogDock dock(&log);
    dock.m_kindBox->setCurrentIndex(dock.m_kindBox->findData(kind));
    dock.m_universeEdit->setText(universe);
    dock.m_textEdit->setText(text);
    QCOMPARE(column(*dock.m_filter, EventTableModel::TextColumn).join(u','), shown);
}

void tst_EventLogDock::csvCell_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("cell");

    QTest::newRow("plain") << "Source lost" << QByteArray("Source lost");
    QTest::newRow("comma") << "a,b" << QByteArray("\"a,b\"");
    QTest::newRow("quotes doubled") << "say \"hi\"" << QByteArray("\"say \"\"hi\"\"\"");
    QTest::newRow("line breaks kept inside quotes") << "a\r\nb" << QByteArray("\"a\r\nb\"");
    QTest::newRow("formula") << "=HYPERLINK(\"x\")" << QByteArray("\"'=HYPERLINK(\"\"x\"\")\"");
    QTest::newRow("plus, minus, at") << "+1;-1;@a" << QByteArray("'+1;-1;@a");
    QTest::newRow("minus") << "-2" << QByteArray("'-2");
    QTest::newRow("at") << "@SUM(A1)" << QByteArray("'@SUM(A1)");
    QTest::newRow("tab first") << "\t=1" << QByteArray("'\t=1");
    QTest::newRow("formula sign later is text") << "a=b" << QByteArray("a=b");
    QTest::newRow("UTF-8") << "Bühne" << QByteArray("B\xc3\xbchne");
}

void tst_EventLogDock::csvCell()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, cell);
    QCOMPARE(EventCsv::cell(text), cell);
}

void tst_EventLogDock::logFile_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("where"); // under the test's folder
    QTest::addColumn<int>("linesInFile");
    QTest::addColumn<int>("linesInOlder"); // -1: no NAME.1
    QTest::addColumn<int>("errorsSaid");

    // One line is 80-odd bytes: two fit in 200.
    QTest::newRow("appended") << 3 << 10000 << "events.log" << 3 << -1 << 0;
    QTest::newRow("rotated at the limit") << 3 << 200 << "events.log" << 1 << 2 << 0;
    QTest::newRow("the older one replaced") << 6 << 200 << "events.log" << 2 << 2 << 0;
    QTest::newRow("unwritable: said once") << 4 << 10000 << "missing/events.log" << -1 << -1 << 1;
}

void tst_EventLogDock::logFile()
{
    QFETCH(int, lines);
    QFETCH(int, limit);
    QFETCH(QString, where);
    QFETCH(int, linesInFile);
    QFETCH(int, linesInOlder);
    QFETCH(int, errorsSaid);
    const QString path = m_files->filePath(where);
    EventLogFile file;
    file.setPath(path);
    file.setSizeLimit(limit);
    int said = 0;
    for (int i = 0; i < lines; ++i) {
        bool newError = false;
        file.append(makeEvent(DmxEventKind::SourceLost, artNet(1),
                          QStringLiteral("line %1\nforged line").arg(i)),
                    &newError);
        said += newError;
    }
    QCOMPARE(said, errorsSaid);
    const auto linesOf = [](const QString &name) {
        QFile read(name);
        return read.open(QIODevice::ReadOnly) ? int(read.readAll().count('\n')) : -1;
    };
    QCOMPARE(linesOf(path), linesInFile);
    QCOMPARE(linesOf(path + QStringLiteral(".1")), linesInOlder);
    if (linesInFile > 0)
        QVERIFY(fileBytes(path).endsWith("\tSource lost\tArt-Net 1\t2.0.0.10/1 FOH\tline "
                                         + QByteArray::number(lines - 1)
                                         + "\xe2\x90\x8a" "forged line\n"));
}

void tst_EventLogDock::alarms_data()
{
    QTest::addColumn<DmxEvent>("happened");
    QTest::addColumn<QString>("alarm"); // empty: none

    QTest::newRow("watched universe went dark")
            << makeEvent(DmxEventKind::SourceLost, artNet(1), QString(), true)
            << "ALARM: Art-Net 1 went dark %1";
    QTest::newRow("watched universe, another source still live")
            << makeEvent(DmxEventKind::SourceLost, artNet(1), QString(), false) << "";
    QTest::newRow("unwatched universe went dark")
            << makeEvent(DmxEventKind::SourceLost, artNet(2), QString(), true) << "";
    QTest::newRow("conflict on a watched sACN universe")
            << makeEvent(DmxEventKind::ConflictStarted, sacn(7), QString())
            << "ALARM: conflict on sACN 7 %1";
    QTest::newRow("conflict on Art-Net 7, sACN 7 watched")
            << makeEvent(DmxEventKind::ConflictStarted, artNet(7), QString()) << "";
    QTest::newRow("time code stopped, watched")
            << makeEvent(DmxEventKind::TimeCodeStopped, artNet(1), QString())
            << "ALARM: time code stopped %1";
}

// In the window, so that the status bar's alarm is the one a user sees.
void tst_EventLogDock::alarms()
{
    QFETCH(DmxEvent, happened);
    QFETCH(QString, alarm);
    auto window = makeWindow();
    EventLogView *view = window->eventLogView;
    view->alarms()->setWatched({artNet(1).number}, {7});
    view->alarms()->setTimeCodeWatched(true);
    window->session->eventLog()->append(happened);
    view->refresh();
    StatusEntry *entry = view->m_alarmEntry;
    QCOMPARE(entry->isVisibleTo(window.get()), !alarm.isEmpty());
    if (alarm.isEmpty())
        return;
    QCOMPARE(entry->text(), alarm.arg(QDateTime::fromMSecsSinceEpoch(TenPm).toString("hh:mm:ss")));
    window->session->eventLog()->append(happened);
    view->refresh();
    QVERIFY2(entry->text().endsWith(QStringLiteral(" (2 alarms)")), qPrintable(entry->text()));
    // A click acknowledges every alarm.
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTest::mouseClick(entry, Qt::LeftButton);
    QVERIFY(!entry->isVisible());
    QVERIFY(view->alarms()->alarms().isEmpty());
}

void tst_EventLogDock::windowShowsEvents()
{
    auto window = makeWindow();
    EventLogView *view = window->eventLogView;
    EventLog *log = window->session->eventLog();
    log->append(makeEvent(DmxEventKind::SourceAppeared, artNet(3), QStringLiteral("x")));
    DmxEvent hostile = makeEvent(DmxEventKind::ConflictStarted, sacn(12),
                                 QStringLiteral("<b>2 sources</b>"));
    hostile.hasSource = false;
    hostile.sourceName = QStringLiteral("=cmd|' /C calc'!A0\n<i>Desk</i>");
    log->append(hostile);
    view->refresh();
    QCOMPARE(view->m_countEntry->text(), QStringLiteral("Events: 2"));
    QCOMPARE(view->m_countEntry->toolTip(), QStringLiteral("Newest: Conflict started"));

    // Opened, the log listens: the program's own events (networks up) join these two.
    window->resize(900, 600);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTest::mouseClick(view->m_countEntry, Qt::LeftButton);
    QTRY_VERIFY(view->dock()->isVisible());
    QTableView *table = view->dock()->m_view;
    const QStringList universes = column(*table->model(), EventTableModel::UniverseColumn);
    const int sacnRow = int(universes.indexOf(QStringLiteral("sACN 12")));
    const int artNetRow = int(universes.indexOf(QStringLiteral("Art-Net 3")));
    QVERIFY2(sacnRow >= 0 && sacnRow < artNetRow, qPrintable(universes.join(u',')));
    QCOMPARE(table->model()->index(sacnRow, EventTableModel::SourceColumn).data().toString(),
             QStringLiteral("=cmd|' /C calc'!A0\u240A<i>Desk</i>"));

    // Export: oldest first, the hostile name neither breaking the row nor a formula.
    const QString csv = m_files->filePath(QStringLiteral("events.csv"));
    QString error;
    QVERIFY2(view->dock()->exportCsv(csv, &error), qPrintable(error));
    const QByteArray bytes = fileBytes(csv);
    QVERIFY2(bytes.startsWith("Time,Kind,Universe,Source,Text\r\n"), bytes);
    const qsizetype first = bytes.indexOf(",Source appeared,Art-Net 3,2.0.0.10/1 FOH,x\r\n");
    const qsizetype second = bytes.indexOf(",Conflict started,sACN 12,'=cmd|' /C calc'!A0"
                                           "\xe2\x90\x8a<i>Desk</i>,<b>2 sources</b>\r\n");
    QVERIFY2(first > 0 && second > first, bytes);

    // A double-click shows the universe as the protocol bar and the universe box would.
    emit table->doubleClicked(table->model()->index(sacnRow, EventTableModel::KindColumn));
    QCOMPARE(window->session->universeOnShow(), sacn(12));
    emit table->doubleClicked(table->model()->index(artNetRow, EventTableModel::TextColumn));
    QCOMPARE(window->session->universeOnShow(), artNet(3));
    QCOMPARE(window->universeSpinBox->value(), 3);
    // The universe on show stands out.
    view->refresh();
    const QStringList after = column(*table->model(), EventTableModel::UniverseColumn);
    QVERIFY(table->model()->index(int(after.indexOf(QStringLiteral("Art-Net 3"))), 0)
                    .data(Qt::FontRole).value<QFont>().bold());
    QVERIFY(!table->model()->index(int(after.indexOf(QStringLiteral("sACN 12"))), 0)
                     .data(Qt::FontRole).isValid());
}

// A console on the peer sends universe 1 at 40 Hz, is unplugged for 3 s and plugged back: what the engine finds reaches the dock and the watched
// universe's alarm.
void tst_EventLogDock::consoleUnpluggedAndBack()
{
    std::unique_ptr<QUdpSocket> peer = openPeerSocket();
    QVERIFY(peer);
    auto window = makeWindow();
    EventLogView *view = window->eventLogView;
    view->alarms()->setWatched({artNet(1).number}, {});
    window->resize(900, 520);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    view->toggleAction()->trigger();
    QVERIFY(window->session->listening());
    // The network view opened and closed leaves the log listening.
    window->networkViewAction->trigger();
    window->networkViewAction->trigger();
    QVERIFY(window->session->listening());
    const auto sendFor = [&](int ms) {
        QElapsedTimer sending;
        sending.start();
        for (quint8 sequence = 1; sending.elapsed() < ms; sequence = sequence % 255 + 1) {
            if (!sendToWindow(*peer, TestPackets::artDmx(0, QByteArray(512, '\x40'), sequence)))
                return false;
            QTest::qWait(25);
        }
        return true;
    };
    QVERIFY(sendFor(1500));
    QTest::qWait(3000); // unplugged
    QVERIFY(sendFor(1500));
    QTest::qWait(500);

    const QStringList kinds = column(*view->dock()->model(), EventTableModel::KindColumn);
    QVERIFY2(kinds.contains(QStringLiteral("Source appeared")), qPrintable(kinds.join(u',')));
    QVERIFY2(kinds.contains(QStringLiteral("Source lost")), qPrintable(kinds.join(u',')));
    QVERIFY2(kinds.contains(QStringLiteral("Source resumed")), qPrintable(kinds.join(u',')));
    QVERIFY2(view->m_alarmEntry->text().startsWith(QStringLiteral("ALARM: Art-Net 1 went dark ")),
             qPrintable(view->m_alarmEntry->text()));
    if (const QByteArray shot = qgetenv("VARDOLUX_EVENT_LOG_SCREENSHOT"); !shot.isEmpty())
        QVERIFY(window->grab().save(QString::fromLocal8Bit(shot)));
}

QTEST_MAIN(tst_EventLogDock)
#include "tst_eventlogdock.moc"
