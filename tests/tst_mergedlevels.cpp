// The levels the table shows when two consoles send one Art-Net universe: the latest packet, the
// merges a node makes of them, or one console alone, chosen in the Levels toolbar or the context
// menu. The peer namespace plays both consoles, at 2.0.0.20 and 2.0.0.21.
#include "vardolux.h"

#include "levelsbar.h"
#include "model.h"
#include "privatenetwork.h"
#include "recordingfile.h"
#include "testpackets.h"

#include "peerwindowfixture.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTest>
#include <QUdpSocket>

#include <memory>

namespace {

using TestPackets::artDmx;

constexpr int Channels = 512;

QByteArray levelsOf(int factor, int offset)
{
    QByteArray levels;
    for (int channel = 0; channel < Channels; ++channel)
        levels.append(char((channel * factor + offset) % 256));
    return levels;
}

// The first console's frame, the second's, and the first's again with its first four channels
// moved after the second spoke: the last changer of those four is the first console.
const QByteArray First = levelsOf(37, 0);
const QByteArray Second = levelsOf(91, 50);
const QByteArray FirstMoved = [] {
    QByteArray levels = First;
    for (int channel = 0; channel < 4; ++channel)
        levels[channel] = char(10 + channel);
    return levels;
}();

QByteArray highestOf(const QByteArray &a, const QByteArray &b)
{
    QByteArray levels(Channels, '\0');
    for (int channel = 0; channel < Channels; ++channel)
        levels[channel] = char(std::max(quint8(a[channel]), quint8(b[channel])));
    return levels;
}

QByteArray latestChanges()
{
    QByteArray levels = Second;
    for (int channel = 0; channel < 4; ++channel)
        levels[channel] = FirstMoved[channel];
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
    static QByteArray tableBytes(const Vardolux &window);
    void choose(Vardolux &window, const QString &text, bool viaMenu);

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

QByteArray tst_MergedLevels::tableBytes(const Vardolux &window)
{
    QByteArray levels;
    for (const QString &text : allCellTexts(window))
        levels.append(char(text.toInt()));
    return levels;
}

void tst_MergedLevels::choose(Vardolux &window, const QString &text, bool viaMenu)
{
    if (!viaMenu) {
        auto *box = window.findChild<QComboBox *>(QStringLiteral("levelChoiceBox"));
        QTRY_VERIFY(box->findText(text) >= 0);
        box->setCurrentIndex(box->findText(text));
        emit box->activated(box->currentIndex());
        return;
    }
    QTRY_VERIFY([&] {
        std::unique_ptr<QMenu> menu(window.createPopupMenu());
        auto *levels = menu->findChild<QMenu *>(QStringLiteral("levelChoiceMenu"));
        const QList<QAction *> actions = levels->actions();
        for (QAction *action : actions) {
            if (action->text() == text) {
                action->trigger();
                return true;
            }
        }
        return false;
    }());
}

void tst_MergedLevels::tableFollowsLevelChoice_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<bool>("viaMenu");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("tipMerge");

    QTest::newRow("latest packet: the first console's, sent last")
            << "Latest packet" << false << FirstMoved << QString() << "Merged (HTP)";
    QTest::newRow("HTP: the higher level of each channel")
            << "Merged (HTP)" << false << highestOf(FirstMoved, Second)
            << "Showing: Merged (HTP) of 2 sources" << "Merged (HTP)";
    QTest::newRow("LTP from the context menu: the last change of each channel")
            << "Merged (LTP)" << true << latestChanges() << "Showing: Merged (LTP) of 2 sources"
            << "Merged (LTP)";
    QTest::newRow("the first console alone")
            << "2.0.0.20" << false << FirstMoved << "Showing: 2.0.0.20 alone" << "Merged (HTP)";
    QTest::newRow("the second console alone, from the context menu")
            << "2.0.0.21" << true << Second << "Showing: 2.0.0.21 alone" << "Merged (HTP)";
}

// Save writes what the table shows. The tool tips name both consoles' levels and the winner of
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
        QCOMPARE(m_consoles[size_t(console)]->writeDatagram(artDmx(0, levels), local, ArtNetPort),
                 qint64(levels.size()) + 18);
        QTest::qWait(30);
    }

    choose(*window, choice, viaMenu);
    QTRY_COMPARE(tableBytes(*window), expected);
    auto *label = window->findChild<QLabel *>(QStringLiteral("levelChoiceLabel"));
    QTRY_COMPARE(label->isVisibleTo(window.get()), !status.isEmpty());
    QCOMPARE(label->text(), status);

    // Channel 5: 148 from the first console, 158 from the second, which wins it either way.
    const QModelIndex fifth = window->model->index(0, 4);
    const QString tip = QStringLiteral("\nSources:\n2.0.0.20: 148\n2.0.0.21: 158\n%1: 158 from "
                                       "2.0.0.21")
                                .arg(tipMerge);
    QTRY_VERIFY2(window->model->data(fifth, Qt::ToolTipRole).toString().endsWith(tip),
                 qPrintable(window->model->data(fifth, Qt::ToolTipRole).toString()));

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
    const RecordingFile::Content saved = RecordingFile::read(fileBytes(path));
    QCOMPARE(saved.frames.size(), 1);
    QCOMPARE(saved.frames.first(), expected);
}

QTEST_MAIN(tst_MergedLevels)
#include "tst_mergedlevels.moc"
