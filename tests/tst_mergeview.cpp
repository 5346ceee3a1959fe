// The merge view's table and dock, fed with merges of two and three sources directly: which
// channels it lists, who wins each and whose cell is tinted, the summary, the switch to all
// channels, and rows that follow a refresh in place.
#include "mergedock.h"
#include "mergetablemodel.h"
#include "sourcepalette.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTest>

#include <initializer_list>
#include <utility>

Q_DECLARE_METATYPE(UniverseMerge)

namespace {

constexpr int FirstSource = MergeTableModel::FirstSourceColumn;
using Levels = std::initializer_list<std::pair<int, int>>; // channel (0-based), level

MergeSourceLevels source(const char *label, Levels levels, quint16 count = 512, bool live = true)
{
    MergeSourceLevels source;
    source.identity = SourceIdentity::artNet(0x02000000u + quint32(qHash(QByteArray(label))) % 250,
                                             0);
    source.label = QLatin1String(label);
    source.live = live;
    source.inMerge = true;
    source.count = count;
    for (const auto &[channel, level] : levels)
        source.levels[size_t(channel)] = quint8(level);
    return source;
}

// The HTP merge of the live sources, the first of the highest winning, as the engine gives it.
UniverseMerge merge(const QList<MergeSourceLevels> &sources)
{
    UniverseMerge merge;
    merge.sources = sources;
    merge.winner.fill(-1);
    for (int channel = 0; channel < 512; ++channel) {
        for (int index = 0; index < sources.size(); ++index) {
            const MergeSourceLevels &at = sources.at(index);
            if (!at.inMerge || channel >= at.count)
                continue;
            merge.mergedCount = std::max(merge.mergedCount, at.count);
            const qint8 winner = merge.winner[size_t(channel)];
            if (winner < 0 || at.levels[size_t(channel)] > merge.merged[size_t(channel)]) {
                merge.winner[size_t(channel)] = qint8(index);
                merge.merged[size_t(channel)] = at.levels[size_t(channel)];
            }
        }
    }
    return merge;
}

QStringList column(const QAbstractItemModel &model, int column, int rows)
{
    QStringList texts;
    for (int row = 0; row < std::min(rows, model.rowCount()); ++row)
        texts << model.index(row, column).data().toString();
    return texts;
}

// The column of each row's tinted cell, -1 where none is, -2 where one is tinted in another
// source's colour.
QList<int> tintedColumns(const QAbstractItemModel &model, int rows)
{
    QList<int> tinted;
    for (int row = 0; row < std::min(rows, model.rowCount()); ++row) {
        int found = -1;
        for (int at = 0; at < model.columnCount(); ++at) {
            const QVariant tint = model.index(row, at).data(Qt::BackgroundRole);
            if (tint.isValid())
                found = tint.value<QColor>() == SourcePalette::tint(at - FirstSource) ? at : -2;
        }
        tinted << found;
    }
    return tinted;
}

} // namespace

class tst_MergeView : public QObject
{
    Q_OBJECT

private slots:
    void rows_data();
    void rows();
    void refreshFollowsInPlace();
    void dockOffersKindsAndChannels();
};

void tst_MergeView::rows_data()
{
    QTest::addColumn<UniverseMerge>("merge");
    QTest::addColumn<bool>("allChannels");
    QTest::addColumn<int>("rowCount");
    QTest::addColumn<QStringList>("channels"); // of the first rows
    QTest::addColumn<QStringList>("winners");
    QTest::addColumn<QList<int>>("tinted");
    QTest::addColumn<QString>("summary");

    const auto a = source("2.0.0.20", {{0, 200}, {1, 50}, {2, 10}});
    const auto b = source("2.0.0.21", {{0, 50}, {1, 50}, {2, 20}});
    QTest::newRow("two sources: only where they differ, tinted for the winner")
            << merge({a, b}) << false << 2 << QStringList{"1", "3"}
            << QStringList{"2.0.0.20", "2.0.0.21"} << QList<int>{FirstSource, FirstSource + 1}
            << "2 channels differ; 2.0.0.20 wins 1, 2.0.0.21 wins 1";
    QTest::newRow("all channels: agreeing ones untinted")
            << merge({a, b}) << true << 512 << QStringList{"1", "2", "3", "4"}
            << QStringList{"2.0.0.20", "2.0.0.20", "2.0.0.21", "2.0.0.20"}
            << QList<int>{FirstSource, -1, FirstSource + 1, -1}
            << "2 channels differ; 2.0.0.20 wins 1, 2.0.0.21 wins 1";
    // The second's frame ends after two channels: it has no say in the third and fourth.
    QTest::newRow("three sources, a shorter frame takes no part beyond its end")
            << merge({source("A", {{0, 10}, {1, 20}, {2, 30}, {3, 40}}),
                      source("B", {{0, 10}, {1, 90}, {2, 99}}, 2),
                      source("C", {{0, 10}, {1, 20}, {2, 30}, {3, 99}}, 4)})
            << false << 2 << QStringList{"2", "4"} << QStringList{"B", "C"}
            << QList<int>{FirstSource + 1, FirstSource + 2}
            << "2 channels differ; A wins 0, B wins 1, C wins 1";
    QTest::newRow("three sources, one channel")
            << merge({source("A", {{7, 1}}), source("B", {{7, 2}}), source("C", {{7, 3}})})
            << false << 1 << QStringList{"8"} << QStringList{"C"} << QList<int>{FirstSource + 2}
            << "1 channel differs; A wins 0, B wins 0, C wins 1";
    QTest::newRow("a silent source has no say")
            << merge({a, source("2.0.0.21", {{0, 255}}, 512, false)}) << false << 0
            << QStringList() << QStringList() << QList<int>()
            << "Only 2.0.0.20 is live: nothing to merge";
    QTest::newRow("identical sources differ nowhere")
            << merge({a, a}) << false << 0 << QStringList() << QStringList() << QList<int>()
            << "0 channels differ; 2.0.0.20 wins 0, 2.0.0.20 wins 0";
    QTest::newRow("no source") << merge({}) << true << 512 << QStringList{"1"} << QStringList{""}
                               << QList<int>{-1} << "No live source: nothing to merge";
}

void tst_MergeView::rows()
{
    QFETCH(UniverseMerge, merge);
    QFETCH(bool, allChannels);
    QFETCH(QStringList, channels);
    MergeTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setAllChannels(allChannels);
    model.setMerge(merge);

    QTEST(model.rowCount(), "rowCount");
    QCOMPARE(model.columnCount(), FirstSource + merge.sources.size());
    QCOMPARE(column(model, MergeTableModel::ChannelColumn, int(channels.size())), channels);
    QTEST(column(model, MergeTableModel::WinnerColumn, int(channels.size())), "winners");
    QTEST(tintedColumns(model, int(channels.size())), "tinted");
    QTEST(model.summary(), "summary");
}

void tst_MergeView::refreshFollowsInPlace()
{
    MergeTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const auto a = source("2.0.0.20", {{0, 200}, {1, 50}, {2, 10}});
    const auto b = source("2.0.0.21", {{0, 50}, {1, 50}, {2, 20}});
    model.setMerge(merge({a, b}));
    const QPersistentModelIndex third = model.index(1, MergeTableModel::ChannelColumn);
    QCOMPARE(third.data().toString(), QStringLiteral("3"));
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

    // Channel 1 comes to agree and channel 2 to differ; channel 3 keeps its row and data.
    auto moved = a;
    moved.levels[0] = 50;
    moved.levels[1] = 99;
    model.setMerge(merge({moved, b}));
    QCOMPARE(column(model, MergeTableModel::ChannelColumn, 9), (QStringList{"2", "3"}));
    QCOMPARE(third.row(), 1);
    QCOMPARE(model.index(1, FirstSource).data().toInt(), 10);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(inserted.count(), 1);

    model.setAllChannels(true);
    QCOMPARE(model.rowCount(), 512);
    QCOMPARE(third.data().toString(), QStringLiteral("3"));
    model.setAllChannels(false);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(resets.count(), 0);

    // Another source is another column: the table is laid out anew.
    model.setMerge(merge({moved, b, source("2.0.0.22", {})}));
    QCOMPARE(resets.count(), 1);
    QCOMPARE(model.columnCount(), FirstSource + 3);
    QCOMPARE(model.headerData(FirstSource + 2, Qt::Horizontal).toString(),
             QStringLiteral("2.0.0.22"));
}

void tst_MergeView::dockOffersKindsAndChannels()
{
    MergeDock dock;
    QSignalSpy kinds(&dock, &MergeDock::kindChosen);
    QSignalSpy chosen(&dock, &MergeDock::channelChosen);
    using Kind = LevelChoice::Kind;
    dock.offerKinds({Kind::MergedHtp, Kind::MergedLtp}, {"Merged (HTP)", "Merged (LTP)"});
    dock.m_kindBox->setCurrentIndex(1);
    QCOMPARE(kinds.count(), 1);
    dock.offerKinds({Kind::MergedHtp, Kind::MergedLtp}, {"Merged (HTP)", "Merged (LTP)"});
    QCOMPARE(dock.kind(), Kind::MergedLtp);
    dock.offerKinds({Kind::MergedPriorityHtp}, {"Merged (priority, HTP)"});
    QCOMPARE(dock.kind(), Kind::MergedPriorityHtp);

    auto third = source("<b>2.0.0.22</b>", {{2, 255}});
    third.live = false;
    third.droppedByNode = true;
    dock.showMerge(merge({source("2.0.0.20", {{0, 200}, {2, 10}}),
                          source("2.0.0.21", {{0, 50}, {2, 20}}), third}));
    QCOMPARE(dock.m_summary->text(), QStringLiteral("2 channels differ; 2.0.0.20 wins 1, "
                                                    "2.0.0.21 wins 0, <b>2.0.0.22</b> wins 1"));
    QCOMPARE(dock.m_summary->textFormat(), Qt::PlainText);
    QVERIFY(dock.m_dropNote->isVisibleTo(&dock));
    QVERIFY(dock.m_dropNote->text().contains(QLatin1String("<b>2.0.0.22</b>")));

    // Sorted by channel downwards, the first row is channel 3.
    dock.m_view->sortByColumn(MergeTableModel::ChannelColumn, Qt::DescendingOrder);
    emit dock.m_view->doubleClicked(dock.m_proxy->index(0, MergeTableModel::MergedColumn));
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.first().first().toInt(), 2);
}

QTEST_MAIN(tst_MergeView)
#include "tst_mergeview.moc"
