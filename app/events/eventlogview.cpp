#include "eventlogview.h"

#include "capturesession.h"
#include "eventalarms.h"
#include "eventlog.h"
#include "eventlogdock.h"
#include "programinfo.h"
#include "statusentry.h"
#include "watcheduniversesdialog.h"

#include <QAction>
#include <QFileDialog>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

// Close enough behind the detector, which looks every 250 ms, for a person.
constexpr int RefreshMs = 250;
constexpr int MaxFedPerRefresh = 10000; // a flood of events is taken over several refreshes
constexpr QLatin1StringView FileKey("eventLog/file");
constexpr QLatin1StringView FileEnabledKey("eventLog/fileEnabled");
constexpr QLatin1StringView WatchedArtNetKey("alarms/watchedArtNet");
constexpr QLatin1StringView WatchedSacnKey("alarms/watchedSacn");
constexpr QLatin1StringView TimeCodeKey("alarms/timeCode");
constexpr QLatin1StringView DesktopNotifyKey("alarms/desktopNotify");

QSettings programSettings()
{
    return QSettings(ProgramInfo::settingsOrganisation(), ProgramInfo::name());
}

} // namespace

EventLogView::EventLogView(QMainWindow *window, CaptureSession *session, EventLog *log)
    : QObject(window), m_window(window), m_session(session), m_log(log),
      m_alarms(new EventAlarms(this))
{
    // What happened before the window opened is in the dock, not raised again as alarms.
    m_fedSerial = log ? log->lastSerial() : 0;
    createDock();
    createActions();
    createStatusEntries();
    readSettings();
    connect(m_alarms, &EventAlarms::changed, this, &EventLogView::updateAlarm);
    connect(m_alarms, &EventAlarms::raised, this,
            [this](const EventAlarms::Alarm &alarm) { notifyDesktop(alarm.text); });
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &EventLogView::refresh);
    m_timer->start(RefreshMs);
    // Listening needs the window's engine set up: once the window is.
    QTimer::singleShot(0, this, &EventLogView::updateListening);
}

EventLogView::~EventLogView() = default;

void EventLogView::createDock()
{
    m_dock = new EventLogDock(m_log, m_window);
    m_dock->hide();
    m_window->addDockWidget(Qt::BottomDockWidgetArea, m_dock);
    connect(m_dock, &EventLogDock::universeChosen, this, &EventLogView::universeChosen);
    connect(m_dock, &EventLogDock::watchRequested, this, &EventLogView::watch);
    connect(m_dock, &EventLogDock::clearRequested, this, [this] {
        if (m_log)
            m_log->clear();
        refresh();
    });
    QAction *toggle = m_dock->toggleViewAction();
    toggle->setObjectName(QStringLiteral("eventLogAction"));
    toggle->setText(tr("&Event Log"));
    toggle->setShortcut(QKeySequence(tr("Ctrl+L")));
    toggle->setStatusTip(tr("Show what happened on the network: sources lost and back, "
                            "conflicts, stutters, nodes, time code"));
    connect(toggle, &QAction::toggled, this, &EventLogView::openChanged);
    m_window->addAction(toggle);
}

void EventLogView::createActions()
{
    m_logFileAction = new QAction(tr("Log Events to &File..."), m_window);
    m_logFileAction->setObjectName(QStringLiteral("eventLogFileAction"));
    m_logFileAction->setCheckable(true);
    m_logFileAction->setStatusTip(tr("Append every event to a text file as it happens"));
    connect(m_logFileAction, &QAction::triggered, this, &EventLogView::chooseLogFile);
    m_watchedAction = new QAction(tr("&Watched Universes..."), m_window);
    m_watchedAction->setObjectName(QStringLiteral("watchedUniversesAction"));
    m_watchedAction->setStatusTip(tr("Choose the universes whose going dark or conflicts raise "
                                     "an alarm"));
    connect(m_watchedAction, &QAction::triggered, this, &EventLogView::chooseWatched);
    m_acknowledgeAction = new QAction(tr("&Acknowledge Alarms"), m_window);
    m_acknowledgeAction->setObjectName(QStringLiteral("acknowledgeAlarmsAction"));
    m_acknowledgeAction->setStatusTip(tr("Clear the alarm from the status bar"));
    m_acknowledgeAction->setEnabled(false);
    connect(m_acknowledgeAction, &QAction::triggered, m_alarms, &EventAlarms::acknowledge);
    m_window->addActions({m_logFileAction, m_watchedAction, m_acknowledgeAction});
}

void EventLogView::createStatusEntries()
{
    m_alarmEntry = new StatusEntry(m_window);
    m_alarmEntry->setObjectName(QStringLiteral("alarmEntry"));
    m_alarmEntry->setToolTip(tr("Click to acknowledge"));
    m_alarmEntry->setWarning(true);
    m_alarmEntry->hide();
    connect(m_alarmEntry, &StatusEntry::clicked, m_alarms, &EventAlarms::acknowledge);
    m_window->statusBar()->addPermanentWidget(m_alarmEntry);
    m_countEntry = new StatusEntry(m_window);
    m_countEntry->setObjectName(QStringLiteral("eventCountEntry"));
    m_countEntry->hide();
    connect(m_countEntry, &StatusEntry::clicked, this, [this] {
        if (!toggleAction()->isChecked())
            toggleAction()->trigger();
        m_dock->raise();
    });
    m_window->statusBar()->addPermanentWidget(m_countEntry);
}

QAction *EventLogView::toggleAction() const
{
    return m_dock->toggleViewAction();
}

void EventLogView::addMenuEntries(QMenu *menu) const
{
    menu->addSeparator();
    menu->addActions({toggleAction(), m_logFileAction, m_watchedAction, m_acknowledgeAction});
}

void EventLogView::readSettings()
{
    const QSettings settings = programSettings();
    QSet<quint16> artNet;
    QSet<quint16> sacn;
    for (const QVariant &number : settings.value(WatchedArtNetKey).toList()) {
        const int universe = number.toInt();
        if (universe >= 1 && universe <= 32768)
            artNet.insert(quint16(universe - 1));
    }
    for (const QVariant &number : settings.value(WatchedSacnKey).toList()) {
        const int universe = number.toInt();
        if (universe >= 1 && universe <= 63999)
            sacn.insert(quint16(universe));
    }
    m_alarms->setWatched(artNet, sacn);
    m_alarms->setTimeCodeWatched(settings.value(TimeCodeKey, false).toBool());
    m_desktopNotify = settings.value(DesktopNotifyKey, false).toBool();
    const bool fileOn = settings.value(FileEnabledKey, false).toBool();
    const QString path = settings.value(FileKey).toString();
    if (fileOn && !path.isEmpty())
        setLogFile(path);
}

void EventLogView::writeWatched() const
{
    QSettings settings = programSettings();
    QVariantList artNet;
    for (quint16 universe : m_alarms->watched(DmxProtocol::ArtNet))
        artNet << int(universe) + 1;
    QVariantList sacn;
    for (quint16 universe : m_alarms->watched(DmxProtocol::Sacn))
        sacn << int(universe);
    settings.setValue(WatchedArtNetKey, artNet);
    settings.setValue(WatchedSacnKey, sacn);
    settings.setValue(TimeCodeKey, m_alarms->timeCodeWatched());
    settings.setValue(DesktopNotifyKey, m_desktopNotify);
}

void EventLogView::openChanged(bool open)
{
    if (open) {
        m_dock->raise();
        m_dock->refresh(m_session->universeOnShow());
    }
    updateListening();
}

void EventLogView::refresh()
{
    if (!m_log)
        return;
    const quint64 newest = m_log->lastSerial();
    if (newest != m_fedSerial) {
        const quint64 oldest = newest - quint64(m_log->count()) + 1;
        quint64 serial = std::max(m_fedSerial + 1, oldest);
        const quint64 last = std::min(newest, serial + MaxFedPerRefresh - 1);
        for (; serial <= last && serial >= oldest; ++serial) {
            if (const DmxEvent *event = m_log->bySerial(serial))
                feed(*event);
        }
        m_fedSerial = std::max(m_fedSerial, last);
        updateEventCount();
    }
    if (toggleAction()->isChecked())
        m_dock->refresh(m_session->universeOnShow());
}

void EventLogView::feed(const DmxEvent &event)
{
    bool newError = false;
    if (!m_file.append(event, &newError) && newError)
        m_window->statusBar()->showMessage(
                tr("The event log file cannot be written (%1); the log goes on in the window")
                        .arg(m_file.errorString()));
    m_alarms->consider(event);
}

void EventLogView::updateEventCount()
{
    if (!m_log || m_log->count() == 0) {
        m_countEntry->hide();
        return;
    }
    m_countEntry->setText(tr("Events: %1").arg(m_log->count()));
    const DmxEvent &newest = m_log->newest(0);
    m_countEntry->setToolTip(tr("Newest: %1").arg(DmxEvent::kindText(newest.kind)));
    m_countEntry->show();
}

void EventLogView::updateAlarm()
{
    const QList<EventAlarms::Alarm> &alarms = m_alarms->alarms();
    m_acknowledgeAction->setEnabled(!alarms.isEmpty());
    if (alarms.isEmpty()) {
        m_alarmEntry->hide();
        m_alarmEntry->clear();
        return;
    }
    QString text = tr("ALARM: %1").arg(alarms.constLast().text);
    if (alarms.size() > 1)
        text += tr(" (%1 alarms)").arg(alarms.size());
    m_alarmEntry->setText(text);
    m_alarmEntry->show();
}

void EventLogView::notifyDesktop(const QString &text)
{
    if (!m_desktopNotify || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    if (!m_tray) {
        m_tray = new QSystemTrayIcon(m_window->windowIcon(), this);
        m_tray->show();
    }
    m_tray->showMessage(ProgramInfo::name(), text, QSystemTrayIcon::Warning);
}

void EventLogView::watch(UniverseKey universe)
{
    m_alarms->watch(universe);
    writeWatched();
    updateListening();
}

void EventLogView::chooseWatched()
{
    WatchedUniversesDialog::Choice choice;
    for (quint16 universe : m_alarms->watched(DmxProtocol::ArtNet))
        choice.artNet << quint16(universe + 1);
    choice.sacn = m_alarms->watched(DmxProtocol::Sacn);
    choice.timeCode = m_alarms->timeCodeWatched();
    choice.desktopNotify = m_desktopNotify;
    WatchedUniversesDialog dialog(choice, m_window);
    if (dialog.exec() != QDialog::Accepted)
        return;
    choice = dialog.choice();
    QSet<quint16> artNet;
    for (quint16 universe : choice.artNet)
        artNet.insert(quint16(universe - 1));
    m_alarms->setWatched(artNet, QSet<quint16>(choice.sacn.cbegin(), choice.sacn.cend()));
    m_alarms->setTimeCodeWatched(choice.timeCode);
    m_desktopNotify = choice.desktopNotify;
    writeWatched();
    updateListening();
}

void EventLogView::chooseLogFile(bool on)
{
    QSettings settings = programSettings();
    QString path = settings.value(FileKey).toString();
    if (on) {
        path = QFileDialog::getSaveFileName(m_window, tr("Log Events to File"), path,
                                            tr("Log files (*.log *.txt);;All files (*)"),
                                            nullptr, QFileDialog::DontConfirmOverwrite);
        if (path.isEmpty()) {
            m_logFileAction->setChecked(false);
            return;
        }
        settings.setValue(FileKey, path);
    }
    settings.setValue(FileEnabledKey, on);
    setLogFile(on ? path : QString());
}

void EventLogView::setLogFile(const QString &path)
{
    m_file.setPath(path);
    m_logFileAction->setChecked(!path.isEmpty());
    updateListening();
}

void EventLogView::updateListening()
{
    const bool wanted = toggleAction()->isChecked() || m_alarms->watchesAnything()
            || !m_file.path().isEmpty();
    if (wanted == m_listening)
        return;
    m_listening = wanted;
    if (wanted) {
        emit sessionNeeded();
        m_session->startListening();
    } else {
        m_session->stopListening();
    }
}
