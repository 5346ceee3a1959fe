// The replay's commands in a window: the dialog's answers, the status-bar widget while it
// transmits, and Stop.
#include "modalwatcher.h"
#include "privatenetwork.h"
#include "replaycontrol.h"
#include "testcapturefiles.h"
#include "testpackets.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QCheckBox>
#include <QMainWindow>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

class tst_replaycontrol : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void replayAsTheDialogSays_data();
    void replayAsTheDialogSays();

private:
    QTemporaryDir m_dir;
};

void tst_replaycontrol::initTestCase()
{
    VARDOLUX_REQUIRE_PRIVATE_NETWORK();
    // Universe 4 (port-address 3) at 40 Hz for half a second.
    QByteArray capture = TestCaptureFiles::pcapHeader(1);
    for (int frame = 0; frame < 20; ++frame) {
        TestCaptureFiles::Ipv4Udp packet;
        packet.payload = TestPackets::artDmx(3, QByteArray(8, char(frame)));
        packet.destination = 0x02FFFFFF;
        capture += TestCaptureFiles::pcapRecordAt(TestCaptureFiles::ethernet(packet.bytes()),
                                                  1'000'000 + frame * 25'000);
    }
    QFile file(m_dir.filePath("show.pcap"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(capture) == capture.size());
    QFile text(m_dir.filePath("notes.txt"));
    QVERIFY(text.open(QIODevice::WriteOnly) && text.write("no capture") > 0);
}

void tst_replaycontrol::replayAsTheDialogSays_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("universes");
    QTest::addColumn<bool>("onArt0");
    QTest::addColumn<QString>("dialogError");
    QTest::addColumn<QString>("status"); // the widget's text while it replays, or the message

    QTest::newRow("no file: the dialog asks for one") << "" << "" << false
            << "Choose the capture file" << "";
    QTest::newRow("universe 0: the dialog says why") << "show.pcap" << "0-4" << false
            << "0" << "";
    QTest::newRow("a file that is no capture: said in the status bar") << "notes.txt" << "" << false
            << "" << "^Nothing replayed: .*notes.txt";
    QTest::newRow("as captured, looped") << "show.pcap" << "" << false << ""
            << "^Replaying show.pcap to 2.255.255.255 · 00:00:00 / 00:00:00 · loop [12]$";
    QTest::newRow("universe 4 to art0, looped") << "show.pcap" << "4" << true << ""
            << "^Replaying show.pcap to 2.255.255.255 · 00:00:00 / 00:00:00 · loop [12]$";
}

void tst_replaycontrol::replayAsTheDialogSays()
{
    QFETCH(QString, file);
    QFETCH(QString, universes);
    QFETCH(bool, onArt0);
    QFETCH(QString, dialogError);
    QFETCH(QString, status);

    QMainWindow window;
    auto *control = new ReplayControl(&window);
    const QString openCapture = m_dir.filePath("open.pcapng");
    control->setOpenCapture([&] { return openCapture; });
    window.resize(800, 200);
    window.show();
    QString shownError, proposed;
    ModalWatcher watcher([&](QWidget *widget) {
        auto *dialog = qobject_cast<QDialog *>(widget);
        QVERIFY(dialog);
        proposed = dialog->findChild<QLineEdit *>("replayFileEdit")->text();
        dialog->findChild<QLineEdit *>("replayFileEdit")->setText(file.isEmpty() ? file : m_dir.filePath(file));
        dialog->findChild<QLineEdit *>("replayUniversesEdit")->setText(universes);
        dialog->findChild<QCheckBox *>("replayLoopBox")->setChecked(true);
        auto *networks = dialog->findChild<QListWidget *>("replayNetworkList");
        for (int row = 0; row < networks->count(); ++row)
            if (onArt0 && networks->item(row)->text().startsWith("2.0.0.0/8"))
                networks->item(row)->setCheckState(Qt::Checked);
        dialog->accept();
        if (dialog->isVisible()) {
            shownError = dialog->findChild<QLabel *>("replayError")->text();
            dialog->reject();
        }
    });
    control->replayAction()->trigger();
    QCOMPARE(watcher.seen(), 1);
    QCOMPARE(proposed, openCapture);
    QVERIFY2(shownError.contains(dialogError) && shownError.isEmpty() == dialogError.isEmpty(),
             qPrintable(shownError));

    auto *label = window.findChild<QLabel *>("replayStatusLabel");
    const bool replaying = status.startsWith("^Replaying");
    QCOMPARE(label && label->isVisible(), replaying);
    QCOMPARE(control->stopAction()->isEnabled(), replaying);
    if (!replaying) {
        QVERIFY(window.statusBar()->currentMessage().contains(QRegularExpression(status)));
        return;
    }
    QTRY_VERIFY2(label->text().contains(QRegularExpression(status)), qPrintable(label->text()));
    control->stopAction()->trigger();
    QVERIFY(!label->isVisible());
    QCOMPARE(window.statusBar()->currentMessage(), QString("Replay of show.pcap ended"));
}

QTEST_MAIN(tst_replaycontrol)
#include "tst_replaycontrol.moc"
