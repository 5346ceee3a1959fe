#ifndef VARDOLUX_H
#define VARDOLUX_H

#include "dmxframe.h"

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QString>

#include <memory>

class QAction;
class QCloseEvent;
class QLabel;
class QMenu;
class QSpinBox;
class QTableView;
class QTimer;
class QToolBar;
class Model;
class MergeView;
class ReplayControl;
class NetworkDock;
class CommandKeys;
class NetworkView;
class PortNotes;
class ProtocolBar;
class LevelsBar;
class UniverseIndicator;
class artnet;
class ActivityViews;
class CaptureControl;
class CaptureSession;
class CapturePlayback;
class EventLogView;
class PhoneViewControl;

// The main window: the channel table of one universe and every command of the program.
class Vardolux : public QMainWindow
{
    Q_OBJECT
    friend class tst_EventLogDock;
    friend class tst_MergedLevels;
    friend class tst_Vardolux;
    friend class tst_Window;
    friend class WindowFixture;
    friend class PeerWindowFixture;

public:
    Vardolux();
    ~Vardolux() override;

    QMenu *createPopupMenu() override;

public slots:
    // Shows that universe in the table, in its protocol; an Art-Net one sets the universe box.
    void showUniverse(UniverseKey key);

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void newFile();
    void open();
    bool save();
    bool saveAs();
    bool send();
    bool record();
    void recordDataTimeOut();
    bool stop();
    bool freeze();
    bool optimize();
    bool setUniverse(int Universe);
    void pollMode();
    void viewDecimal();
    void viewPercent();
    void viewHex();
    void viewBar();
    void help();
    void about();
    void documentWasModified();
    void followUniverseOnShow();

private:
    // A command's toggle state: none, or a toggle that starts off or on.
    enum class CheckMark { None, Off, On };

    // One command of the window, a child of it: `image` names its toolbar image (none for
    // nullptr), an empty shortcut leaves it without one.
    template <typename Slot>
    QAction *createAction(const char *name, const char *image, const QString &text,
                          const QString &shortcut, const QString &statusTip, Slot slot,
                          CheckMark check = CheckMark::None);
    void createActions();
    void createUniverseBox();
    void createProtocolBar();
    QMenu *createMenu(const QString &title, const char *name, const QList<QAction *> &actions);
    void createMenus();
    QToolBar *createToolBar(const QString &title, const char *name,
                            const QList<QAction *> &actions);
    void createToolBars();
    void createStatusBar();
    void createActivityViews();
    void readSettings();
    void writeSettings();
    bool ensureEngine();
    void showFrame(const unsigned char *data, quint16 length);
    bool saveFile(const QString &fileName);
    void loadFile(const QString &fileName);
    void setCurrentFile(const QString &fileName);
    QString strippedName(const QString &fullFileName);

    // The levels on show, channel 1 first, one byte per cell; a cell without a level counts as
    // 0. The result is as long as the last cell that holds a level, or all cells with allCells.
    QByteArray levelsOnShow(bool allCells) const;
    // Hands one frame to the engine for sending and repeating; says in the status bar why when
    // nothing can go out.
    bool sendFrame(const QByteArray &frame);
    void reportPortFailure();
    // The port opened: a stale failure message goes, and sharing it is said once.
    void reportPortOpened();
    // The port of the protocol on show, for recording.
    void openRecordingPort();
    // Names the universe the engine repeats and the networks it reaches; hidden when nothing is.
    void updateSendingNote();
    void stretchLastColumn();
    // Checks the one of Record, Send and Stop that is running.
    void checkRunCommand(const QAction *running);
    // Shows the table in `mode` (a Model::ViewMode) and checks that mode's command alone.
    void switchViewMode(int mode);

    void createNetworkView();
    void createEventLogView();
    void createEventDetection();

    Model *model = nullptr;
    QTableView *tableView = nullptr;
    QString currentFile;

    QMenu *fileMenu = nullptr;
    QMenu *runMenu = nullptr;
    QMenu *toolsMenu = nullptr;
    QMenu *viewMenu = nullptr;
    QMenu *helpMenu = nullptr;
    QToolBar *fileToolBar = nullptr;
    QToolBar *runToolBar = nullptr;
    QToolBar *toolsToolBar = nullptr;
    QToolBar *viewToolBar = nullptr;
    QToolBar *helpToolBar = nullptr;

    QAction *newAction = nullptr;
    QAction *openAction = nullptr;
    QAction *saveAction = nullptr;
    QAction *saveAsAction = nullptr;
    QAction *sendAction = nullptr;
    QAction *recordAction = nullptr;
    QAction *stopAction = nullptr;
    QAction *freezeAction = nullptr;
    QAction *optimizeAction = nullptr;
    QSpinBox *universeSpinBox = nullptr;
    CommandKeys *commandKeys = nullptr;
    ProtocolBar *protocolBar = nullptr;
    QAction *pollModeAction = nullptr;
    QAction *viewDecimalAction = nullptr;
    QAction *viewPercentAction = nullptr;
    QAction *viewHexAction = nullptr;
    QAction *viewBarAction = nullptr;
    QAction *exitAction = nullptr;
    QAction *helpAction = nullptr;
    QAction *aboutAction = nullptr;
    QAction *aboutQtAction = nullptr;

    // What the commands ask of the network goes through the session; engine is the session's
    // Art-Net engine once made, for those that need the class itself.
    std::unique_ptr<CaptureSession> session;
    artnet *engine = nullptr;
    QTimer *recordTimer = nullptr;
    unsigned char *frameBuffer = nullptr;
    quint16 frameLength = 0;
    bool frozen = false;
    bool sending = false;
    QLabel *sendingLabel = nullptr;
    std::unique_ptr<PortNotes> portNotes;
    ActivityViews *activityViews = nullptr;
    LevelsBar *levelsBar = nullptr;

    // The network view, and its parts that the window's tests reach.
    NetworkView *networkView = nullptr;
    NetworkDock *networkDock = nullptr;
    UniverseIndicator *universeIndicator = nullptr;
    QAction *networkViewAction = nullptr;
    QTimer *networkTimer = nullptr;
    MergeView *mergeView = nullptr;
    CapturePlayback *capturePlayback = nullptr;
    CaptureControl *captureControl = nullptr;
    ReplayControl *replayControl = nullptr;
    EventLogView *eventLogView = nullptr;
    PhoneViewControl *phoneViewControl = nullptr;
};

#endif // VARDOLUX_H
