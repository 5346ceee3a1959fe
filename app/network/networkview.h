#ifndef NETWORKVIEW_H
#define NETWORKVIEW_H

#include "dmxframe.h"

#include <QObject>

class CaptureSession;
class NetworkDock;
class QAction;
class QMainWindow;
class QMenu;
class QSpinBox;
class QTimer;
class UniverseIndicator;

// What is on the network: the dock of the census, the status bar's word on the universe on
// show (the session's, in either protocol), and F6, which is the dock's own toggle action.
// While the dock is open the session listens and polls for nodes; every refresh hands the dock
// a snapshot of the census.
class NetworkView : public QObject
{
    Q_OBJECT

public:
    // universeBox: the spin box of the Art-Net universe, which a double-click on an Art-Net
    // universe in the dock sets.
    NetworkView(QMainWindow *window, CaptureSession *session, QSpinBox *universeBox);

    void addMenuEntries(QMenu *menu) const;
    QAction *toggleAction() const;
    NetworkDock *dock() const { return m_dock; }
    UniverseIndicator *indicator() const { return m_indicator; }
    QTimer *refreshTimer() const { return m_timer; }

public slots:
    // Shows the session's universe on show in the indicator and, while open, the census in the
    // dock; the window calls it when the protocol on show changes.
    void refresh();

signals:
    // The user asked to see this universe, of either protocol, in the channel table (an Art-Net
    // one has set the spin box already).
    void universeChosen(UniverseKey universe);
    // Right before the session is asked to listen: it needs its engine, set up as the
    // window's commands set it up.
    void sessionNeeded();
    // The port could not be opened for listening.
    void portUnavailable();

private slots:
    void openChanged(bool open);
    void showSourcesOf(UniverseKey universe);
    void chooseUniverse(UniverseKey universe);
    void forgetSilent();
    void indicatorClicked();

private:
    void createDock();
    void createIndicator();

    QMainWindow *m_window;
    CaptureSession *m_session;
    QSpinBox *m_universeBox;
    NetworkDock *m_dock = nullptr;
    UniverseIndicator *m_indicator = nullptr;
    QTimer *m_timer = nullptr;
};

#endif // NETWORKVIEW_H
