#include "capturecontrol.h"

#include "capturesession.h"
#include "menuplacement.h"
#include "networktexts.h"
#include "programinfo.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QMainWindow>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>
#include <QTime>
#include <QTimer>

namespace {

constexpr int RefreshMs = 1000;
constexpr int ConfirmationTimeoutMs = 5000;
constexpr QLatin1StringView SizeLimitKey("capture/sizeLimitMiB");
constexpr QLatin1StringView FolderKey("capture/folder");

QString sizeText(quint64 bytes)
{
    return QLocale().formattedDataSize(qint64(bytes), 1, QLocale::DataSizeSIFormat);
}

QString durationText(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(0, ms / 1000);
    return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

CaptureControl::CaptureControl(QMainWindow *window, CaptureSession *session, QMenu *menuAfter)
    : QObject(window), m_window(window), m_session(session)
{
    createActions();
    createMenu(menuAfter);
    createStatusLabel();
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &CaptureControl::refresh);
}

void CaptureControl::createActions()
{
    m_startAction = new QAction(tr("&Start Capture..."), m_window);
    m_startAction->setObjectName(QStringLiteral("startCaptureAction"));
    m_startAction->setShortcut(QKeySequence(tr("Ctrl+Shift+R")));
    m_startAction->setStatusTip(tr("Write every Art-Net and sACN datagram received to a capture "
                                   "file"));
    connect(m_startAction, &QAction::triggered, this, &CaptureControl::chooseFileAndStart);

    m_stopAction = new QAction(tr("St&op Capture"), m_window);
    m_stopAction->setObjectName(QStringLiteral("stopCaptureAction"));
    m_stopAction->setShortcut(QKeySequence(tr("Ctrl+Shift+T")));
    // Enabled at all times, as Stop is: without a capture it does nothing.
    m_stopAction->setStatusTip(tr("End the capture and close its file"));
    connect(m_stopAction, &QAction::triggered, this, &CaptureControl::stopCapture);

    m_sizeLimitAction = new QAction(tr("Capture Size &Limit..."), m_window);
    m_sizeLimitAction->setObjectName(QStringLiteral("captureSizeLimitAction"));
    m_sizeLimitAction->setStatusTip(tr("Set the size at which a capture ends"));
    connect(m_sizeLimitAction, &QAction::triggered, this, &CaptureControl::chooseSizeLimit);

    // Window actions, so that the shortcuts work wherever the focus is.
    m_window->addActions({m_startAction, m_stopAction, m_sizeLimitAction});
}

void CaptureControl::createMenu(QMenu *menuAfter)
{
    m_menu = new QMenu(tr("&Capture"), m_window);
    m_menu->setObjectName(QStringLiteral("captureMenu"));
    m_menu->addActions({m_startAction, m_stopAction});
    m_menu->addSeparator();
    m_menu->addAction(m_sizeLimitAction);
    insertMenuBefore(m_window, m_menu, menuAfter);
}

void CaptureControl::createStatusLabel()
{
    m_label = new QLabel(m_window);
    m_label->setObjectName(QStringLiteral("captureLabel"));
    m_label->setTextFormat(Qt::PlainText);
    m_label->hide();
    m_window->statusBar()->addPermanentWidget(m_label);
}

void CaptureControl::addMenuEntries(QMenu *menu) const
{
    menu->addSeparator();
    menu->addActions({m_startAction, m_stopAction, m_sizeLimitAction});
}

CaptureFileWriter::Status CaptureControl::captureStatus() const
{
    return m_session->captureStatus();
}

quint64 CaptureControl::sizeLimitBytes() const
{
    const QSettings settings(ProgramInfo::settingsOrganisation(), ProgramInfo::name());
    const qint64 mib = settings.value(SizeLimitKey, DefaultSizeLimitMiB).toLongLong();
    return quint64(std::max<qint64>(1, mib)) << 20;
}

void CaptureControl::chooseFileAndStart()
{
    QSettings settings(ProgramInfo::settingsOrganisation(), ProgramInfo::name());
    const QString folder = settings.value(FolderKey, QDir::homePath()).toString();
    const QString proposed = QDir(folder).filePath(
            QStringLiteral("vardolux-%1.pcap")
                    .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    const QString path = QFileDialog::getSaveFileName(
            m_window, tr("Start Capture"), proposed, tr("Capture Files (*.pcap);; All Files (*.*)"));
    if (path.isEmpty())
        return;
    settings.setValue(FolderKey, QFileInfo(path).absolutePath());
    startCaptureTo(path);
}

void CaptureControl::chooseSizeLimit()
{
    bool ok = false;
    const int mib = QInputDialog::getInt(
            m_window, tr("Capture Size Limit"),
            tr("A capture ends before its file passes (MiB; 1024 MiB = 1 GiB):"),
            int(sizeLimitBytes() >> 20), 1, std::numeric_limits<int>::max(), 1024, &ok);
    if (ok) {
        QSettings settings(ProgramInfo::settingsOrganisation(), ProgramInfo::name());
        settings.setValue(SizeLimitKey, mib);
    }
}

bool CaptureControl::startCaptureTo(const QString &path)
{
    emit sessionNeeded();
    const bool started = m_session->startCapture(path, sizeLimitBytes());
    if (started)
        m_timer->start(RefreshMs);
    refresh();
    if (!started)
        showEnding();
    return started;
}

void CaptureControl::stopCapture()
{
    if (!m_session->capturing())
        return;
    m_session->stopCapture();
    m_timer->stop();
    const CaptureFileWriter::Status status = m_session->captureStatus();
    m_label->hide();
    m_window->statusBar()->showMessage(
            tr("Capture written: %1 (%2 datagrams, %3)")
                    .arg(QFileInfo(status.path).fileName())
                    .arg(status.datagrams)
                    .arg(sizeText(status.bytesWritten)),
            ConfirmationTimeoutMs);
}

void CaptureControl::refresh()
{
    const CaptureFileWriter::Status status = m_session->captureStatus();
    if (m_session->capturing() && status.ending != CaptureFileWriter::Ending::Running) {
        m_session->stopCapture();
        m_timer->stop();
        showEnding();
        return;
    }
    if (!m_session->capturing())
        return;
    setWarning(false);
    m_label->setText(tr("Capturing: %1 · %2 · %3")
                             .arg(QFileInfo(status.path).fileName(),
                                  durationText(QDateTime::currentMSecsSinceEpoch() - status.startedMs),
                                  sizeText(status.bytesWritten)));
    m_label->setToolTip(tr("%1\n%2 datagrams written, %3 not captured")
                                .arg(QDir::toNativeSeparators(status.path))
                                .arg(status.datagrams)
                                .arg(status.notCaptured));
    m_label->show();
}

// Stays until the next capture: a capture that ended unattended must still say why when the
// user looks.
void CaptureControl::showEnding()
{
    const CaptureFileWriter::Status status = m_session->captureStatus();
    if (status.ending == CaptureFileWriter::Ending::SizeLimit)
        m_label->setText(tr("Capture ended: size limit reached · %1 · %2")
                                 .arg(QFileInfo(status.path).fileName(),
                                      sizeText(status.bytesWritten)));
    else
        m_label->setText(status.error);
    m_label->setToolTip(tr("%1\n%2 datagrams written, %3 not captured")
                                .arg(QDir::toNativeSeparators(status.path))
                                .arg(status.datagrams)
                                .arg(status.notCaptured));
    setWarning(true);
    m_label->show();
}

void CaptureControl::setWarning(bool on)
{
    QPalette colours;
    if (on) {
        colours = m_label->palette();
        colours.setColor(QPalette::WindowText, NetworkTexts::warningColour());
    }
    m_label->setPalette(colours);
}
