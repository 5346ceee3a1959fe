#ifndef CAPTURECONTROL_H
#define CAPTURECONTROL_H

#include "capturefilewriter.h"

#include <QObject>
#include <QString>
#include <QtGlobal>

class CaptureSession;
class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QTimer;

// Capturing the network to a pcap file: the Capture menu (before the one given, Help), its
// commands, the same entries for the context menu, and the status-bar label that shows the
// running capture's file, duration and size, or why the last one ended by itself.
class CaptureControl : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultSizeLimitMiB = 4096;

    CaptureControl(QMainWindow *window, CaptureSession *session, QMenu *menuAfter);

    // The Capture menu, for those that add their own capture commands to it.
    QMenu *menu() const { return m_menu; }
    void addMenuEntries(QMenu *menu) const;
    QAction *startAction() const { return m_startAction; }
    QAction *stopAction() const { return m_stopAction; }
    QAction *sizeLimitAction() const { return m_sizeLimitAction; }
    QLabel *statusLabel() const { return m_label; }
    // The running capture's, or the last one's.
    CaptureFileWriter::Status captureStatus() const;
    // From the settings (group capture), in bytes.
    quint64 sizeLimitBytes() const;

public slots:
    // Starts capturing to the file (replacing it); false when it cannot be written, which the
    // status bar then says.
    bool startCaptureTo(const QString &path);
    void stopCapture();
    // Shows the running capture's progress; ends a capture that ended by itself.
    void refresh();

signals:
    // Right before the session is asked to capture: it needs its engine.
    void sessionNeeded();

private slots:
    void chooseFileAndStart();
    void chooseSizeLimit();

private:
    void createActions();
    void createMenu(QMenu *menuAfter);
    void createStatusLabel();
    void showEnding();
    void setWarning(bool on);

    QMainWindow *m_window;
    CaptureSession *m_session;
    QMenu *m_menu = nullptr;
    QAction *m_startAction = nullptr;
    QAction *m_stopAction = nullptr;
    QAction *m_sizeLimitAction = nullptr;
    QLabel *m_label = nullptr;
    QTimer *m_timer = nullptr;
};

#endif // CAPTURECONTROL_H
