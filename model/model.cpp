#include "model.h"

#include "dmxframe.h"
#include "channelactivity.h"
#include "mergetips.h"

#include <QColor>
#include <QDateTime>
#include <QString>

#include <algorithm>

namespace {

// One DMX universe: only the first 512 cells of the grid can ever hold a level.
constexpr int UniverseSize = DmxFrame::MaxChannels;
constexpr int HighestLevel = 255;
constexpr int LevelsPerBar = 16;

// Light tints, so that the black texts stay readable: the hotter, the more recent the change.
constexpr QRgb ChangedLastTickTint = 0xffff8a65;
constexpr QRgb ChangedRecentlyTint = 0xffffe082;
constexpr QRgb ChangedEarlierTint = 0xffb3e5fc;

} // namespace

Model::Model(int rows, int columns, QObject *parent)
    : QAbstractItemModel(parent),
      m_collectChanges(false),
      m_rangePending(false),
      m_filledCount(0),
      m_values(nullptr),
      m_rows(std::max(rows, 0)),
      m_columns(std::max(columns, 0)),
      m_viewMode(DecimalMode)
{
    m_values = new QVector<qint16>(m_rows * m_columns, qint16(ValueUnset));
}

Model::~Model()
{
    m_filledCount = 0;
    delete m_values;
    m_values = nullptr;
}

void Model::setViewMode(int mode)
{
    // Views cache texts and header sizes; a reset makes them read every cell again.
    beginResetModel();
    m_viewMode = mode;
    endResetModel();
}

void Model::beginUpdate()
{
    m_collectChanges = true;
    m_rangePending = false;
    // A grid smaller than a universe has fewer cells than channels.
    const int cells = std::min(UniverseSize, int(m_values->size()));
    qint16 *values = m_values->data();
    std::fill(values, values + cells, qint16(ValueCleared));
}

void Model::endUpdate()
{
    if (!m_collectChanges || !m_rangePending)
        return;
    m_rangePending = false;
    emit dataChanged(m_topLeft, m_bottomRight);
}

int Model::levelAt(int row, int column, bool *ok) const
{
    // Unsigned, so that a negative row or column can never pass as a filled channel.
    const uint channel = uint(row * m_columns + column);
    const bool filled = channel < m_filledCount && m_values->at(int(channel)) >= 0;
    if (ok)
        *ok = filled;
    return filled ? m_values->at(int(channel)) : 0;
}

QModelIndex Model::index(int row, int column, const QModelIndex &parent) const
{
    // A flat table: cells have no children.
    if (parent.isValid() || row < 0 || row >= m_rows || column < 0 || column >= m_columns)
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex Model::parent(const QModelIndex &) const
{
    return QModelIndex();
}

int Model::rowCount(const QModelIndex &parent) const
{
    // A cell has no rows below it; claiming otherwise contradicts hasChildren() and parent().
    return parent.isValid() ? 0 : m_rows;
}

int Model::columnCount(const QModelIndex &) const
{
    return m_columns;
}

bool Model::hasChildren(const QModelIndex &parent) const
{
    // The root holds the cells; a cell holds nothing.
    return !parent.isValid() && m_rows > 0 && m_columns > 0;
}

void Model::setActivity(const ChannelActivity *activity)
{
    m_activity = activity;
}

void Model::setHighlight(bool on)
{
    if (on == m_highlight)
        return;
    m_highlight = on;
    activityChanged();
}

void Model::setMergeTips(const MergeTips *tips)
{
    m_mergeTips = tips;
}

void Model::activityChanged()
{
    if (m_rows > 0 && m_columns > 0)
        emit dataChanged(index(0, 0), index(m_rows - 1, m_columns - 1), {Qt::BackgroundRole});
}

QVariant Model::data(const QModelIndex &index, int role) const
{
    if (!isCell(index))
        return QVariant();
    const uint channel = uint(index.row() * m_columns + index.column());
    if (role == Qt::BackgroundRole)
        return tint(int(channel));
    if (role == Qt::ToolTipRole)
        return toolTip(int(channel));
    if (role != Qt::DisplayRole)
        return QVariant();

    if (channel >= m_filledCount)
        return QString(QStringLiteral("none data"));

    const qint16 value = m_values->at(int(channel));
    if (value < 0)
        return QString(QStringLiteral("no data"));

    switch (m_viewMode) {
    case HexMode:
        return QStringLiteral("0x%1").arg(qlonglong(value), 2, 16, QLatin1Char('0'));
    case BarMode:
        return QString(value / LevelsPerBar, QLatin1Char('|'));
    case PercentMode:
        // Truncated on purpose: 254 reads 99%, so only a full 255 reads 100%.
        return QStringLiteral("%1%").arg(qlonglong(value * 100 / HighestLevel), 0, 10);
    default:
        return QString::number(value, 10);
    }
}

bool Model::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!isCell(index))
        return false;
    // Only the display role carries levels. Other roles are accepted and ignored, as are cells
    // beyond one universe, so that generic editors and delegates see no error.
    if (role != Qt::DisplayRole)
        return true;
    const int channel = index.row() * m_columns + index.column();
    if (channel >= UniverseSize)
        return true;

    bool converted = false;
    const int level = value.toInt(&converted);
    // Levels are bytes; the only negatives are the "no data" codes. Anything else would be
    // stored wrapped or shown (and sent) as a level the universe cannot carry.
    if (!converted || level > HighestLevel || level < ValueNotInFrame)
        return false;

    const qint16 newValue = qint16(level);
    if (m_values->at(channel) == newValue)
        return true;

    (*m_values)[channel] = newValue;
    m_filledCount = quint16(channel + 1);

    if (!m_collectChanges) {
        emit dataChanged(index, index);
    } else if (!m_rangePending) {
        m_rangePending = true;
        m_topLeft = index;
        m_bottomRight = index;
    } else {
        m_topLeft = createIndex(std::min(m_topLeft.row(), index.row()),
                                std::min(m_topLeft.column(), index.column()));
        m_bottomRight = createIndex(std::max(m_bottomRight.row(), index.row()),
                                    std::max(m_bottomRight.column(), index.column()));
    }
    return true;
}

QVariant Model::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == Qt::DisplayRole)
        return QString::number(section + 1);
    return QAbstractItemModel::headerData(section, orientation, role);
}

Qt::ItemFlags Model::flags(const QModelIndex &index) const
{
    if (!isCell(index))
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsEnabled;
}

QVariant Model::tint(int channel) const
{
    // Asked for every cell at every repaint: a QColor lives inside the QVariant, no allocation.
    if (!m_highlight || !m_activity || channel >= UniverseSize)
        return QVariant();
    switch (m_activity->recency(channel)) {
    case ChannelActivity::ChangedLastTick:
        return QColor(ChangedLastTickTint);
    case ChannelActivity::ChangedRecently:
        return QColor(ChangedRecentlyTint);
    case ChannelActivity::ChangedEarlier:
        return QColor(ChangedEarlierTint);
    case ChannelActivity::NeverChanged:
        break;
    }
    return QVariant();
}

QVariant Model::toolTip(int channel) const
{
    if (channel >= UniverseSize)
        return QVariant();
    const bool sources = m_mergeTips && m_mergeTips->shown();
    if (!m_activity)
        return sources ? QVariant(m_mergeTips->text(channel)) : QVariant();
    const QString activity = activityTip(channel);
    return sources ? activity + QLatin1Char('\n') + m_mergeTips->text(channel) : activity;
}

QString Model::activityTip(int channel) const
{
    const ChannelActivity::Statistics &statistics = m_activity->statistics(channel);
    const int shown = uint(channel) < m_filledCount ? m_values->at(channel) : -1;
    QString text = tr("Channel %1").arg(channel + 1) + QLatin1Char('\n')
            + (shown >= 0 ? tr("Level %1").arg(shown) : tr("no data"));
    if (!statistics.hasLevel)
        return text + QLatin1Char('\n') + tr("No level received since the reset");
    text += QLatin1Char('\n')
            + tr("Minimum %1, maximum %2").arg(statistics.minimum).arg(statistics.maximum)
            + QLatin1Char('\n') + tr("Changes since the reset: %1").arg(statistics.changes)
            + QLatin1Char('\n');
    if (statistics.changes == 0)
        return text + tr("No change since the reset");
    const QDateTime when =
            QDateTime::fromMSecsSinceEpoch(m_activity->wallClockMs(statistics.lastChangeNs));
    return text + tr("Last change at %1").arg(when.toString(QStringLiteral("HH:mm:ss.zzz")));
}

bool Model::isCell(const QModelIndex &index) const
{
    // An index of another model may point outside this grid.
    return index.isValid() && index.model() == this && index.row() < m_rows
            && index.column() < m_columns;
}
