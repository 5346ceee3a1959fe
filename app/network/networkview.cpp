#include "networkview.h"

#include "capturesession.h"
#include "networkdock.h"
#include "universeindicator.h"

#include <QAction>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

namespace {

// Rates are counted over a second; a faster refresh of the network view shows nothing new.
constexpr int RefreshMs = 500;

} // namespace

NetworkView::NetworkView(QMainWindow *window, CaptureSession *session, QSpinBox *universeBox)
    : QObject(window), m_window(window), m_session(session), m_universeBox(universeBox)
{
    createDock();
    createIndicator();
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &NetworkView::refresh);
    connect(m_universeBox, &QSpinBox::valueChanged, this, &NetworkView::refresh);
    m_timer->start(RefreshMs);
}

void NetworkView::createDock()
{
    m_dock = new NetworkDock(m_window);
    m_dock->hide();
    m_window->addDockWidget(Qt::BottomDockWidgetArea, m_dock);
    connect(m_dock, &NetworkDock::universeChosen, this, &NetworkView::chooseUniverse);
    connect(m_dock, &NetworkDock::sourcesWanted, this, &NetworkView::showSourcesOf);
    connect(m_dock, &NetworkDock::forgetSilentRequested, this, &NetworkView::forgetSilent);

    // The dock's own toggle is the command: its check mark is whether the view is open, however
    // it was opened or closed.
    QAction *toggle = m_dock->toggleViewAction();
    toggle->setObjectName(QStringLiteral("networkViewAction"));
    toggle->setText(tr("&Network View"));
    toggle->setShortcut(QKeySequence(tr("F6")));
    toggle->setStatusTip(tr("Show the universes, their senders, the nodes and the time code on "
                            "the network"));
    connect(toggle, &QAction::toggled, this, &NetworkView::openChanged);
    m_window->addAction(toggle);
}

void NetworkView::createIndicator()
{
    m_indicator = new UniverseIndicator;
    m_window->statusBar()->addPermanentWidget(m_indicator);
    connect(m_indicator, &UniverseIndicator::clicked, this, &NetworkView::indicatorClicked);
}

QAction *NetworkView::toggleAction() const
{
    return m_dock->toggleViewAction();
}

void NetworkView::addMenuEntries(QMenu *menu) const
{
    // Among the docks the main window lists, the command would sit in the middle of the menu;
    // adding it again moves it to the end.
    menu->addSeparator();
    menu->addAction(toggleAction());
}

void NetworkView::indicatorClicked()
{
    if (!toggleAction()->isChecked())
        toggleAction()->trigger();
    m_dock->raise();
}

void NetworkView::openChanged(bool open)
{
    if (open) {
        m_dock->raise();
        // Listens as Record does, but leaves the table's universe and the run state alone.
        emit sessionNeeded();
        if (!m_session->startListening())
            emit portUnavailable();
    } else {
        m_session->stopListening();
    }
    refresh();
}

void NetworkView::chooseUniverse(UniverseKey universe)
{
    if (universe.protocol == DmxProtocol::ArtNet)
        m_universeBox->setValue(int(universe.number) + 1);
    emit universeChosen(universe);
}

void NetworkView::refresh()
{
    const UniverseKey universe = m_session->universeOnShow();
    m_indicator->showSources(universe, m_session->sources(universe));
    if (toggleAction()->isChecked() && m_session->started())
        m_dock->showCensus(m_session->census(), universe);
}

void NetworkView::forgetSilent()
{
    m_session->forgetSilent();
    refresh();
}

void NetworkView::showSourcesOf(UniverseKey universe)
{
    if (m_session->started())
        m_dock->showSources(m_session->sources(universe), m_session->clockMs());
}
