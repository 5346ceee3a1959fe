#ifndef PLAYBACKBAR_H
#define PLAYBACKBAR_H

#include <QToolBar>

class CapturePlayer;
class QAction;
class QComboBox;
class QLabel;
class QSlider;

// The transport bar of a capture being played: Play/Pause, Step, the timeline (a seek when the
// handle is let go; dragging shows the time it would go to), the speed and the capture's own
// time of day with the offset into it. It asks the player and tells it what the user chose.
class PlaybackBar : public QToolBar
{
    Q_OBJECT

public:
    explicit PlaybackBar(CapturePlayer *player, QWidget *parent = nullptr);

    QAction *playAction() const { return m_playAction; }
    QAction *stepAction() const { return m_stepAction; }
    QSlider *timeline() const { return m_timeline; }
    QComboBox *speedBox() const { return m_speedBox; }
    QLabel *timeLabel() const { return m_timeLabel; }

    // Follows the player: its state, where it is, and the capture's length after an open.
    void refresh();

    // "12:34:56.789" of a time since the epoch, in local time.
    static QString timeOfDay(qint64 epochNs);
    // "1:02.345" or "1:02:03.456" of an offset.
    static QString offset(qint64 ns);

private:
    void togglePlay();
    void seekToHandle();
    void showTimeAt(int ms);
    void chooseSpeed(int index);

    CapturePlayer *m_player;
    QAction *m_playAction = nullptr;
    QAction *m_stepAction = nullptr;
    QSlider *m_timeline = nullptr;
    QComboBox *m_speedBox = nullptr;
    QLabel *m_timeLabel = nullptr;
};

#endif // PLAYBACKBAR_H
