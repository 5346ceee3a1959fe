#include "universeindicator.h"

#include "networktexts.h"

#include <QMouseEvent>
#include <QPalette>

UniverseIndicator::UniverseIndicator(QWidget *parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("universeIndicator"));
    setCursor(Qt::PointingHandCursor);
    setContentsMargins(4, 0, 4, 0);
    // Whatever a sender calls itself never turns into markup here.
    setTextFormat(Qt::PlainText);
    showSources(UniverseKey{DmxProtocol::ArtNet, 0}, {});
}

void UniverseIndicator::showSources(UniverseKey universe, const QList<DmxSource> &sources)
{
    if (universe.protocol == DmxProtocol::Sacn)
        showSacnSources(universe.number, sources);
    else
        showArtNetSources(int(universe.number) + 1, sources);
}

void UniverseIndicator::showArtNetSources(int universe, const QList<DmxSource> &sources)
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

void UniverseIndicator::showSacnSources(int universe, const QList<DmxSource> &sources)
{
    QStringList lines;
    const DmxSource *only = nullptr;
    int live = 0;
    int valid = 0;  // live sources whose priority a receiver takes
    int atTop = 0;  // of those, how many send the highest priority
    int top = 0;
    for (const DmxSource &source : sources) {
        if (!source.live)
            continue;
        ++live;
        only = &source;
        lines << tr("%1, priority %2: %3")
                         .arg(NetworkTexts::address(source.address))
                         .arg(int(source.priority))
                         .arg(NetworkTexts::rate(source.rateHz));
        if (source.priority > NetworkTexts::MaxSacnPriority)
            continue;
        if (++valid == 1 || source.priority > top) {
            top = source.priority;
            atTop = 1;
        } else if (source.priority == top) {
            ++atTop;
        }
    }

    const bool fight = atTop >= 2;
    if (live == 0) {
        setText(tr("no sACN data"));
        setToolTip(tr("Nobody sent sACN universe %1 in the last 2.5 s. Click for the network "
                      "view.")
                           .arg(universe));
    } else if (live == 1) {
        setText(tr("sACN %1 at %2").arg(NetworkTexts::address(only->address),
                                        NetworkTexts::rate(only->rateHz)));
        setToolTip(tr("sACN universe %1 comes from\n%2").arg(universe).arg(lines.join('\n')));
    } else if (fight || valid == 0) {
        setText(tr("%1 sACN sources").arg(live));
        setToolTip(tr("sACN universe %1 has %2 live sources and no one priority wins; "
                      "receivers merge them as each chooses:\n%3")
                           .arg(universe)
                           .arg(live)
                           .arg(lines.join('\n')));
    } else {
        setText(tr("%1 sACN sources, priority %2 wins").arg(live).arg(top));
        setToolTip(tr("sACN universe %1 has %2 live sources; the one at priority %3 drives the "
                      "lights:\n%4")
                           .arg(universe)
                           .arg(live)
                           .arg(top)
                           .arg(lines.join('\n')));
    }
    setWarning(fight);
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
