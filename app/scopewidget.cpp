#include "scopewidget.h"

#include "channeltrace.h"
#include "sourcepalette.h"
#include "sourcetraces.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr qreal LeftMargin = 34;
constexpr qreal RightMargin = 8;
constexpr qreal TopMargin = 22;
constexpr qreal BottomMargin = 18;
constexpr int HighestLevel = 255;
constexpr int TimeDivisions = 5;
// A source's name in the legend, at most; sACN names run to 64 characters.
constexpr int LegendLabelWidth = 180;

// Bright on a dark ground, told apart by hue, for a dark venue.
constexpr std::array<QRgb, ChannelTrace::MaxChannels> ChannelColors = {
        0xffff5252, 0xff69f0ae, 0xff40c4ff, 0xffffd740,
        0xffe040fb, 0xffffab40, 0xff18ffff, 0xffeeff41};
constexpr QRgb Background = 0xff101418;
constexpr QRgb GridLine = 0xff2c333c;
constexpr QRgb LabelText = 0xffc8d0d8;

} // namespace

ScopeWidget::ScopeWidget(const ChannelTrace *trace, QWidget *parent)
    : QWidget(parent), m_trace(trace)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(240, 120);
}

void ScopeWidget::setSpanSeconds(int seconds)
{
    m_spanSeconds = std::max(seconds, 1);
    update();
}

void ScopeWidget::setNow(qint64 nowNs)
{
    m_nowNs = nowNs;
    update();
}

void ScopeWidget::setSelectedCount(int count)
{
    m_selectedCount = count;
    update();
}

void ScopeWidget::setSourceTraces(const SourceTraces *sources)
{
    m_sources = sources;
    update();
}

QColor ScopeWidget::channelColor(int index)
{
    return QColor(ChannelColors[size_t(index) % ChannelColors.size()]);
}

QSize ScopeWidget::sizeHint() const
{
    return QSize(560, 220);
}

void ScopeWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(Background));
    const QRectF plot(LeftMargin, TopMargin, width() - LeftMargin - RightMargin,
                      height() - TopMargin - BottomMargin);
    drawGrid(painter, plot);
    if (m_sources) {
        paintSources(painter, plot);
        return;
    }
    if (m_trace->channels().isEmpty()) {
        painter.setPen(QColor(LabelText));
        painter.drawText(plot, Qt::AlignCenter, tr("Select up to 8 channels in the table"));
        return;
    }
    drawLegend(painter);
    painter.setClipRect(plot.adjusted(-1, -1, 1, 1));
    for (int index = 0; index < m_trace->channels().size(); ++index)
        drawTrace(painter, plot, *m_trace, index, channelColor(index));
}

void ScopeWidget::paintSources(QPainter &painter, const QRectF &plot)
{
    painter.setPen(QColor(LabelText));
    if (m_sources->channel() < 0) {
        painter.drawText(plot, Qt::AlignCenter, tr("Select a channel in the table"));
        return;
    }
    drawSourceLegend(painter);
    if (m_sources->size() == 0) {
        painter.drawText(plot, Qt::AlignCenter, tr("No source sent this universe"));
        return;
    }
    painter.setClipRect(plot.adjusted(-1, -1, 1, 1));
    for (int index = 0; index < m_sources->size(); ++index)
        drawTrace(painter, plot, m_sources->trace(index), 0, SourcePalette::line(index));
}

void ScopeWidget::drawSourceLegend(QPainter &painter) const
{
    const QFontMetrics metrics = painter.fontMetrics();
    painter.setPen(QColor(LabelText));
    const QString channel = tr("Ch %1:").arg(m_sources->channel() + 1);
    painter.drawText(QPointF(LeftMargin, 15), channel);
    qreal x = LeftMargin + metrics.horizontalAdvance(channel) + 8;
    for (int index = 0; index < m_sources->size(); ++index) {
        const ChannelTrace &trace = m_sources->trace(index);
        // What a sender calls itself is drawn as it is, never read as markup.
        QString label = metrics.elidedText(m_sources->label(index), Qt::ElideRight,
                                           LegendLabelWidth);
        const qint16 newest = trace.size() > 0 ? trace.at(trace.size() - 1).levels[0]
                                               : ChannelTrace::NoLevel;
        if (newest != ChannelTrace::NoLevel)
            label += QStringLiteral(" = %1").arg(newest);
        painter.fillRect(QRectF(x, 6, 10, 10), SourcePalette::line(index));
        painter.drawText(QPointF(x + 14, 15), label);
        x += 14 + metrics.horizontalAdvance(label) + 12;
    }
    if (m_sources->untraced() > 0)
        painter.drawText(QPointF(x, 15),
                         tr("(%1 more sources not drawn)").arg(m_sources->untraced()));
}

void ScopeWidget::drawGrid(QPainter &painter, const QRectF &plot) const
{
    const QFontMetrics metrics = painter.fontMetrics();
    for (int level : {0, 64, 128, 192, HighestLevel}) {
        const qreal y = plot.bottom() - plot.height() * level / HighestLevel;
        painter.setPen(QColor(GridLine));
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(QColor(LabelText));
        painter.drawText(QRectF(0, y - metrics.height() / 2.0, LeftMargin - 4, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(level));
    }
    for (int division = 0; division <= TimeDivisions; ++division) {
        const qreal x = plot.left() + plot.width() * division / TimeDivisions;
        painter.setPen(QColor(GridLine));
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        const double secondsAgo = double(m_spanSeconds) * (TimeDivisions - division) / TimeDivisions;
        const QString label = division == TimeDivisions ? tr("now") : tr("-%1 s").arg(secondsAgo);
        painter.setPen(QColor(LabelText));
        const int align = division == 0 ? Qt::AlignLeft
                : division == TimeDivisions ? Qt::AlignRight : Qt::AlignHCenter;
        const qreal left = division == 0 ? x : division == TimeDivisions ? x - 80 : x - 40;
        painter.drawText(QRectF(left, plot.bottom() + 2, 80, BottomMargin - 2),
                         Qt::AlignTop | align, label);
    }
}

void ScopeWidget::drawLegend(QPainter &painter) const
{
    const QFontMetrics metrics = painter.fontMetrics();
    qreal x = LeftMargin;
    const QList<int> &channels = m_trace->channels();
    const qint16 *newest = m_trace->size() > 0 ? m_trace->at(m_trace->size() - 1).levels.data()
                                               : nullptr;
    for (int index = 0; index < channels.size(); ++index) {
        QString label = tr("Ch %1").arg(channels.at(index) + 1);
        if (newest && newest[index] != ChannelTrace::NoLevel)
            label += QStringLiteral(" = %1").arg(newest[index]);
        painter.fillRect(QRectF(x, 6, 10, 10), channelColor(index));
        painter.setPen(QColor(LabelText));
        painter.drawText(QPointF(x + 14, 15), label);
        x += 14 + metrics.horizontalAdvance(label) + 12;
    }
    if (m_selectedCount > channels.size())
        painter.drawText(QPointF(x, 15),
                         tr("(first %1 of %2 selected)").arg(channels.size()).arg(m_selectedCount));
}

int ScopeWidget::firstPointShown(const ChannelTrace &trace, qint64 startNs)
{
    // The point in force at the left edge: the last one before it, or the first of all.
    int low = 0;
    int high = trace.size();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (trace.at(middle).timeNs < startNs)
            low = middle + 1;
        else
            high = middle;
    }
    return std::max(low - 1, 0);
}

void ScopeWidget::gatherColumns(const ChannelTrace &trace, int index, int columns)
{
    if (m_columns.size() != size_t(columns))
        m_columns.resize(size_t(columns));
    std::fill(m_columns.begin(), m_columns.end(), ColumnRange{NoLine, NoLine});
    const qint64 spanNs = qint64(m_spanSeconds) * 1'000'000'000;
    const qreal last = columns - 1;
    auto columnOf = [&](qint64 timeNs) {
        return int(std::clamp(last - last * qreal(m_nowNs - timeNs) / qreal(spanNs), 0.0, last));
    };
    auto cover = [this](int column, qint16 level) {
        ColumnRange &range = m_columns[size_t(column)];
        if (range.low == NoLine) {
            range = {level, level};
        } else {
            range.low = std::min(range.low, level);
            range.high = std::max(range.high, level);
        }
    };
    // A level holds from its frame's column up to and including the next change's column, so
    // that the step itself is part of the column it happens in. Columns only grow, so this
    // touches each column and each point once.
    int column = -1;
    qint16 level = ChannelTrace::NoLevel;
    for (int point = firstPointShown(trace, m_nowNs - spanNs); point < trace.size(); ++point) {
        const ChannelTrace::Point &at = trace.at(point);
        const int x = columnOf(at.timeNs);
        if (level != ChannelTrace::NoLevel) {
            for (int held = column + 1; held <= x; ++held)
                cover(held, level);
        }
        level = at.levels[size_t(index)];
        if (level != ChannelTrace::NoLevel)
            cover(x, level);
        column = x;
    }
    // The last level holds until the newest frame, not until now: a sender that stopped shows
    // as a line that ends.
    if (level != ChannelTrace::NoLevel) {
        const int end = columnOf(trace.lastFrameNs());
        for (int held = column + 1; held <= end; ++held)
            cover(held, level);
    }
}

void ScopeWidget::drawTrace(QPainter &painter, const QRectF &plot, const ChannelTrace &trace,
                            int index, const QColor &colour)
{
    const int columns = std::max(int(plot.width()), 1) + 1;
    gatherColumns(trace, index, columns);
    const int left = int(plot.left());
    auto rowOf = [&plot](int level) {
        return int(std::lround(plot.bottom() - plot.height() * level / HighestLevel));
    };
    // Two pixels wide and tall, overlapping the next column, so that steps and spikes read as
    // one line; runs of the same level become one rectangle.
    m_rects.clear();
    for (int column = 0; column < columns; ++column) {
        const ColumnRange range = m_columns[size_t(column)];
        if (range.low == NoLine)
            continue;
        const int top = rowOf(range.high) - 1;
        const int bottom = rowOf(range.low);
        const int x = left + column;
        if (!m_rects.isEmpty() && m_rects.last().right() == x && m_rects.last().top() == top
            && m_rects.last().bottom() == bottom)
            m_rects.last().setRight(x + 1);
        else
            m_rects.append(QRect(QPoint(x, top), QPoint(x + 1, bottom)));
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRects(m_rects.constData(), int(m_rects.size()));
}
