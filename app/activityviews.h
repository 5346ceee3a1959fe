#ifndef ACTIVITYVIEWS_H
#define ACTIVITYVIEWS_H

#include "channelactivity.h"
#include "channeltrace.h"

#include <QObject>

class FrameHistory;
class Model;
class QAction;
class QComboBox;
class QDockWidget;
class QMainWindow;
class QMenu;
class QTableView;
class ScopeWidget;

// What the channels of the universe on show did between refreshes: the change highlight and
// tool tips of the table, the scope dock and the history export. Fed from the engine's frame
// history at each refresh of the table, so that what they show changes with the levels and
// holds with them while the view is frozen.
class ActivityViews : public QObject
{
    Q_OBJECT
    friend class tst_Vardolux;
    friend class tst_Window;

public:
    ActivityViews(QMainWindow *window, Model *model, QTableView *table);

    // Right before the table shows a recorded frame: takes in the frames that arrived since.
    void refresh(const FrameHistory *history);
    // The table shows a frame that is not from the recording (a loaded file).
    void forget();
    void addMenuEntries(QMenu *menu) const;
    bool exportTo(const QString &fileName);

private slots:
    void highlightToggled(bool on);
    void resetActivity();
    void exportHistory();
    void selectionChanged();
    void spanChosen(int index);

private:
    void createActions();
    void createScopeDock();
    void createStatusBarButtons();
    void feedActivity(qint64 nowNs);
    void feedTrace(qint64 untilNs);
    QList<int> selectedChannels() const;
    void showMessage(const QString &text, int timeoutMs = 0) const;

    QMainWindow *m_window;
    Model *m_model;
    QTableView *m_table;
    const FrameHistory *m_history = nullptr;
    quint64 m_historyId = 0;
    quint64 m_activitySerial = 0; // the next frame the activity has not seen
    quint64 m_traceSerial = 0;    // the same for the trace, which a new selection rebuilds
    ChannelActivity m_activity;
    ChannelTrace m_trace;

    QAction *m_highlightAction = nullptr;
    QAction *m_resetAction = nullptr;
    QAction *m_exportAction = nullptr;
    QDockWidget *m_scopeDock = nullptr;
    ScopeWidget *m_scope = nullptr;
    QComboBox *m_spanBox = nullptr;
};

#endif // ACTIVITYVIEWS_H
