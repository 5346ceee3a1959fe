#ifndef CAPTUREPLAYBACK_H
#define CAPTUREPLAYBACK_H

#include "captureindex.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>

class CapturePlayer;
class CaptureSession;
class PlaybackBar;
class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QProgressBar;
class QThread;
class QPushButton;

// Opening a capture file and playing it through the window's views, the object the window
// makes: Open Capture and Close Capture, the index pass on a worker thread with its progress
// and cancel in the status bar, the Playback toolbar while a capture is open, and the status
// bar's word that the live network is not shown meanwhile.
class CapturePlayback : public QObject
{
    Q_OBJECT

public:
    CapturePlayback(QMainWindow *window, CaptureSession *session);
    ~CapturePlayback() override;

    void addMenuEntries(QMenu *menu);
    QAction *openAction() const { return m_openAction; }
    QAction *closeAction() const { return m_closeAction; }
    PlaybackBar *bar() const { return m_bar; }
    CapturePlayer *player() const { return m_player; }
    QLabel *statusLabel() const { return m_statusLabel; }
    bool opening() const { return m_indexThread != nullptr; }
    // The file that plays; empty while no capture is open.
    QString openCapturePath() const;

    // Reads the file's index on a worker thread, then plays it.
    void openCapture(const QString &path);
    void closeCapture();

signals:
    // Before a capture plays: the session started, with the universe on show recorded.
    void sessionNeeded();

private:
    void createActions();
    void createStatusWidgets();
    void chooseCapture();
    void indexPassEnded();
    void cancelOpening();
    void refresh();
    void reportReadFailure(const QString &error);

    QMainWindow *m_window;
    CaptureSession *m_session;
    CapturePlayer *m_player;
    PlaybackBar *m_bar;
    QAction *m_openAction = nullptr;
    QAction *m_closeAction = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QLabel *m_statusLabel = nullptr;
    QTimer m_refreshTimer; // the progress while opening, the bar while playing

    QThread *m_indexThread = nullptr;
    QString m_openingPath;
    std::atomic<int> m_progressPerMille{0};
    std::atomic_bool m_cancel{false};
    CaptureIndex m_index; // built by the worker until it ends
    bool m_indexBuilt = false;
};

#endif // CAPTUREPLAYBACK_H
