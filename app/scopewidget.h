#ifndef SCOPEWIDGET_H
#define SCOPEWIDGET_H

#include <QList>
#include <QRect>
#include <QWidget>

#include <vector>

class ChannelTrace;
class SourceTraces;

// Plots the levels of a ChannelTrace over the last seconds, as steps at each frame's arrival,
// 0 to 255 upwards, now at the right edge. Within one pixel column it draws the whole range
// the level took, so that a one-frame glitch shows as a spike however long the span. Each
// channel is reduced to one lowest/highest pair per pixel column and drawn as filled
// rectangles, so a paint costs the same whether a console sends 44 frames a second or a flood
// sends 10,000; it paints when told the time moved on, once per refresh of the table. Given
// SourceTraces, it draws one channel once per source instead, each in its source's colour.
class ScopeWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ScopeWidget(const ChannelTrace *trace, QWidget *parent = nullptr);

    void setSpanSeconds(int seconds);
    int spanSeconds() const { return m_spanSeconds; }
    // The instant at the right edge, on the trace's clock.
    void setNow(qint64 nowNs);
    // How many channels the user selected, of which the trace holds the first few.
    void setSelectedCount(int count);
    // One line per source of the traced channel instead of the selected channels; null goes
    // back to the channels.
    void setSourceTraces(const SourceTraces *sources);
    bool showsSources() const { return m_sources != nullptr; }
    static QColor channelColor(int index);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void drawGrid(QPainter &painter, const QRectF &plot) const;
    void drawLegend(QPainter &painter) const;
    void paintSources(QPainter &painter, const QRectF &plot);
    void drawSourceLegend(QPainter &painter) const;
    void drawTrace(QPainter &painter, const QRectF &plot, const ChannelTrace &trace, int index,
                   const QColor &colour);
    void gatherColumns(const ChannelTrace &trace, int index, int columns);
    static int firstPointShown(const ChannelTrace &trace, qint64 startNs);

    // The levels one channel took within one pixel column; low is NoLine where it had none.
    struct ColumnRange
    {
        qint16 low;
        qint16 high;
    };
    static constexpr qint16 NoLine = -1;

    const ChannelTrace *m_trace;
    const SourceTraces *m_sources = nullptr;
    int m_spanSeconds = 10;
    qint64 m_nowNs = 0;
    int m_selectedCount = 0;
    // Made again only when the plot's width changes, reused by every paint.
    std::vector<ColumnRange> m_columns;
    QList<QRect> m_rects;
};

#endif // SCOPEWIDGET_H
