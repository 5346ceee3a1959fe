#include "activityviews.h"

#include "atomicsave.h"
#include "capturesession.h"
#include "framehistory.h"
#include "historycsv.h"
#include "model.h"
#include "monotonicclock.h"
#include "scopewidget.h"
#include "tintedselectiondelegate.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDockWidget>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int ConfirmationTimeoutMs = 2000;
constexpr int SpanChoices[] = {10, 30, 60};

} // namespace

ActivityViews::ActivityViews(QMainWindow *window, Model *model, QTableView *table,
                             CaptureSession *session)
    : QObject(window), m_window(window), m_model(model), m_table(table), m_session(session)
{
    createActions();
    createScopeDock();
    createStatusBarButtons();
    m_model->setActivity(&m_activity);
    m_table->setItemDelegate(new TintedSelectionDelegate(m_table));
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ActivityViews::selectionChanged);
}

void ActivityViews::createActions()
{
    m_highlightAction = new QAction(tr("Highlight &Changes"), this);
    m_highlightAction->setObjectName(QStringLiteral("highlightAction"));
    m_highlightAction->setIconText(tr("Changes"));
    m_highlightAction->setShortcut(QKeySequence(tr("F7")));
    m_highlightAction->setStatusTip(tr("Tint each channel by how recently its level changed"));
    m_highlightAction->setCheckable(true);
    connect(m_highlightAction, &QAction::toggled, this, &ActivityViews::highlightToggled);

    m_resetAction = new QAction(tr("&Reset Changes"), this);
    m_resetAction->setObjectName(QStringLiteral("resetActivityAction"));
    m_resetAction->setShortcut(QKeySequence(tr("Shift+F7")));
    m_resetAction->setStatusTip(tr("Count changes, minimum and maximum from now on"));
    connect(m_resetAction, &QAction::triggered, this, &ActivityViews::resetActivity);

    m_exportAction = new QAction(tr("&Export History..."), this);
    m_exportAction->setObjectName(QStringLiteral("exportHistoryAction"));
    m_exportAction->setShortcut(QKeySequence(tr("Ctrl+Shift+E")));
    m_exportAction->setStatusTip(
            tr("Save the last 60 s of the selected channels, or of all, as CSV"));
    connect(m_exportAction, &QAction::triggered, this, &ActivityViews::exportHistory);

    m_perSourceAction = new QAction(tr("Each &Source"), this);
    m_perSourceAction->setObjectName(QStringLiteral("scopePerSourceAction"));
    m_perSourceAction->setStatusTip(tr("Plot the first selected channel once per source that "
                                       "sends the universe, each in its own colour"));
    m_perSourceAction->setCheckable(true);
    connect(m_perSourceAction, &QAction::toggled, this, &ActivityViews::perSourceToggled);

    // Shortcuts only; the menus and toolbars keep their commands.
    m_window->addAction(m_highlightAction);
    m_window->addAction(m_resetAction);
    m_window->addAction(m_exportAction);
}

void ActivityViews::createScopeDock()
{
    m_scopeDock = new QDockWidget(tr("Scope"), m_window);
    m_scopeDock->setObjectName(QStringLiteral("scopeDock"));
    auto *content = new QWidget(m_scopeDock);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(createScopeControls(content));
    m_scope = new ScopeWidget(&m_trace, content);
    m_scope->setObjectName(QStringLiteral("scopeWidget"));
    m_scope->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_scope->addAction(m_perSourceAction);
    layout->addWidget(m_scope, 1);
    m_scopeDock->setWidget(content);
    m_window->addDockWidget(Qt::BottomDockWidgetArea, m_scopeDock);
    m_scopeDock->hide();
    connect(m_spanBox, &QComboBox::currentIndexChanged, this, &ActivityViews::spanChosen);

    QAction *toggle = m_scopeDock->toggleViewAction();
    toggle->setObjectName(QStringLiteral("scopeAction"));
    toggle->setShortcut(QKeySequence(tr("F8")));
    toggle->setStatusTip(tr("Plot the levels of up to 8 selected channels over time"));
    m_window->addAction(toggle);
}

QWidget *ActivityViews::createScopeControls(QWidget *parent)
{
    auto *controls = new QWidget(parent);
    auto *layout = new QHBoxLayout(controls);
    layout->setContentsMargins(0, 0, 0, 0);
    m_spanBox = new QComboBox(controls);
    m_spanBox->setObjectName(QStringLiteral("scopeSpanBox"));
    for (int seconds : SpanChoices)
        m_spanBox->addItem(tr("last %1 s").arg(seconds), seconds);
    m_spanBox->setStatusTip(tr("How far back the scope shows"));
    layout->addWidget(m_spanBox);
    auto *perSource = new QToolButton(controls);
    perSource->setDefaultAction(m_perSourceAction);
    perSource->setToolButtonStyle(Qt::ToolButtonTextOnly);
    layout->addWidget(perSource);
    layout->addStretch();
    return controls;
}

void ActivityViews::createStatusBarButtons()
{
    auto *buttons = new QWidget(m_window->statusBar());
    buttons->setObjectName(QStringLiteral("activityButtons"));
    auto *layout = new QHBoxLayout(buttons);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    for (QAction *action : {m_highlightAction, m_scopeDock->toggleViewAction()}) {
        auto *button = new QToolButton(buttons);
        button->setDefaultAction(action);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setAutoRaise(true);
        layout->addWidget(button);
    }
    m_window->statusBar()->addPermanentWidget(buttons);
}

void ActivityViews::addMenuEntries(QMenu *menu) const
{
    // The scope's entry is among the docks that the main window lists itself.
    menu->addSeparator();
    menu->addAction(m_highlightAction);
    menu->addAction(m_resetAction);
    menu->addAction(m_exportAction);
}

void ActivityViews::refresh(const FrameHistory *history)
{
    m_model->setActivity(&m_activity);
    // Each protocol keeps a history of its own, whose serials and ids say nothing of the other's.
    const bool another = history != m_history;
    m_history = history;
    if (!history)
        return;
    if (another || history->historyId() != m_historyId) {
        m_historyId = history->historyId();
        m_activity.reset();
        m_trace.clear();
        m_activitySerial = m_traceSerial = 0;
    }
    const qint64 now = history->clockNs();
    feedActivity(now);
    feedTrace(now);
    if (m_perSourceAction->isChecked())
        m_sourceTraces.refresh(*m_session, now);
    m_activity.tick(now, MonotonicClock::wallClockMs());
    m_scope->setNow(now);
}

void ActivityViews::forget()
{
    m_model->setActivity(nullptr);
    // The sources of another universe, or of none.
    m_sourceTraces.clear();
    m_scope->update();
}

void ActivityViews::feedActivity(qint64 nowNs)
{
    const quint64 end = m_history->endSerial();
    for (quint64 serial = std::max(m_activitySerial, m_history->firstSerial(nowNs)); serial < end;
         ++serial)
        m_activity.addFrame(m_history->levelsAt(serial), m_history->lengthAt(serial),
                            m_history->timeAt(serial));
    m_activitySerial = end;
}

void ActivityViews::feedTrace(qint64 untilNs)
{
    const quint64 end = m_history->endSerial();
    quint64 serial = std::max(m_traceSerial, m_history->firstSerial(untilNs));
    for (; serial < end && m_history->timeAt(serial) <= untilNs; ++serial)
        m_trace.addFrame(m_history->levelsAt(serial), m_history->lengthAt(serial),
                         m_history->timeAt(serial));
    m_traceSerial = serial;
}

void ActivityViews::highlightToggled(bool on)
{
    m_model->setHighlight(on);
}

void ActivityViews::resetActivity()
{
    m_activity.reset();
    // Counting starts with the frames that arrive from now on.
    if (m_history)
        m_activitySerial = m_history->endSerial();
    m_model->activityChanged();
    showMessage(tr("Changes reset"), ConfirmationTimeoutMs);
}

void ActivityViews::selectionChanged()
{
    const QList<int> channels = selectedChannels();
    m_trace.setChannels(channels);
    m_scope->setSelectedCount(int(channels.size()));
    if (m_perSourceAction->isChecked())
        traceSourcesOf(channels);
    m_traceSerial = 0;
    // Up to the refresh on show, so that a frozen scope stays frozen.
    if (m_history && m_history->historyId() == m_historyId)
        feedTrace(m_activity.nowNs());
    m_scope->update();
}

void ActivityViews::perSourceToggled(bool on)
{
    // Off, the session traces nothing per source: no work per packet for a plot nobody sees.
    traceSourcesOf(on ? selectedChannels() : QList<int>());
    m_scope->setSourceTraces(on ? &m_sourceTraces : nullptr);
    if (on && !m_scopeDock->isVisible())
        m_scopeDock->toggleViewAction()->trigger();
}

// The first of the channels, as the scope draws the first of the selected ones.
void ActivityViews::traceSourcesOf(const QList<int> &channels)
{
    const int channel = channels.isEmpty() ? -1 : channels.first();
    if (channel == m_sourceTraces.channel())
        return;
    m_sourceTraces.setChannel(channel);
    m_session->setTracedChannel(channel);
    m_scope->update();
}

void ActivityViews::spanChosen(int index)
{
    m_scope->setSpanSeconds(m_spanBox->itemData(index).toInt());
}

QList<int> ActivityViews::selectedChannels() const
{
    QList<int> channels;
    const int columns = m_model->columnCount();
    for (const QModelIndex &index : m_table->selectionModel()->selectedIndexes()) {
        const int channel = index.row() * columns + index.column();
        if (channel < ChannelActivity::Channels)
            channels << channel;
    }
    std::sort(channels.begin(), channels.end());
    channels.resize(std::unique(channels.begin(), channels.end()) - channels.begin());
    return channels;
}

void ActivityViews::exportHistory()
{
    if (!m_history || m_history->firstSerial(m_history->clockNs()) == m_history->endSerial()) {
        showMessage(tr("Nothing to export: no frames recorded in the last 60 s"));
        return;
    }
    const QString fileName = QFileDialog::getSaveFileName(
            m_window, tr("Export History"), QString(), tr("CSV Files (*.csv);; All Files (*.*)"));
    if (!fileName.isEmpty())
        exportTo(fileName);
}

bool ActivityViews::exportTo(const QString &fileName)
{
    QList<int> channels = selectedChannels();
    if (channels.isEmpty()) {
        for (int channel = 0; channel < ChannelActivity::Channels; ++channel)
            channels << channel;
    }
    QString error;
    const auto writeHistory = [this, &channels](QIODevice *out) {
        return !m_history || HistoryCsv::write(out, *m_history, channels, m_history->clockNs());
    };
    if (!AtomicSave::save(fileName, writeHistory, &error)) {
        // The recording file's own box, word for word.
        QMessageBox::warning(m_window, QCoreApplication::translate("Vardolux", "Application"),
                             QCoreApplication::translate("Vardolux", "Cannot write file %1:\n%2.")
                                     .arg(fileName, error),
                             QMessageBox::Ok);
        return false;
    }
    showMessage(tr("History exported"), ConfirmationTimeoutMs);
    return true;
}

void ActivityViews::showMessage(const QString &text, int timeoutMs) const
{
    m_window->statusBar()->showMessage(text, timeoutMs);
}
