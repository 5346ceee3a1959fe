// The capture index on files of more datagrams than it keeps entries: its memory stays bounded,
// and each entry leads the reader back to its datagram.

#include "captureindex.h"
#include "testcapturefiles.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace TestCaptureFiles;

class tst_CaptureIndex : public QObject
{
    Q_OBJECT

private slots:
    void entriesLeadBackToTheirDatagrams_data();
    void entriesLeadBackToTheirDatagrams();
    void cancelStopsThePass();

private:
    QString writeCapture(int datagrams);
    QTemporaryDir m_dir;
};

// Datagrams a microsecond apart from 1 s, each with its number as payload, and a record that
// is none between every two.
QString tst_CaptureIndex::writeCapture(int datagrams)
{
    QList<QByteArray> packets;
    for (int i = 0; i < datagrams; ++i) {
        Ipv4Udp datagram;
        datagram.payload = QByteArray::number(i);
        packets << datagram.bytes() << QByteArray(20, '\x60');
    }
    const QString path = m_dir.filePath(QStringLiteral("%1.pcap").arg(datagrams));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(ethernetFile(packets));
    return path;
}

void tst_CaptureIndex::entriesLeadBackToTheirDatagrams_data()
{
    QTest::addColumn<int>("datagrams");
    QTest::addColumn<int>("stride");
    QTest::newRow("one") << 1 << 1;
    QTest::newRow("as many as entries") << CaptureIndex::MaximumEntries << 1;
    QTest::newRow("one more") << CaptureIndex::MaximumEntries + 1 << 2;
    QTest::newRow("four times and more") << 4 * CaptureIndex::MaximumEntries + 3 << 8;
}

void tst_CaptureIndex::entriesLeadBackToTheirDatagrams()
{
    QFETCH(int, datagrams);
    QFETCH(int, stride);
    const QString path = writeCapture(datagrams);
    CaptureIndex index;
    qint64 lastProgress = -1;
    QVERIFY2(index.build(path, [&](qint64 done, qint64 size) {
        QVERIFY(done >= lastProgress && done <= size);
        lastProgress = done;
    }), qPrintable(index.errorString()));
    QCOMPARE(lastProgress, QFileInfo(path).size());
    QCOMPARE(index.datagrams(), quint64(datagrams));
    QCOMPARE(index.counts().notIpv4, quint64(datagrams));
    QCOMPARE(index.stride(), quint64(stride));
    QCOMPARE(index.entries().size(), std::size_t((datagrams + stride - 1) / stride));
    QCOMPARE(index.firstTimeNs(), 1000000000);
    QCOMPARE(index.lastTimeNs(), 1000000000 + 1000 * (2 * qint64(datagrams) - 2));

    CaptureFileReader reader;
    QVERIFY(reader.open(path));
    CapturedDatagram datagram;
    for (const CaptureIndex::Entry &entry : index.entries()) {
        QVERIFY(reader.seek(entry.position));
        QVERIFY(reader.readNext(&datagram));
        QCOMPARE(datagram.timeNs, entry.timeNs);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(datagram.payload),
                            datagram.payloadLength), QByteArray::number(entry.datagram));
    }
    // Between two entries, and before the first.
    const CaptureIndex::Entry &last = index.entries().back();
    QCOMPARE(index.entryAtOrBefore(last.timeNs + 1)->datagram, last.datagram);
    QCOMPARE(index.entryAtOrBefore(0)->datagram, 0u);
}

void tst_CaptureIndex::cancelStopsThePass()
{
    const QString path = writeCapture(40000);
    const std::atomic_bool cancel{true};
    CaptureIndex index;
    QVERIFY(!index.build(path, {}, &cancel));
    QVERIFY(index.datagrams() < 40000);
}

QTEST_GUILESS_MAIN(tst_CaptureIndex)
#include "tst_captureindex.moc"
