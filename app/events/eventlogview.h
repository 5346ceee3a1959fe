#ifndef EVENTLOGVIEW_H
#define EVENTLOGVIEW_H

#include "dmxframe.h"
#include "eventlogfile.h"

#include <QObject>

class CaptureSession;
class EventAlarms;
class EventLog;
class EventLogDock;
class QAction;
class QMainWindow;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class StatusEntry;

// What happened on the network, as the window shows it: the Event Log dock (Ctrl+L, its own
// toggle action), the status bar's event count and alarm, the log file and the watched
// universes. A timer reads what the log gained since the last look and hands it to the file,
// the alarms and, while open, the dock; between looks nothing is done, whatever the traffic.
// While the dock is open, a universe is watched or the file is on, the session listens.
class EventLogView : public QObject
{
    Q_OBJECT
    friend class tst_EventLogDock;

public:
    EventLogView(QMainWindow *window, CaptureSession *session, EventLog *log);
    ~EventLogView() override;

    void addMenuEntries(QMenu *menu) const;
    QAction *toggleAction() const;
    EventLogDock *dock() const { return m_dock; }
    EventAlarms *alarms() const { return m_alarms; }
    QTimer *refreshTimer() const { return m_timer; }
    // The file the events go to as they come; an empty path for none.
    void setLogFile(const QString &path);

public slots:
    void refresh();

signals:
    void universeChosen(UniverseKey universe);
    // Right before the session is asked to listen: it needs its engine.
    void sessionNeeded();

private:
    void createDock();
    void createActions();
    void createStatusEntries();
    void readSettings();
    void writeWatched() const;
    void openChanged(bool open);
    void watch(UniverseKey universe);
    void chooseWatched();
    void chooseLogFile(bool on);
    void feed(const DmxEvent &event);
    void updateEventCount();
    void updateAlarm();
    void notifyDesktop(const QString &text);
    void updateListening();

    QMainWindow *m_window;
    CaptureSession *m_session;
    EventLog *m_log;
    quint64 m_fedSerial = 0; // the newest event the file and the alarms have seen
    EventLogDock *m_dock = nullptr;
    EventAlarms *m_alarms = nullptr;
    EventLogFile m_file;
    QTimer *m_timer = nullptr;
    StatusEntry *m_countEntry = nullptr;
    StatusEntry *m_alarmEntry = nullptr;
    QAction *m_logFileAction = nullptr;
    QAction *m_watchedAction = nullptr;
    QAction *m_acknowledgeAction = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    bool m_desktopNotify = false;
    bool m_listening = false;
};

#endif // EVENTLOGVIEW_H
