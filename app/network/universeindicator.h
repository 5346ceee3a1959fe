#ifndef UNIVERSEINDICATOR_H
#define UNIVERSEINDICATOR_H

#include "dmxsource.h"

#include <QLabel>
#include <QList>

class QMouseEvent;

// The status bar's word on the universe on show: nobody sends it, one sender at its rate, or
// several senders fighting over it, in the warning colour. A click asks for the network view.
class UniverseIndicator : public QLabel
{
    Q_OBJECT

public:
    explicit UniverseIndicator(QWidget *parent = nullptr);

    // The universe as the spin box shows it; sources as the census last saw them.
    void showSources(int universe, const QList<DmxSource> &sources);
    bool warns() const { return m_warns; }

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void setWarning(bool on);

    bool m_warns = false;
};

#endif // UNIVERSEINDICATOR_H
