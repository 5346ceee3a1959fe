// The main window without a network: its commands and their placement, settings, boxes, views
// and the recording file. It opens no socket (the engine is made at the first Record, Send or
// network view, and no test here gets that far), so it runs anywhere, as any user, without a
// private network; internet sockets are refused to the whole process to keep it so. What needs
// the engine is tst_vardolux's.
#include "vardolux.h"

#include "activityviews.h"
#include "boxcloser.h"
#include "captureplayback.h"
#include "captureplayer.h"
#include "capturewriter.h"
#include "capturesession.h"
#include "channeltrace.h"
#include "mergeview.h"
#include "modalwatcher.h"
#include "model.h"
#include "monotonicclock.h"
#include "nonetwork.h"
#include "protocolbar.h"
#include "recordingfile.h"
#include "playbackbar.h"
#include "scopewidget.h"
#include "smallfilesystem.h"
#include "testpackets.h"
#include "universeranges.h"
#include "watchlistdialog.h"
#include "windowfixture.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QWidgetAction>
#include <QWindow>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

using TestPackets::bytes;

namespace {

// How a test clicks a cell of the channel table.
enum ClickWay { Click, CtrlClick, ShiftClick, DragTo };

// What the Protocol toolbar and the session behind it show, as one text to compare.
QString protocolState(const ProtocolBar &bar, const CaptureSession &session)
{
    return QStringLiteral("%1 %2 [%3] preview %4 priority %5 | session %6 %7")
            .arg(bar.protocol() == DmxProtocol::Sacn ? "sACN" : "Art-Net")
            .arg(bar.sacnUniverse())
            .arg(UniverseRanges::format(bar.watchList()))
            .arg(bar.previewShown())
            .arg(bar.sendPriority())
            .arg(session.protocol() == DmxProtocol::Sacn ? "sACN" : "Art-Net")
            .arg(session.sacnUniverse());
}

} // namespace

class tst_Window : public QObject, public WindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Construction and commands
    void tableViewIsSetUp();
    void tableSelection_data();
    void tableSelection();
    void actions_data();
    void actions();
    void menusInOrder();
    void toolBarsInOrder();
    void universeSpinBox();
    void protocolBarFollowsChoice();
    void windowShowsProgramIcon();
    void statusBarSaysReady();

    // Settings, help and about
    void firstRunDefaults();
    void settingsSurviveRestart();
    void exitStoresSettings();
    void shortcutsReachTheirCommands();
    void storedPosition_data();
    void storedPosition();
    void unusableProtocolSettingsKeepDefaults_data();
    void unusableProtocolSettingsKeepDefaults();
    void watchListDialog_data();
    void watchListDialog();
    void helpBox();
    void aboutBox();

    // Run state and view without network
    void freezeWithoutRecordingExplains();
    void viewModes_data();
    void viewModes();
    void optimizeFitsColumnsToTexts();

    // Recording file and document state
    void titleFollowsDocument();
    void saveRightAfterStartUp();
    void saveWritesLevelsOnShow();
    void saveGivesSameFileInEveryViewMode();
    void saveKeepsNameWithoutExtension();
    void saveWithCurrentFileDoesNotAsk();
    void saveWithoutCurrentFileAsks();
    void openAsksAndLoads();
    void loadShowsLastOfSeveralFrames();
    void loadShowsOnlyFirstUniverseOfLongFrame();
    void saveWritesProtocolOnShow();
    void loadShowsFrameInItsProtocol_data();
    void loadShowsFrameInItsProtocol();
    void saveFailureKeepsDocument_data();
    void saveFailureKeepsDocument();
    void saveFailureKeepsOldFile();
    void saveOnFullDiskKeepsRecording_data();
    void saveOnFullDiskKeepsRecording();
    void loadRefusesUnusableFile_data();
    void loadRefusesUnusableFile();
    void loadReportsMissingFile();

    // Channel activity
    void activityCommandsAreReachable();
    void exportFailureShowsBox_data();
    void exportFailureShowsBox();
    void scopeLeavesGapWherePaused_data();
    void scopeLeavesGapWherePaused();

    // Network view
    void contextMenuEndsWithNetworkView();
    void opensAndClosesCapture_data();
    void opensAndClosesCapture();
};

void tst_Window::initTestCase()
{
    // Outside a private network nothing here may reach the engine's sockets, whoever adds a
    // test later: such a socket would be on a real network.
    QString why;
    QVERIFY2(NoNetwork::forbidInternetSockets(&why), qPrintable(why));
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe >= 0)
        ::close(probe);
    QVERIFY2(probe < 0 && errno == EPERM, "an IPv4 socket could still be made");
    setUpSettings();
}

void tst_Window::init()
{
    freshFiles();
}

void tst_Window::cleanup()
{
    dropFiles();
}

// ---------------------------------------------------------------------------------------------
// Construction and commands

void tst_Window::tableViewIsSetUp()
{
    auto window = makeWindow();
    QAbstractItemModelTester tester(window->model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QTableView *view = window->tableView;
    QCOMPARE(window->centralWidget(), view);
    QCOMPARE(view->model(), window->model);
    QCOMPARE(view->selectionModel()->model(), window->model);
    QCOMPARE(view->selectionMode(), QAbstractItemView::ExtendedSelection);
    QVERIFY(view->horizontalHeader()->sectionsMovable());
    QVERIFY(view->verticalHeader()->sectionsMovable());
    QVERIFY(view->horizontalHeader()->stretchLastSection());

    // Columns were fitted to "none data", so the text is not cut off.
    const int textWidth = view->fontMetrics().horizontalAdvance(QStringLiteral("none data"));
    QVERIFY2(view->columnWidth(0) >= textWidth,
             qPrintable(QStringLiteral("column %1 < text %2").arg(view->columnWidth(0)).arg(textWidth)));
    QCOMPARE(view->columnWidth(1), view->columnWidth(0));

    // The last column reaches the right edge, also after fitting the columns to their texts.
    auto lastColumnEnd = [view] {
        return view->columnViewportPosition(15) + view->columnWidth(15);
    };
    QVERIFY(lastColumnEnd() >= view->viewport()->width());
    showFrame(*window, QByteArray(512, char(7)));
    window->viewBarAction->trigger(); // a model reset under the tester's eyes
    window->viewDecimalAction->trigger();
    window->optimizeAction->trigger();
    QCOMPARE(lastColumnEnd(), view->viewport()->width());
}

void tst_Window::tableSelection_data()
{
    // Cells by channel index (0-based, 16 to a row), each with how it is clicked.
    QTest::addColumn<QList<int>>("cells");
    QTest::addColumn<QList<int>>("ways");
    QTest::addColumn<QList<int>>("selected");

    QTest::newRow("a click replaces the selection")
            << QList<int>{9, 25} << QList<int>{Click, Click} << QList<int>{25};
    QTest::newRow("back to channel 10 only with one click")
            << QList<int>{0, 1, 2, 9} << QList<int>{Click, CtrlClick, CtrlClick, Click}
            << QList<int>{9};
    QTest::newRow("Ctrl+click adds a cell")
            << QList<int>{9, 25} << QList<int>{Click, CtrlClick} << QList<int>{9, 25};
    QTest::newRow("Ctrl+click on a selected cell takes it out")
            << QList<int>{9, 25, 9} << QList<int>{Click, CtrlClick, CtrlClick} << QList<int>{25};
    QTest::newRow("Shift+click selects the block between")
            << QList<int>{9, 20} << QList<int>{Click, ShiftClick}
            << QList<int>{4, 5, 6, 7, 8, 9, 20, 21, 22, 23, 24, 25};
    QTest::newRow("dragging selects the cells passed over")
            << QList<int>{0, 2} << QList<int>{Click, DragTo} << QList<int>{0, 1, 2};
    QTest::newRow("a block of 18: the scope keeps the first 8")
            << QList<int>{0, 37} << QList<int>{Click, ShiftClick}
            << QList<int>{0, 1, 2, 3, 4, 5, 16, 17, 18, 19, 20, 21, 32, 33, 34, 35, 36, 37};
}

void tst_Window::tableSelection()
{
    QFETCH(QList<int>, cells);
    QFETCH(QList<int>, ways);
    QFETCH(QList<int>, selected);
    auto window = makeWindow();
    window->resize(900, 700);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTableView *view = window->tableView;
    QWidget *viewport = view->viewport();
    auto pointOf = [&](int channel) {
        return view->visualRect(window->model->index(channel / 16, channel % 16)).center();
    };
    for (int i = 0; i < cells.size(); ++i) {
        const QPoint point = pointOf(cells.at(i));
        switch (ways.at(i)) {
        case Click:
            QTest::mouseClick(viewport, Qt::LeftButton, {}, point);
            break;
        case CtrlClick:
            QTest::mouseClick(viewport, Qt::LeftButton, Qt::ControlModifier, point);
            break;
        case ShiftClick:
            QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, point);
            break;
        case DragTo: {
            // The button stays down from the cell before to this one.
            const QPoint from = pointOf(cells.at(i - 1));
            QTest::mousePress(viewport, Qt::LeftButton, {}, from);
            QMouseEvent move(QEvent::MouseMove, point, viewport->mapToGlobal(point), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(viewport, &move);
            QTest::mouseRelease(viewport, Qt::LeftButton, {}, point);
        }
        }
    }
    QList<int> channels;
    for (const QModelIndex &index : view->selectionModel()->selectedIndexes())
        channels << index.row() * 16 + index.column();
    std::sort(channels.begin(), channels.end());
    QCOMPARE(channels, selected);
    QCOMPARE(window->activityViews->m_trace.channels(), selected.mid(0, ChannelTrace::MaxChannels));
}

void tst_Window::actions_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hasIcon");
    QTest::addColumn<QString>("shortcut");
    QTest::addColumn<QString>("statusTip");
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("toolBar");

    auto row = [](const char *field, const char *text, bool icon, const char *shortcut,
                  const char *tip, bool checkable, bool checked, const char *menu,
                  const char *toolBar) {
        QTest::newRow(field) << QString::fromLatin1(field) << QString::fromLatin1(text) << icon
                             << QString::fromLatin1(shortcut) << QString::fromLatin1(tip)
                             << checkable << checked << QString::fromLatin1(menu)
                             << QString::fromLatin1(toolBar);
    };
    row("newAction", "&New", true, "Ctrl+N", "Create a new file", false, false, "&File", "File");
    row("openAction", "&Open...", true, "Ctrl+O", "Open an existing file", false, false, "&File",
        "File");
    row("saveAction", "&Save", true, "Ctrl+S", "Save the document to disk", false, false, "&File",
        "File");
    row("saveAsAction", "Save &As...", false, "", "Save the document under a new name", false,
        false, "&File", "");
    row("sendAction", "&Send", true, "Ctrl+E", "Start Play", true, false, "&Run", "Run");
    row("recordAction", "&Record", true, "Ctrl+R", "Start Record", true, false, "&Run", "Run");
    row("stopAction", "St&op", true, "Ctrl+T", "Stop/Break", true, true, "&Run", "Run");
    row("freezeAction", "&Freeze", true, "Ctrl+F", "Freeze/Unfreeze view", true, false, "&Run",
        "Run");
    row("optimizeAction", "&Optimize", true, "Ctrl+I", "optimized row and column size", false,
        false, "&Tools", "Tools");
    row("viewDecimalAction", "&Decimal 0-255", true, "Ctrl+D", "view dmx values decimal 0...255",
        true, true, "&View", "View");
    row("viewPercentAction", "&Percent 0-100%", true, "Ctrl+P",
        "view dmx values in percent 0...100%", true, false, "&View", "View");
    row("viewHexAction", "&Hexadecimal 0x00-0xFF", true, "Ctrl+H",
        "view dmx values in hexadecimal 0x00...0xFF", true, false, "&View", "View");
    row("viewBarAction", "&Bar", true, "Ctrl+B", "view dmx values bar", true, false, "&View",
        "View");
    row("pollModeAction", "&Poll Mode", true, "Ctrl+M", "poll mode enable/disable", true, false,
        "&Tools", "Tools");
    row("exitAction", "E&xit", false, "Ctrl+Q", "Exit the application", false, false, "&File", "");
    row("helpAction", "Help", true, "F1", "Show the application's help", false, false, "&Help",
        "Help");
    row("aboutAction", "&About", false, "", "Show the application's About box", false, false,
        "&Help", "");
    row("aboutQtAction", "About &Qt", false, "", "Show the Qt library's About box", false, false,
        "&Help", "");
}

void tst_Window::actions()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(bool, hasIcon);
    QFETCH(QString, shortcut);
    QFETCH(QString, statusTip);
    QFETCH(bool, checkable);
    QFETCH(bool, checked);
    QFETCH(QString, menu);
    QFETCH(QString, toolBar);

    auto window = makeWindow();
    auto *action = window->findChild<QAction *>(field, Qt::FindDirectChildrenOnly);
    QVERIFY2(action, qPrintable(field + QStringLiteral(" is not a child of the window")));
    QCOMPARE(action->text(), text);
    QCOMPARE(action->shortcut(), QKeySequence(shortcut));
    QCOMPARE(action->statusTip(), statusTip);
    QCOMPARE(action->isCheckable(), checkable);
    QCOMPARE(action->isChecked(), checked);
    QVERIFY(action->isEnabled());
    QCOMPARE(action->icon().isNull(), !hasIcon);
    if (hasIcon)
        QVERIFY2(!action->icon().pixmap(32, 32).isNull(), "the toolbar image did not load");

    QStringList menus;
    for (QMenu *candidate : window->menuBar()->findChildren<QMenu *>())
        if (candidate->actions().contains(action))
            menus << candidate->title();
    QCOMPARE(menus, QStringList{menu});

    QStringList toolBars;
    for (QToolBar *candidate : window->findChildren<QToolBar *>())
        if (candidate->actions().contains(action))
            toolBars << candidate->windowTitle();
    QCOMPARE(toolBars, toolBar.isEmpty() ? QStringList() : QStringList{toolBar});
}

void tst_Window::menusInOrder()
{
    auto window = makeWindow();
    auto describe = [](const QList<QAction *> &actions) {
        QStringList names;
        for (QAction *action : actions)
            names << (action->isSeparator() ? QStringLiteral("-")
                      : action->menu()      ? action->menu()->title()
                                            : action->objectName());
        return names;
    };
    QCOMPARE(describe(window->menuBar()->actions()),
             (QStringList{"&File", "&Run", "&Tools", "&View", "&Capture", "&Phone", "-", "&Help"}));
    QCOMPARE(describe(window->fileMenu->actions()),
             (QStringList{"newAction", "openAction", "saveAction", "saveAsAction", "-",
                          "exitAction"}));
    QCOMPARE(describe(window->runMenu->actions()),
             (QStringList{"sendAction", "recordAction", "stopAction", "freezeAction"}));
    QCOMPARE(describe(window->toolsMenu->actions()),
             (QStringList{"optimizeAction", "pollModeAction"}));
    QCOMPARE(describe(window->viewMenu->actions()),
             (QStringList{"viewDecimalAction", "viewPercentAction", "viewHexAction",
                          "viewBarAction"}));
    QCOMPARE(describe(window->helpMenu->actions()),
             (QStringList{"helpAction", "aboutAction", "aboutQtAction"}));
}

void tst_Window::toolBarsInOrder()
{
    auto window = makeWindow();
    QStringList titles;
    QList<QStringList> contents;
    for (QToolBar *toolBar : window->findChildren<QToolBar *>(Qt::FindDirectChildrenOnly)) {
        QCOMPARE(window->toolBarArea(toolBar), Qt::TopToolBarArea);
        titles << toolBar->windowTitle();
        QStringList names;
        for (QAction *action : toolBar->actions()) {
            auto *widgetAction = qobject_cast<QWidgetAction *>(action);
            names << (widgetAction ? widgetAction->defaultWidget()->objectName()
                                   : action->objectName());
        }
        contents << names;
    }
    QCOMPARE(titles,
             (QStringList{"File", "Run", "Tools", "View", "Help", "Protocol", "Levels",
                          "Playback"}));
    QCOMPARE(contents,
             (QList<QStringList>{
                     {"newAction", "openAction", "saveAction"},
                     {"sendAction", "recordAction", "stopAction", "freezeAction"},
                     {"optimizeAction", "universeSpinBox", "pollModeAction"},
                     {"viewDecimalAction", "viewPercentAction", "viewHexAction", "viewBarAction"},
                     {"helpAction"},
                     {"protocolBox", "sacnUniverseBox", "watchListAction", "showPreviewAction",
                      "sendPriorityBox"},
                     {"levelsCaption", "levelChoiceBox"},
                     {"playCaptureAction", "stepCaptureAction", "captureTimeline",
                      "captureSpeedBox", "captureTimeLabel"}}));
}

void tst_Window::universeSpinBox()
{
    auto window = makeWindow();
    QSpinBox *box = window->universeSpinBox;
    QCOMPARE(box->objectName(), QStringLiteral("universeSpinBox"));
    QCOMPARE(box->minimum(), 1);
    // Port-addresses 0 to 32767, shown 1-based.
    QCOMPARE(box->maximum(), 32768);
    QCOMPARE(box->value(), 1);
    QCOMPARE(box->statusTip(), QStringLiteral("change universe for record or send"));
    QVERIFY(box->toolTip().isEmpty());
    QVERIFY(box->prefix().isEmpty() && box->suffix().isEmpty());

    QSignalSpy changed(box, &QSpinBox::valueChanged);
    box->setValue(40000);
    QCOMPARE(box->value(), 32768);
    box->setValue(0);
    QCOMPARE(box->value(), 1);
    QCOMPARE(changed.size(), 2);
}

void tst_Window::protocolBarFollowsChoice()
{
    auto window = makeWindow();
    ProtocolBar *bar = window->protocolBar;
    QCOMPARE(protocolState(*bar, *window->session),
             QStringLiteral("Art-Net 1 [] preview 0 priority 100 | session Art-Net 1"));
    QVERIFY(!bar->m_universeBox->isEnabled());

    QSignalSpy changed(bar, &ProtocolBar::universeOnShowChanged);
    bar->m_protocolBox->setCurrentIndex(1);
    QVERIFY(bar->m_universeBox->isEnabled());
    bar->m_universeBox->setValue(70000);
    bar->m_previewAction->trigger();
    bar->m_priorityBox->setValue(250);
    QCOMPARE(protocolState(*bar, *window->session),
             QStringLiteral("sACN 63999 [] preview 1 priority 200 | session sACN 63999"));

    // Art-Net universes by port-address, as the network names them; one change each.
    window->showUniverse({DmxProtocol::ArtNet, 0x0180});
    QCOMPARE(window->universeSpinBox->value(), 0x0181);
    window->showUniverse({DmxProtocol::Sacn, 532});
    QCOMPARE(window->session->universeOnShow(), (UniverseKey{DmxProtocol::Sacn, 532}));
    QCOMPARE(window->universeSpinBox->value(), 0x0181);
    QCOMPARE(changed.size(), 4);
}

void tst_Window::windowShowsProgramIcon()
{
    auto window = makeWindow();
    QVERIFY2(!window->windowIcon().pixmap(48, 48).isNull(), "the window has an empty icon");
}

void tst_Window::statusBarSaysReady()
{
    auto window = makeWindow();
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Ready"));
}

// ---------------------------------------------------------------------------------------------
// Settings, help and about

void tst_Window::firstRunDefaults()
{
    auto window = makeWindow();
    QCOMPARE(window->pos(), QPoint(200, 200));
    QCOMPARE(window->size(), QSize(400, 400));
    QVERIFY(!window->pollModeAction->isChecked());
}

void tst_Window::settingsSurviveRestart()
{
    {
        auto window = makeWindow();
        window->resize(520, 310);
        window->move(120, 90);
        window->pollModeAction->setChecked(true);
        window->showUniverse({DmxProtocol::Sacn, 4321});
        window->protocolBar->setWatchList({1, 2, 3, 101});
        window->protocolBar->m_previewAction->setChecked(true);
        window->protocolBar->m_priorityBox->setValue(0);
        QVERIFY(window->close());
    }
    {
        QSettings settings(Organisation, Application);
        QCOMPARE(settings.value(QStringLiteral("pos")).toPoint(), QPoint(120, 90));
        QCOMPARE(settings.value(QStringLiteral("size")).toSize(), QSize(520, 310));
        QCOMPARE(settings.value(QStringLiteral("poll")).toBool(), true);
        QCOMPARE(settings.value(QStringLiteral("sacn/protocolOnShow")).toString(),
                 QStringLiteral("sacn"));
        QCOMPARE(settings.value(QStringLiteral("sacn/universe")).toInt(), 4321);
        QCOMPARE(settings.value(QStringLiteral("sacn/watchList")).toString(),
                 QStringLiteral("1-3, 101"));
        QCOMPARE(settings.allKeys(), WrittenKeys);
    }
    auto window = makeWindow();
    QCOMPARE(window->pos(), QPoint(120, 90));
    QCOMPARE(window->size(), QSize(520, 310));
    QVERIFY(window->pollModeAction->isChecked());
    // In the session before its engines start, so that they start with them.
    QCOMPARE(protocolState(*window->protocolBar, *window->session),
             QStringLiteral("sACN 4321 [1-3, 101] preview 1 priority 0 | session sACN 4321"));
}

void tst_Window::unusableProtocolSettingsKeepDefaults_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");

    QTest::newRow("universe 0") << "universe" << QVariant(0);
    QTest::newRow("universe 64000") << "universe" << QVariant(64000);
    QTest::newRow("universe not a number") << "universe" << QVariant("seven");
    QTest::newRow("watch list with letters") << "watchList" << QVariant("1-5, x");
    QTest::newRow("watch list past the limit") << "watchList" << QVariant("1-2049");
    QTest::newRow("priority 201") << "sendPriority" << QVariant(201);
    QTest::newRow("priority -1") << "sendPriority" << QVariant(-1);
    QTest::newRow("protocol in another case") << "protocolOnShow" << QVariant("sACN");
    QTest::newRow("protocol unknown") << "protocolOnShow" << QVariant("dmx");
}

void tst_Window::unusableProtocolSettingsKeepDefaults()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    {
        QSettings settings(Organisation, Application);
        settings.setValue(QStringLiteral("sacn/") + key, value);
    }
    auto window = makeWindow();
    QCOMPARE(protocolState(*window->protocolBar, *window->session),
             QStringLiteral("Art-Net 1 [] preview 0 priority 100 | session Art-Net 1"));
}

void tst_Window::watchListDialog_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("watchList");

    QTest::newRow("ranges") << "1-20, 101, 532-540" << QString() << "1-20, 101, 532-540";
    QTest::newRow("blank clears") << "" << QString() << "";
    QTest::newRow("markup shown as text")
            << "<b>1</b>" << "\"<b>1</b>\" is not a universe or a range of universes" << "7";
}

void tst_Window::watchListDialog()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    QFETCH(QString, watchList);
    auto window = makeWindow();
    window->protocolBar->setWatchList({7});

    QString shownError;
    bool stayedOpen = false;
    ModalWatcher answer([&](QWidget *widget) {
        auto *dialog = qobject_cast<WatchListDialog *>(widget);
        if (!dialog) {
            widget->close();
            return;
        }
        dialog->m_edit->setText(text);
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        stayedOpen = dialog->isVisible();
        shownError = dialog->m_error->isVisible() ? dialog->m_error->text() : QString();
        QCOMPARE(dialog->m_error->textFormat(), Qt::PlainText);
        if (stayedOpen)
            dialog->reject();
    });
    window->protocolBar->m_watchListAction->trigger();
    QCOMPARE(answer.seen(), 1);
    QCOMPARE(stayedOpen, !error.isEmpty());
    QCOMPARE(shownError, error);
    QCOMPARE(UniverseRanges::format(window->protocolBar->watchList()), watchList);
}

void tst_Window::exitStoresSettings()
{
    auto window = makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->resize(444, 333);
    window->exitAction->trigger();
    QVERIFY(!window->isVisible());
    QSettings settings(Organisation, Application);
    QCOMPARE(settings.value(QStringLiteral("size")).toSize(), QSize(444, 333));
}

void tst_Window::shortcutsReachTheirCommands()
{
    auto window = makeWindow();
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));

    {
        BoxCloser closer;
        QTest::keyClick(window.get(), Qt::Key_F1);
        QCOMPARE(closer.boxes.size(), 1);
        QCOMPARE(closer.boxes.first().title, QStringLiteral("Vardolux Help"));
    }
    window->activateWindow(); // the offscreen platform does not give it back after the box
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_H, Qt::ControlModifier);
    QVERIFY(window->viewHexAction->isChecked());

    window->resize(432, 321);
    QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(!window->isVisible());
    QSettings settings(Organisation, Application);
    QCOMPARE(settings.value(QStringLiteral("size")).toSize(), QSize(432, 321));
}

void tst_Window::storedPosition_data()
{
    QTest::addColumn<QPoint>("stored");
    QTest::addColumn<QPoint>("expected");

    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QTest::newRow("on the screen") << QPoint(300, 100) << QPoint(300, 100);
    QTest::newRow("partly above and left of the screen")
            << (screen.topLeft() - QPoint(390, 390)) << (screen.topLeft() - QPoint(390, 390));
    QTest::newRow("far right of every screen")
            << QPoint(screen.right() + 5000, 100) << QPoint(200, 200);
    QTest::newRow("far below every screen")
            << QPoint(100, screen.bottom() + 5000) << QPoint(200, 200);
    QTest::newRow("just beyond the top left corner")
            << (screen.topLeft() - QPoint(400, 400)) << QPoint(200, 200);
}

void tst_Window::storedPosition()
{
    QFETCH(QPoint, stored);
    QFETCH(QPoint, expected);
    {
        QSettings settings(Organisation, Application);
        settings.setValue(QStringLiteral("pos"), stored);
        settings.setValue(QStringLiteral("size"), QSize(400, 400));
    }
    auto window = makeWindow();
    QCOMPARE(window->pos(), expected);
    QCOMPARE(window->size(), QSize(400, 400));
}

void tst_Window::helpBox()
{
    auto window = makeWindow();
    BoxCloser closer;
    window->helpAction->trigger();
    QCOMPARE(closer.boxes.size(), 1);
    const SeenBox &box = closer.boxes.first();
    QCOMPARE(box.title, QStringLiteral("Vardolux Help"));
    QCOMPARE(box.text,
             QStringLiteral("<b>Help</b><br>Please use online help on website<br>"
                            "<a href=\"http://www.vardolux.example/software/download/"
                            "?Software=Vardolux&CurrentVersion=0.6.0.0\">www.vardolux.example</a>"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.icon, QMessageBox::Information);
}

void tst_Window::aboutBox()
{
    auto window = makeWindow();
    BoxCloser closer;
    window->aboutAction->trigger();
    QCOMPARE(closer.boxes.size(), 1);
    const SeenBox &box = closer.boxes.first();
    QCOMPARE(box.title, QStringLiteral("About Vardolux"));
    QCOMPARE(box.text,
             QStringLiteral("<center><b>Vardolux</b><br>Version 0.6<br>Date Sep 11 2011<br>"
                            "Written by Tesk Haldor<br>"
                            "<a href=\"mailto:info@vardolux.example\">info@vardolux.example</a><br>"
                            "<a href=\"http://www.vardolux.example/software/download/"
                            "?Software=Vardolux&CurrentVersion=0.6.0.0\">www.vardolux.example</a>"
                            "</center>Vardolux is a simple software for find and check dmx data "
                            "in your art-net network."));
}

// ---------------------------------------------------------------------------------------------
// Run state and view without network

void tst_Window::freezeWithoutRecordingExplains()
{
    auto window = makeWindow();
    BoxCloser closer;
    window->freezeAction->trigger();
    QCOMPARE(closer.boxes.size(), 1);
    QCOMPARE(closer.boxes.first().title, QStringLiteral("Running Info"));
    QCOMPARE(closer.boxes.first().text,
             QStringLiteral("Can't freeze because no send or no record running"));
    QCOMPARE(closer.boxes.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(!window->freezeAction->isChecked());
    QVERIFY(!window->frozen);
    QVERIFY(window->stopAction->isChecked());
}

void tst_Window::viewModes_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QStringList>("texts"); // levels 0, 16, 128, 255 and a cell without level

    QTest::newRow("decimal") << "viewDecimalAction"
                             << QStringList{"0", "16", "128", "255", "no data"};
    QTest::newRow("percent") << "viewPercentAction"
                             << QStringList{"0%", "6%", "50%", "100%", "no data"};
    QTest::newRow("hexadecimal") << "viewHexAction"
                                 << QStringList{"0x00", "0x10", "0x80", "0xff", "no data"};
    QTest::newRow("bar") << "viewBarAction"
                         << QStringList{"", "|", "||||||||", "|||||||||||||||", "no data"};
}

void tst_Window::viewModes()
{
    QFETCH(QString, field);
    QFETCH(QStringList, texts);
    auto window = makeWindow();
    showFrame(*window, bytes({0, 16, 128, 255}));
    // Start from another mode so that the chosen mark really moves.
    window->viewBarAction->trigger();
    window->viewPercentAction->trigger();

    const QList<QAction *> viewActions{window->viewDecimalAction, window->viewPercentAction,
                                       window->viewHexAction, window->viewBarAction};
    auto *chosen = window->findChild<QAction *>(field);
    QVERIFY(chosen);
    for (int round = 0; round < 2; ++round) { // the second trigger toggles it off first
        chosen->trigger();
        for (QAction *action : viewActions)
            QVERIFY2(action->isChecked() == (action == chosen),
                     qPrintable(action->objectName() + QStringLiteral(" has the wrong mark")));
        QCOMPARE((QStringList{cellText(*window, 0, 0), cellText(*window, 0, 1),
                              cellText(*window, 0, 2), cellText(*window, 0, 3),
                              cellText(*window, 0, 4)}),
                 texts);
    }
}

void tst_Window::optimizeFitsColumnsToTexts()
{
    auto window = makeWindow();
    showFrame(*window, QByteArray(512, char(7)));
    const int before = window->tableView->columnWidth(0);
    window->optimizeAction->trigger();
    const int narrow = window->tableView->columnWidth(0);
    QVERIFY2(narrow < before, qPrintable(QStringLiteral("\"7\" column %1 is not narrower than the "
                                                        "\"none data\" column %2")
                                                 .arg(narrow)
                                                 .arg(before)));

    window->viewPercentAction->trigger();
    window->optimizeAction->trigger();
    const int text = window->tableView->fontMetrics().horizontalAdvance(QStringLiteral("2%"));
    QVERIFY2(window->tableView->columnWidth(0) >= text, "a percent text does not fit");
}

// ---------------------------------------------------------------------------------------------
// Recording file and document state

void tst_Window::titleFollowsDocument()
{
    auto window = makeWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("untitled.txt[*] - Application"));
    QVERIFY(!window->isWindowModified());
    window->documentWasModified();
    QVERIFY(window->isWindowModified());

    const QString path = m_files->filePath(QStringLiteral("rec.xml"));
    QVERIFY(window->saveFile(path));
    QCOMPARE(window->windowTitle(), QStringLiteral("rec.xml[*] - Application"));
    QCOMPARE(window->currentFile, path);
    QVERIFY(!window->isWindowModified());
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("File saved"));

    window->documentWasModified();
    window->newAction->trigger();
    QCOMPARE(window->windowTitle(), QStringLiteral("untitled.txt[*] - Application"));
    QVERIFY(window->currentFile.isEmpty());
    QVERIFY(!window->isWindowModified());

    // A file name that holds the modified placeholder shows it literally.
    const QString odd = m_files->filePath(QStringLiteral("a[*]b.xml"));
    QVERIFY(window->saveFile(odd));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(window->windowHandle()->title(), QStringLiteral("a[*]b.xml - Application"));
}

void tst_Window::saveRightAfterStartUp()
{
    auto window = makeWindow();
    window->universeSpinBox->setValue(17);
    const QString path = m_files->filePath(QStringLiteral("empty.xml"));
    QVERIFY(window->saveFile(path));
    const QByteArray expected = "<!DOCTYPE Vardolux>\n"
                                "<VardoluxData>\n"
                                " <frame version=\"1\" type=\"artnet\" universe=\"17\" dmx=\"0x"
            + QByteArray(1024, '0') + "\"/>\n</VardoluxData>\n";
    QCOMPARE(fileBytes(path), expected);
}

void tst_Window::saveWritesLevelsOnShow()
{
    auto window = makeWindow();
    showFrame(*window, bytes({1, 2, 255}));
    const QString path = m_files->filePath(QStringLiteral("three.xml"));
    QVERIFY(window->saveFile(path));
    QVERIFY2(fileBytes(path).contains("dmx=\"0x0102ff" + QByteArray(1018, '0') + "\"/>"),
             fileBytes(path).constData());

    auto other = makeWindow();
    other->loadFile(path);
    QCOMPARE(other->statusBar()->currentMessage(), QStringLiteral("File loaded"));
    QCOMPARE(other->currentFile, path);
    QStringList expected(512, QStringLiteral("0"));
    expected[0] = QStringLiteral("1");
    expected[1] = QStringLiteral("2");
    expected[2] = QStringLiteral("255");
    QCOMPARE(allCellTexts(*other), expected);
}

void tst_Window::saveGivesSameFileInEveryViewMode()
{
    auto window = makeWindow();
    QByteArray levels;
    for (int channel = 0; channel < 300; ++channel)
        levels.append(char(channel * 7));
    showFrame(*window, levels);

    const QList<QAction *> modes{window->viewDecimalAction, window->viewPercentAction,
                                 window->viewHexAction, window->viewBarAction};
    QList<QByteArray> files;
    for (QAction *mode : modes) {
        mode->trigger();
        const QString path = m_files->filePath(mode->objectName() + QStringLiteral(".xml"));
        QVERIFY(window->saveFile(path));
        files << fileBytes(path);
    }
    for (int i = 1; i < files.size(); ++i)
        QVERIFY2(files.at(i) == files.first(),
                 qPrintable(modes.at(i)->objectName() + QStringLiteral(" wrote another file")));
}

void tst_Window::saveKeepsNameWithoutExtension()
{
    auto window = makeWindow();
    const QString path = m_files->filePath(QStringLiteral("rec"));
    QVERIFY(window->saveFile(path));
    QVERIFY(QFile::exists(path));
    QVERIFY(!QFile::exists(path + QStringLiteral(".xml")));
    QCOMPARE(window->windowTitle(), QStringLiteral("rec[*] - Application"));
}

void tst_Window::saveWithCurrentFileDoesNotAsk()
{
    auto window = makeWindow();
    const QString path = m_files->filePath(QStringLiteral("current.xml"));
    QVERIFY(window->saveFile(path));
    showFrame(*window, bytes({9, 9}));
    ModalWatcher watcher([](QWidget *widget) { widget->close(); });
    QVERIFY(window->save());
    QCOMPARE(watcher.seen(), 0);
    QVERIFY(fileBytes(path).contains("dmx=\"0x0909"));
}

void tst_Window::saveWithoutCurrentFileAsks()
{
    auto window = makeWindow();
    const QString path = m_files->filePath(QStringLiteral("asked.xml"));
    QString caption;
    QStringList filters;
    ModalWatcher watcher([&](QWidget *widget) {
        auto *dialog = qobject_cast<QFileDialog *>(widget);
        if (!dialog) {
            widget->close();
            return;
        }
        caption = dialog->windowTitle();
        filters = dialog->nameFilters();
        chooseInDialog(dialog, path);
    });
    QVERIFY(window->save());
    QCOMPARE(watcher.seen(), 1);
    QCOMPARE(caption, QStringLiteral("Save File"));
    QCOMPARE(filters, (QStringList{"XML Files (*.xml)", "All Files (*.*)"}));
    QVERIFY(QFile::exists(path));
    QCOMPARE(window->currentFile, path);
}

void tst_Window::openAsksAndLoads()
{
    const QString path = m_files->filePath(QStringLiteral("open.xml"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(RecordingFile::toXml(bytes({5, 6, 7}), 1).toLatin1());
    }
    auto window = makeWindow();

    {
        // Cancelled: nothing happens.
        ModalWatcher cancel([](QWidget *widget) {
            if (auto *dialog = qobject_cast<QDialog *>(widget))
                dialog->reject();
        });
        window->openAction->trigger();
        QCOMPARE(cancel.seen(), 1);
    }
    QVERIFY(window->currentFile.isEmpty());
    QCOMPARE(cellText(*window, 0, 0), QStringLiteral("none data"));

    QString caption;
    ModalWatcher choose([&](QWidget *widget) {
        auto *dialog = qobject_cast<QFileDialog *>(widget);
        if (!dialog) {
            widget->close();
            return;
        }
        caption = dialog->windowTitle();
        chooseInDialog(dialog, path);
    });
    window->openAction->trigger();
    QCOMPARE(caption, QStringLiteral("Choose a file to open"));
    QCOMPARE(window->currentFile, path);
    QCOMPARE(cellText(*window, 0, 2), QStringLiteral("7"));
}

void tst_Window::loadShowsLastOfSeveralFrames()
{
    const QString path = m_files->filePath(QStringLiteral("two.xml"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<!DOCTYPE Vardolux>\n<VardoluxData>\n"
                   " <frame version=\"1\" type=\"artnet\" universe=\"1\" dmx=\"0x0a0b0c\"/>\n"
                   " <frame version=\"1\" type=\"artnet\" universe=\"2\" dmx=\"0x1415\"/>\n"
                   "</VardoluxData>\n");
    }
    auto window = makeWindow();
    window->universeSpinBox->setValue(4);
    window->loadFile(path);
    QCOMPARE(cellText(*window, 0, 0), QStringLiteral("20"));
    QCOMPARE(cellText(*window, 0, 1), QStringLiteral("21"));
    QCOMPARE(cellText(*window, 0, 2), QStringLiteral("no data"));
    QCOMPARE(window->universeSpinBox->value(), 4); // the file's universe is not applied
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("File loaded"));
}

void tst_Window::loadShowsOnlyFirstUniverseOfLongFrame()
{
    // 65538 bytes: a 16-bit count of them would wrap to 2.
    QByteArray levels(65538, char(0x33));
    const QString path = m_files->filePath(QStringLiteral("long.xml"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(RecordingFile::toXml(levels, 1).toLatin1());
    }
    auto window = makeWindow();
    window->loadFile(path);
    QCOMPARE(allCellTexts(*window), QStringList(512, QStringLiteral("51")));
}

void tst_Window::saveWritesProtocolOnShow()
{
    auto window = makeWindow();
    window->showUniverse({DmxProtocol::Sacn, 532});
    showFrame(*window, bytes({1, 2, 255}));
    const QString path = m_files->filePath(QStringLiteral("sacn.xml"));
    QVERIFY(window->saveFile(path));
    QVERIFY2(fileBytes(path).contains("<frame version=\"1\" type=\"sacn\" universe=\"532\" "
                                      "dmx=\"0x0102ff" + QByteArray(1018, '0') + "\"/>"),
             fileBytes(path).constData());
}

void tst_Window::loadShowsFrameInItsProtocol_data()
{
    QTest::addColumn<QByteArray>("frames");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("firstCell");

    const QByteArray sacn532 = R"( <frame version="1" type="sacn" universe="532" dmx="0x15"/>)";
    const QByteArray artNet = R"( <frame version="1" type="artnet" universe="3" dmx="0x0a"/>)";
    const QByteArray sacnNowhere = R"( <frame version="1" type="sacn" universe="0" dmx="0x1f"/>)";
    QTest::newRow("sacn") << sacn532 << "sACN 532" << "21";
    QTest::newRow("art-net") << artNet << "Art-Net 9" << "10";
    QTest::newRow("sacn, then art-net") << sacn532 + artNet << "Art-Net 532" << "10";
    QTest::newRow("sacn without a universe passed over")
            << artNet + sacnNowhere << "Art-Net 9" << "10";
}

void tst_Window::loadShowsFrameInItsProtocol()
{
    QFETCH(QByteArray, frames);
    QFETCH(QString, state);
    QFETCH(QString, firstCell);
    const QString path = m_files->filePath(QStringLiteral("frames.xml"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<!DOCTYPE Vardolux>\n<VardoluxData>\n" + frames + "\n</VardoluxData>\n");
    }
    auto window = makeWindow();
    window->universeSpinBox->setValue(2);
    window->showUniverse({DmxProtocol::Sacn, 9});
    window->loadFile(path);
    QCOMPARE(cellText(*window, 0, 0), firstCell);
    const ProtocolBar *bar = window->protocolBar;
    QCOMPARE(QStringLiteral("%1 %2")
                     .arg(bar->protocol() == DmxProtocol::Sacn ? "sACN" : "Art-Net")
                     .arg(bar->sacnUniverse()),
             state);
    QCOMPARE(window->universeSpinBox->value(), 2);
}

void tst_Window::saveFailureKeepsDocument_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::newRow("parent is a regular file") << QStringLiteral("plain.txt/rec.xml");
    QTest::newRow("missing directory") << QStringLiteral("missing/rec.xml");
    QTest::newRow("a directory") << QStringLiteral("folder");
}

void tst_Window::saveFailureKeepsDocument()
{
    QFETCH(QString, relativePath);
    {
        QFile plain(m_files->filePath(QStringLiteral("plain.txt")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(m_files->path()).mkdir(QStringLiteral("folder")));

    auto window = makeWindow();
    const QString current = m_files->filePath(QStringLiteral("current.xml"));
    QVERIFY(window->saveFile(current));
    window->documentWasModified();
    const QString title = window->windowTitle();
    window->statusBar()->clearMessage();

    const QString path = m_files->filePath(relativePath);
    BoxCloser closer;
    QVERIFY(!window->saveFile(path));
    QCOMPARE(closer.boxes.size(), 1);
    QCOMPARE(closer.boxes.first().title, QStringLiteral("Application"));
    QCOMPARE(closer.boxes.first().icon, QMessageBox::Warning);
    const QString text = closer.boxes.first().text;
    QVERIFY2(text.startsWith(QStringLiteral("Cannot write file ") + path + QStringLiteral(":\n"))
                     && text.endsWith(QLatin1Char('.')) && text.size() > path.size() + 21,
             qPrintable(text));
    QCOMPARE(window->currentFile, current);
    QCOMPARE(window->windowTitle(), title);
    QVERIFY(window->isWindowModified());
    QVERIFY(window->statusBar()->currentMessage().isEmpty());
    QVERIFY(QDir(m_files->path()).entryList(QDir::Files | QDir::Hidden).size() == 2);
}

void tst_Window::saveFailureKeepsOldFile()
{
    // A file that cannot be replaced (its directory entry is a directory now) stays as it was;
    // and a successful save over an existing file replaces it whole.
    auto window = makeWindow();
    const QString path = m_files->filePath(QStringLiteral("keep.xml"));
    showFrame(*window, bytes({1, 1}));
    QVERIFY(window->saveFile(path));
    const QByteArray first = fileBytes(path);
    showFrame(*window, bytes({2, 2, 2}));
    QVERIFY(window->saveFile(path));
    const QByteArray second = fileBytes(path);
    QVERIFY(second != first);
    QCOMPARE(second, RecordingFile::toXml(bytes({2, 2, 2}) + QByteArray(509, '\0'), 1).toLatin1());
    QCOMPARE(QDir(m_files->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("keep.xml")});
}

void tst_Window::saveOnFullDiskKeepsRecording_data()
{
    QTest::addColumn<bool>("ontoCurrentFile"); // Save onto the current file, else Save As

    QTest::newRow("Save onto the current file") << true;
    QTest::newRow("Save As onto a new file") << false;
}

void tst_Window::saveOnFullDiskKeepsRecording()
{
    VARDOLUX_REQUIRE_EMPTY_SMALL_FILE_SYSTEM();
    QFETCH(bool, ontoCurrentFile);
    const QDir disk(SmallFileSystem::path());

    auto window = makeWindow();
    showFrame(*window, bytes({1, 2, 3}));
    // Save As: the current file lies elsewhere and must stay current.
    const QString current = ontoCurrentFile ? disk.filePath(QStringLiteral("rec.xml"))
                                            : m_files->filePath(QStringLiteral("current.xml"));
    QVERIFY(window->saveFile(current));
    const QByteArray before = fileBytes(current);
    QCOMPARE(before.size(), 1133);
    window->documentWasModified();
    const QString title = window->windowTitle();
    window->statusBar()->clearMessage();
    VARDOLUX_FILL_SMALL_FILE_SYSTEM();
    const QStringList filesBefore = SmallFileSystem::files();

    showFrame(*window, bytes({9, 9, 9}));
    const QString target = ontoCurrentFile ? current : disk.filePath(QStringLiteral("new.xml"));
    QList<SeenBox> boxes;
    ModalWatcher watcher([&](QWidget *widget) {
        if (auto *dialog = qobject_cast<QFileDialog *>(widget)) {
            chooseInDialog(dialog, target);
        } else if (auto *box = qobject_cast<QMessageBox *>(widget)) {
            boxes << SeenBox{box->windowTitle(), box->text(), box->standardButtons(), box->icon()};
            box->done(QMessageBox::Ok);
        } else {
            widget->close();
        }
    });
    QVERIFY(!(ontoCurrentFile ? window->save() : window->saveAs()));

    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().title, QStringLiteral("Application"));
    QCOMPARE(boxes.first().icon, QMessageBox::Warning);
    QCOMPARE(boxes.first().text,
             QStringLiteral("Cannot write file %1:\n%2.")
                     .arg(target, QString::fromLocal8Bit(strerror(ENOSPC))));
    QCOMPARE(fileBytes(current), before);
    QCOMPARE(SmallFileSystem::files(), filesBefore); // no empty new.xml
    QCOMPARE(window->currentFile, current);
    QCOMPARE(window->windowTitle(), title);
    QVERIFY(window->isWindowModified());
    QVERIFY(window->statusBar()->currentMessage().isEmpty());

    // Once there is room again, the same command saves.
    VARDOLUX_CLEAR_SMALL_FILE_SYSTEM();
    QVERIFY(window->saveFile(target));
    QCOMPARE(fileBytes(target),
             RecordingFile::toXml(bytes({9, 9, 9}) + QByteArray(509, '\0'), 1).toLatin1());
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("File saved"));
}

void tst_Window::loadRefusesUnusableFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");

    QTest::newRow("not well-formed")
            << QByteArray("<!DOCTYPE Vardolux>\n<VardoluxData>\n <frame version=\"1\"\n")
            << QString();
    QTest::newRow("unclosed element")
            << QByteArray("<!DOCTYPE Vardolux>\n<VardoluxData>\n <frame>\n</VardoluxData>\n")
            << QString();
    QTest::newRow("empty file") << QByteArray() << QString();
    QTest::newRow("no frame")
            << QByteArray("<!DOCTYPE Vardolux>\n<VardoluxData>\n</VardoluxData>\n")
            << QStringLiteral("The file holds no DMX frame");
    QTest::newRow("version 2")
            << QByteArray("<VardoluxData><frame version=\"2\" type=\"artnet\" dmx=\"0x0102\"/>"
                          "</VardoluxData>")
            << QStringLiteral("The file holds no DMX frame");
    QTest::newRow("type ArtNet")
            << QByteArray("<VardoluxData><frame version=\"1\" type=\"ArtNet\" dmx=\"0x0102\"/>"
                          "</VardoluxData>")
            << QStringLiteral("The file holds no DMX frame");
    QTest::newRow("larger than 4 MiB")
            << (QByteArray("<VardoluxData>") + QByteArray(4 * 1024 * 1024, ' ')
                + "<frame version=\"1\" type=\"artnet\" dmx=\"0x0102\"/></VardoluxData>")
            << QStringLiteral("The file is larger than 4 MiB, too large for a recording");
    QTest::newRow("an element with 33 attributes")
            << ("<VardoluxData>\n<frame" + QByteArray(" a=\"\"").repeated(30)
                + " version=\"1\" type=\"artnet\" dmx=\"0x0102\"/></VardoluxData>")
            << QStringLiteral("An element has more than 32 attributes at line 2, column 1");
    QTest::newRow("only a nested frame")
            << QByteArray("<VardoluxData><g><frame version=\"1\" type=\"artnet\" dmx=\"0x0102\"/>"
                          "</g></VardoluxData>")
            << QStringLiteral("The file holds no DMX frame");
}

void tst_Window::loadRefusesUnusableFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    const QString path = m_files->filePath(QStringLiteral("bad.xml"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    if (reason.isEmpty()) {
        const RecordingFile::Content parsed = RecordingFile::read(content);
        QVERIFY(!parsed.wellFormed);
        reason = QStringLiteral("%1 at line %2, column %3")
                         .arg(parsed.errorMessage)
                         .arg(parsed.errorLine)
                         .arg(parsed.errorColumn);
    }

    auto window = makeWindow();
    const QString current = m_files->filePath(QStringLiteral("current.xml"));
    showFrame(*window, bytes({4, 5, 6}));
    QVERIFY(window->saveFile(current));
    const QString title = window->windowTitle();
    window->statusBar()->clearMessage();

    BoxCloser closer;
    window->loadFile(path);
    QCOMPARE(closer.boxes.size(), 1);
    QCOMPARE(closer.boxes.first().title, QStringLiteral("Application"));
    QCOMPARE(closer.boxes.first().text,
             QStringLiteral("Cannot read file %1:\n%2.").arg(path, reason));
    QCOMPARE(window->currentFile, current);
    QCOMPARE(window->windowTitle(), title);
    QVERIFY(window->statusBar()->currentMessage().isEmpty());
    QCOMPARE(cellText(*window, 0, 0), QStringLiteral("4"));
    QCOMPARE(cellText(*window, 0, 3), QStringLiteral("no data"));
}

void tst_Window::loadReportsMissingFile()
{
    auto window = makeWindow();
    const QString path = m_files->filePath(QStringLiteral("nowhere.xml"));
    BoxCloser closer;
    window->loadFile(path);
    QCOMPARE(closer.boxes.size(), 1);
    QVERIFY2(closer.boxes.first().text.startsWith(QStringLiteral("Cannot read file ") + path
                                                  + QStringLiteral(":\n")),
             qPrintable(closer.boxes.first().text));
    QVERIFY(window->currentFile.isEmpty());
    QCOMPARE(window->windowTitle(), QStringLiteral("untitled.txt[*] - Application"));
}

// ---------------------------------------------------------------------------------------------
// Channel activity

void tst_Window::activityCommandsAreReachable()
{
    auto window = makeWindow();
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    ActivityViews *views = window->activityViews;

    QTest::keyClick(window.get(), Qt::Key_F7);
    QVERIFY(window->model->highlight());
    QVERIFY(views->m_highlightAction->isChecked());
    QTest::keyClick(window.get(), Qt::Key_F7, Qt::ShiftModifier);
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Changes reset"));
    QTest::keyClick(window.get(), Qt::Key_F8);
    QTRY_VERIFY(views->m_scopeDock->isVisible());
    QTest::keyClick(window.get(), Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(window->statusBar()->currentMessage(),
             QStringLiteral("Nothing to export: no frames recorded in the last 60 s"));
    // Also from the universe box, where a line edit has the focus.
    window->universeSpinBox->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F7);
    QVERIFY(!window->model->highlight());

    // The window's own context menu: the base entries, then ours.
    std::unique_ptr<QMenu> menu(window->createPopupMenu());
    QStringList entries;
    for (QAction *action : menu->actions())
        entries << (action->isSeparator() ? QStringLiteral("-") : action->text());
    const qsizetype highlightEntry = entries.indexOf(QStringLiteral("Highlight &Changes"));
    QVERIFY2(highlightEntry > 0, qPrintable(entries.join(u',')));
    QCOMPARE(entries.mid(highlightEntry - 1, 4),
             (QStringList{"-", "Highlight &Changes", "&Reset Changes", "&Export History..."}));
    QVERIFY2(entries.contains(QStringLiteral("Scope")), qPrintable(entries.join(u',')));
    QVERIFY2(entries.contains(QStringLiteral("Run")), "the toolbars' entries are gone");

    // The status bar's buttons carry the highlight and the scope.
    QList<QAction *> buttonActions;
    for (auto *button : window->statusBar()->findChildren<QToolButton *>())
        buttonActions << button->defaultAction();
    QCOMPARE(buttonActions, (QList<QAction *>{views->m_highlightAction,
                                              views->m_scopeDock->toggleViewAction()}));
    buttonActions.first()->trigger();
    QVERIFY(window->model->highlight());

    // The dock's visibility is not a setting.
    QVERIFY(window->close());
    QSettings settings(Organisation, Application);
    QCOMPARE(settings.allKeys(), WrittenKeys);
}

void tst_Window::exportFailureShowsBox_data()
{
    saveFailureKeepsDocument_data();
}

void tst_Window::exportFailureShowsBox()
{
    QFETCH(QString, relativePath);
    {
        QFile plain(m_files->filePath(QStringLiteral("plain.txt")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(m_files->path()).mkdir(QStringLiteral("folder")));
    auto window = makeWindow();
    const QString path = m_files->filePath(relativePath);
    BoxCloser closer;
    QVERIFY(!window->activityViews->exportTo(path));
    QCOMPARE(closer.boxes.size(), 1);
    QCOMPARE(closer.boxes.first().title, QStringLiteral("Application"));
    QCOMPARE(closer.boxes.first().icon, QMessageBox::Warning);
    const QString text = closer.boxes.first().text;
    QVERIFY2(text.startsWith(QStringLiteral("Cannot write file ") + path + QStringLiteral(":\n"))
                     && text.endsWith(QLatin1Char('.')) && text.size() > path.size() + 21,
             qPrintable(text));
    QCOMPARE(QDir(m_files->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("plain.txt")});
}

void tst_Window::scopeLeavesGapWherePaused_data()
{
    QTest::addColumn<double>("silenceFromSecondsAgo"); // 0: no silence
    QTest::addColumn<double>("silenceToSecondsAgo");
    QTest::addColumn<double>("framesPerSecondBefore");

    QTest::newRow("44 Hz throughout") << 0.0 << 0.0 << 44.0;
    QTest::newRow("4 s silence after a flood, then a console") << 6.0 << 2.0 << 10000.0;
    QTest::newRow("half a second lost from a 44 Hz stream") << 5.0 << 4.5 << 44.0;
}

// The scope of a 10 s span, 560 pixels wide, of one channel at level 128: where no frame came
// for long, its row stays empty; everywhere else the line runs.
void tst_Window::scopeLeavesGapWherePaused()
{
    QFETCH(double, silenceFromSecondsAgo);
    QFETCH(double, silenceToSecondsAgo);
    QFETCH(double, framesPerSecondBefore);
    constexpr qint64 Second = 1'000'000'000;
    const qint64 nowNs = 70 * Second;
    auto secondsAgo = [nowNs](double seconds) { return nowNs - qint64(seconds * double(Second)); };
    ChannelTrace trace;
    trace.setChannels({0});
    const uchar level = 128;
    qint64 timeNs = secondsAgo(11);
    while (timeNs <= nowNs) {
        trace.addFrame(&level, 1, timeNs);
        const bool before = silenceFromSecondsAgo > 0 && timeNs < secondsAgo(silenceFromSecondsAgo);
        timeNs += qint64(double(Second) / (before ? framesPerSecondBefore : 44.0));
        if (before && timeNs >= secondsAgo(silenceFromSecondsAgo))
            timeNs = secondsAgo(silenceToSecondsAgo);
    }
    ScopeWidget scope(&trace);
    scope.resize(560, 220);
    scope.setSpanSeconds(10);
    scope.setNow(nowNs);
    const QImage image = scope.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb color = ScopeWidget::channelColor(0).rgb();

    // The plot as the scope lays it out, between its margins.
    const int top = 22, bottom = image.height() - 18, left = 34, right = image.width() - 8;
    const int row = int(std::lround(bottom - (bottom - top) * 128 / 255.0));
    auto columnOf = [&](double seconds) { return int(right - (right - left) * seconds / 10); };
    const int gapFrom = columnOf(silenceFromSecondsAgo) + 2;
    const int gapTo = columnOf(silenceToSecondsAgo) - 2;
    QList<int> missing;
    QList<int> drawnInGap;
    for (int x = left + 1; x < right; ++x) {
        const bool inGap = silenceFromSecondsAgo > 0 && x >= gapFrom && x <= gapTo;
        if (inGap && image.pixel(x, row) == color)
            drawnInGap << x;
        else if (!inGap && image.pixel(x, row) != color)
            missing << x;
    }
    QCOMPARE(drawnInGap, QList<int>{});
    // Only the columns beside the gap's ends may go either way.
    for (int x : std::as_const(missing))
        QVERIFY2(silenceFromSecondsAgo > 0 && (std::abs(x - gapFrom) <= 3 || std::abs(x - gapTo) <= 3),
                 qPrintable(QStringLiteral("no line at column %1").arg(x)));
}

// ---------------------------------------------------------------------------------------------
// Network view

void tst_Window::contextMenuEndsWithNetworkView()
{
    auto window = makeWindow();
    std::unique_ptr<QMenu> menu(window->createPopupMenu());
    QVERIFY(menu);
    QStringList shown;
    for (QAction *action : menu->actions()) {
        if (action->isVisible() && !action->isSeparator())
            shown << action->text();
    }
    const qsizetype toolBars = shown.indexOf(QStringLiteral("File"));
    QVERIFY2(toolBars >= 0, qPrintable(shown.join(u',')));
    QCOMPARE(shown.mid(toolBars, 5), (QStringList{"File", "Run", "Tools", "View", "Help"}));
    QCOMPARE(shown.last(), QStringLiteral("&Network View"));
    QCOMPARE(menu->actions().last(), window->networkViewAction);
    QCOMPARE(window->networkViewAction->shortcut(), QKeySequence(Qt::Key_F6));
    QAction *mergeViewAction = window->mergeView->toggleAction();
    QVERIFY(menu->actions().contains(mergeViewAction));
    QCOMPARE(mergeViewAction->shortcut(), QKeySequence(Qt::Key_F9));
    // No other command has F6 or F9.
    for (QAction *action : window->findChildren<QAction *>()) {
        if (action != window->networkViewAction)
            QVERIFY2(action->shortcut() != QKeySequence(Qt::Key_F6), qPrintable(action->text()));
        if (action != mergeViewAction)
            QVERIFY2(action->shortcut() != QKeySequence(Qt::Key_F9), qPrintable(action->text()));
    }
}

// ---------------------------------------------------------------------------------------------
// Captures

void tst_Window::opensAndClosesCapture_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: 3 s of a console's ramps at 40 Hz
    QTest::addColumn<QString>("refusal");    // empty: it plays
    QTest::newRow("a capture") << QByteArray() << QString();
    QTest::newRow("not a capture") << QByteArray("<VardoluxData/>") << QStringLiteral("Cannot open");
    QTest::newRow("nothing of ours in it")
            << QByteArray::fromHex("d4c3b2a1020004000000000000000000ffff000001000000")
            << QStringLiteral("holds no Art-Net or sACN packet");
}

void tst_Window::opensAndClosesCapture()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, refusal);
    const QString path = m_files->filePath(QStringLiteral("show.pcap"));
    if (content.isEmpty()) {
        CaptureWriter writer(path);
        QByteArray levels(24, '\0');
        for (int frame = 0; frame <= 120; ++frame) {
            for (int channel = 0; channel < levels.size(); ++channel)
                levels[channel] = char(frame * 2 + channel * 10);
            writer.add(1'760'000'000'000'000'000 + frame * 25'000'000LL, 0x0A000001, 6454,
                       0x0AFFFFFF, 6454, TestPackets::artDmx(0, levels, quint8(frame % 255 + 1)));
        }
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    auto window = makeWindow();
    CapturePlayback *playback = window->capturePlayback;
    std::unique_ptr<QMenu> menu(window->createPopupMenu());
    QVERIFY(menu->actions().contains(playback->openAction()));
    QVERIFY(menu->actions().contains(playback->closeAction()));
    const QList<QAction *> captureMenu = window->findChild<QMenu *>(QStringLiteral("captureMenu"))->actions();
    QCOMPARE(captureMenu.mid(captureMenu.size() - 2),
             (QList<QAction *>{playback->openAction(), playback->closeAction()}));
    QCOMPARE(playback->openAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+O")));
    QCOMPARE(playback->closeAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+W")));
    QVERIFY(!playback->closeAction()->isEnabled());

    QList<SeenBox> boxes;
    ModalWatcher choose([&](QWidget *widget) {
        if (auto *dialog = qobject_cast<QFileDialog *>(widget)) {
            chooseInDialog(dialog, path);
        } else if (auto *box = qobject_cast<QMessageBox *>(widget)) {
            boxes.append({box->windowTitle(), box->text(), box->standardButtons(), box->icon()});
            box->reject();
        }
    });
    playback->openAction()->trigger();
    QTRY_VERIFY(!playback->opening());
    PlaybackBar *bar = playback->bar();
    if (!refusal.isEmpty()) {
        QTRY_COMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().title, QStringLiteral("Open Capture"));
        QVERIFY2(boxes.first().text.contains(refusal), qPrintable(boxes.first().text));
        QVERIFY(!bar->isVisibleTo(window.get()));
        return;
    }
    QVERIFY(boxes.isEmpty());
    QVERIFY(bar->isVisibleTo(window.get()));
    QTRY_COMPARE(playback->player()->state(), CapturePlayer::State::AtEnd);
    QTRY_COMPARE(cellText(*window, 0, 1), QStringLiteral("250"));
    QTRY_COMPARE(playback->statusLabel()->text(),
                 QStringLiteral("At the end of capture: show.pcap — live network not shown"));
    QCOMPARE(bar->playAction()->text(), QStringLiteral("Play"));
    QVERIFY(bar->timeLabel()->text().endsWith(QStringLiteral("0:03.000 / 0:03.000")));

    // Dragged back to the middle: the levels of then, the time of then.
    bar->timeline()->setSliderDown(true);
    bar->timeline()->setValue(1500);
    bar->timeline()->setSliderDown(false);
    QTRY_VERIFY(!playback->player()->seeking());
    QTRY_COMPARE(cellText(*window, 0, 1), QStringLiteral("130"));
    QTRY_VERIFY(bar->timeLabel()->text().endsWith(QStringLiteral("0:01.500 / 0:03.000")));
    QCOMPARE(playback->statusLabel()->text(),
             QStringLiteral("Paused capture: show.pcap — live network not shown"));
    if (qEnvironmentVariableIsSet("VARDOLUX_PLAYBACK_SCREENSHOT")) {
        window->resize(1100, 700);
        // This test's process may open no socket; a user's window opens its port.
        window->statusBar()->clearMessage();
        QVERIFY(window->grab().save(qEnvironmentVariable("VARDOLUX_PLAYBACK_SCREENSHOT")));
    }

    playback->closeAction()->trigger();
    QVERIFY(!bar->isVisibleTo(window.get()));
    QVERIFY(!playback->statusLabel()->isVisibleTo(window.get()));
    QCOMPARE(MonotonicClock::playback(), MonotonicClock::Playback::Live);
}

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
