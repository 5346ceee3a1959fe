#include "eventlogdock.h"

#include "eventcsv.h"
#include "eventfiltermodel.h"
#include "eventlog.h"
#include "eventtablemodel.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

EventLogDock::EventLogDock(EventLog *log, QWidget *parent)
    : QDockWidget(tr("Event Log"), parent), m_model(new EventTableModel(log, this))
{
    setObjectName(QStringLiteral("eventLogDock"));
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(createControls());
    layout->addWidget(createTable(), 1);
    m_count = new QLabel(page);
    m_count->setObjectName(QStringLiteral("eventCount"));
    m_count->setTextFormat(Qt::PlainText);
    layout->addWidget(m_count);
    setWidget(page);
    updateCount();
}

QWidget *EventLogDock::createControls()
{
    auto *controls = new QWidget;
    auto *layout = new QHBoxLayout(controls);
    layout->setContentsMargins(0, 0, 0, 0);
    m_kindBox = new QComboBox(controls);
    m_kindBox->setObjectName(QStringLiteral("eventKindBox"));
    m_kindBox->addItem(tr("All kinds"), -1);
    for (int kind = 0; kind < DmxEventKindCount; ++kind)
        m_kindBox->addItem(DmxEvent::kindText(DmxEventKind(kind)), kind);
    m_universeEdit = new QLineEdit(controls);
    m_universeEdit->setObjectName(QStringLiteral("eventUniverseEdit"));
    m_universeEdit->setPlaceholderText(tr("Universe"));
    m_universeEdit->setClearButtonEnabled(true);
    m_textEdit = new QLineEdit(controls);
    m_textEdit->setObjectName(QStringLiteral("eventTextEdit"));
    m_textEdit->setPlaceholderText(tr("Find text"));
    m_textEdit->setClearButtonEnabled(true);
    layout->addWidget(m_kindBox);
    layout->addWidget(m_universeEdit);
    layout->addWidget(m_textEdit, 1);

    m_filter = new EventFilterModel(this);
    m_filter->setSourceModel(m_model);
    connect(m_kindBox, &QComboBox::currentIndexChanged, this, [this] {
        m_filter->setKind(m_kindBox->currentData().toInt());
        updateCount();
    });
    connect(m_universeEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_filter->setUniverse(text);
        updateCount();
    });
    connect(m_textEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_filter->setText(text);
        updateCount();
    });
    return controls;
}

QTableView *EventLogDock::createTable()
{
    m_view = new QTableView;
    m_view->setObjectName(QStringLiteral("eventLogView"));
    m_view->setModel(m_filter);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    m_view->setToolTip(tr("Double-click an event to show its universe"));
    // Up to 100,000 rows: one height for all, no fitting.
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
    m_view->horizontalHeader()->setStretchLastSection(true);
    const QFontMetrics metrics = m_view->fontMetrics();
    m_view->setColumnWidth(EventTableModel::TimeColumn,
                           metrics.horizontalAdvance(QStringLiteral("00:00:00.000")) + 16);
    int kindWidth = 0;
    for (int kind = 0; kind < DmxEventKindCount; ++kind)
        kindWidth = std::max(kindWidth,
                             metrics.horizontalAdvance(DmxEvent::kindText(DmxEventKind(kind))));
    m_view->setColumnWidth(EventTableModel::KindColumn, kindWidth + 16);
    m_view->setColumnWidth(EventTableModel::UniverseColumn,
                           metrics.horizontalAdvance(QStringLiteral("Art-Net 32768")) + 16);
    m_view->setColumnWidth(EventTableModel::SourceColumn,
                           metrics.horizontalAdvance(QStringLiteral("255.255.255.255/255 ")) + 16);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this, &EventLogDock::showContextMenu);
    connect(m_view, &QAbstractItemView::doubleClicked, this, &EventLogDock::rowActivated);
    return m_view;
}

void EventLogDock::refresh(UniverseKey universeOnShow)
{
    m_model->setUniverseOnShow(universeOnShow);
    if (m_model->catchUp())
        updateCount();
}

void EventLogDock::updateCount()
{
    const EventLog *log = m_model->log();
    const quint64 dropped = log ? log->dropped() : 0;
    const int all = m_model->rowCount();
    const int shown = m_filter->rowCount();
    QString text = shown == all ? tr("%n events", nullptr, all)
                                : tr("%1 of %n events", nullptr, all).arg(shown);
    if (dropped > 0)
        text += tr("; %n older ones made room", nullptr, int(std::min<quint64>(dropped, INT_MAX)));
    m_count->setText(text);
}

const DmxEvent *EventLogDock::eventAtProxyRow(int row) const
{
    return m_model->eventAt(m_filter->mapToSource(m_filter->index(row, 0)).row());
}

void EventLogDock::rowActivated(const QModelIndex &proxyIndex)
{
    const DmxEvent *event = eventAtProxyRow(proxyIndex.row());
    if (event && event->hasUniverse)
        emit universeChosen(event->universe);
}

void EventLogDock::showContextMenu(const QPoint &position)
{
    const QModelIndex at = m_view->indexAt(position);
    const DmxEvent *event = at.isValid() ? eventAtProxyRow(at.row()) : nullptr;
    QMenu menu(this);
    menu.addAction(tr("&Copy"), this, &EventLogDock::copySelection);
    menu.addAction(tr("&Export CSV..."), this, &EventLogDock::chooseExportFile);
    menu.addAction(tr("C&lear"), this, &EventLogDock::clearRequested);
    QAction *watch = menu.addAction(tr("&Watch This Universe"));
    watch->setEnabled(event && event->hasUniverse);
    const UniverseKey universe = event ? event->universe : UniverseKey();
    connect(watch, &QAction::triggered, this, [this, universe] { emit watchRequested(universe); });
    menu.exec(m_view->viewport()->mapToGlobal(position));
}

void EventLogDock::copySelection() const
{
    QModelIndexList rows = m_view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    QStringList lines;
    for (const QModelIndex &row : rows) {
        QStringList cells;
        for (int column = 0; column < EventTableModel::ColumnCount; ++column)
            cells << m_filter->index(row.row(), column).data().toString();
        lines << cells.join(QLatin1Char('\t'));
    }
    if (!lines.isEmpty())
        QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

bool EventLogDock::exportCsv(const QString &fileName, QString *errorString) const
{
    QList<const DmxEvent *> events;
    events.reserve(m_filter->rowCount());
    for (int row = m_filter->rowCount() - 1; row >= 0; --row) {
        if (const DmxEvent *event = eventAtProxyRow(row))
            events << event;
    }
    return EventCsv::save(fileName, events, errorString);
}

void EventLogDock::chooseExportFile()
{
    const QString fileName = QFileDialog::getSaveFileName(this, tr("Export Events"), QString(),
                                                          tr("CSV files (*.csv)"));
    if (fileName.isEmpty())
        return;
    QString error;
    if (exportCsv(fileName, &error))
        return;
    QMessageBox box(QMessageBox::Warning, tr("Export Events"),
                    tr("Cannot write %1:\n%2").arg(fileName, error), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
