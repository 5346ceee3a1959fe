// The levels the table shows when two consoles send one Art-Net universe: the latest packet, the
// merges a node makes of them, or one console alone, chosen in the Levels toolbar or the context
// menu. The peer namespace plays both consoles, at 2.0.0.20 and 2.0.0.21.
#include "vardolux.h"

#include "model.h"
#include "peerwindowfixture.h"
#include "recordingfile.h"
#include "testpackets.h"

#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTest>

namespace {

QByteArray levelsOf(int factor, int offset)
{
    QByteArray levels;
    for (int channel = 0; channel < 512; ++channel)
        levels.append(char((channel * factor + offset) % 256));
    return levels;
}

// The first console sends First, the second Second, then the first moves channels 1 to 4 alone.
const QByteArray First = levelsOf(37, 0);
const QByteArray Second = levelsOf(91, 50);
const QByteArray FirstMoved = QByteArray("\x0a\x0b\x0c\x0d") + First.mid(4);

// Channel by channel the higher level of the two (HTP) or the last changer's (LTP).
QByteArray merged(bool latestTakesPrecedence)
{
    QByteArray levels = Second;
    for (int channel = 0; channel < levels.size(); ++channel) {
        const bool first = latestTakesPrecedence
                ? channel < 4
                : quint8(FirstMoved[channel]) > quint8(levels[channel]);
        if (first)
            levels[channel] = FirstMoved[channel];
    }
    return levels;
}

} // namespace

class tst_MergedLevels : public QObject, public PeerWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { freshFiles(); }
    void cleanup() { dropFiles(); }

    void tableFollowsLevelChoice_data();
    void tableFollowsLevelChoice();

private:
    std::vector<std::unique_ptr<QUdpSocket>> m_consoles;
};

void tst_MergedLevels::initTestCase()
{
    setUpSettings();
    QVERIFY(PrivateNetwork::runInPeer({"ip", "addr", "add", "2.0.0.21/8", "dev", "art1"}));
    for (const char *address : {"2.0.0.20", "2.0.0.21"}) {
        QString error;
        const int descriptor = PrivateNetwork::peerUdpSocket(QLatin1String(address), 0, &error);
        QVERIFY2(descriptor >= 0, qPrintable(error));
        m_consoles.push_back(std::make_unique<QUdpSocket>());
        QVERIFY(m_consoles.back()->setSocketDescriptor(descriptor));
    }
}

void tst_MergedLevels::tableFollowsLevelChoice_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<bool>("viaMenu"); // the context menu, else the Levels toolbar's box
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("tipMerge");

    QTest::newRow("latest packet: the first console's, sent last")
            << "Latest packet" << false << FirstMoved << QString() << "Merged (HTP)";
    QTest::newRow("HTP: the higher level of each channel")
            << "Merged (HTP)" << false << merged(false) << "Showing: Merged (HTP) of 2 sources"
            << "Merged (HTP)";
    QTest::newRow("LTP from the context menu: the last change of each channel")
            << "Merged (LTP)" << true << merged(true) << "Showing: Merged (LTP) of 2 sources"
            << "Merged (LTP)";
    QTest::newRow("the first console alone")
            << "2.0.0.20" << false << FirstMoved << "Showing: 2.0.0.20 alone" << "Merged (HTP)";
    QTest::newRow("the second console alone, from the context menu")
            << "2.0.0.21" << true << Second << "Showing: 2.0.0.21 alone" << "Merged (HTP)";
}

// Save writes what the table shows. The tool tips give both consoles' levels and the winner of
// the merge on show, or of HTP, as a node merges unless told otherwise.
void tst_MergedLevels::tableFollowsLevelChoice()
{
    QFETCH(QString, choice);
    QFETCH(bool, viaMenu);
    QFETCH(QByteArray, expected);
    QFETCH(QString, status);
    QFETCH(QString, tipMerge);

    std::unique_ptr<QUdpSocket> peer;
    std::unique_ptr<Vardolux> window;
    QVERIFY(startRecording(peer, window));
    const QHostAddress local(PrivateNetwork::LocalAddress);
    for (const auto &[console, levels] : {std::pair{0, First}, {1, Second}, {0, FirstMoved}}) {
        const QByteArray datagram = TestPackets::artDmx(0, levels);
        QCOMPARE(m_consoles[size_t(console)]->writeDatagram(datagram, local, ArtNetPort),
                 datagram.size());
        QTest::qWait(30);
    }

    auto *box = window->findChild<QComboBox *>(QStringLiteral("levelChoiceBox"));
    QTRY_VERIFY(box->findText(choice) >= 0);
    std::unique_ptr<QMenu> menu(window->createPopupMenu());
    const QList<QAction *> entries =
            menu->findChild<QMenu *>(QStringLiteral("levelChoiceMenu"))->actions();
    if (viaMenu)
        entries.at(box->findText(choice))->trigger();
    else
        emit box->activated(box->findText(choice));
    QTRY_COMPARE(window->levelsOnShow(true), expected);
    auto *label = window->findChild<QLabel *>(QStringLiteral("levelChoiceLabel"));
    QTRY_COMPARE(label->isVisibleTo(window.get()), !status.isEmpty());
    QCOMPARE(label->text(), status);

    // Channel 5: 148 from the first console, 158 from the second, which wins it either way.
    const QModelIndex fifth = window->model->index(0, 4);
    QTRY_VERIFY(window->model->data(fifth, Qt::ToolTipRole)
                        .toString()
                        .endsWith(QStringLiteral("\nSources:\n2.0.0.20: 148\n2.0.0.21: 158\n%1: "
                                                 "158 from 2.0.0.21")
                                          .arg(tipMerge)));

    if (choice == QLatin1String("Merged (HTP)")
        && qEnvironmentVariableIsSet("VARDOLUX_MERGE_SCREENSHOT")) {
        window->resize(760, 760);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->optimizeAction->trigger();
        window->statusBar()->clearMessage();
        QTest::qWait(300);
        QVERIFY(window->grab().save(qEnvironmentVariable("VARDOLUX_MERGE_SCREENSHOT")));
    }

    const QString path = m_files->filePath(QStringLiteral("merged.xml"));
    QVERIFY(window->saveFile(path));
    QCOMPARE(RecordingFile::read(fileBytes(path)).frames, QList<QByteArray>{expected});
}

QTEST_MAIN(tst_MergedLevels)
#include "tst_mergedlevels.moc"
