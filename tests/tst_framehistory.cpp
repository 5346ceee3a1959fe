// The engine's frame history of the universe on show (its bounds: frame count, age, a new
// history) and its export as comma-separated text.
#include "framehistory.h"
#include "historycsv.h"

#include <QBuffer>
#include <QTest>

namespace {

constexpr qint64 Ms = 1'000'000;
constexpr qint64 Second = 1000 * Ms;

QByteArray frameOf(int length, int level)
{
    return QByteArray(length, char(level));
}

void append(FrameHistory &history, const QByteArray &levels, qint64 timeNs)
{
    history.append(reinterpret_cast<const uchar *>(levels.constData()), quint16(levels.size()),
                   timeNs);
}

QByteArray levelsAt(const FrameHistory &history, quint64 serial)
{
    return QByteArray(reinterpret_cast<const char *>(history.levelsAt(serial)),
                      history.lengthAt(serial));
}

} // namespace

class tst_FrameHistory : public QObject
{
    Q_OBJECT

private slots:
    void bounds_data();
    void bounds();
    void clearStartsNewHistory();
    void frameLengths();
    void timesNeverGoBack_data();
    void timesNeverGoBack();
    void csv_data();
    void csv();
};

void tst_FrameHistory::bounds_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<qint64>("intervalNs");
    QTest::addColumn<qint64>("nowAfterLastNs");
    QTest::addColumn<int>("kept");

    const int capacity = FrameHistory::Capacity;
    const qint64 console = Second / 44;
    QTest::newRow("empty") << 0 << console << qint64(0) << 0;
    QTest::newRow("console at 44 Hz for 60 s") << 2640 << console << qint64(0) << 2640;
    QTest::newRow("exactly the capacity") << capacity << Ms << qint64(0) << capacity;
    QTest::newRow("capacity overflow by one") << capacity + 1 << Ms << qint64(0) << capacity;
    QTest::newRow("two and a half rings") << capacity * 5 / 2 << Ms / 10 << qint64(0) << capacity;
    // 10,000 frames/s: the frame count is the smaller bound, 0.82 s.
    QTest::newRow("flood of 10,000 frames/s for 2 s") << 20000 << Second / 10000 << qint64(0)
                                                      << capacity;
    // 44 Hz for 120 s: only the last 60 s (2641 frames: both ends of the span included).
    QTest::newRow("console at 44 Hz for 120 s") << 5280 << console << qint64(0) << 2641;
    QTest::newRow("60 s after the last frame it is still kept")
            << 10 << Second << 60 * Second << 1;
    QTest::newRow("just over 60 s after the last frame nothing is")
            << 10 << Second << 60 * Second + 1 << 0;
}

void tst_FrameHistory::bounds()
{
    QFETCH(int, frames);
    QFETCH(qint64, intervalNs);
    QFETCH(qint64, nowAfterLastNs);
    QFETCH(int, kept);

    FrameHistory history;
    const qint64 start = 1000 * Second;
    for (int frame = 0; frame < frames; ++frame)
        append(history, frameOf(512, frame & 0xff), start + frame * intervalNs);
    const qint64 now = start + qMax(frames - 1, 0) * intervalNs + nowAfterLastNs;

    QCOMPARE(history.endSerial(), quint64(frames));
    const quint64 first = history.firstSerial(now);
    QCOMPARE(int(history.endSerial() - first), kept);
    // What is kept is the newest frames, each with its own levels and time.
    for (quint64 serial = first; serial < history.endSerial(); ++serial) {
        QCOMPARE(history.timeAt(serial), start + qint64(serial) * intervalNs);
        QCOMPARE(levelsAt(history, serial), frameOf(512, int(serial & 0xff)));
    }
}

void tst_FrameHistory::clearStartsNewHistory()
{
    FrameHistory history;
    append(history, frameOf(4, 1), 10 * Ms);
    append(history, frameOf(4, 2), 20 * Ms);
    const quint64 id = history.historyId();
    history.clear();
    QVERIFY(history.historyId() != id);
    QCOMPARE(history.firstSerial(20 * Ms), history.endSerial());

    // Serials go on, so a reader's position from before can never point into the new one.
    append(history, frameOf(4, 3), 30 * Ms);
    QCOMPARE(history.endSerial(), quint64(3));
    QCOMPARE(history.firstSerial(30 * Ms), quint64(2));
    QCOMPARE(levelsAt(history, 2), frameOf(4, 3));

    // Its own clock runs forward from its making.
    const qint64 before = history.clockNs();
    QTest::qWait(5);
    QVERIFY(history.clockNs() > before);
}

void tst_FrameHistory::frameLengths()
{
    FrameHistory history;
    append(history, QByteArray(), 1);
    append(history, frameOf(3, 7), 2);
    append(history, frameOf(512, 9), 3);
    QCOMPARE(levelsAt(history, 0), QByteArray());
    QCOMPARE(levelsAt(history, 1), frameOf(3, 7));
    QCOMPARE(levelsAt(history, 2), frameOf(512, 9));
    QCOMPARE(history.firstSerial(3), quint64(0));
}

void tst_FrameHistory::timesNeverGoBack_data()
{
    QTest::addColumn<QList<qint64>>("arrivals");
    QTest::addColumn<QList<qint64>>("kept");

    QTest::newRow("in order") << QList<qint64>{10, 20, 30} << QList<qint64>{10, 20, 30};
    QTest::newRow("the same time twice") << QList<qint64>{10, 20, 20, 30}
                                         << QList<qint64>{10, 20, 20, 30};
    // Kernel timestamps from two processors can cross by a little.
    QTest::newRow("one stamped a little before the previous")
            << QList<qint64>{10, 20, 19, 30} << QList<qint64>{10, 20, 20, 30};
    QTest::newRow("two in a row before an early one")
            << QList<qint64>{10, 40, 20, 30, 50} << QList<qint64>{10, 40, 40, 40, 50};
}

// The readers look frames up by time with a binary search and export the times as they are.
void tst_FrameHistory::timesNeverGoBack()
{
    QFETCH(QList<qint64>, arrivals);
    QFETCH(QList<qint64>, kept);

    FrameHistory history;
    for (qint64 arrival : std::as_const(arrivals))
        append(history, frameOf(1, 1), arrival * Ms);
    QList<qint64> times;
    for (quint64 serial = 0; serial < history.endSerial(); ++serial)
        times << history.timeAt(serial) / Ms;
    QCOMPARE(times, kept);
}

void tst_FrameHistory::csv_data()
{
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<qint64>("intervalNs");
    QTest::addColumn<QList<int>>("channels");
    QTest::addColumn<QByteArray>("text");

    // A ramp on channel 1 at 44 Hz (22.727 ms apart), channel 2 steady.
    QList<QByteArray> ramp;
    for (int level = 0; level < 4; ++level)
        ramp << QByteArray::fromRawData("\x00\x05", 2).replace(0, 1, QByteArray(1, char(level * 85)));
    QTest::newRow("ramp on channel 1, channel 2 steady")
            << ramp << Second / 44 << QList<int>{0, 1}
            << QByteArray("time_ms,channel,level\n"
                          "0.000,1,0\n0.000,2,5\n"
                          "22.727,1,85\n45.454,1,170\n68.181,1,255\n");
    QTest::newRow("only the selected channel")
            << ramp << Second / 44 << QList<int>{1}
            << QByteArray("time_ms,channel,level\n0.000,2,5\n");
    QTest::newRow("one-frame glitch between steady frames, 10,000 frames/s")
            << QList<QByteArray>{"\x10", "\x10", "\xff", "\x10", "\x10"} << Second / 10000
            << QList<int>{0}
            << QByteArray("time_ms,channel,level\n0.000,1,16\n0.200,1,255\n0.300,1,16\n");
    QTest::newRow("a channel that arrives later starts at its first frame")
            << QList<QByteArray>{"\x01", "\x01\x02", "\x01\x03"} << 100 * Ms << QList<int>{0, 1}
            << QByteArray("time_ms,channel,level\n0.000,1,1\n100.000,2,2\n200.000,2,3\n");
    QTest::newRow("no frames: the header only")
            << QList<QByteArray>() << Ms << QList<int>{0} << QByteArray("time_ms,channel,level\n");
}

void tst_FrameHistory::csv()
{
    QFETCH(QList<QByteArray>, frames);
    QFETCH(qint64, intervalNs);
    QFETCH(QList<int>, channels);
    QFETCH(QByteArray, text);

    FrameHistory history;
    // Frames from before a new history are not part of it.
    append(history, "\x63\x63", Second);
    history.clear();
    const qint64 start = 7 * Second;
    for (int frame = 0; frame < frames.size(); ++frame)
        append(history, frames.at(frame), start + frame * intervalNs);

    QBuffer out;
    QVERIFY(out.open(QIODevice::WriteOnly));
    QVERIFY(HistoryCsv::write(&out, history, channels, start + Second));
    QCOMPARE(out.data(), text);
}

QTEST_GUILESS_MAIN(tst_FrameHistory)
#include "tst_framehistory.moc"
