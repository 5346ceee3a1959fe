#include "vardolux.h"

#include "activityviews.h"
#include "artnetpackets.h"
#include "capturecontrol.h"
#include "captureplayback.h"
#include "capturesession.h"
#include "commandkeys.h"
#include "eventlogview.h"
#include "levelsbar.h"
#include "mergeview.h"
#include "model.h"
#include "networkview.h"
#include "phonealarms.h"
#include "phoneviewcontrol.h"
#include "portnotes.h"
#include "programinfo.h"
#include "protocolbar.h"
#include "replaycontrol.h"

#include <QAction>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
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

constexpr int TableRows = 32;
constexpr int TableColumns = 16;
constexpr int FrameBufferSize = ArtNetPackets::Dmx::MaxChannels;
constexpr int RecordIntervalMs = 200;
// The box shows port-addresses 1-based.
constexpr int FirstUniverse = 1;
constexpr int LastUniverse = ArtNetPackets::PortAddressCount;
constexpr int SmallestSendableFrame = ArtNetPackets::Dmx::MinSendChannels;
constexpr int LargestSendableFrame = ArtNetPackets::Dmx::MaxChannels;

const QPoint DefaultPosition(200, 200);
const QSize DefaultSize(400, 400);

} // namespace

Vardolux::Vardolux() : session(std::make_unique<CaptureSession>())
{
    model = new Model(TableRows, TableColumns, this);
    model->setObjectName(QStringLiteral("model"));
    // Parented to the model so that it goes with it.
    auto *selectionModel = new QItemSelectionModel(model, model);

    tableView = new QTableView;
    tableView->setObjectName(QStringLiteral("tableView"));
    tableView->setModel(model);
    tableView->setSelectionModel(selectionModel);
    // As every table of the desktop: a click replaces the selection, Ctrl+click toggles a cell,
    // Shift+click and dragging select a range.
    tableView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tableView->horizontalHeader()->setSectionsMovable(true);
    tableView->verticalHeader()->setSectionsMovable(true);
    tableView->horizontalHeader()->setStretchLastSection(true);
    tableView->resizeRowsToContents();
    tableView->resizeColumnsToContents();
    stretchLastColumn();
    setCentralWidget(tableView);

    createActions();
    createUniverseBox();
    createMenus();
    createToolBars();
    createProtocolBar();
    createStatusBar();
    createActivityViews();
    levelsBar = new LevelsBar(session.get(), model, this);
    connect(levelsBar, &LevelsBar::levelChoiceChanged, activityViews, &ActivityViews::forget);
    createNetworkView();
    createEventDetection();
    captureControl = new CaptureControl(this, session.get(), helpMenu);
    connect(captureControl, &CaptureControl::sessionNeeded, this, [this] { ensureEngine(); });
    // Open and Close Capture stay the menu's last entries.
    replayControl = new ReplayControl(this);
    replayControl->addMenuEntries(captureControl->menu());
    capturePlayback->addMenuEntries(captureControl->menu());
    replayControl->setOpenCapture([this] { return capturePlayback->openCapturePath(); });
    createEventLogView();
    phoneViewControl = new PhoneViewControl(this, session.get(), helpMenu);
    connect(phoneViewControl, &PhoneViewControl::sessionNeeded, this, [this] { ensureEngine(); });
    PhoneAlarms::follow(eventLogView->alarms(), phoneViewControl->server());
    readSettings();
    phoneViewControl->startAtLaunch();

    setCurrentFile(QString());

    setWindowIcon(QIcon::fromTheme(QStringLiteral("vardolux"),
                                   QIcon(QStringLiteral(":/vardolux.png"))));
}

Vardolux::~Vardolux()
{
    // Hiding the dock as it goes would call back into the half-destroyed window.
    if (networkView)
        disconnect(networkViewAction, nullptr, networkView, nullptr);
    if (eventLogView)
        disconnect(eventLogView->toggleAction(), nullptr, eventLogView, nullptr);
    // The phones' view reads the session, which goes first.
    if (phoneViewControl)
        phoneViewControl->stop();
    stop();
    engine = nullptr;
    session.reset();
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

template <typename Slot>
QAction *Vardolux::createAction(const char *name, const char *image, const QString &text,
                                const QString &shortcut, const QString &statusTip, Slot slot,
                                CheckMark check)
{
    auto *action = image ? new QAction(QIcon(QStringLiteral(":/images/%1.xpm")
                                                     .arg(QLatin1String(image))),
                                       text, this)
                         : new QAction(text, this);
    action->setObjectName(QLatin1String(name));
    if (!shortcut.isEmpty())
        action->setShortcut(QKeySequence(shortcut));
    action->setStatusTip(statusTip);
    if (check != CheckMark::None) {
        action->setCheckable(true);
        action->setChecked(check == CheckMark::On);
    }
    connect(action, &QAction::triggered, this, slot);
    return action;
}

void Vardolux::createActions()
{
    // Name, toolbar image, text, shortcut, status tip, slot and, for a toggle, its first state.
    newAction = createAction("newAction", "filenew", tr("&New"), tr("Ctrl+N"),
                             tr("Create a new file"), &Vardolux::newFile);
    openAction = createAction("openAction", "fileopen", tr("&Open..."), tr("Ctrl+O"),
                              tr("Open an existing file"), &Vardolux::open);
    saveAction = createAction("saveAction", "filesave", tr("&Save"), tr("Ctrl+S"),
                              tr("Save the document to disk"), &Vardolux::save);
    saveAsAction = createAction("saveAsAction", nullptr, tr("Save &As..."), QString(),
                                tr("Save the document under a new name"), &Vardolux::saveAs);
    sendAction = createAction("sendAction", "runstart", tr("&Send"), tr("Ctrl+E"),
                              tr("Start Play"), &Vardolux::send, CheckMark::Off);
    recordAction = createAction("recordAction", "runrecord", tr("&Record"), tr("Ctrl+R"),
                                tr("Start Record"), &Vardolux::record, CheckMark::Off);
    stopAction = createAction("stopAction", "runstop", tr("St&op"), tr("Ctrl+T"),
                              tr("Stop/Break"), &Vardolux::stop, CheckMark::On);
    freezeAction = createAction("freezeAction", "runfreeze", tr("&Freeze"), tr("Ctrl+F"),
                                tr("Freeze/Unfreeze view"), &Vardolux::freeze, CheckMark::Off);
    optimizeAction = createAction("optimizeAction", "toolOptimize", tr("&Optimize"), tr("Ctrl+I"),
                                  tr("optimized row and column size"), &Vardolux::optimize);
    viewDecimalAction = createAction("viewDecimalAction", "viewDecimal", tr("&Decimal 0-255"),
                                     tr("Ctrl+D"), tr("view dmx values decimal 0...255"),
                                     &Vardolux::viewDecimal, CheckMark::On);
    viewPercentAction = createAction("viewPercentAction", "viewPercent", tr("&Percent 0-100%"),
                                     tr("Ctrl+P"), tr("view dmx values in percent 0...100%"),
                                     &Vardolux::viewPercent, CheckMark::Off);
    viewHexAction = createAction("viewHexAction", "viewHex", tr("&Hexadecimal 0x00-0xFF"),
                                 tr("Ctrl+H"), tr("view dmx values in hexadecimal 0x00...0xFF"),
                                 &Vardolux::viewHex, CheckMark::Off);
    viewBarAction = createAction("viewBarAction", "viewBar", tr("&Bar"), tr("Ctrl+B"),
                                 tr("view dmx values bar"), &Vardolux::viewBar, CheckMark::Off);
    pollModeAction = createAction("pollModeAction", "toolPollMode", tr("&Poll Mode"), tr("Ctrl+M"),
                                  tr("poll mode enable/disable"), &Vardolux::pollMode,
                                  CheckMark::Off);
    exitAction = createAction("exitAction", nullptr, tr("E&xit"), tr("Ctrl+Q"),
                              tr("Exit the application"), &QWidget::close);
    helpAction = createAction("helpAction", "helpHelp", tr("Help"), tr("F1"),
                              tr("Show the application's help"), &Vardolux::help);
    aboutAction = createAction("aboutAction", nullptr, tr("&About"), QString(),
                               tr("Show the application's About box"), &Vardolux::about);
    aboutQtAction = createAction("aboutQtAction", nullptr, tr("About &Qt"), QString(),
                                 tr("Show the Qt library's About box"), &QApplication::aboutQt);
}

void Vardolux::createUniverseBox()
{
    universeSpinBox = new QSpinBox(this);
    universeSpinBox->setObjectName(QStringLiteral("universeSpinBox"));
    universeSpinBox->setRange(FirstUniverse, LastUniverse);
    universeSpinBox->setStatusTip(tr("change universe for record or send"));
    connect(universeSpinBox, &QSpinBox::valueChanged, this, &Vardolux::setUniverse);
    commandKeys = new CommandKeys(this);
    commandKeys->watch(universeSpinBox);
}

QMenu *Vardolux::createMenu(const QString &title, const char *name,
                            const QList<QAction *> &actions)
{
    QMenu *menu = menuBar()->addMenu(title);
    menu->setObjectName(QLatin1String(name));
    menu->addActions(actions);
    return menu;
}

void Vardolux::createMenus()
{
    fileMenu = createMenu(tr("&File"), "fileMenu",
                          {newAction, openAction, saveAction, saveAsAction});
    fileMenu->addSeparator();
    fileMenu->addAction(exitAction);
    runMenu = createMenu(tr("&Run"), "runMenu",
                         {sendAction, recordAction, stopAction, freezeAction});
    toolsMenu = createMenu(tr("&Tools"), "toolsMenu", {optimizeAction, pollModeAction});
    viewMenu = createMenu(tr("&View"), "viewMenu",
                          {viewDecimalAction, viewPercentAction, viewHexAction, viewBarAction});
    menuBar()->addSeparator();
    helpMenu = createMenu(tr("&Help"), "helpMenu", {helpAction, aboutAction, aboutQtAction});
}

QToolBar *Vardolux::createToolBar(const QString &title, const char *name,
                                  const QList<QAction *> &actions)
{
    QToolBar *toolBar = addToolBar(title);
    toolBar->setObjectName(QLatin1String(name));
    toolBar->addActions(actions);
    return toolBar;
}

void Vardolux::createToolBars()
{
    fileToolBar = createToolBar(tr("File"), "fileToolBar", {newAction, openAction, saveAction});
    runToolBar = createToolBar(tr("Run"), "runToolBar",
                               {sendAction, recordAction, stopAction, freezeAction});
    toolsToolBar = createToolBar(tr("Tools"), "toolsToolBar", {optimizeAction, pollModeAction});
    toolsToolBar->insertWidget(pollModeAction, universeSpinBox);
    viewToolBar = createToolBar(tr("View"), "viewToolBar",
                                {viewDecimalAction, viewPercentAction, viewHexAction,
                                 viewBarAction});
    helpToolBar = createToolBar(tr("Help"), "helpToolBar", {helpAction});
}

void Vardolux::createProtocolBar()
{
    protocolBar = new ProtocolBar(session.get(), this);
    // A row of its own: beside the others it would not fit a window of the default width.
    addToolBarBreak();
    addToolBar(protocolBar);
    const QList<QAbstractSpinBox *> boxes = protocolBar->findChildren<QAbstractSpinBox *>();
    for (QAbstractSpinBox *box : boxes)
        commandKeys->watch(box);
    connect(protocolBar, &ProtocolBar::universeOnShowChanged, this,
            &Vardolux::followUniverseOnShow);
}

void Vardolux::createStatusBar()
{
    statusBar()->showMessage(tr("Ready"));
    portNotes = std::make_unique<PortNotes>(statusBar());
    // Permanent, so that messages never hide what goes out on the wire.
    sendingLabel = new QLabel(this);
    sendingLabel->setObjectName(QStringLiteral("sendingLabel"));
    sendingLabel->hide();
    statusBar()->addPermanentWidget(sendingLabel);
}

void Vardolux::createActivityViews()
{
    activityViews = new ActivityViews(this, model, tableView, session.get());
}

QMenu *Vardolux::createPopupMenu()
{
    QMenu *menu = QMainWindow::createPopupMenu();
    if (!menu)
        menu = new QMenu(this);
    activityViews->addMenuEntries(menu);
    levelsBar->addMenuEntries(menu);
    captureControl->addMenuEntries(menu);
    capturePlayback->addMenuEntries(menu);
    replayControl->addMenuEntries(menu);
    eventLogView->addMenuEntries(menu);
    phoneViewControl->addMenuEntries(menu);
    networkView->addMenuEntries(menu);
    return menu;
}

// ---------------------------------------------------------------------------------------------
// Network view

// The session finds the network's events in what its engines count, four times a second,
// from the launch on; before the engines exist a pass does nothing.
void Vardolux::createEventDetection()
{
    auto *eventTimer = new QTimer(this);
    eventTimer->setObjectName(QStringLiteral("eventTimer"));
    connect(eventTimer, &QTimer::timeout, this, [this] { session->detectEvents(); });
    eventTimer->start(250);
}

void Vardolux::createNetworkView()
{
    networkView = new NetworkView(this, session.get(), universeSpinBox);
    connect(networkView, &NetworkView::sessionNeeded, this, [this] { ensureEngine(); });
    connect(networkView, &NetworkView::portUnavailable, this, &Vardolux::reportPortFailure);
    connect(networkView, &NetworkView::universeChosen, this, &Vardolux::showUniverse);
    networkDock = networkView->dock();
    universeIndicator = networkView->indicator();
    networkViewAction = networkView->toggleAction();
    networkTimer = networkView->refreshTimer();
    mergeView = new MergeView(this, session.get(), tableView, universeIndicator);
    // A capture plays into the table as Record shows the network.
    capturePlayback = new CapturePlayback(this, session.get());
    connect(capturePlayback, &CapturePlayback::sessionNeeded, this,
            [this] {
                if (!recordAction->isChecked())
                    record();
            });
}

void Vardolux::createEventLogView()
{
    eventLogView = new EventLogView(this, session.get(), session->eventLog());
    connect(eventLogView, &EventLogView::sessionNeeded, this, [this] { ensureEngine(); });
    connect(eventLogView, &EventLogView::universeChosen, this, &Vardolux::showUniverse);
}

// ---------------------------------------------------------------------------------------------
// Settings, help and about

void Vardolux::readSettings()
{
    QSettings settings(ProgramInfo::settingsOrganisation(), ProgramInfo::name());
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
    protocolBar->readSettings(settings);
}

void Vardolux::writeSettings()
{
    QSettings settings(ProgramInfo::settingsOrganisation(), ProgramInfo::name());
    settings.setValue(QStringLiteral("pos"), pos());
    settings.setValue(QStringLiteral("size"), size());
    if (pollModeAction)
        settings.setValue(QStringLiteral("poll"), pollModeAction->isChecked());
    protocolBar->writeSettings(settings);
}

void Vardolux::help()
{
    QMessageBox::information(this, tr("Vardolux Help"), ProgramInfo::helpText(), QMessageBox::Ok,
                             QMessageBox::NoButton);
}

void Vardolux::about()
{
    QMessageBox::about(this, tr("About Vardolux"), ProgramInfo::aboutText());
}

// ---------------------------------------------------------------------------------------------
// Capture and replay

bool Vardolux::ensureEngine()
{
    session->start(ProgramInfo::nodeIdentity());
    engine = session->artNetEngine();

    pollMode();
    return setUniverse(universeSpinBox->value());
}

bool Vardolux::record()
{
    stop();
    recordTimer = new QTimer(this);
    ensureEngine();
    session->keepHistory();
    if (!frameBuffer)
        frameBuffer = new unsigned char[FrameBufferSize]();
    connect(recordTimer, &QTimer::timeout, this, &Vardolux::recordDataTimeOut);
    recordTimer->start(RecordIntervalMs);

    checkRunCommand(recordAction);
    openRecordingPort();
    return true;
}

void Vardolux::openRecordingPort()
{
    if (session->protocol() == DmxProtocol::ArtNet) {
        if (session->openPort())
            reportPortOpened();
        else
            reportPortFailure();
    } else if (session->openSacnPort()) {
        portNotes->opened(DmxProtocol::Sacn, session->sacnPortShared());
    } else {
        portNotes->failed(DmxProtocol::Sacn);
    }
}

void Vardolux::showUniverse(UniverseKey key)
{
    if (key.protocol == DmxProtocol::Sacn) {
        protocolBar->showSacnUniverse(key.number);
        return;
    }
    universeSpinBox->setValue(int(key.number) + 1);
    protocolBar->showProtocol(DmxProtocol::ArtNet);
}

// A recording goes on with the new universe; what the activity views kept of the old one is
// not shown as the new one's.
void Vardolux::followUniverseOnShow()
{
    activityViews->forget();
    levelsBar->refreshChoices();
    if (recordTimer)
        openRecordingPort();
    networkView->refresh();
}

void Vardolux::recordDataTimeOut()
{
    if (frozen)
        return;
    if (!frameBuffer)
        return;
    frameLength = FrameBufferSize;
    std::fill(frameBuffer, frameBuffer + FrameBufferSize, 0);
    if (!session->started())
        return;
    if (!session->readLevels(frameBuffer, &frameLength))
        return;
    if (frameLength > FrameBufferSize)
        frameLength = FrameBufferSize;
    activityViews->refresh(session->history());
    levelsBar->refreshTips();
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
    if (!session->started())
        return false;
    // sACN goes out on a socket of its own: a busy Art-Net port does not stop it.
    const bool sacn = session->protocol() == DmxProtocol::Sacn;
    if (!sacn && !session->openPort()) {
        reportPortFailure();
        return false;
    }
    if (!sacn)
        reportPortOpened();
    // The engine would refuse these and stay silent; the user must know nothing goes out.
    // A longer frame must not reach the engine's 16-bit length either, where it would wrap.
    if (frame.size() < SmallestSendableFrame || frame.size() > LargestSendableFrame) {
        statusBar()->showMessage(tr("Nothing sent: a frame needs %1 to %2 channels")
                                         .arg(SmallestSendableFrame)
                                         .arg(LargestSendableFrame));
        return false;
    }
    session->setSacnSendPriority(protocolBar->sendPriority());
    const qint64 sent = session->send(frame, universeSpinBox->value());
    // For example no route for the broadcast: the show network is down or not configured.
    if (sent < 0) {
        statusBar()->showMessage(sacn ? tr("Nothing sent: the network refused the sACN packet")
                                      : tr("Nothing sent: the network refused the ArtDmx packet"));
        return false;
    }
    return true;
}

void Vardolux::reportPortFailure()
{
    portNotes->failed(DmxProtocol::ArtNet);
}

void Vardolux::reportPortOpened()
{
    portNotes->opened(DmxProtocol::ArtNet, session->portShared());
}

void Vardolux::updateSendingNote()
{
    const int universe = session->sendingUniverse();
    if (!sending || universe == 0) {
        sendingLabel->hide();
        sendingLabel->clear();
        return;
    }
    const QString networks = session->sendNetworks().join(QStringLiteral(", "));
    if (session->sendingProtocol() == DmxProtocol::Sacn)
        sendingLabel->setText(tr("Sending sACN universe %1 at priority %2 on %3")
                                      .arg(QString::number(universe),
                                           QString::number(protocolBar->sendPriority()), networks));
    else
        sendingLabel->setText(tr("Sending universe %1 on %2")
                                      .arg(QString::number(universe), networks));
    sendingLabel->show();
}

bool Vardolux::send()
{
    stop();
    ensureEngine();
    if (session->started()) {
        sendFrame(levelsOnShow(false));
        sending = true;
    }
    updateSendingNote();
    checkRunCommand(sendAction);
    return true;
}

bool Vardolux::stop()
{
    if (recordTimer) {
        recordTimer->stop();
        delete recordTimer;
        recordTimer = nullptr;
    }
    session->stop();
    sending = false;
    updateSendingNote();
    checkRunCommand(stopAction);
    return true;
}

void Vardolux::checkRunCommand(const QAction *running)
{
    recordAction->setChecked(running == recordAction);
    sendAction->setChecked(running == sendAction);
    stopAction->setChecked(running == stopAction);
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
    return session->setUniverse(Universe);
}

void Vardolux::pollMode()
{
    if (!session->started() || !pollModeAction)
        return;
    const bool wanted = pollModeAction->isChecked();
    if (session->setPollMode(wanted))
        reportPortOpened();
    else if (wanted)
        reportPortFailure();
}

void Vardolux::viewDecimal()
{
    switchViewMode(Model::DecimalMode);
}

void Vardolux::viewPercent()
{
    switchViewMode(Model::PercentMode);
}

void Vardolux::viewHex()
{
    switchViewMode(Model::HexMode);
}

void Vardolux::viewBar()
{
    switchViewMode(Model::BarMode);
}

void Vardolux::switchViewMode(int mode)
{
    if (model)
        model->setViewMode(mode);
    viewDecimalAction->setChecked(mode == Model::DecimalMode);
    viewPercentAction->setChecked(mode == Model::PercentMode);
    viewHexAction->setChecked(mode == Model::HexMode);
    viewBarAction->setChecked(mode == Model::BarMode);
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
