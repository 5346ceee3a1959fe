#ifndef SCOPEWIDGET_H
#define SCOPEWIDGET_H

#include <QPolygonF>
#include <QWidget>

class ChannelTrace;

// Plots the levels of a ChannelTrace over the last seconds, as steps at each frame's arrival,
// 0 to 255 upwards, now at the right edge. Within one pixel column it draws the whole range
// the level took, so that a one-frame glitch shows as a spike however long the span.
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
    void addColumn(int x, qreal entry, qreal low, qreal high, qreal last, const QRectF &plot);
    int firstPointShown(qint64 startNs) const;

    const ChannelTrace *m_trace;
    int m_spanSeconds = 10;
    qint64 m_nowNs = 0;
    int m_selectedCount = 0;
    QPolygonF m_line; // reused by every paint
};

#endif // SCOPEWIDGET_H
