#ifndef ACTIVITYVIEWS_H
#define ACTIVITYVIEWS_H

#include "channelactivity.h"
#include "channeltrace.h"
#include "sourcetraces.h"

#include <QObject>

class CaptureSession;
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
// holds with them while the view is frozen. The scope can also draw the first selected channel
// once per source of the universe, from the session's per-source traces.
class ActivityViews : public QObject
{
    Q_OBJECT
    friend class tst_Vardolux;
    friend class tst_Window;

public:
    ActivityViews(QMainWindow *window, Model *model, QTableView *table, CaptureSession *session);

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
    void perSourceToggled(bool on);

private:
    void createActions();
    void createScopeDock();
    QWidget *createScopeControls(QWidget *parent);
    void traceSourcesOf(const QList<int> &channels);
    void createStatusBarButtons();
    void feedActivity(qint64 nowNs);
    void feedTrace(qint64 untilNs);
    QList<int> selectedChannels() const;
    void showMessage(const QString &text, int timeoutMs = 0) const;

    QMainWindow *m_window;
    Model *m_model;
    QTableView *m_table;
    CaptureSession *m_session;
    const FrameHistory *m_history = nullptr;
    quint64 m_historyId = 0;
    quint64 m_activitySerial = 0; // the next frame the activity has not seen
    quint64 m_traceSerial = 0;    // the same for the trace, which a new selection rebuilds
    ChannelActivity m_activity;
    ChannelTrace m_trace;
    SourceTraces m_sourceTraces;

    QAction *m_highlightAction = nullptr;
    QAction *m_resetAction = nullptr;
    QAction *m_exportAction = nullptr;
    QAction *m_perSourceAction = nullptr;
    QDockWidget *m_scopeDock = nullptr;
    ScopeWidget *m_scope = nullptr;
    QComboBox *m_spanBox = nullptr;
};

#endif // ACTIVITYVIEWS_H
