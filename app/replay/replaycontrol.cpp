#include "replaycontrol.h"

#include "networktexts.h"
#include "replaydialog.h"

#include <QAction>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

namespace {

constexpr int RefreshMs = 200;
constexpr int MessageTimeoutMs = 10000;

QString clockText(qint64 ns)
{
    const qint64 seconds = ns / 1'000'000'000;
    return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

ReplayControl::ReplayControl(QMainWindow *window) : QObject(window), m_window(window)
{
    createActions();
    // The status bar made before the window shows, so that it shows with it.
    m_window->statusBar();
    m_timer = new QTimer(this);
    m_timer->setInterval(RefreshMs);
    connect(m_timer, &QTimer::timeout, this, &ReplayControl::refresh);
}

ReplayControl::~ReplayControl()
{
    m_replayer.stop();
}

void ReplayControl::createActions()
{
    m_replayAction = new QAction(tr("&Replay to Network..."), this);
    m_replayAction->setObjectName(QStringLiteral("replayToNetworkAction"));
    m_replayAction->setShortcut(QKeySequence(tr("Ctrl+Shift+P")));
    m_replayAction->setStatusTip(tr("Send the Art-Net and sACN data of a capture file to the "
                                    "network again, spaced as it was captured"));
    connect(m_replayAction, &QAction::triggered, this, &ReplayControl::askAndReplay);
    m_stopAction = new QAction(tr("Stop &Replay"), this);
    m_stopAction->setObjectName(QStringLiteral("stopReplayAction"));
    m_stopAction->setShortcut(QKeySequence(tr("Ctrl+Shift+K")));
    m_stopAction->setStatusTip(tr("Stop sending the capture to the network"));
    m_stopAction->setEnabled(false);
    connect(m_stopAction, &QAction::triggered, this, &ReplayControl::stopReplay);
    // Their shortcuts work before any menu shows them.
    m_window->addAction(m_replayAction);
    m_window->addAction(m_stopAction);
}

// Made at the first replay: until then the status bar holds nothing of the replay's.
void ReplayControl::createStatusWidget()
{
    if (m_statusWidget)
        return;
    m_statusWidget = new QWidget(m_window);
    m_statusWidget->setObjectName(QStringLiteral("replayStatus"));
    m_statusLabel = new QLabel(m_statusWidget);
    m_statusLabel->setObjectName(QStringLiteral("replayStatusLabel"));
    // A file name is the user's text, never markup.
    m_statusLabel->setTextFormat(Qt::PlainText);
    QPalette colours = m_statusLabel->palette();
    colours.setColor(QPalette::WindowText, NetworkTexts::warningColour());
    m_statusLabel->setPalette(colours);
    QFont font = m_statusLabel->font();
    font.setBold(true);
    m_statusLabel->setFont(font);
    auto *stopButton = new QToolButton(m_statusWidget);
    stopButton->setDefaultAction(m_stopAction);
    auto *layout = new QHBoxLayout(m_statusWidget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_statusLabel);
    layout->addWidget(stopButton);
    m_statusWidget->hide();
    m_window->statusBar()->addPermanentWidget(m_statusWidget);
}

void ReplayControl::addMenuEntries(QMenu *menu) const
{
    menu->addSeparator();
    menu->addAction(m_replayAction);
    menu->addAction(m_stopAction);
}

void ReplayControl::setOpenCapture(std::function<QString()> openCapturePath)
{
    m_openCapturePath = std::move(openCapturePath);
}

void ReplayControl::askAndReplay()
{
    const QString open = m_openCapturePath ? m_openCapturePath() : QString();
    ReplayDialog dialog(open.isEmpty() ? m_path : open, CaptureReplayer::availableNetworks(),
                        m_window);
    if (dialog.exec() == QDialog::Accepted)
        startReplay(dialog.options());
}

bool ReplayControl::startReplay(const CaptureReplayer::Options &options)
{
    QString error;
    if (!m_replayer.start(options, &error)) {
        m_window->statusBar()->showMessage(tr("Nothing replayed: %1").arg(error), MessageTimeoutMs);
        return false;
    }
    m_path = options.path;
    m_loop = options.loop;
    createStatusWidget();
    m_stopAction->setEnabled(true);
    refresh();
    m_statusWidget->show();
    m_timer->start();
    return true;
}

void ReplayControl::stopReplay()
{
    m_replayer.stop();
    finish();
}

void ReplayControl::refresh()
{
    const CaptureReplayer::Progress progress = m_replayer.progress();
    if (!progress.running) {
        finish();
        return;
    }
    m_statusLabel->setText(statusText(progress));
}

void ReplayControl::finish()
{
    if (!m_timer->isActive())
        return;
    m_timer->stop();
    m_statusWidget->hide();
    m_stopAction->setEnabled(false);
    const QString name = QFileInfo(m_path).fileName();
    const QString error = m_replayer.errorString();
    m_window->statusBar()->showMessage(error.isEmpty() ? tr("Replay of %1 ended").arg(name)
                                                       : tr("Replay of %1 stopped: %2").arg(name, error),
                                       MessageTimeoutMs);
}

QString ReplayControl::statusText(const CaptureReplayer::Progress &progress) const
{
    const QStringList destinations = m_replayer.destinations();
    QString text = tr("Replaying %1").arg(QFileInfo(m_path).fileName());
    if (!destinations.isEmpty())
        text += tr(" to %1").arg(destinations.join(QStringLiteral(", ")));
    if (progress.durationNs < 0)
        return text + tr(" · reading the capture");
    text += QStringLiteral(" · %1 / %2").arg(clockText(progress.offsetNs), clockText(progress.durationNs));
    if (m_loop)
        text += tr(" · loop %1").arg(progress.pass);
    const QString error = m_replayer.errorString();
    return error.isEmpty() ? text : text + QStringLiteral(" · ") + error;
}
