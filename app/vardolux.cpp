#include "vardolux.h"

#include "activityviews.h"
#include "artnet.h"
#include "model.h"
#include "networkdock.h"
#include "recordingfile.h"
#include "universeindicator.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>

#include <algorithm>

namespace {

constexpr QLatin1String ProgramName("Vardolux");
constexpr QLatin1String WebHost("www.vardolux.example");
constexpr QLatin1String MailAddress("info@vardolux.example");
constexpr QLatin1String SettingsOrganisation("vardolux.example");
constexpr QLatin1String BuildDate("Sep 11 2011");
constexpr int VersionMajor = 0;
constexpr int VersionMinor = 6;
constexpr quint8 OemHi = 0x00;
constexpr quint8 OemLo = 0xFF;

constexpr int TableRows = 32;
constexpr int TableColumns = 16;
constexpr int FrameBufferSize = 512;
constexpr int RecordIntervalMs = 200;
constexpr int ConfirmationTimeoutMs = 2000;
// Rates are counted over a second; a faster refresh of the network view shows nothing new.
constexpr int NetworkRefreshMs = 500;
// Port-addresses run from 0 to 32767; the box shows them 1-based.
constexpr int FirstUniverse = 1;
constexpr int LastUniverse = 32768;
// What the engine's 1-based 16-bit universe number can take at all.
constexpr int LargestEngineUniverse = 65536;
constexpr int SmallestSendableFrame = 2;
constexpr int LargestSendableFrame = 512;

const QPoint DefaultPosition(200, 200);
const QSize DefaultSize(400, 400);

QString websiteLink()
{
    return QStringLiteral("<a href=\"http://") + WebHost
            + QStringLiteral("/software/download/?Software=Vardolux&CurrentVersion=%1.%2.0.0\">")
                      .arg(VersionMajor)
                      .arg(VersionMinor)
            + WebHost + QStringLiteral("</a>");
}

QString mailLink()
{
    return QStringLiteral("<a href=\"mailto:") + MailAddress + QStringLiteral("\">") + MailAddress
            + QStringLiteral("</a>");
}

// Qt reads "[*]" in a title as the modified mark; a file name may contain it literally.
QString escapedForTitle(QString name)
{
    return name.replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
}

} // namespace

Vardolux::Vardolux()
    : QMainWindow(),
      model(nullptr),
      tableView(nullptr),
      fileMenu(nullptr),
      runMenu(nullptr),
      toolsMenu(nullptr),
      viewMenu(nullptr),
      helpMenu(nullptr),
      fileToolBar(nullptr),
      runToolBar(nullptr),
      toolsToolBar(nullptr),
      viewToolBar(nullptr),
      helpToolBar(nullptr),
      newAction(nullptr),
      openAction(nullptr),
      saveAction(nullptr),
      saveAsAction(nullptr),
      sendAction(nullptr),
      recordAction(nullptr),
      stopAction(nullptr),
      freezeAction(nullptr),
      optimizeAction(nullptr),
      universeSpinBox(nullptr),
      pollModeAction(nullptr),
      viewDecimalAction(nullptr),
      viewPercentAction(nullptr),
      viewHexAction(nullptr),
      viewBarAction(nullptr),
      exitAction(nullptr),
      helpAction(nullptr),
      aboutAction(nullptr),
      aboutQtAction(nullptr),
      engine(nullptr),
      recordTimer(nullptr),
      frameBuffer(nullptr),
      frameLength(0),
      frozen(false),
      sending(false),
      activityViews(nullptr)
{
    model = new Model(TableRows, TableColumns, this);
    model->setObjectName(QStringLiteral("model"));
    // Parented to the model so that it goes with it.
    auto *selectionModel = new QItemSelectionModel(model, model);

    tableView = new QTableView;
    tableView->setObjectName(QStringLiteral("tableView"));
    tableView->setModel(model);
    tableView->setSelectionModel(selectionModel);
    tableView->setSelectionMode(QAbstractItemView::MultiSelection);
    tableView->horizontalHeader()->setSectionsMovable(true);
    tableView->verticalHeader()->setSectionsMovable(true);
    tableView->horizontalHeader()->setStretchLastSection(true);
    tableView->resizeRowsToContents();
    tableView->resizeColumnsToContents();
    stretchLastColumn();
    setCentralWidget(tableView);

    createActions();
    createMenus();
    createToolBars();
    createStatusBar();
    createActivityViews();
    createNetworkView();
    readSettings();

    setCurrentFile(QString());

    setWindowIcon(QIcon::fromTheme(QStringLiteral("vardolux"),
                                   QIcon(QStringLiteral(":/vardolux.png"))));
}

Vardolux::~Vardolux()
{
    // Hiding the dock as it goes would call back into the half-destroyed window.
    if (networkDock)
        disconnect(networkDock->toggleViewAction(), nullptr, this, nullptr);
    stop();
    delete engine;
    engine = nullptr;
    delete[] frameBuffer;
    frameBuffer = nullptr;
}

void Vardolux::closeEvent(QCloseEvent *event)
{
    writeSettings();
    event->accept();
}

// ---------------------------------------------------------------------------------------------
// Commands, menus, toolbars and status bar

void Vardolux::createActions()
{
    newAction = new QAction(QIcon(QStringLiteral(":/images/filenew.xpm")), tr("&New"), this);
    newAction->setObjectName(QStringLiteral("newAction"));
    newAction->setShortcut(QKeySequence(tr("Ctrl+N")));
    newAction->setStatusTip(tr("Create a new file"));
    connect(newAction, &QAction::triggered, this, &Vardolux::newFile);

    openAction = new QAction(QIcon(QStringLiteral(":/images/fileopen.xpm")), tr("&Open..."), this);
    openAction->setObjectName(QStringLiteral("openAction"));
    openAction->setShortcut(QKeySequence(tr("Ctrl+O")));
    openAction->setStatusTip(tr("Open an existing file"));
    connect(openAction, &QAction::triggered, this, &Vardolux::open);

    saveAction = new QAction(QIcon(QStringLiteral(":/images/filesave.xpm")), tr("&Save"), this);
    saveAction->setObjectName(QStringLiteral("saveAction"));
    saveAction->setShortcut(QKeySequence(tr("Ctrl+S")));
    saveAction->setStatusTip(tr("Save the document to disk"));
    connect(saveAction, &QAction::triggered, this, &Vardolux::save);

    saveAsAction = new QAction(tr("Save &As..."), this);
    saveAsAction->setObjectName(QStringLiteral("saveAsAction"));
    saveAsAction->setStatusTip(tr("Save the document under a new name"));
    connect(saveAsAction, &QAction::triggered, this, &Vardolux::saveAs);

    sendAction = new QAction(QIcon(QStringLiteral(":/images/runstart.xpm")), tr("&Send"), this);
    sendAction->setObjectName(QStringLiteral("sendAction"));
    sendAction->setShortcut(QKeySequence(tr("Ctrl+E")));
    sendAction->setStatusTip(tr("Start Play"));
    sendAction->setCheckable(true);
    connect(sendAction, &QAction::triggered, this, &Vardolux::send);

    recordAction = new QAction(QIcon(QStringLiteral(":/images/runrecord.xpm")), tr("&Record"), this);
    recordAction->setObjectName(QStringLiteral("recordAction"));
    recordAction->setShortcut(QKeySequence(tr("Ctrl+R")));
    recordAction->setStatusTip(tr("Start Record"));
    recordAction->setCheckable(true);
    connect(recordAction, &QAction::triggered, this, &Vardolux::record);

    stopAction = new QAction(QIcon(QStringLiteral(":/images/runstop.xpm")), tr("St&op"), this);
    stopAction->setObjectName(QStringLiteral("stopAction"));
    stopAction->setShortcut(QKeySequence(tr("Ctrl+T")));
    stopAction->setStatusTip(tr("Stop/Break"));
    stopAction->setCheckable(true);
    stopAction->setChecked(true);
    connect(stopAction, &QAction::triggered, this, &Vardolux::stop);

    freezeAction = new QAction(QIcon(QStringLiteral(":/images/runfreeze.xpm")), tr("&Freeze"), this);
    freezeAction->setObjectName(QStringLiteral("freezeAction"));
    freezeAction->setShortcut(QKeySequence(tr("Ctrl+F")));
    freezeAction->setStatusTip(tr("Freeze/Unfreeze view"));
    freezeAction->setCheckable(true);
    connect(freezeAction, &QAction::triggered, this, &Vardolux::freeze);

    optimizeAction =
            new QAction(QIcon(QStringLiteral(":/images/toolOptimize.xpm")), tr("&Optimize"), this);
    optimizeAction->setObjectName(QStringLiteral("optimizeAction"));
    optimizeAction->setShortcut(QKeySequence(tr("Ctrl+I")));
    optimizeAction->setStatusTip(tr("optimized row and column size"));
    connect(optimizeAction, &QAction::triggered, this, &Vardolux::optimize);

    viewDecimalAction = new QAction(QIcon(QStringLiteral(":/images/viewDecimal.xpm")),
                                    tr("&Decimal 0-255"), this);
    viewDecimalAction->setObjectName(QStringLiteral("viewDecimalAction"));
    viewDecimalAction->setShortcut(QKeySequence(tr("Ctrl+D")));
    viewDecimalAction->setStatusTip(tr("view dmx values decimal 0...255"));
    viewDecimalAction->setCheckable(true);
    viewDecimalAction->setChecked(true);
    connect(viewDecimalAction, &QAction::triggered, this, &Vardolux::viewDecimal);

    viewPercentAction = new QAction(QIcon(QStringLiteral(":/images/viewPercent.xpm")),
                                    tr("&Percent 0-100%"), this);
    viewPercentAction->setObjectName(QStringLiteral("viewPercentAction"));
    viewPercentAction->setShortcut(QKeySequence(tr("Ctrl+P")));
    viewPercentAction->setStatusTip(tr("view dmx values in percent 0...100%"));
    viewPercentAction->setCheckable(true);
    viewPercentAction->setChecked(false);
    connect(viewPercentAction, &QAction::triggered, this, &Vardolux::viewPercent);

    viewHexAction = new QAction(QIcon(QStringLiteral(":/images/viewHex.xpm")),
                                tr("&Hexadecimal 0x00-0xFF"), this);
    viewHexAction->setObjectName(QStringLiteral("viewHexAction"));
    viewHexAction->setShortcut(QKeySequence(tr("Ctrl+H")));
    viewHexAction->setStatusTip(tr("view dmx values in hexadecimal 0x00...0xFF"));
    viewHexAction->setCheckable(true);
    connect(viewHexAction, &QAction::triggered, this, &Vardolux::viewHex);
    viewHexAction->setChecked(false);

    viewBarAction = new QAction(QIcon(QStringLiteral(":/images/viewBar.xpm")), tr("&Bar"), this);
    viewBarAction->setObjectName(QStringLiteral("viewBarAction"));
    viewBarAction->setShortcut(QKeySequence(tr("Ctrl+B")));
    viewBarAction->setStatusTip(tr("view dmx values bar"));
    viewBarAction->setCheckable(true);
    viewBarAction->setChecked(false);
    connect(viewBarAction, &QAction::triggered, this, &Vardolux::viewBar);

    universeSpinBox = new QSpinBox(this);
    universeSpinBox->setObjectName(QStringLiteral("universeSpinBox"));
    universeSpinBox->setRange(FirstUniverse, LastUniverse);
    universeSpinBox->setStatusTip(tr("change universe for record or send"));
    connect(universeSpinBox, &QSpinBox::valueChanged, this, &Vardolux::setUniverse);
    // The box's line edit claims some keys of the commands for itself (on X11 Ctrl+E is its
    // end of line); the box passes them on to it, so both are watched.
    universeSpinBox->installEventFilter(this);
    if (auto *edit = universeSpinBox->findChild<QLineEdit *>())
        edit->installEventFilter(this);

    pollModeAction = new QAction(QIcon(QStringLiteral(":/images/toolPollMode.xpm")),
                                 tr("&Poll Mode"), this);
    pollModeAction->setObjectName(QStringLiteral("pollModeAction"));
    pollModeAction->setShortcut(QKeySequence(tr("Ctrl+M")));
    pollModeAction->setStatusTip(tr("poll mode enable/disable"));
    pollModeAction->setCheckable(true);
    pollModeAction->setChecked(false);
    connect(pollModeAction, &QAction::triggered, this, &Vardolux::pollMode);

    exitAction = new QAction(tr("E&xit"), this);
    exitAction->setObjectName(QStringLiteral("exitAction"));
    exitAction->setShortcut(QKeySequence(tr("Ctrl+Q")));
    exitAction->setStatusTip(tr("Exit the application"));
    connect(exitAction, &QAction::triggered, this, &QWidget::close);

    helpAction = new QAction(QIcon(QStringLiteral(":/images/helpHelp.xpm")), tr("Help"), this);
    helpAction->setObjectName(QStringLiteral("helpAction"));
    helpAction->setShortcut(QKeySequence(tr("F1")));
    helpAction->setStatusTip(tr("Show the application's help"));
    connect(helpAction, &QAction::triggered, this, &Vardolux::help);

    aboutAction = new QAction(tr("&About"), this);
    aboutAction->setObjectName(QStringLiteral("aboutAction"));
    aboutAction->setStatusTip(tr("Show the application's About box"));
    connect(aboutAction, &QAction::triggered, this, &Vardolux::about);

    aboutQtAction = new QAction(tr("About &Qt"), this);
    aboutQtAction->setObjectName(QStringLiteral("aboutQtAction"));
    aboutQtAction->setStatusTip(tr("Show the Qt library's About box"));
    connect(aboutQtAction, &QAction::triggered, qApp, &QApplication::aboutQt);
}

void Vardolux::createMenus()
{
    fileMenu = menuBar()->addMenu(tr("&File"));
    fileMenu->setObjectName(QStringLiteral("fileMenu"));
    fileMenu->addAction(newAction);
    fileMenu->addAction(openAction);
    fileMenu->addAction(saveAction);
    fileMenu->addAction(saveAsAction);
    fileMenu->addSeparator();
    fileMenu->addAction(exitAction);

    runMenu = menuBar()->addMenu(tr("&Run"));
    runMenu->setObjectName(QStringLiteral("runMenu"));
    runMenu->addAction(sendAction);
    runMenu->addAction(recordAction);
    runMenu->addAction(stopAction);
    runMenu->addAction(freezeAction);

    toolsMenu = menuBar()->addMenu(tr("&Tools"));
    toolsMenu->setObjectName(QStringLiteral("toolsMenu"));
    toolsMenu->addAction(optimizeAction);
    toolsMenu->addAction(pollModeAction);

    viewMenu = menuBar()->addMenu(tr("&View"));
    viewMenu->setObjectName(QStringLiteral("viewMenu"));
    viewMenu->addAction(viewDecimalAction);
    viewMenu->addAction(viewPercentAction);
    viewMenu->addAction(viewHexAction);
    viewMenu->addAction(viewBarAction);

    menuBar()->addSeparator();

    helpMenu = menuBar()->addMenu(tr("&Help"));
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    helpMenu->addAction(helpAction);
    helpMenu->addAction(aboutAction);
    helpMenu->addAction(aboutQtAction);
}

void Vardolux::createToolBars()
{
    fileToolBar = addToolBar(tr("File"));
    fileToolBar->setObjectName(QStringLiteral("fileToolBar"));
    fileToolBar->addAction(newAction);
    fileToolBar->addAction(openAction);
    fileToolBar->addAction(saveAction);

    runToolBar = addToolBar(tr("Run"));
    runToolBar->setObjectName(QStringLiteral("runToolBar"));
    runToolBar->addAction(sendAction);
    runToolBar->addAction(recordAction);
    runToolBar->addAction(stopAction);
    runToolBar->addAction(freezeAction);

    toolsToolBar = addToolBar(tr("Tools"));
    toolsToolBar->setObjectName(QStringLiteral("toolsToolBar"));
    toolsToolBar->addAction(optimizeAction);
    toolsToolBar->addWidget(universeSpinBox);
    toolsToolBar->addAction(pollModeAction);

    viewToolBar = addToolBar(tr("View"));
    viewToolBar->setObjectName(QStringLiteral("viewToolBar"));
    viewToolBar->addAction(viewDecimalAction);
    viewToolBar->addAction(viewPercentAction);
    viewToolBar->addAction(viewHexAction);
    viewToolBar->addAction(viewBarAction);

    helpToolBar = addToolBar(tr("Help"));
    helpToolBar->setObjectName(QStringLiteral("helpToolBar"));
    helpToolBar->addAction(helpAction);
}

void Vardolux::createStatusBar()
{
    statusBar()->showMessage(tr("Ready"));
    // Permanent, so that messages never hide what goes out on the wire.
    sendingLabel = new QLabel(this);
    sendingLabel->setObjectName(QStringLiteral("sendingLabel"));
    sendingLabel->hide();
    statusBar()->addPermanentWidget(sendingLabel);
}

bool Vardolux::eventFilter(QObject *watched, QEvent *event)
{
    // A widget that accepts the shortcut-override event takes the key as typing and the
    // command never runs; left unaccepted, the key goes to the window's shortcuts.
    if (event->type() == QEvent::ShortcutOverride
        && isCommandShortcut(static_cast<QKeyEvent *>(event))) {
        event->ignore();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool Vardolux::isCommandShortcut(const QKeyEvent *event) const
{
    const QKeySequence pressed(event->keyCombination());
    const QList<QAction *> commands = findChildren<QAction *>(Qt::FindDirectChildrenOnly);
    return std::any_of(commands.cbegin(), commands.cend(), [&](const QAction *action) {
        return action->isEnabled() && action->shortcuts().contains(pressed);
    });
}

void Vardolux::createActivityViews()
{
    activityViews = new ActivityViews(this, model, tableView);
}

QMenu *Vardolux::createPopupMenu()
{
    QMenu *menu = QMainWindow::createPopupMenu();
    if (!menu)
        menu = new QMenu(this);
    addActivityMenuEntries(menu);
    addNetworkViewEntries(menu);
    return menu;
}

void Vardolux::addActivityMenuEntries(QMenu *menu)
{
    activityViews->addMenuEntries(menu);
}

// ---------------------------------------------------------------------------------------------
// Network view

void Vardolux::createNetworkView()
{
    networkDock = new NetworkDock(this);
    networkDock->hide();
    addDockWidget(Qt::BottomDockWidgetArea, networkDock);
    // The dock's own entry would duplicate networkViewAction in the context menu.
    networkDock->toggleViewAction()->setVisible(false);
    connect(networkDock->toggleViewAction(), &QAction::toggled, this,
            &Vardolux::setNetworkViewOpen);
    connect(networkDock, &NetworkDock::universeChosen, universeSpinBox, &QSpinBox::setValue);

    networkViewAction = new QAction(tr("&Network View"), this);
    networkViewAction->setObjectName(QStringLiteral("networkViewAction"));
    networkViewAction->setShortcut(QKeySequence(tr("F6")));
    networkViewAction->setStatusTip(tr("Show the universes, their senders, the nodes and the "
                                       "time code on the network"));
    networkViewAction->setCheckable(true);
    connect(networkViewAction, &QAction::triggered, this, &Vardolux::setNetworkViewOpen);
    addAction(networkViewAction);

    universeIndicator = new UniverseIndicator;
    statusBar()->addPermanentWidget(universeIndicator);
    connect(universeIndicator, &UniverseIndicator::clicked, this,
            [this] { setNetworkViewOpen(true); });

    networkTimer = new QTimer(this);
    connect(networkTimer, &QTimer::timeout, this, &Vardolux::refreshNetworkView);
    connect(universeSpinBox, &QSpinBox::valueChanged, this, &Vardolux::refreshNetworkView);
    networkTimer->start(NetworkRefreshMs);
}

void Vardolux::addNetworkViewEntries(QMenu *menu)
{
    menu->addSeparator();
    menu->addAction(networkViewAction);
}

void Vardolux::setNetworkViewOpen(bool open)
{
    networkViewAction->setChecked(open);
    if (open) {
        networkDock->show();
        networkDock->raise();
    } else {
        networkDock->hide();
    }
    if (open == networkViewOpen)
        return;
    networkViewOpen = open;
    if (open) {
        // Listens as Record does, but leaves the table's universe and the run state alone.
        ensureEngine();
        if (!engine->openSocket())
            reportPortFailure();
        engine->setCensusEnabled(true);
        engine->startNodePolling();
    } else if (engine) {
        engine->stopNodePolling();
        engine->setCensusEnabled(false);
    }
    refreshNetworkView();
}

void Vardolux::refreshNetworkView()
{
    const int universe = universeSpinBox->value();
    if (!engine) {
        universeIndicator->showSources(universe, {});
        return;
    }
    universeIndicator->showSources(universe, engine->dmxSources(quint16(universe - 1)));
    if (networkViewOpen)
        networkDock->refresh(*engine, universe);
}

// ---------------------------------------------------------------------------------------------
// Settings, help and about

void Vardolux::readSettings()
{
    QSettings settings(SettingsOrganisation, ProgramName);
    QPoint position = settings.value(QStringLiteral("pos"), DefaultPosition).toPoint();
    const QSize size = settings.value(QStringLiteral("size"), DefaultSize).toSize();
    const bool poll = settings.value(QStringLiteral("poll"), 0).toBool();

    resize(size);

    // A position saved with a monitor that is gone now would open the window where nobody can
    // see or reach it.
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (!screens.isEmpty()) {
        const QRect frame(position, size);
        const bool onAScreen = std::any_of(screens.cbegin(), screens.cend(), [&](QScreen *screen) {
            return screen->availableGeometry().intersects(frame);
        });
        if (!onAScreen)
            position = DefaultPosition;
    }
    move(position);

    if (pollModeAction)
        pollModeAction->setChecked(poll);
}

void Vardolux::writeSettings()
{
    QSettings settings(SettingsOrganisation, ProgramName);
    settings.setValue(QStringLiteral("pos"), pos());
    settings.setValue(QStringLiteral("size"), size());
    if (pollModeAction)
        settings.setValue(QStringLiteral("poll"), pollModeAction->isChecked());
}

void Vardolux::help()
{
    const QString text =
            tr("<b>Help</b><br>Please use online help on website<br>%1").arg(websiteLink());
    QMessageBox::information(this, tr("Vardolux Help"), text, QMessageBox::Ok,
                             QMessageBox::NoButton);
}

void Vardolux::about()
{
    const QString text =
            tr("<center><b>Vardolux</b><br>Version %1.%2<br>Date %3<br>Written by Tesk Haldor<br>"
               "%4<br>%5</center>Vardolux is a simple software for find and check dmx data in "
               "your art-net network.")
                    .arg(VersionMajor)
                    .arg(VersionMinor)
                    .arg(BuildDate, mailLink(), websiteLink());
    QMessageBox::about(this, tr("About Vardolux"), text);
}

// ---------------------------------------------------------------------------------------------
// Capture and replay

bool Vardolux::ensureEngine()
{
    if (!engine)
        engine = new artnet();

    engine->m_versionHi = quint8(VersionMajor);
    engine->m_versionLo = quint8(VersionMinor);
    engine->m_oemHi = OemHi;
    engine->m_oemLo = OemLo;
    engine->m_shortName = ProgramName;
    engine->m_longName =
            QStringLiteral("%1 V%2.%3 by ").arg(ProgramName).arg(VersionMajor).arg(VersionMinor)
            + WebHost;

    pollMode();
    return setUniverse(universeSpinBox->value());
}

bool Vardolux::record()
{
    stop();
    recordTimer = new QTimer(this);
    ensureEngine();
    engine->setFrameHistoryKept(true);
    if (!frameBuffer)
        frameBuffer = new unsigned char[FrameBufferSize]();
    connect(recordTimer, &QTimer::timeout, this, &Vardolux::recordDataTimeOut);
    recordTimer->start(RecordIntervalMs);

    recordAction->setChecked(true);
    sendAction->setChecked(false);
    stopAction->setChecked(false);

    if (engine->openSocket())
        reportPortOpened();
    else
        reportPortFailure();
    return true;
}

void Vardolux::recordDataTimeOut()
{
    if (frozen)
        return;
    if (!frameBuffer)
        return;
    frameLength = FrameBufferSize;
    std::fill(frameBuffer, frameBuffer + FrameBufferSize, 0);
    if (!engine)
        return;
    if (!engine->readUniverse(frameBuffer, &frameLength))
        return;
    if (frameLength > FrameBufferSize)
        frameLength = FrameBufferSize;
    activityViews->refresh(engine->frameHistory());
    showFrame(frameBuffer, frameLength);
}

void Vardolux::showFrame(const unsigned char *data, quint16 length)
{
    if (!model)
        return;
    const int columns = model->columnCount();
    const int rows = model->rowCount();
    model->beginUpdate();
    int channel = 0;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const int value = channel < length ? int(data[channel]) : int(Model::ValueNotInFrame);
            model->setData(model->index(row, column), QVariant(value), Qt::DisplayRole);
            ++channel;
        }
    }
    model->endUpdate();
}

QByteArray Vardolux::levelsOnShow(bool allCells) const
{
    const int rows = model->rowCount();
    const int columns = model->columnCount();
    QByteArray levels(rows * columns, '\0');
    int length = 0;
    int channel = 0;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            bool ok = false;
            const int level = model->levelAt(row, column, &ok);
            if (ok) {
                levels[channel] = char(level);
                length = channel + 1;
            }
            ++channel;
        }
    }
    if (!allCells)
        levels.truncate(length);
    return levels;
}

bool Vardolux::sendFrame(const QByteArray &frame)
{
    if (!engine)
        return false;
    if (!engine->openSocket()) {
        reportPortFailure();
        return false;
    }
    reportPortOpened();
    // The engine would refuse these and stay silent; the user must know nothing goes out.
    // A longer frame must not reach the engine's 16-bit length either, where it would wrap.
    if (frame.size() < SmallestSendableFrame || frame.size() > LargestSendableFrame) {
        statusBar()->showMessage(tr("Nothing sent: a frame needs 2 to 512 channels"));
        return false;
    }
    const qint64 sent = engine->sendDmx(reinterpret_cast<const uchar *>(frame.constData()),
                                        quint16(frame.size()), quint16(universeSpinBox->value()),
                                        nullptr);
    // For example no route for the broadcast: the show network is down or not configured.
    if (sent < 0) {
        statusBar()->showMessage(tr("Nothing sent: the network refused the ArtDmx packet"));
        return false;
    }
    return true;
}

void Vardolux::reportPortFailure()
{
    statusBar()->showMessage(tr("Cannot open Art-Net port 6454"));
}

void Vardolux::reportPortOpened()
{
    if (statusBar()->currentMessage() == tr("Cannot open Art-Net port 6454"))
        statusBar()->clearMessage();
    // Beside another program that holds the port with address reuse, the kernel gives each
    // unicast datagram to one of the two: the table may then miss what a console sends.
    if (engine && engine->portShared() && !sharedPortReported) {
        sharedPortReported = true;
        statusBar()->showMessage(tr("Art-Net port 6454 is shared with another program: unicast "
                                    "packets may go to it instead"));
    }
}

void Vardolux::updateSendingNote()
{
    const quint16 universe = engine ? engine->sendingUniverse() : 0;
    if (!sending || universe == 0) {
        sendingLabel->hide();
        sendingLabel->clear();
        return;
    }
    sendingLabel->setText(tr("Sending universe %1 on %2")
                                  .arg(QString::number(universe),
                                       engine->sendNetworks().join(QStringLiteral(", "))));
    sendingLabel->show();
}

bool Vardolux::send()
{
    stop();
    ensureEngine();
    if (engine) {
        sendFrame(levelsOnShow(false));
        sending = true;
    }
    updateSendingNote();
    recordAction->setChecked(false);
    sendAction->setChecked(true);
    stopAction->setChecked(false);
    return true;
}

bool Vardolux::stop()
{
    if (recordTimer) {
        recordTimer->stop();
        delete recordTimer;
        recordTimer = nullptr;
    }
    if (engine) {
        engine->stopSending();
        engine->stopReceiving();
    }
    sending = false;
    updateSendingNote();
    recordAction->setChecked(false);
    sendAction->setChecked(false);
    stopAction->setChecked(true);
    return true;
}

bool Vardolux::freeze()
{
    if (recordTimer) {
        frozen = !frozen;
    } else if (frozen) {
        frozen = false;
    } else {
        QMessageBox::information(this, tr("Running Info"),
                                 tr("Can't freeze because no send or no record running"),
                                 QMessageBox::Ok);
        freezeAction->setChecked(frozen);
    }
    return true;
}

bool Vardolux::optimize()
{
    if (tableView) {
        tableView->resizeRowsToContents();
        tableView->resizeColumnsToContents();
        stretchLastColumn();
    }
    return true;
}

bool Vardolux::setUniverse(int Universe)
{
    if (!engine || Universe < FirstUniverse || Universe > LargestEngineUniverse)
        return false;
    engine->setReceiveUniverse(quint16(Universe));
    return true;
}

void Vardolux::pollMode()
{
    if (!engine || !pollModeAction)
        return;
    const bool wanted = pollModeAction->isChecked();
    if (engine->setPollMode(wanted))
        reportPortOpened();
    else if (wanted)
        reportPortFailure();
}

void Vardolux::viewDecimal()
{
    if (model)
        model->setViewMode(Model::DecimalMode);
    viewDecimalAction->setChecked(true);
    viewPercentAction->setChecked(false);
    viewHexAction->setChecked(false);
    viewBarAction->setChecked(false);
}

void Vardolux::viewPercent()
{
    if (model)
        model->setViewMode(Model::PercentMode);
    viewDecimalAction->setChecked(false);
    viewPercentAction->setChecked(true);
    viewHexAction->setChecked(false);
    viewBarAction->setChecked(false);
}

void Vardolux::viewHex()
{
    if (model)
        model->setViewMode(Model::HexMode);
    viewDecimalAction->setChecked(false);
    viewPercentAction->setChecked(false);
    viewHexAction->setChecked(true);
    viewBarAction->setChecked(false);
}

void Vardolux::viewBar()
{
    if (model)
        model->setViewMode(Model::BarMode);
    viewDecimalAction->setChecked(false);
    viewPercentAction->setChecked(false);
    viewHexAction->setChecked(false);
    viewBarAction->setChecked(true);
}

// ---------------------------------------------------------------------------------------------
// Recording file and document state

void Vardolux::newFile()
{
    setCurrentFile(QString());
}

void Vardolux::open()
{
    const QString fileName = QFileDialog::getOpenFileName(
            this, tr("Choose a file to open"), QString(), tr("XML Files (*.xml);; All Files (*.*)"));
    if (!fileName.isEmpty())
        loadFile(fileName);
}

bool Vardolux::save()
{
    if (currentFile.isEmpty())
        return saveAs();
    return saveFile(currentFile);
}

bool Vardolux::saveAs()
{
    const QString fileName = QFileDialog::getSaveFileName(
            this, tr("Save File"), QString(), tr("XML Files (*.xml);; All Files (*.*)"));
    if (fileName.isEmpty())
        return false;
    return saveFile(fileName);
}

void Vardolux::documentWasModified()
{
    setWindowModified(true);
}

bool Vardolux::saveFile(const QString &fileName)
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QString error;
    const bool saved =
            RecordingFile::save(fileName, levelsOnShow(true), universeSpinBox->value(), &error);
    QGuiApplication::restoreOverrideCursor();

    if (!saved) {
        QMessageBox::warning(this, tr("Application"),
                             tr("Cannot write file %1:\n%2.").arg(fileName, error),
                             QMessageBox::Ok);
        return false;
    }

    setCurrentFile(fileName);
    statusBar()->showMessage(tr("File saved"), ConfirmationTimeoutMs);
    return true;
}

void Vardolux::loadFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QMessageBox::warning(this, tr("Application"),
                             tr("Cannot read file %1:\n%2.").arg(fileName, file.errorString()),
                             QMessageBox::Ok);
        return;
    }

    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const RecordingFile::Content content = RecordingFile::read(&file);
    file.close();
    QGuiApplication::restoreOverrideCursor();

    // A file that cannot be a recording must not take the place of the current one.
    QString problem;
    if (!content.wellFormed && content.errorLine <= 0) {
        problem = content.errorMessage;
    } else if (!content.wellFormed) {
        problem = tr("%1 at line %2, column %3")
                          .arg(content.errorMessage, QString::number(content.errorLine),
                               QString::number(content.errorColumn));
    } else if (content.frames.isEmpty()) {
        problem = tr("The file holds no DMX frame");
    }
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, tr("Application"),
                             tr("Cannot read file %1:\n%2.").arg(fileName, problem),
                             QMessageBox::Ok);
        return;
    }

    activityViews->forget();
    bool allSent = true;
    for (const QByteArray &frame : content.frames) {
        // Only one universe is on show; the 16-bit length must not wrap for an oversized frame.
        const int shown = std::min(int(frame.size()), FrameBufferSize);
        showFrame(reinterpret_cast<const unsigned char *>(frame.constData()), quint16(shown));
        if (sending && engine)
            allSent = sendFrame(frame) && allSent;
    }
    if (sending)
        updateSendingNote();

    setCurrentFile(fileName);
    // A refused frame's message stays; the user needs it more than the confirmation.
    if (allSent)
        statusBar()->showMessage(tr("File loaded"), ConfirmationTimeoutMs);
}

void Vardolux::setCurrentFile(const QString &fileName)
{
    currentFile = fileName;
    setWindowModified(false);
    const QString shownName = fileName.isEmpty() ? QStringLiteral("untitled.txt")
                                                 : escapedForTitle(strippedName(fileName));
    setWindowTitle(tr("%1[*] - %2").arg(shownName, tr("Application")));
}

void Vardolux::stretchLastColumn()
{
    // Fitting the columns to their texts gives the last one its text width too, and the header
    // stretches it again only on the next resize of the view; switching the stretch off and on
    // stretches it at once.
    QHeaderView *header = tableView->horizontalHeader();
    header->setStretchLastSection(false);
    header->setStretchLastSection(true);
}

QString Vardolux::strippedName(const QString &fullFileName)
{
    return QFileInfo(fullFileName).fileName();
}
