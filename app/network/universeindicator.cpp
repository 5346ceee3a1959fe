#include "universeindicator.h"

#include "networktexts.h"

#include <QMouseEvent>
#include <QPalette>

UniverseIndicator::UniverseIndicator(QWidget *parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("universeIndicator"));
    setCursor(Qt::PointingHandCursor);
    setContentsMargins(4, 0, 4, 0);
    showSources(1, {});
}

void UniverseIndicator::showSources(int universe, const QList<DmxSource> &sources)
{
    QStringList lines;
    const DmxSource *only = nullptr;
    int live = 0;
    for (const DmxSource &source : sources) {
        if (!source.live)
            continue;
        ++live;
        only = &source;
        lines << tr("%1 (Physical %2): %3")
                         .arg(NetworkTexts::address(source.address))
                         .arg(int(source.physical))
                         .arg(NetworkTexts::rate(source.rateHz));
    }

    if (live == 0) {
        setText(tr("no data"));
        setToolTip(tr("Nobody sent universe %1 in the last 4 s. Click for the network view.")
                           .arg(universe));
    } else if (live == 1) {
        setText(tr("%1 at %2").arg(NetworkTexts::address(only->address),
                                   NetworkTexts::rate(only->rateHz)));
        setToolTip(tr("Universe %1 comes from\n%2").arg(universe).arg(lines.join('\n')));
    } else {
        setText(tr("%1 sources").arg(live));
        setToolTip(tr("Universe %1 has %2 live senders:\n%3")
                           .arg(universe)
                           .arg(live)
                           .arg(lines.join('\n')));
    }
    setWarning(live > 1);
}

void UniverseIndicator::setWarning(bool on)
{
    if (on == m_warns)
        return;
    m_warns = on;
    // Without a warning, palette and font follow the status bar again.
    QPalette colours;
    QFont font;
    if (on) {
        colours = palette();
        colours.setColor(QPalette::WindowText, NetworkTexts::warningColour());
        font = this->font();
        font.setBold(true);
    }
    setPalette(colours);
    setFont(font);
}

void UniverseIndicator::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}
