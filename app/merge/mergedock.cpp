#include "mergedock.h"

#include "mergetablemodel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSignalBlocker>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// Rows beyond those on show that fitting a column looks at.
constexpr int SampledRows = 64;

} // namespace

MergeDock::MergeDock(QWidget *parent)
    : QDockWidget(tr("Merge"), parent), m_model(new MergeTableModel(this))
{
    setObjectName(QStringLiteral("mergeDock"));
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(createControls());
    // Source labels are what senders call themselves: never markup.
    m_summary = new QLabel(page);
    m_summary->setObjectName(QStringLiteral("mergeSummary"));
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setWordWrap(true);
    layout->addWidget(m_summary);
    m_dropNote = new QLabel(page);
    m_dropNote->setObjectName(QStringLiteral("mergeDropNote"));
    m_dropNote->setTextFormat(Qt::PlainText);
    m_dropNote->setWordWrap(true);
    m_dropNote->hide();
    layout->addWidget(m_dropNote);
    layout->addWidget(createTable(), 1);
    setWidget(page);
    updateNotes();
}

QWidget *MergeDock::createControls()
{
    auto *controls = new QWidget;
    auto *layout = new QHBoxLayout(controls);
    layout->setContentsMargins(0, 0, 0, 0);
    m_kindBox = new QComboBox(controls);
    m_kindBox->setObjectName(QStringLiteral("mergeKindBox"));
    m_kindBox->setStatusTip(tr("How a receiver merges the sources of the universe on show"));
    m_allChannelsBox = new QCheckBox(tr("All channels"), controls);
    m_allChannelsBox->setObjectName(QStringLiteral("allChannelsBox"));
    m_allChannelsBox->setStatusTip(tr("List all 512 channels, not only those where the sources "
                                      "differ"));
    layout->addWidget(m_kindBox);
    layout->addWidget(m_allChannelsBox);
    layout->addStretch();
    connect(m_kindBox, &QComboBox::currentIndexChanged, this, &MergeDock::kindIndexChosen);
    connect(m_allChannelsBox, &QCheckBox::toggled, m_model, &MergeTableModel::setAllChannels);
    return controls;
}

QTableView *MergeDock::createTable()
{
    m_proxy = new QSortFilterProxyModel(this);
    m_proxy->setSourceModel(m_model);
    m_proxy->setSortRole(MergeTableModel::SortRole);
    m_view = new QTableView;
    m_view->setObjectName(QStringLiteral("mergeView"));
    m_view->setModel(m_proxy);
    m_view->setSortingEnabled(true);
    m_view->sortByColumn(MergeTableModel::ChannelColumn, Qt::AscendingOrder);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    m_view->setToolTip(tr("Double-click a channel to select it in the table, where the scope "
                          "plots it"));
    // Up to 512 rows refreshed several times a second: one height for all, no fitting.
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
    m_view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // Fitting all 512 rows of 64 sources' columns took 100 ms; rows near the top say as much.
    m_view->horizontalHeader()->setResizeContentsPrecision(SampledRows);
    m_view->horizontalHeader()->setStretchLastSection(true);
    connect(m_view, &QAbstractItemView::doubleClicked, this, &MergeDock::rowActivated);
    return m_view;
}

void MergeDock::offerKinds(const QList<LevelChoice::Kind> &kinds, const QStringList &names)
{
    const QVariant chosen = m_kindBox->currentData();
    QSignalBlocker quiet(m_kindBox);
    m_kindBox->clear();
    for (qsizetype i = 0; i < kinds.size() && i < names.size(); ++i)
        m_kindBox->addItem(names.at(i), int(kinds.at(i)));
    const int again = m_kindBox->findData(chosen);
    m_kindBox->setCurrentIndex(again >= 0 ? again : 0);
}

LevelChoice::Kind MergeDock::kind() const
{
    const QVariant chosen = m_kindBox->currentData();
    return chosen.isValid() ? LevelChoice::Kind(chosen.toInt()) : LevelChoice::Kind::MergedHtp;
}

void MergeDock::kindIndexChosen(int)
{
    emit kindChosen(kind());
}

void MergeDock::showMerge(const UniverseMerge &merge)
{
    const bool firstSources = m_model->columnCount() == MergeTableModel::FirstSourceColumn;
    m_model->setMerge(merge);
    // Fitted once the sources are known; afterwards the user's widths stay.
    if (firstSources && m_model->columnCount() > MergeTableModel::FirstSourceColumn)
        m_view->resizeColumnsToContents();
    updateNotes();
}

void MergeDock::showNote(const QString &note)
{
    m_note = note;
    updateNotes();
}

void MergeDock::updateNotes()
{
    m_summary->setText(m_note.isEmpty() ? m_model->summary() : m_note);
    const QString drop = m_model->nodeDropNote();
    m_dropNote->setText(drop);
    m_dropNote->setVisible(!drop.isEmpty());
}

void MergeDock::rowActivated(const QModelIndex &proxyIndex)
{
    const QModelIndex index = m_proxy->mapToSource(proxyIndex);
    if (index.isValid())
        emit channelChosen(m_model->channelAt(index.row()));
}
