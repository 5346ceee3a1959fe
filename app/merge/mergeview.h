#ifndef MERGEVIEW_H
#define MERGEVIEW_H

#include "levelchoice.h"

#include <QObject>

class CaptureSession;
class MergeDock;
class QAction;
class QMainWindow;
class QTableView;
class QTimer;
class UniverseIndicator;

// What the sources of the universe on show do to the lights: the merge dock, with F9, its own
// toggle action, as the command. While the dock is open a timer hands it the session's merge
// of the universe on show; closed, it costs nothing. A click on the status-bar indicator while
// it warns of a conflict opens the dock too, beside the network view that the click opens.
class MergeView : public QObject
{
    Q_OBJECT

public:
    // table: the channel table, whose cell a double-clicked channel selects.
    MergeView(QMainWindow *window, CaptureSession *session, QTableView *table,
              UniverseIndicator *indicator);

    QAction *toggleAction() const;
    MergeDock *dock() const { return m_dock; }
    QTimer *refreshTimer() const { return m_timer; }

public slots:
    void refresh();

private slots:
    void openChanged(bool open);
    void indicatorClicked();
    void selectChannel(int channel);

private:
    void createDock();
    void offerKinds();

    QMainWindow *m_window;
    CaptureSession *m_session;
    QTableView *m_table;
    UniverseIndicator *m_indicator;
    MergeDock *m_dock = nullptr;
    QTimer *m_timer = nullptr;
    DmxProtocol m_kindsOffered = DmxProtocol::ArtNet;
    bool m_kindsKnown = false;
};

#endif // MERGEVIEW_H
