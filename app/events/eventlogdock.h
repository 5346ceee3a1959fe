#ifndef EVENTLOGDOCK_H
#define EVENTLOGDOCK_H

#include "dmxframe.h"

#include <QDockWidget>
#include <QList>

class EventFilterModel;
class EventLog;
class EventTableModel;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QModelIndex;
class QPoint;
class QTableView;
struct DmxEvent;

// The event log's dock: the events newest first, filtered by kind, universe and text, with how
// many older ones the log let go. It reads the log it is given when refresh() asks it to and
// says by signals what the user wants done with a universe; it holds no engine.
class EventLogDock : public QDockWidget
{
    Q_OBJECT
    friend class tst_EventLogDock;

public:
    explicit EventLogDock(EventLog *log, QWidget *parent = nullptr);

    EventTableModel *model() const { return m_model; }
    // Takes in what the log gained and lost since; cheap when nothing did.
    void refresh(UniverseKey universeOnShow);
    // The events the filter shows, oldest first, to a CSV file.
    bool exportCsv(const QString &fileName, QString *errorString) const;

signals:
    // The user asked to see this universe in the channel table.
    void universeChosen(UniverseKey universe);
    void watchRequested(UniverseKey universe);
    void clearRequested();

private:
    QWidget *createControls();
    QTableView *createTable();
    void showContextMenu(const QPoint &position);
    void rowActivated(const QModelIndex &proxyIndex);
    const DmxEvent *eventAtProxyRow(int row) const;
    void copySelection() const;
    void chooseExportFile();
    void updateCount();

    EventTableModel *m_model;
    EventFilterModel *m_filter = nullptr;
    QTableView *m_view = nullptr;
    QComboBox *m_kindBox = nullptr;
    QLineEdit *m_universeEdit = nullptr;
    QLineEdit *m_textEdit = nullptr;
    QLabel *m_count = nullptr;
    quint64 m_countedSerial = ~quint64(0);
    int m_countedRows = -1;
};

#endif // EVENTLOGDOCK_H
