#ifndef MERGEDOCK_H
#define MERGEDOCK_H

#include "levelchoice.h"
#include "universemerge.h"

#include <QDockWidget>
#include <QList>
#include <QStringList>

class MergeTableModel;
class QCheckBox;
class QComboBox;
class QLabel;
class QModelIndex;
class QSortFilterProxyModel;
class QTableView;

// The merge view's dock: where the sources of the universe on show disagree, what a receiver
// makes of it and who wins each channel. It shows the snapshots it is handed and says by
// signals which merge the user wants and which channel to look at; it holds no engine.
class MergeDock : public QDockWidget
{
    Q_OBJECT
    friend class tst_MergeView;
    friend class tst_Vardolux;

public:
    explicit MergeDock(QWidget *parent = nullptr);

    // The merges a receiver of the protocol on show makes, with their names; the one chosen
    // stays chosen while it is offered.
    void offerKinds(const QList<LevelChoice::Kind> &kinds, const QStringList &names);
    LevelChoice::Kind kind() const;
    void showMerge(const UniverseMerge &merge);
    // Why there is nothing to merge yet, instead of the summary; empty for the summary.
    void showNote(const QString &note);

signals:
    void kindChosen(LevelChoice::Kind kind);
    // The user asked to look at this channel (0-511) in the channel table.
    void channelChosen(int channel);

private:
    QWidget *createControls();
    QTableView *createTable();
    void rowActivated(const QModelIndex &proxyIndex);
    void kindIndexChosen(int index);
    void updateNotes();

    MergeTableModel *m_model;
    QSortFilterProxyModel *m_proxy = nullptr;
    QTableView *m_view = nullptr;
    QComboBox *m_kindBox = nullptr;
    QCheckBox *m_allChannelsBox = nullptr;
    QLabel *m_summary = nullptr;
    QLabel *m_dropNote = nullptr;
    QString m_note;
};

#endif // MERGEDOCK_H
