#ifndef LEVELSBAR_H
#define LEVELSBAR_H

#include "levelchoice.h"
#include "mergetips.h"

#include <QList>
#include <QToolBar>

class CaptureSession;
class Model;
class QComboBox;
class QLabel;
class QMainWindow;
class QMenu;
class QTimer;

// The Levels toolbar: which levels of the universe on show the table gives, the latest packet's
// (the default), a merge of its sources as a node or receiver makes it, or one source's own.
// It places itself in the window beside the Protocol toolbar, with a permanent status-bar label
// that names any choice but the latest packet, and keeps the table's tool tips of the sources.
class LevelsBar : public QToolBar
{
    Q_OBJECT
    friend class tst_MergedLevels;

public:
    LevelsBar(CaptureSession *session, Model *model, QMainWindow *window);

    // The same choices in the window's context menu.
    void addMenuEntries(QMenu *menu);

public slots:
    // The choices of the universe on show as sources come and go, keeping the user's while it
    // is still one of them.
    void refreshChoices();
    // With the table's refresh, so that the tool tips speak of the levels on show.
    void refreshTips();

signals:
    // The table shows other levels from its next refresh on.
    void levelChoiceChanged();

private:
    void createWidgets(QMainWindow *window);
    void choose(const LevelChoice &choice);
    // What the table shows of the protocol on show unless the user chooses otherwise.
    LevelChoice defaultChoice() const;
    // The merge the tool tips name winners of: the one on show, else the protocol's own.
    LevelChoice::Kind tipMergeKind() const;
    void updateStatusLabel();

    CaptureSession *m_session;
    Model *m_model;
    QComboBox *m_choiceBox = nullptr;
    QLabel *m_statusLabel = nullptr;
    QTimer *m_refreshTimer = nullptr;
    QList<LevelChoice> m_choices;
    MergeTips m_tips;
};

#endif // LEVELSBAR_H
