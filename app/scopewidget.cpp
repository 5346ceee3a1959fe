#include "scopewidget.h"

#include "channeltrace.h"

#include <QPainter>

#include <algorithm>
#include <array>

namespace {

constexpr qreal LeftMargin = 34;
constexpr qreal RightMargin = 8;
constexpr qreal TopMargin = 22;
constexpr qreal BottomMargin = 18;
constexpr int HighestLevel = 255;
constexpr int TimeDivisions = 5;

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
    if (m_trace->channels().isEmpty()) {
        painter.setPen(QColor(LabelText));
        painter.drawText(plot, Qt::AlignCenter, tr("Select up to 8 channels in the table"));
        return;
    }
    drawLegend(painter);
    painter.setClipRect(plot.adjusted(-1, -1, 1, 1));
    for (int index = 0; index < m_trace->channels().size(); ++index)
        drawChannel(painter, plot, index);
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

int ScopeWidget::firstPointShown(qint64 startNs) const
{
    // The point in force at the left edge: the last one before it, or the first of all.
    int low = 0;
    int high = m_trace->size();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (m_trace->at(middle).timeNs < startNs)
            low = middle + 1;
        else
            high = middle;
    }
    return std::max(low - 1, 0);
}

void ScopeWidget::addColumn(int x, qreal entry, qreal low, qreal high, qreal last,
                            const QRectF &plot)
{
    auto y = [&plot](qreal level) { return plot.bottom() - plot.height() * level / HighestLevel; };
    m_line << QPointF(x, y(entry)) << QPointF(x, y(low)) << QPointF(x, y(high))
           << QPointF(x, y(last));
}

void ScopeWidget::drawChannel(QPainter &painter, const QRectF &plot, int index)
{
    const qint64 spanNs = qint64(m_spanSeconds) * 1'000'000'000;
    const qint64 startNs = m_nowNs - spanNs;
    auto columnOf = [&](qint64 timeNs) {
        const qreal x = plot.right() - plot.width() * qreal(m_nowNs - timeNs) / qreal(spanNs);
        return int(std::clamp(x, plot.left(), plot.right()));
    };
    painter.setPen(QPen(channelColor(index), 1.5));
    m_line.clear();
    int column = -1;
    qreal entry = 0, low = 0, high = 0, level = -1;
    auto finishLine = [&] {
        if (column >= 0)
            addColumn(column, entry, low, high, level, plot);
        if (m_line.size() > 1)
            painter.drawPolyline(m_line);
        m_line.clear();
        column = -1;
    };
    for (int point = firstPointShown(startNs); point < m_trace->size(); ++point) {
        const ChannelTrace::Point &at = m_trace->at(point);
        const qint16 next = at.levels[size_t(index)];
        if (next == ChannelTrace::NoLevel) {
            finishLine();
            level = -1;
            continue;
        }
        const int x = columnOf(at.timeNs);
        if (x != column) {
            if (column >= 0)
                addColumn(column, entry, low, high, level, plot);
            entry = level >= 0 ? level : next;
            low = std::min<qreal>(entry, next);
            high = std::max<qreal>(entry, next);
            column = x;
        } else {
            low = std::min<qreal>(low, next);
            high = std::max<qreal>(high, next);
        }
        level = next;
    }
    if (column >= 0) {
        addColumn(column, entry, low, high, level, plot);
        // The last level holds until the newest frame, not until now: a sender that stopped
        // shows as a line that ends.
        const int end = columnOf(m_trace->lastFrameNs());
        if (end > column)
            addColumn(end, level, level, level, level, plot);
        column = -1;
    }
    finishLine();
}
