#ifndef VARDOLUX_H
#define VARDOLUX_H

#include <QByteArray>
#include <QMainWindow>
#include <QString>

class QAction;
class QCloseEvent;
class QLabel;
class QKeyEvent;
class QMenu;
class QSpinBox;
class QTableView;
class QTimer;
class QToolBar;
class Model;
class NetworkDock;
class UniverseIndicator;
class artnet;
class ActivityViews;

// The main window: the channel table of one universe and every command of the program.
class Vardolux : public QMainWindow
{
    Q_OBJECT
    friend class tst_Vardolux;
    friend class tst_Window;
    friend class WindowFixture;

public:
    Vardolux();
    ~Vardolux() override;

    QMenu *createPopupMenu() override;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

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

private:
    void createActions();
    void createMenus();
    void createToolBars();
    void createStatusBar();
    void createActivityViews();
    void addActivityMenuEntries(QMenu *menu);
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
    // Names the universe the engine repeats and the networks it reaches; hidden when nothing is.
    void updateSendingNote();
    void stretchLastColumn();
    bool isCommandShortcut(const QKeyEvent *event) const;

    // The network view: a dock of the census, the status bar's word on the universe on show,
    // F6, and their entries in the window's context menu.
    void createNetworkView();
    void addNetworkViewEntries(QMenu *menu);
    void setNetworkViewOpen(bool open);
    void refreshNetworkView();

    Model *model;
    QTableView *tableView;
    QString currentFile;

    QMenu *fileMenu;
    QMenu *runMenu;
    QMenu *toolsMenu;
    QMenu *viewMenu;
    QMenu *helpMenu;
    QToolBar *fileToolBar;
    QToolBar *runToolBar;
    QToolBar *toolsToolBar;
    QToolBar *viewToolBar;
    QToolBar *helpToolBar;

    QAction *newAction;
    QAction *openAction;
    QAction *saveAction;
    QAction *saveAsAction;
    QAction *sendAction;
    QAction *recordAction;
    QAction *stopAction;
    QAction *freezeAction;
    QAction *optimizeAction;
    QSpinBox *universeSpinBox;
    QAction *pollModeAction;
    QAction *viewDecimalAction;
    QAction *viewPercentAction;
    QAction *viewHexAction;
    QAction *viewBarAction;
    QAction *exitAction;
    QAction *helpAction;
    QAction *aboutAction;
    QAction *aboutQtAction;

    artnet *engine;
    QTimer *recordTimer;
    unsigned char *frameBuffer;
    quint16 frameLength;
    bool frozen;
    bool sending;
    QLabel *sendingLabel = nullptr;
    bool sharedPortReported = false;
    ActivityViews *activityViews;

    NetworkDock *networkDock = nullptr;
    UniverseIndicator *universeIndicator = nullptr;
    QAction *networkViewAction = nullptr;
    QTimer *networkTimer = nullptr;
    bool networkViewOpen = false;
};

#endif // VARDOLUX_H
