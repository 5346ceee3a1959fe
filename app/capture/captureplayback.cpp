#include "captureplayback.h"

#include "capturesession.h"
#include "captureplayer.h"
#include "playbackbar.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>

#include <algorithm>

namespace {

constexpr int RefreshIntervalMs = 100;
constexpr int MessageTimeoutMs = 10000;

} // namespace

CapturePlayback::CapturePlayback(QMainWindow *window, CaptureSession *session)
    : QObject(window),
      m_window(window),
      m_session(session),
      m_player(new CapturePlayer(session, this)),
      m_bar(new PlaybackBar(m_player, window))
{
    createActions();
    createStatusWidgets();
    // A row of its own: the timeline needs the room.
    window->addToolBarBreak();
    window->addToolBar(m_bar);
    m_bar->hide();
    // Not among the toolbars the user may show: it has nothing to do without a capture.
    m_bar->toggleViewAction()->setVisible(false);
    connect(m_player, &CapturePlayer::stateChanged, this, &CapturePlayback::refresh);
    connect(m_player, &CapturePlayer::readFailed, this, &CapturePlayback::reportReadFailure);
    connect(&m_refreshTimer, &QTimer::timeout, this, &CapturePlayback::refresh);
}

CapturePlayback::~CapturePlayback()
{
    if (m_indexThread) {
        m_cancel = true;
        m_indexThread->wait();
        delete m_indexThread;
    }
}

void CapturePlayback::createActions()
{
    m_openAction = new QAction(tr("&Open Capture..."), this);
    m_openAction->setObjectName(QStringLiteral("openCaptureAction"));
    m_openAction->setShortcut(QKeySequence(tr("Ctrl+Shift+O")));
    m_openAction->setStatusTip(tr("Play a capture file (pcap, pcapng) through the views"));
    connect(m_openAction, &QAction::triggered, this, &CapturePlayback::chooseCapture);
    m_closeAction = new QAction(tr("&Close Capture"), this);
    m_closeAction->setObjectName(QStringLiteral("closeCaptureAction"));
    m_closeAction->setShortcut(QKeySequence(tr("Ctrl+Shift+W")));
    m_closeAction->setStatusTip(tr("Close the capture and show the live network again"));
    m_closeAction->setEnabled(false);
    connect(m_closeAction, &QAction::triggered, this, &CapturePlayback::closeCapture);
    // Their shortcuts work wherever the window has the focus, menu or not.
    m_window->addAction(m_openAction);
    m_window->addAction(m_closeAction);
}

void CapturePlayback::createStatusWidgets()
{
    m_progress = new QProgressBar(m_window);
    m_progress->setObjectName(QStringLiteral("captureProgress"));
    m_progress->setRange(0, 1000);
    m_progress->setFormat(tr("Opening capture: %p%"));
    m_progress->hide();
    m_cancelButton = new QPushButton(m_window);
    m_cancelButton->setObjectName(QStringLiteral("cancelCaptureButton"));
    m_cancelButton->setText(tr("Cancel"));
    m_cancelButton->setToolTip(tr("Stop opening the capture"));
    m_cancelButton->hide();
    connect(m_cancelButton, &QPushButton::clicked, this, &CapturePlayback::cancelOpening);
    m_statusLabel = new QLabel(m_window);
    m_statusLabel->setObjectName(QStringLiteral("captureStatusLabel"));
    m_statusLabel->setTextFormat(Qt::PlainText);
    m_statusLabel->hide();
    m_window->statusBar()->addPermanentWidget(m_statusLabel);
    m_window->statusBar()->addPermanentWidget(m_progress);
    m_window->statusBar()->addPermanentWidget(m_cancelButton);
}

void CapturePlayback::addMenuEntries(QMenu *menu)
{
    menu->addSeparator();
    menu->addAction(m_openAction);
    menu->addAction(m_closeAction);
}

void CapturePlayback::chooseCapture()
{
    const QString path = QFileDialog::getOpenFileName(
            m_window, tr("Open Capture"), QString(),
            tr("Captures (*.pcapng *.pcap *.cap);; All Files (*)"));
    if (!path.isEmpty())
        openCapture(path);
}

QString CapturePlayback::openCapturePath() const
{
    return m_player->state() == CapturePlayer::State::Closed ? QString() : m_openingPath;
}

void CapturePlayback::openCapture(const QString &path)
{
    if (m_indexThread)
        return;
    m_openingPath = path;
    m_progressPerMille = 0;
    m_cancel = false;
    m_indexThread = QThread::create([this, path] {
        m_indexBuilt = m_index.build(
                path,
                [this](qint64 bytesRead, qint64 fileSize) {
                    m_progressPerMille = int(bytesRead * 1000 / std::max<qint64>(1, fileSize));
                },
                &m_cancel);
    });
    connect(m_indexThread, &QThread::finished, this, &CapturePlayback::indexPassEnded);
    m_openAction->setEnabled(false);
    m_progress->setValue(0);
    m_progress->show();
    m_cancelButton->show();
    m_refreshTimer.start(RefreshIntervalMs);
    m_indexThread->start();
}

void CapturePlayback::cancelOpening()
{
    m_cancel = true;
}

void CapturePlayback::indexPassEnded()
{
    m_indexThread->deleteLater();
    m_indexThread = nullptr;
    m_progress->hide();
    m_cancelButton->hide();
    m_openAction->setEnabled(true);
    CaptureIndex index = std::move(m_index);
    m_index = CaptureIndex();
    const QString name = QFileInfo(m_openingPath).fileName();
    if (m_cancel) {
        m_window->statusBar()->showMessage(tr("Opening %1 cancelled").arg(name), MessageTimeoutMs);
        refresh();
        return;
    }
    if (!m_indexBuilt) {
        QMessageBox::warning(m_window, tr("Open Capture"),
                             tr("Cannot open capture %1:\n%2").arg(name, index.errorString()),
                             QMessageBox::Ok);
        refresh();
        return;
    }
    if (index.datagrams() == 0) {
        QMessageBox::warning(m_window, tr("Open Capture"),
                             tr("Capture %1 holds no Art-Net or sACN packet.").arg(name),
                             QMessageBox::Ok);
        refresh();
        return;
    }
    const QString readError = index.errorString();
    emit sessionNeeded();
    if (!m_player->open(m_openingPath, std::move(index))) {
        QMessageBox::warning(m_window, tr("Open Capture"),
                             tr("Cannot open capture %1:\n%2").arg(name, m_player->errorString()),
                             QMessageBox::Ok);
    } else if (!readError.isEmpty()) {
        reportReadFailure(readError);
    }
    refresh();
}

void CapturePlayback::closeCapture()
{
    m_player->close();
    refresh();
}

void CapturePlayback::reportReadFailure(const QString &error)
{
    m_window->statusBar()->showMessage(tr("The capture ends early: %1").arg(error));
}

void CapturePlayback::refresh()
{
    if (m_indexThread)
        m_progress->setValue(m_progressPerMille.load());
    const bool open = m_player->isOpen();
    m_closeAction->setEnabled(open);
    m_bar->setVisible(open);
    m_statusLabel->setVisible(open);
    if (!open) {
        if (!m_indexThread)
            m_refreshTimer.stop();
        return;
    }
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start(RefreshIntervalMs);
    m_bar->refresh();
    const QString name = QFileInfo(m_openingPath).fileName();
    switch (m_player->state()) {
    case CapturePlayer::State::Playing:
        m_statusLabel->setText(tr("Playing capture: %1 — live network not shown").arg(name));
        break;
    case CapturePlayer::State::AtEnd:
        m_statusLabel->setText(tr("At the end of capture: %1 — live network not shown").arg(name));
        break;
    default:
        m_statusLabel->setText(tr("Paused capture: %1 — live network not shown").arg(name));
        break;
    }
}
