#ifndef PROTOCOLBAR_H
#define PROTOCOLBAR_H

#include "sourceidentity.h"

#include <QList>
#include <QToolBar>

class CaptureSession;
class QAction;
class QComboBox;
class QSettings;
class QSpinBox;

// The Protocol toolbar: whether the table shows an Art-Net or an sACN universe, which sACN
// universe, the sACN universes followed besides it (the watch list), whether sACN preview data
// takes part in the levels, and the priority that sACN output carries. Every choice goes to the
// session at once, before its engines start too; the Art-Net universe stays the window's own
// spin box.
class ProtocolBar : public QToolBar
{
    Q_OBJECT
    friend class tst_Vardolux;
    friend class tst_Window;

public:
    static constexpr int DefaultSendPriority = 100;

    ProtocolBar(CaptureSession *session, QWidget *parent = nullptr);

    DmxProtocol protocol() const;
    int sacnUniverse() const;
    QList<quint16> watchList() const { return m_watchList; }
    bool previewShown() const;
    int sendPriority() const;

    void showProtocol(DmxProtocol protocol);
    // Shows sACN and that universe (1-63999), with one change of the universe on show.
    void showSacnUniverse(int universe);

    // Under the group "sacn"; what a setting holds that the bar cannot take leaves its default.
    void readSettings(QSettings &settings);
    void writeSettings(QSettings &settings) const;

signals:
    // The session shows another protocol or sACN universe.
    void universeOnShowChanged();

private slots:
    void protocolChosen();
    void sacnUniverseChosen(int universe);
    void editWatchList();
    void previewToggled(bool shown);

private:
    void createWidgets();
    void setWatchList(const QList<quint16> &universes);

    CaptureSession *m_session;
    QComboBox *m_protocolBox = nullptr;
    QSpinBox *m_universeBox = nullptr;
    QAction *m_watchListAction = nullptr;
    QAction *m_previewAction = nullptr;
    QSpinBox *m_priorityBox = nullptr;
    QList<quint16> m_watchList;
};

#endif // PROTOCOLBAR_H
