#ifndef REPLAYCONTROL_H
#define REPLAYCONTROL_H

#include "capturereplayer.h"

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QTimer;
class QWidget;

// Replaying a capture to the network from the window: "Replay to Network..." (Ctrl+Shift+P)
// asks what to replay, "Stop Replay" (Ctrl+Shift+K) ends it, and while it transmits a status-bar
// widget in the warning colour says what goes where, how far and which pass, with a Stop button.
// Nothing is sent until the user asks; the replay ends with the window.
class ReplayControl : public QObject
{
    Q_OBJECT

public:
    explicit ReplayControl(QMainWindow *window);
    ~ReplayControl() override;

    void addMenuEntries(QMenu *menu) const;
    // What the dialog proposes before the file replayed last: the capture open in the window.
    void setOpenCapture(std::function<QString()> openCapturePath);
    QAction *replayAction() const { return m_replayAction; }
    QAction *stopAction() const { return m_stopAction; }

    // Starts a replay as the dialog would; false with the reason in the status bar.
    bool startReplay(const CaptureReplayer::Options &options);

public slots:
    void askAndReplay();
    void stopReplay();

private:
    void createActions();
    void createStatusWidget();
    void refresh();
    void finish();
    QString statusText(const CaptureReplayer::Progress &progress) const;

    QMainWindow *m_window;
    CaptureReplayer m_replayer;
    QAction *m_replayAction = nullptr;
    QAction *m_stopAction = nullptr;
    QWidget *m_statusWidget = nullptr;
    QLabel *m_statusLabel = nullptr;
    QTimer *m_timer = nullptr;
    QString m_path;
    std::function<QString()> m_openCapturePath;
    bool m_loop = false;
};

#endif // REPLAYCONTROL_H
