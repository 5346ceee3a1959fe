#include "model.h"

#include <QString>

#include <algorithm>

namespace {

// One DMX universe: only the first 512 cells of the grid can ever hold a level.
constexpr int UniverseSize = 512;
constexpr int HighestLevel = 255;
constexpr int LevelsPerBar = 16;

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

QVariant Model::data(const QModelIndex &index, int role) const
{
    if (!isCell(index) || role != Qt::DisplayRole)
        return QVariant();

    const uint channel = uint(index.row() * m_columns + index.column());
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

bool Model::isCell(const QModelIndex &index) const
{
    // An index of another model may point outside this grid.
    return index.isValid() && index.model() == this && index.row() < m_rows
            && index.column() < m_columns;
}
