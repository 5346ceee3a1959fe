#ifndef MODEL_H
#define MODEL_H

#include <QAbstractItemModel>
#include <QModelIndex>
#include <QVector>

class ChannelActivity;
class MergeTips;

// The channel table: one universe of 512 DMX levels laid out as rows x columns cells, channel 1
// at the top left, read left to right and top to bottom. The texts follow the display mode.
class Model : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum CellValue : qint16 {
        ValueUnset = -1,      // never written since construction
        ValueCleared = -2,    // cleared by beginUpdate(), not rewritten yet
        ValueNotInFrame = -3, // the frame on show is shorter than this channel
    };
    enum ViewMode { DecimalMode = 0, PercentMode = 1, HexMode = 2, BarMode = 4 };

    Model(int rows, int columns, QObject *parent = nullptr);
    ~Model() override;

    void setViewMode(int mode);
    void beginUpdate();
    void endUpdate();
    int levelAt(int row, int column, bool *ok) const;

    // Channel activity behind the cells' tool tips and, with highlight on, their background
    // tint (by how recently each level changed); null for neither. The activity is read
    // whenever a view asks, so it changes together with a refresh of the levels.
    void setActivity(const ChannelActivity *activity);
    // What the sources of the universe say channel by channel, added to the tool tips while
    // they show it; null for nothing. Read whenever a view asks, as the activity.
    void setMergeTips(const MergeTips *tips);
    void setHighlight(bool on);
    bool highlight() const { return m_highlight; }
    // The tint changed without a refresh (highlight switched, activity reset): tells the views.
    void activityChanged();

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    bool isCell(const QModelIndex &index) const;
    QVariant tint(int channel) const;
    QVariant toolTip(int channel) const;
    QString activityTip(int channel) const;

    QModelIndex m_topLeft;
    QModelIndex m_bottomRight;
    bool m_collectChanges;
    bool m_rangePending;
    quint16 m_filledCount;
    QVector<qint16> *m_values;
    int m_rows;
    int m_columns;
    int m_viewMode;
    const ChannelActivity *m_activity = nullptr;
    const MergeTips *m_mergeTips = nullptr;
    bool m_highlight = false;
};

#endif // MODEL_H
