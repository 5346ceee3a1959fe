#include "mergeview.h"

#include "capturesession.h"
#include "mergedock.h"
#include "universeindicator.h"
#include "universemerge.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QMainWindow>
#include <QTableView>
#include <QTimer>

namespace {

// Two consoles fighting change levels many times a second; a quarter second follows them
// closely enough to read and costs one copy of the universe's sources.
constexpr int RefreshMs = 250;

} // namespace

MergeView::MergeView(QMainWindow *window, CaptureSession *session, QTableView *table,
                     UniverseIndicator *indicator)
    : QObject(window), m_window(window), m_session(session), m_table(table),
      m_indicator(indicator)
{
    createDock();
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &MergeView::refresh);
    connect(m_indicator, &UniverseIndicator::clicked, this, &MergeView::indicatorClicked);
}

void MergeView::createDock()
{
    m_dock = new MergeDock(m_window);
    m_dock->hide();
    m_window->addDockWidget(Qt::BottomDockWidgetArea, m_dock);
    connect(m_dock, &MergeDock::kindChosen, this, &MergeView::refresh);
    connect(m_dock, &MergeDock::channelChosen, this, &MergeView::selectChannel);

    // As the network view: the dock's own toggle is the command, and the window's context menu
    // lists it among the docks.
    QAction *toggle = m_dock->toggleViewAction();
    toggle->setObjectName(QStringLiteral("mergeViewAction"));
    toggle->setText(tr("&Merge View"));
    toggle->setShortcut(QKeySequence(tr("F9")));
    toggle->setStatusTip(tr("Show where the sources of the universe on show differ, who wins "
                            "each channel and what a receiver outputs"));
    connect(toggle, &QAction::toggled, this, &MergeView::openChanged);
    m_window->addAction(toggle);
}

QAction *MergeView::toggleAction() const
{
    return m_dock->toggleViewAction();
}

void MergeView::openChanged(bool open)
{
    if (!open) {
        m_timer->stop();
        return;
    }
    m_dock->raise();
    refresh();
    m_timer->start(RefreshMs);
}

void MergeView::indicatorClicked()
{
    if (!m_indicator->warns())
        return;
    if (!toggleAction()->isChecked())
        toggleAction()->trigger();
    m_dock->raise();
}

void MergeView::offerKinds()
{
    const DmxProtocol protocol = m_session->universeOnShow().protocol;
    if (m_kindsKnown && protocol == m_kindsOffered)
        return;
    using Kind = LevelChoice::Kind;
    const QList<Kind> kinds = protocol == DmxProtocol::Sacn
            ? QList<Kind>{Kind::MergedPriorityHtp}
            : QList<Kind>{Kind::MergedHtp, Kind::MergedLtp};
    QStringList names;
    for (Kind kind : kinds)
        names << m_session->levelChoiceText(LevelChoice::of(kind));
    m_dock->offerKinds(kinds, names);
    m_kindsOffered = protocol;
    m_kindsKnown = true;
}

void MergeView::refresh()
{
    offerKinds();
    if (!m_session->started()) {
        m_dock->showMerge(UniverseMerge());
        m_dock->showNote(tr("Nothing received yet: Record (Ctrl+R) or the Network View (F6) "
                            "listens to the network"));
        return;
    }
    m_dock->showNote(QString());
    m_dock->showMerge(m_session->universeMerge(m_dock->kind()));
}

void MergeView::selectChannel(int channel)
{
    QAbstractItemModel *model = m_table->model();
    const int columns = model->columnCount();
    if (columns <= 0 || channel < 0)
        return;
    const QModelIndex cell = model->index(channel / columns, channel % columns);
    if (!cell.isValid())
        return;
    m_table->selectionModel()->setCurrentIndex(cell, QItemSelectionModel::ClearAndSelect);
    m_table->scrollTo(cell);
}
