#include "model.h"

#include "channelactivity.h"
#include "channeltrace.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QDateTime>
#include <QSignalSpy>
#include <QTest>

namespace {

constexpr int Rows = 32;
constexpr int Columns = 16;
constexpr int Channels = Rows * Columns;

// Writes a frame the way the main window refreshes the table: every cell in row-major order
// between beginUpdate() and endUpdate(), the frame's level below its length and -3 beyond it.
void refresh(Model &model, const QByteArray &frame)
{
    const int columns = model.columnCount();
    const int rows = model.rowCount();
    model.beginUpdate();
    int channel = 0;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column, ++channel) {
            const int value = channel < frame.size() ? quint8(frame.at(channel))
                                                     : int(Model::ValueNotInFrame);
            model.setData(model.index(row, column), value, Qt::DisplayRole);
        }
    }
    model.endUpdate();
}

QString textOf(const Model &model, int row, int column)
{
    return model.data(model.index(row, column)).toString();
}

QModelIndex changedTopLeft(const QSignalSpy &spy, int signal)
{
    return spy.at(signal).at(0).value<QModelIndex>();
}

QModelIndex changedBottomRight(const QSignalSpy &spy, int signal)
{
    return spy.at(signal).at(1).value<QModelIndex>();
}

} // namespace

class tst_Model : public QObject
{
    Q_OBJECT

private slots:
    void freshModel();
    void cellText_data();
    void cellText();
    void noLevelText_data();
    void noLevelText();
    void refreshWithShortFrame();
    void fullRefreshSignalsWholeGridOnce();
    void setDataPerCellBeforeFirstUpdate_data();
    void setDataPerCellBeforeFirstUpdate();
    void setDataRefused_data();
    void setDataRefused();
    void setDataEqualValue();
    void filledCountFollowsLastChange();
    void collectedRange_data();
    void collectedRange();
    void collectedRangeNeedsEndUpdate();
    void collectingStaysOn();
    void levelAt_data();
    void levelAt();
    void levelAtWithoutLevel_data();
    void levelAtWithoutLevel();
    void textConvertsBackOnlyInDecimal_data();
    void textConvertsBackOnlyInDecimal();
    void viewModeResetsAndKeepsValues();
    void headerData_data();
    void headerData();
    void flags();
    void flatTable();
    void gridSmallerThanUniverse();
    void gridLargerThanUniverse();
    void modelTester();

    // Channel activity, its trace and the roles it serves
    void channelActivity_data();
    void channelActivity();
    void channelTrace_data();
    void channelTrace();
    void channelTraceGaps_data();
    void channelTraceGaps();
    void activityRoles_data();
    void activityRoles();
    void activityUnderModelTester();
};

void tst_Model::freshModel()
{
    Model model(Rows, Columns);
    QCOMPARE(model.rowCount(), Rows);
    QCOMPARE(model.columnCount(), Columns);
    for (int row = 0; row < Rows; ++row) {
        for (int column = 0; column < Columns; ++column) {
            const QString text = textOf(model, row, column);
            QVERIFY2(text == QLatin1String("none data"),
                     qPrintable(QStringLiteral("cell %1,%2 reads \"%3\"").arg(row).arg(column).arg(text)));
        }
    }
}

void tst_Model::cellText_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("text");

    const int decimal = Model::DecimalMode;
    const int percent = Model::PercentMode;
    const int hex = Model::HexMode;
    const int bar = Model::BarMode;

    QTest::newRow("0 decimal") << 0 << decimal << "0";
    QTest::newRow("7 decimal") << 7 << decimal << "7";
    QTest::newRow("128 decimal") << 128 << decimal << "128";
    QTest::newRow("255 decimal") << 255 << decimal << "255";

    // Truncated, never rounded: 127 -> 49.8 -> 49, 254 -> 99.6 -> 99.
    QTest::newRow("0 percent") << 0 << percent << "0%";
    QTest::newRow("2 percent") << 2 << percent << "0%";
    QTest::newRow("3 percent") << 3 << percent << "1%";
    QTest::newRow("127 percent") << 127 << percent << "49%";
    QTest::newRow("128 percent") << 128 << percent << "50%";
    QTest::newRow("254 percent") << 254 << percent << "99%";
    QTest::newRow("255 percent") << 255 << percent << "100%";

    QTest::newRow("0 hex") << 0 << hex << "0x00";
    QTest::newRow("10 hex") << 10 << hex << "0x0a";
    QTest::newRow("171 hex") << 171 << hex << "0xab";
    QTest::newRow("255 hex") << 255 << hex << "0xff";

    QTest::newRow("0 bar") << 0 << bar << "";
    QTest::newRow("15 bar") << 15 << bar << "";
    QTest::newRow("16 bar") << 16 << bar << "|";
    QTest::newRow("31 bar") << 31 << bar << "|";
    QTest::newRow("32 bar") << 32 << bar << "||";
    QTest::newRow("254 bar") << 254 << bar << "|||||||||||||||";
    QTest::newRow("255 bar") << 255 << bar << "|||||||||||||||";

    // Modes without a text form of their own read as decimal.
    QTest::newRow("200 unused mode 3") << 200 << 3 << "200";
    QTest::newRow("200 mode 8") << 200 << 8 << "200";
    QTest::newRow("200 mode -1") << 200 << -1 << "200";
}

void tst_Model::cellText()
{
    QFETCH(int, level);
    QFETCH(int, mode);
    QFETCH(QString, text);

    Model model(Rows, Columns);
    refresh(model, QByteArray(Channels, char(level)));
    model.setViewMode(mode);

    // Every cell, so that a mix-up of row and column in the channel index cannot hide.
    for (int row = 0; row < Rows; ++row) {
        for (int column = 0; column < Columns; ++column) {
            const QVariant shown = model.data(model.index(row, column));
            QCOMPARE(shown.typeId(), QMetaType::QString);
            QCOMPARE(shown.toString(), text);
        }
    }
    QVERIFY(!model.data(model.index(0, 0), Qt::EditRole).isValid());
    QVERIFY(!model.data(model.index(0, 0), Qt::ToolTipRole).isValid());
    QVERIFY(!model.data(QModelIndex()).isValid());
}

void tst_Model::noLevelText_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("decimal") << int(Model::DecimalMode);
    QTest::newRow("percent") << int(Model::PercentMode);
    QTest::newRow("hex") << int(Model::HexMode);
    QTest::newRow("bar") << int(Model::BarMode);
}

void tst_Model::noLevelText()
{
    QFETCH(int, mode);

    Model model(Rows, Columns);
    model.setViewMode(mode);
    QCOMPARE(textOf(model, 0, 0), QStringLiteral("none data"));

    // Channel 1 not in the frame (-3), channel 2 cleared by beginUpdate (-2), channel 3 never
    // written since construction (-1); channel 4 written last, so the first three count as
    // filled and channel 5 does not.
    model.setData(model.index(0, 0), int(Model::ValueNotInFrame), Qt::DisplayRole);
    model.beginUpdate();
    model.setData(model.index(0, 0), int(Model::ValueNotInFrame), Qt::DisplayRole);
    model.setData(model.index(0, 2), int(Model::ValueUnset), Qt::DisplayRole);
    model.setData(model.index(0, 3), 200, Qt::DisplayRole);
    model.endUpdate();

    QCOMPARE(textOf(model, 0, 0), QStringLiteral("no data"));
    QCOMPARE(textOf(model, 0, 1), QStringLiteral("no data"));
    QCOMPARE(textOf(model, 0, 2), QStringLiteral("no data"));
    QVERIFY(textOf(model, 0, 3) != QLatin1String("no data"));
    QCOMPARE(textOf(model, 0, 4), QStringLiteral("none data"));
    QCOMPARE(textOf(model, Rows - 1, Columns - 1), QStringLiteral("none data"));
}

void tst_Model::refreshWithShortFrame()
{
    Model model(Rows, Columns);
    const QByteArray frame("\x01\x02\x03\x04\x05\x06\x07\x08\x09\xff", 10);
    refresh(model, frame);

    for (int column = 0; column < 10; ++column)
        QCOMPARE(textOf(model, 0, column), QString::number(quint8(frame.at(column))));
    for (int channel = 10; channel < Channels; ++channel) {
        const QString text = textOf(model, channel / Columns, channel % Columns);
        QVERIFY2(text == QLatin1String("no data"),
                 qPrintable(QStringLiteral("channel %1 reads \"%2\"").arg(channel + 1).arg(text)));
    }

    // A second, shorter frame: the channels it no longer carries lose their level.
    refresh(model, QByteArray("\x10\x20", 2));
    QCOMPARE(textOf(model, 0, 0), QStringLiteral("16"));
    QCOMPARE(textOf(model, 0, 1), QStringLiteral("32"));
    QCOMPARE(textOf(model, 0, 2), QStringLiteral("no data"));
}

void tst_Model::fullRefreshSignalsWholeGridOnce()
{
    Model model(Rows, Columns);
    QSignalSpy spy(&model, &Model::dataChanged);

    for (int pass = 0; pass < 3; ++pass) {
        spy.clear();
        // The same frame each time: beginUpdate clears every cell, so all of them change.
        refresh(model, QByteArray(Channels, char(0x42)));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(changedTopLeft(spy, 0), model.index(0, 0));
        QCOMPARE(changedBottomRight(spy, 0), model.index(Rows - 1, Columns - 1));
        QCOMPARE(textOf(model, Rows - 1, Columns - 1), QStringLiteral("66"));
    }
}

void tst_Model::setDataPerCellBeforeFirstUpdate_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("value");

    QTest::newRow("channel 1 level 0") << 0 << 0 << 0;
    QTest::newRow("channel 16 level 255") << 0 << 15 << 255;
    QTest::newRow("channel 17 level 1") << 1 << 0 << 1;
    QTest::newRow("channel 512 level 128") << 31 << 15 << 128;
    QTest::newRow("channel 200 not in frame") << 12 << 7 << int(Model::ValueNotInFrame);
}

void tst_Model::setDataPerCellBeforeFirstUpdate()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, value);

    Model model(Rows, Columns);
    QSignalSpy spy(&model, &Model::dataChanged);
    const QModelIndex cell = model.index(row, column);

    QVERIFY(model.setData(cell, value, Qt::DisplayRole));
    QCOMPARE(spy.size(), 1);
    QCOMPARE(changedTopLeft(spy, 0), cell);
    QCOMPARE(changedBottomRight(spy, 0), cell);

    bool ok = false;
    const int level = model.levelAt(row, column, &ok);
    QCOMPARE(ok, value >= 0);
    QCOMPARE(level, value >= 0 ? value : 0);
    // Every channel before the one written now counts as filled, though never written.
    if (row * Columns + column > 0)
        QCOMPARE(textOf(model, 0, 0), QStringLiteral("no data"));
    if (row * Columns + column < Channels - 1)
        QCOMPARE(textOf(model, Rows - 1, Columns - 1), QStringLiteral("none data"));
}

void tst_Model::setDataRefused_data()
{
    QTest::addColumn<bool>("validIndex");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("role");

    QTest::newRow("invalid index") << false << QVariant(5) << int(Qt::DisplayRole);
    QTest::newRow("edit role") << true << QVariant(5) << int(Qt::EditRole);
    QTest::newRow("tool tip role") << true << QVariant(5) << int(Qt::ToolTipRole);
    QTest::newRow("user role") << true << QVariant(5) << int(Qt::UserRole);
    QTest::newRow("level 256") << true << QVariant(256) << int(Qt::DisplayRole);
    QTest::newRow("level 65541 (wraps to 5 in 16 bits)")
            << true << QVariant(65541) << int(Qt::DisplayRole);
    QTest::newRow("code -4") << true << QVariant(-4) << int(Qt::DisplayRole);
    QTest::newRow("code -32768") << true << QVariant(-32768) << int(Qt::DisplayRole);
    QTest::newRow("text not a number") << true << QVariant(QStringLiteral("bright"))
                                       << int(Qt::DisplayRole);
    QTest::newRow("no value") << true << QVariant() << int(Qt::DisplayRole);
}

void tst_Model::setDataRefused()
{
    QFETCH(bool, validIndex);
    QFETCH(QVariant, value);
    QFETCH(int, role);

    Model model(Rows, Columns);
    QSignalSpy spy(&model, &Model::dataChanged);
    const QModelIndex cell = validIndex ? model.index(3, 4) : QModelIndex();

    // Other roles are accepted and ignored; a bad index or level is refused. Either way nothing
    // is stored.
    const bool ignoredRole = validIndex && role != Qt::DisplayRole;
    QVERIFY2(model.setData(cell, value, role) == ignoredRole,
             ignoredRole ? "another role must be accepted and ignored" : "must be refused");
    QCOMPARE(spy.size(), 0);
    // Nothing stored and the filled count untouched: every cell still reads "none data".
    QCOMPARE(textOf(model, 3, 4), QStringLiteral("none data"));
    QCOMPARE(textOf(model, 0, 0), QStringLiteral("none data"));

    // Also refused while changes are being collected, and no range is left pending.
    refresh(model, QByteArray(Channels, char(9)));
    spy.clear();
    model.beginUpdate();
    QCOMPARE(model.setData(cell, value, role), ignoredRole);
    model.endUpdate();
    QCOMPARE(spy.size(), 0);
    if (validIndex)
        QCOMPARE(textOf(model, 3, 4), QStringLiteral("no data"));
}

void tst_Model::setDataEqualValue()
{
    Model model(Rows, Columns);
    QVERIFY(model.setData(model.index(0, 9), 5, Qt::DisplayRole)); // channel 10
    QVERIFY(model.setData(model.index(0, 1), 7, Qt::DisplayRole)); // channel 2, filled count 2
    QSignalSpy spy(&model, &Model::dataChanged);

    QVERIFY(model.setData(model.index(0, 9), 5, Qt::DisplayRole));
    QCOMPARE(spy.size(), 0);
    // Not a change, so the filled count stays at channel 2.
    QCOMPARE(textOf(model, 0, 9), QStringLiteral("none data"));

    // A QVariant holding the level in another integer type is the same value.
    QVERIFY(model.setData(model.index(0, 1), QVariant::fromValue<quint8>(7), Qt::DisplayRole));
    QCOMPARE(spy.size(), 0);

    model.beginUpdate();
    model.endUpdate();
    spy.clear();
    model.beginUpdate();
    QVERIFY(model.setData(model.index(0, 1), int(Model::ValueCleared), Qt::DisplayRole));
    model.endUpdate();
    QCOMPARE(spy.size(), 0);
}

void tst_Model::filledCountFollowsLastChange()
{
    Model model(Rows, Columns);
    model.setData(model.index(1, 3), 100, Qt::DisplayRole); // channel 20
    QCOMPARE(textOf(model, 1, 3), QStringLiteral("100"));

    model.setData(model.index(0, 4), 50, Qt::DisplayRole); // channel 5: now the last change
    QCOMPARE(textOf(model, 0, 4), QStringLiteral("50"));
    QCOMPARE(textOf(model, 1, 3), QStringLiteral("none data"));
    bool ok = true;
    QCOMPARE(model.levelAt(1, 3, &ok), 0);
    QVERIFY(!ok);

    // The value is still held and shows again once a later channel changes.
    model.setData(model.index(2, 0), 1, Qt::DisplayRole); // channel 33
    QCOMPARE(model.levelAt(1, 3, &ok), 100);
    QVERIFY(ok);
}

using CellList = QList<QPoint>; // x: column, y: row

void tst_Model::collectedRange_data()
{
    QTest::addColumn<CellList>("cells");
    QTest::addColumn<QPoint>("topLeft");
    QTest::addColumn<QPoint>("bottomRight");

    QTest::newRow("one cell") << CellList{ { 5, 7 } } << QPoint(5, 7) << QPoint(5, 7);
    QTest::newRow("same cell twice") << CellList{ { 5, 7 }, { 5, 7 } } << QPoint(5, 7)
                                     << QPoint(5, 7);
    QTest::newRow("left to right in one row") << CellList{ { 2, 4 }, { 9, 4 } } << QPoint(2, 4)
                                              << QPoint(9, 4);
    QTest::newRow("right to left in one row") << CellList{ { 9, 4 }, { 2, 4 } } << QPoint(2, 4)
                                              << QPoint(9, 4);
    QTest::newRow("down one column") << CellList{ { 3, 1 }, { 3, 30 } } << QPoint(3, 1)
                                     << QPoint(3, 30);
    QTest::newRow("up one column") << CellList{ { 3, 30 }, { 3, 1 } } << QPoint(3, 1)
                                   << QPoint(3, 30);
    // Later cell below but left of the first: corners mix row of one and column of the other.
    QTest::newRow("anti-diagonal top right first")
            << CellList{ { 15, 0 }, { 0, 31 } } << QPoint(0, 0) << QPoint(15, 31);
    QTest::newRow("anti-diagonal bottom left first")
            << CellList{ { 0, 31 }, { 15, 0 } } << QPoint(0, 0) << QPoint(15, 31);
    QTest::newRow("inner cell keeps range") << CellList{ { 1, 1 }, { 10, 10 }, { 5, 5 } }
                                            << QPoint(1, 1) << QPoint(10, 10);
    QTest::newRow("three cells widening") << CellList{ { 8, 2 }, { 1, 9 }, { 12, 4 } }
                                          << QPoint(1, 2) << QPoint(12, 9);
    QTest::newRow("last cell not the corner")
            << CellList{ { 10, 5 }, { 3, 7 }, { 6, 6 } } << QPoint(3, 5) << QPoint(10, 7);
}

void tst_Model::collectedRange()
{
    QFETCH(CellList, cells);
    QFETCH(QPoint, topLeft);
    QFETCH(QPoint, bottomRight);

    Model model(Rows, Columns);
    QSignalSpy spy(&model, &Model::dataChanged);
    model.beginUpdate();
    int level = 1;
    for (const QPoint &cell : cells)
        QVERIFY(model.setData(model.index(cell.y(), cell.x()), level++, Qt::DisplayRole));
    QCOMPARE(spy.size(), 0);
    model.endUpdate();

    QCOMPARE(spy.size(), 1);
    QCOMPARE(changedTopLeft(spy, 0), model.index(topLeft.y(), topLeft.x()));
    QCOMPARE(changedBottomRight(spy, 0), model.index(bottomRight.y(), bottomRight.x()));

    // Signalled once: a second endUpdate has nothing pending.
    model.endUpdate();
    QCOMPARE(spy.size(), 1);

    // The next batch starts a range of its own.
    model.beginUpdate();
    model.setData(model.index(20, 14), 77, Qt::DisplayRole);
    model.endUpdate();
    QCOMPARE(spy.size(), 2);
    QCOMPARE(changedTopLeft(spy, 1), model.index(20, 14));
    QCOMPARE(changedBottomRight(spy, 1), model.index(20, 14));
}

void tst_Model::collectedRangeNeedsEndUpdate()
{
    Model model(Rows, Columns);
    QSignalSpy spy(&model, &Model::dataChanged);

    model.endUpdate(); // before any beginUpdate: nothing to do
    QCOMPARE(spy.size(), 0);

    model.beginUpdate();
    model.setData(model.index(0, 0), 10, Qt::DisplayRole);
    model.setData(model.index(4, 4), 10, Qt::DisplayRole);
    QCOMPARE(spy.size(), 0);
    // A new beginUpdate drops what was pending without telling anyone.
    model.beginUpdate();
    model.setData(model.index(2, 3), 10, Qt::DisplayRole);
    model.endUpdate();
    QCOMPARE(spy.size(), 1);
    QCOMPARE(changedTopLeft(spy, 0), model.index(2, 3));
    QCOMPARE(changedBottomRight(spy, 0), model.index(2, 3));

    // An empty batch signals nothing.
    spy.clear();
    model.beginUpdate();
    model.endUpdate();
    QCOMPARE(spy.size(), 0);
}

void tst_Model::collectingStaysOn()
{
    Model model(Rows, Columns);
    QSignalSpy spy(&model, &Model::dataChanged);
    model.beginUpdate();
    model.endUpdate();

    // After the first batch, single writes are collected too and wait for endUpdate.
    QVERIFY(model.setData(model.index(6, 6), 3, Qt::DisplayRole));
    QVERIFY(model.setData(model.index(7, 2), 3, Qt::DisplayRole));
    QCOMPARE(spy.size(), 0);
    model.endUpdate();
    QCOMPARE(spy.size(), 1);
    QCOMPARE(changedTopLeft(spy, 0), model.index(6, 2));
    QCOMPARE(changedBottomRight(spy, 0), model.index(7, 6));
}

void tst_Model::levelAt_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("decimal") << int(Model::DecimalMode);
    QTest::newRow("percent") << int(Model::PercentMode);
    QTest::newRow("hex") << int(Model::HexMode);
    QTest::newRow("bar") << int(Model::BarMode);
    QTest::newRow("unused mode 3") << 3;
}

void tst_Model::levelAt()
{
    QFETCH(int, mode);

    Model model(Rows, Columns);
    QByteArray frame(Channels, 0);
    for (int channel = 0; channel < Channels; ++channel)
        frame[channel] = char((channel * 7 + 3) & 0xff);
    refresh(model, frame);
    model.setViewMode(mode);

    for (int row = 0; row < Rows; ++row) {
        for (int column = 0; column < Columns; ++column) {
            bool ok = false;
            const int level = model.levelAt(row, column, &ok);
            QVERIFY(ok);
            QCOMPARE(level, int(quint8(frame.at(row * Columns + column))));
        }
    }
    // The caller may not care whether there is a level.
    QCOMPARE(model.levelAt(0, 1, nullptr), 10);
}

void tst_Model::levelAtWithoutLevel_data()
{
    QTest::addColumn<int>("frameLength");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");

    QTest::newRow("fresh model, first cell") << -1 << 0 << 0;
    QTest::newRow("fresh model, last cell") << -1 << Rows - 1 << Columns - 1;
    QTest::newRow("short frame, channel 11") << 10 << 0 << 10;
    QTest::newRow("short frame, channel 512") << 10 << Rows - 1 << Columns - 1;
    QTest::newRow("empty frame, channel 1") << 0 << 0 << 0;
    QTest::newRow("row below the grid") << Channels << Rows << 0;
    QTest::newRow("negative row") << Channels << -1 << 0;
    QTest::newRow("negative column at row 1") << Channels << 1 << -20;
}

void tst_Model::levelAtWithoutLevel()
{
    QFETCH(int, frameLength);
    QFETCH(int, row);
    QFETCH(int, column);

    Model model(Rows, Columns);
    if (frameLength >= 0)
        refresh(model, QByteArray(frameLength, char(0x80)));

    bool ok = true;
    QCOMPARE(model.levelAt(row, column, &ok), 0);
    QVERIFY(!ok);
}

void tst_Model::textConvertsBackOnlyInDecimal_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("converts");
    QTest::newRow("decimal") << int(Model::DecimalMode) << true;
    QTest::newRow("percent") << int(Model::PercentMode) << false;
    QTest::newRow("hex") << int(Model::HexMode) << false;
    QTest::newRow("bar") << int(Model::BarMode) << false;
}

void tst_Model::textConvertsBackOnlyInDecimal()
{
    QFETCH(int, mode);
    QFETCH(bool, converts);

    Model model(Rows, Columns);
    refresh(model, QByteArray("\x00\x11\xfe", 3));
    model.setViewMode(mode);

    for (int column = 0; column < 3; ++column) {
        bool ok = false;
        const int fromText = model.data(model.index(0, column)).toInt(&ok);
        QCOMPARE(ok, converts);
        if (converts)
            QCOMPARE(fromText, model.levelAt(0, column, nullptr));
    }
    bool ok = true;
    model.data(model.index(0, 3)).toInt(&ok); // "no data"
    QVERIFY(!ok);
}

void tst_Model::viewModeResetsAndKeepsValues()
{
    Model model(Rows, Columns);
    QSignalSpy aboutToReset(&model, &Model::modelAboutToBeReset);
    QSignalSpy reset(&model, &Model::modelReset);
    QSignalSpy changed(&model, &Model::dataChanged);

    model.beginUpdate();
    model.setData(model.index(0, 0), 255, Qt::DisplayRole);
    model.setData(model.index(2, 5), 16, Qt::DisplayRole);

    model.setViewMode(Model::HexMode);
    QCOMPARE(aboutToReset.size(), 1);
    QCOMPARE(reset.size(), 1);
    QCOMPARE(textOf(model, 0, 0), QStringLiteral("0xff"));
    QCOMPARE(textOf(model, 2, 5), QStringLiteral("0x10"));

    // The pending range survives the reset.
    model.endUpdate();
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changedTopLeft(changed, 0), model.index(0, 0));
    QCOMPARE(changedBottomRight(changed, 0), model.index(2, 5));

    model.setViewMode(Model::BarMode);
    QCOMPARE(textOf(model, 2, 5), QStringLiteral("|"));
    model.setViewMode(Model::DecimalMode);
    QCOMPARE(reset.size(), 3);
    QCOMPARE(textOf(model, 0, 0), QStringLiteral("255"));
    QCOMPARE(textOf(model, 2, 6), QStringLiteral("none data"));
}

void tst_Model::headerData_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("section");
    QTest::addColumn<QString>("text");

    QTest::newRow("first row") << int(Qt::Vertical) << 0 << "1";
    QTest::newRow("row 17, not channel 257") << int(Qt::Vertical) << 16 << "17";
    QTest::newRow("last row") << int(Qt::Vertical) << 31 << "32";
    QTest::newRow("first column") << int(Qt::Horizontal) << 0 << "1";
    QTest::newRow("last column") << int(Qt::Horizontal) << 15 << "16";
}

void tst_Model::headerData()
{
    QFETCH(int, orientation);
    QFETCH(int, section);
    QFETCH(QString, text);

    Model model(Rows, Columns);
    const auto direction = Qt::Orientation(orientation);
    const QVariant header = model.headerData(section, direction, Qt::DisplayRole);
    QCOMPARE(header.typeId(), QMetaType::QString);
    QCOMPARE(header.toString(), text);
    QVERIFY(!model.headerData(section, direction, Qt::ToolTipRole).isValid());
    QVERIFY(!model.headerData(section, direction, Qt::DecorationRole).isValid());
}

void tst_Model::flags()
{
    Model model(Rows, Columns);
    const Qt::ItemFlags expected = Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsEnabled;
    QCOMPARE(int(expected), 37);
    QCOMPARE(model.flags(model.index(0, 0)), expected);
    QCOMPARE(model.flags(model.index(31, 15)), expected);
    QVERIFY2(!model.flags(model.index(5, 5)).testFlag(Qt::ItemIsEditable), "cells are read only");
    QCOMPARE(int(model.flags(QModelIndex())), 0);
    QCOMPARE(int(model.flags(model.index(32, 0))), 0);
}

void tst_Model::flatTable()
{
    Model model(Rows, Columns);
    QCOMPARE(model.rowCount(QModelIndex()), Rows);
    QCOMPARE(model.columnCount(QModelIndex()), Columns);
    QVERIFY2(model.hasChildren(QModelIndex()), "the root holds the cells");

    for (int row = 0; row < Rows; ++row) {
        for (int column = 0; column < Columns; ++column) {
            const QModelIndex cell = model.index(row, column);
            QVERIFY(cell.isValid());
            QCOMPARE(cell.row(), row);
            QCOMPARE(cell.column(), column);
            QVERIFY2(model.rowCount(cell) == 0, "a cell has no rows below it");
            QVERIFY(!model.hasChildren(cell));
            QVERIFY(!model.parent(cell).isValid());
            QVERIFY(!model.index(0, 0, cell).isValid());
        }
    }

    QVERIFY(!model.index(-1, 0).isValid());
    QVERIFY(!model.index(0, -1).isValid());
    QVERIFY(!model.index(Rows, 0).isValid());
    QVERIFY(!model.index(0, Columns).isValid());
}

void tst_Model::gridSmallerThanUniverse()
{
    Model model(2, 3);
    QSignalSpy spy(&model, &Model::dataChanged);
    refresh(model, QByteArray("\x01\x02\x03\x04", 4));
    QCOMPARE(spy.size(), 1);
    QCOMPARE(changedBottomRight(spy, 0), model.index(1, 2));
    QCOMPARE(textOf(model, 1, 0), QStringLiteral("4"));
    QCOMPARE(textOf(model, 1, 2), QStringLiteral("no data"));

    Model empty(0, 0);
    empty.beginUpdate();
    empty.endUpdate();
    QCOMPARE(empty.rowCount(), 0);
    QVERIFY(!empty.hasChildren());
    bool ok = true;
    QCOMPARE(empty.levelAt(0, 0, &ok), 0);
    QVERIFY(!ok);
}

void tst_Model::gridLargerThanUniverse()
{
    Model model(Rows + 2, Columns);
    refresh(model, QByteArray(Channels, char(1)));
    QCOMPARE(textOf(model, Rows - 1, Columns - 1), QStringLiteral("1"));

    // Cells beyond one universe hold no channel.
    QSignalSpy spy(&model, &Model::dataChanged);
    QVERIFY(model.setData(model.index(Rows, 0), 5, Qt::DisplayRole)); // accepted, not stored
    model.endUpdate();
    QCOMPARE(spy.size(), 0);
    QCOMPARE(textOf(model, Rows, 0), QStringLiteral("none data"));
}

void tst_Model::modelTester()
{
    Model model(Rows, Columns);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    model.setData(model.index(3, 3), 12, Qt::DisplayRole);
    QByteArray frame(Channels, 0);
    for (int pass = 0; pass < 4; ++pass) {
        for (int channel = 0; channel < Channels; ++channel)
            frame[channel] = char(channel + pass * 31);
        refresh(model, frame.left(Channels - pass * 100));
        model.setViewMode(pass == 3 ? int(Model::BarMode) : pass);
        if (QTest::currentTestFailed())
            return;
    }
}

using Frames = QList<QByteArray>;
constexpr qint64 Ms = 1'000'000;

// Feeds frames 1 ms apart starting at startMs, then closes a refresh at the last one.
void feed(ChannelActivity &activity, const Frames &frames, qint64 startMs = 0)
{
    qint64 time = startMs * Ms;
    for (const QByteArray &frame : frames) {
        activity.addFrame(reinterpret_cast<const uchar *>(frame.constData()), int(frame.size()),
                          time);
        time += Ms;
    }
    activity.tick(time - Ms, 0);
}

void tst_Model::channelActivity_data()
{
    QTest::addColumn<Frames>("frames");
    QTest::addColumn<int>("ticksAfter");
    QTest::addColumn<qint64>("laterMs"); // when the last of those ticks comes
    QTest::addColumn<int>("changes");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("recency");

    const int lastTick = ChannelActivity::ChangedLastTick;
    QTest::newRow("steady: never changed") << Frames{"\x10", "\x10", "\x10"} << 0 << qint64(0)
                                           << 0 << 16 << 16 << int(ChannelActivity::NeverChanged);
    // Shorter than a refresh: the table never shows it, the activity counts up and down.
    QTest::newRow("one-frame glitch between two steady frames")
            << Frames{"\x10", "\xff", "\x10"} << 0 << qint64(0) << 2 << 16 << 255 << lastTick;
    QTest::newRow("glitch, one refresh later: within 2 s")
            << Frames{"\x10", "\xff", "\x10"} << 1 << qint64(200) << 2 << 16 << 255
            << int(ChannelActivity::ChangedRecently);
    QTest::newRow("glitch, 2 s later: still recent")
            << Frames{"\x10", "\xff", "\x10"} << 10 << qint64(2000) << 2 << 16 << 255
            << int(ChannelActivity::ChangedRecently);
    QTest::newRow("glitch, 2.1 s later: earlier")
            << Frames{"\x10", "\xff", "\x10"} << 10 << qint64(2100) << 2 << 16 << 255
            << int(ChannelActivity::ChangedEarlier);
    QTest::newRow("ramp down") << Frames{"\x05", "\x04", "\x03", QByteArray(1, '\0')} << 0
                               << qint64(0) << 3 << 0 << 5 << lastTick;
    QTest::newRow("a shorter frame is not a change")
            << Frames{QByteArray("\x07\x09", 2), QByteArray(), QByteArray("\x07", 1)} << 0
            << qint64(0) << 0 << 7 << 7 << int(ChannelActivity::NeverChanged);
    QTest::newRow("no frame carried the channel") << Frames{QByteArray()} << 0 << qint64(0) << 0
                                                  << 0 << 0 << int(ChannelActivity::NeverChanged);
}

void tst_Model::channelActivity()
{
    QFETCH(Frames, frames);
    QFETCH(int, ticksAfter);
    QFETCH(qint64, laterMs);
    QFETCH(int, changes);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, recency);

    ChannelActivity activity;
    feed(activity, frames);
    const qint64 lastFrameMs = frames.size() - 1;
    for (int tick = 1; tick <= ticksAfter; ++tick)
        activity.tick((lastFrameMs + laterMs * tick / ticksAfter) * Ms, 0);

    const ChannelActivity::Statistics &channel1 = activity.statistics(0);
    QCOMPARE(int(channel1.changes), changes);
    QCOMPARE(int(channel1.minimum), minimum);
    QCOMPARE(int(channel1.maximum), maximum);
    QCOMPARE(int(activity.recency(0)), recency);
    QCOMPARE(int(activity.recency(511)), int(ChannelActivity::NeverChanged));
    QCOMPARE(int(activity.recency(512)), int(ChannelActivity::NeverChanged));

    // A reset forgets it all; the next level is where counting starts again.
    activity.reset();
    QCOMPARE(int(activity.statistics(0).changes), 0);
    QVERIFY(!activity.statistics(0).hasLevel);
    feed(activity, Frames{"\x30", "\x30"}, 5000);
    QCOMPARE(int(activity.statistics(0).minimum), 0x30);
    QCOMPARE(int(activity.recency(0)), int(ChannelActivity::NeverChanged));
}

void tst_Model::channelTrace_data()
{
    QTest::addColumn<QList<int>>("channels");
    QTest::addColumn<Frames>("frames");
    QTest::addColumn<QList<QList<int>>>("points"); // time in ms, then one level per channel

    QTest::newRow("steady frames make one point")
            << QList<int>{0} << Frames{"\x10", "\x10", "\x10"} << QList<QList<int>>{{0, 16}};
    QTest::newRow("a one-frame spike is a point of its own")
            << QList<int>{0} << Frames{"\x10", "\x10", "\xff", "\x10"}
            << QList<QList<int>>{{0, 16}, {2, 255}, {3, 16}};
    QTest::newRow("a change on an untraced channel makes none")
            << QList<int>{1} << Frames{"\x01\x05", "\x02\x05"} << QList<QList<int>>{{0, 5}};
    QTest::newRow("two channels, each in its column")
            << QList<int>{2, 0} << Frames{QByteArray("\x01\x00\x03", 3), QByteArray("\x01\x00\x04", 3)}
            << QList<QList<int>>{{0, 3, 1}, {1, 4, 1}};
    QTest::newRow("a frame too short for the channel reads no level")
            << QList<int>{1} << Frames{"\x01\x02", "\x01", "\x01\x02"}
            << QList<QList<int>>{{0, 2}, {1, ChannelTrace::NoLevel}, {2, 2}};
    QTest::newRow("only the first eight channels")
            << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8} << Frames{QByteArray(9, '\x01')}
            << QList<QList<int>>{{0, 1, 1, 1, 1, 1, 1, 1, 1}};
}

void tst_Model::channelTrace()
{
    QFETCH(QList<int>, channels);
    QFETCH(Frames, frames);
    QFETCH(QList<QList<int>>, points);

    ChannelTrace trace;
    trace.setChannels(channels);
    QCOMPARE(trace.channels(), channels.mid(0, ChannelTrace::MaxChannels));
    for (int frame = 0; frame < frames.size(); ++frame)
        trace.addFrame(reinterpret_cast<const uchar *>(frames.at(frame).constData()),
                       int(frames.at(frame).size()), frame * Ms);
    QCOMPARE(trace.lastFrameNs(), (frames.size() - 1) * Ms);
    QList<QList<int>> seen;
    for (int point = 0; point < trace.size(); ++point) {
        QList<int> row{int(trace.at(point).timeNs / Ms)};
        for (int i = 0; i < trace.channels().size(); ++i)
            row << trace.at(point).levels[size_t(i)];
        seen << row;
    }
    QCOMPARE(seen, points);

    // A level that changes with every frame: the ring keeps the newest Capacity points.
    for (int frame = 0; frame < ChannelTrace::Capacity + 5; ++frame) {
        const QByteArray levels(9, char(frame & 1));
        trace.addFrame(reinterpret_cast<const uchar *>(levels.constData()), 9,
                       (frames.size() + frame) * Ms);
    }
    QCOMPARE(trace.size(), int(ChannelTrace::Capacity));
    QCOMPARE(trace.at(trace.size() - 1).timeNs, (frames.size() + ChannelTrace::Capacity + 4) * Ms);
    QVERIFY(trace.at(0).timeNs < trace.at(1).timeNs);
}

void tst_Model::channelTraceGaps_data()
{
    using Points = QList<QList<int>>; // time in ms, then the level of channel 1
    QTest::addColumn<Points>("frames");
    QTest::addColumn<Points>("points");

    // count frames of one level, intervalMs apart, from fromMs.
    auto stream = [](int fromMs, int count, int intervalMs, int level) {
        Points frames;
        for (int frame = 0; frame < count; ++frame)
            frames << QList<int>{fromMs + frame * intervalMs, level};
        return frames;
    };
    constexpr int NoLevel = ChannelTrace::NoLevel;

    QTest::newRow("44 Hz without a pause: one line")
            << stream(0, 44, 23, 16) << Points{{0, 16}};
    QTest::newRow("4 s silence after a flood, then a console")
            << stream(0, 200, 1, 16) + stream(4199, 10, 23, 0)
            << Points{{0, 16}, {199, NoLevel}, {4199, 0}};
    QTest::newRow("the same level on both sides of the pause")
            << stream(0, 200, 1, 16) + stream(4199, 10, 23, 16)
            << Points{{0, 16}, {199, NoLevel}, {4199, 16}};
    QTest::newRow("100 ms in a 44 Hz stream: at least 100 ms is no gap")
            << stream(0, 10, 23, 16) + stream(307, 10, 23, 16) << Points{{0, 16}};
    QTest::newRow("101 ms in a 44 Hz stream is a gap")
            << stream(0, 10, 23, 16) + stream(308, 10, 23, 16)
            << Points{{0, 16}, {207, NoLevel}, {308, 16}};
    QTest::newRow("10 Hz: three intervals are no gap")
            << stream(0, 10, 100, 16) + stream(1200, 10, 100, 16) << Points{{0, 16}};
    QTest::newRow("10 Hz: a little more than three intervals is a gap")
            << stream(0, 10, 100, 16) + stream(1220, 10, 100, 16)
            << Points{{0, 16}, {900, NoLevel}, {1220, 16}};
    QTest::newRow("44 Hz falling back to once a second: one gap, then a line")
            << stream(0, 44, 23, 16) + stream(1989, 6, 1000, 16)
            << Points{{0, 16}, {989, NoLevel}, {1989, 16}};
    QTest::newRow("frames too short for the channel across the pause")
            << Points{{0, NoLevel}, {1000, NoLevel}, {1023, 16}}
            << Points{{0, NoLevel}, {1023, 16}};
}

void tst_Model::channelTraceGaps()
{
    QFETCH(QList<QList<int>>, frames);
    QFETCH(QList<QList<int>>, points);
    ChannelTrace trace;
    trace.setChannels({0});
    for (const QList<int> &frame : std::as_const(frames)) {
        const uchar level = uchar(frame.at(1));
        trace.addFrame(&level, frame.at(1) == ChannelTrace::NoLevel ? 0 : 1, frame.at(0) * Ms);
    }
    QList<QList<int>> seen;
    for (int point = 0; point < trace.size(); ++point)
        seen << QList<int>{int(trace.at(point).timeNs / Ms), trace.at(point).levels[0]};
    QCOMPARE(seen, points);
    QCOMPARE(trace.lastFrameNs(), frames.last().at(0) * Ms);
}

void tst_Model::activityRoles_data()
{
    noLevelText_data();
}

void tst_Model::activityRoles()
{
    QFETCH(int, mode);

    Model model(Rows, Columns);
    model.setViewMode(mode);
    QByteArray steady(Channels, char(0x10));

    // Channel 2 glitches for one frame between two refreshes, channel 3 changed long before.
    ChannelActivity activity;
    QByteArray early = steady;
    early[2] = char(0x20);
    QByteArray glitch = early;
    glitch[1] = char(0xff);
    feed(activity, Frames{steady, early}, 0);
    feed(activity, Frames{early, glitch, early}, 10000);
    model.setActivity(&activity);
    QSignalSpy changed(&model, &Model::dataChanged);
    refresh(model, early);
    QCOMPARE(changed.size(), 1); // the tint rides on the refresh's one signal

    auto background = [&](int channel) {
        return model.data(model.index(channel / Columns, channel % Columns), Qt::BackgroundRole);
    };
    QVERIFY2(!background(1).isValid(), "tinted while highlight is off");
    model.setHighlight(true);
    QCOMPARE(changed.size(), 2);
    QCOMPARE(changed.last().at(2).value<QList<int>>(), QList<int>{Qt::BackgroundRole});
    model.setHighlight(true); // no change, no signal
    QCOMPARE(changed.size(), 2);

    QCOMPARE(background(1).typeId(), QMetaType::QColor);
    QCOMPARE(background(2).typeId(), QMetaType::QColor);
    QVERIFY(background(1).value<QColor>() != background(2).value<QColor>());
    QVERIFY(!background(0).isValid());
    QVERIFY(!background(511).isValid());

    // The display role is what it is without activity, in every mode, for every cell.
    Model reference(Rows, Columns);
    reference.setViewMode(mode);
    refresh(reference, early);
    for (int channel = 0; channel < Channels; ++channel)
        QCOMPARE(textOf(model, channel / Columns, channel % Columns),
                 textOf(reference, channel / Columns, channel % Columns));

    const QString tip = model.data(model.index(0, 1), Qt::ToolTipRole).toString();
    const QString expected = QStringLiteral("Channel 2\nLevel 16\nMinimum 16, maximum 255\n"
                                            "Changes since the reset: 2\nLast change at ")
            + QDateTime::fromMSecsSinceEpoch(0).toString(QStringLiteral("HH:mm:ss.zzz"));
    QCOMPARE(tip, expected);
    QCOMPARE(model.data(model.index(0, 0), Qt::ToolTipRole).toString(),
             QStringLiteral("Channel 1\nLevel 16\nMinimum 16, maximum 16\n"
                            "Changes since the reset: 0\nNo change since the reset"));

    // A reset clears the tint at once; without activity there is neither tint nor tip.
    activity.reset();
    model.activityChanged();
    QCOMPARE(changed.size(), 3);
    QVERIFY(!background(1).isValid());
    QCOMPARE(model.data(model.index(0, 1), Qt::ToolTipRole).toString(),
             QStringLiteral("Channel 2\nLevel 16\nNo level received since the reset"));
    model.setActivity(nullptr);
    QVERIFY(!model.data(model.index(0, 1), Qt::ToolTipRole).isValid());
    QVERIFY(!background(1).isValid());
}

void tst_Model::activityUnderModelTester()
{
    Model model(Rows, Columns);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    ChannelActivity activity;
    model.setActivity(&activity);
    QByteArray frame(Channels, 0);
    for (int pass = 0; pass < 4; ++pass) {
        for (int channel = 0; channel < Channels; channel += pass + 1)
            frame[channel] = char(channel + pass);
        activity.addFrame(reinterpret_cast<const uchar *>(frame.constData()), Channels, pass * Ms);
        activity.tick(pass * Ms, 0);
        refresh(model, frame);
        model.setHighlight(pass % 2 == 0);
        model.setViewMode(pass == 3 ? int(Model::BarMode) : pass);
        if (QTest::currentTestFailed())
            return;
    }
}

QTEST_GUILESS_MAIN(tst_Model)
#include "tst_model.moc"
