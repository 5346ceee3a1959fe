#ifndef UNIVERSEINDICATOR_H
#define UNIVERSEINDICATOR_H

#include "dmxframe.h"
#include "dmxsource.h"

#include <QLabel>
#include <QList>

class QMouseEvent;

// The status bar's word on the universe on show: nobody sends it, one sender at its rate, or
// several senders fighting over it, in the warning colour. sACN sources at different priorities
// do not fight: it says which priority wins. A click asks for the network view.
class UniverseIndicator : public QLabel
{
    Q_OBJECT

public:
    explicit UniverseIndicator(QWidget *parent = nullptr);

    // sources: those of universe as the census last saw them.
    void showSources(UniverseKey universe, const QList<DmxSource> &sources);
    bool warns() const { return m_warns; }

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // universe: as the spin box shows it.
    void showArtNetSources(int universe, const QList<DmxSource> &sources);
    void showSacnSources(int universe, const QList<DmxSource> &sources);
    void setWarning(bool on);

    bool m_warns = false;
};

#endif // UNIVERSEINDICATOR_H
