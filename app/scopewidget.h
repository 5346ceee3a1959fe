#ifndef SCOPEWIDGET_H
#define SCOPEWIDGET_H

#include <QList>
#include <QRect>
#include <QWidget>

#include <vector>

class ChannelTrace;

// Plots the levels of a ChannelTrace over the last seconds, as steps at each frame's arrival,
// 0 to 255 upwards, now at the right edge. Within one pixel column it draws the whole range
// the level took, so that a one-frame glitch shows as a spike however long the span. Each
// channel is reduced to one lowest/highest pair per pixel column and drawn as filled
// rectangles, so a paint costs the same whether a console sends 44 frames a second or a flood
// sends 10,000; it paints when told the time moved on, once per refresh of the table.
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
    static QColor channelColor(int index);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void drawGrid(QPainter &painter, const QRectF &plot) const;
    void drawLegend(QPainter &painter) const;
    void drawChannel(QPainter &painter, const QRectF &plot, int index);
    void gatherColumns(int index, int columns);
    int firstPointShown(qint64 startNs) const;

    // The levels one channel took within one pixel column; low is NoLine where it had none.
    struct ColumnRange
    {
        qint16 low;
        qint16 high;
    };
    static constexpr qint16 NoLine = -1;

    const ChannelTrace *m_trace;
    int m_spanSeconds = 10;
    qint64 m_nowNs = 0;
    int m_selectedCount = 0;
    // Made again only when the plot's width changes, reused by every paint.
    std::vector<ColumnRange> m_columns;
    QList<QRect> m_rects;
};

#endif // SCOPEWIDGET_H
