#include "healthtexts.h"

#include <algorithm>

namespace {

constexpr int LongestBar = 24;

QString milliseconds(qint32 microseconds)
{
    if (microseconds < 0)
        return QStringLiteral("-");
    return QString::number(microseconds / 1000.0, 'f', microseconds < 10000 ? 1 : 0);
}

} // namespace

QString HealthTexts::cell(const IntervalStats &health)
{
    if (health.medianUs < 0)
        return QStringLiteral("-");
    return tr("%1 / %2 ms").arg(milliseconds(health.medianUs), milliseconds(health.p99Us));
}

QString HealthTexts::bucketLabel(int bucket)
{
    const auto &upper = IntervalStats::DisplayUpperMs;
    if (bucket == 0)
        return tr("\u2264 %1 ms").arg(upper[0]);
    if (upper[bucket] == 0)
        return tr("> %1 ms").arg(upper[bucket - 1]);
    return tr("%1\u2013%2 ms").arg(upper[bucket - 1]).arg(upper[bucket]);
}

QString HealthTexts::toolTip(const IntervalStats &health)
{
    QString html = QStringLiteral("<table>");
    const auto row = [&html](const QString &label, const QString &value) {
        html += QStringLiteral("<tr><td>%1</td><td colspan=\"2\">%2</td></tr>").arg(label, value);
    };
    row(tr("Interval, last minute"),
        tr("min %1, median %2, p99 %3, max %4 ms")
                .arg(milliseconds(health.minUs), milliseconds(health.medianUs),
                     milliseconds(health.p99Us), milliseconds(health.maxUs)));
    row(tr("Longest gap"), tr("%1 ms").arg(health.longestGapMs));
    row(tr("Stutters"), health.stutters == 0
                ? QStringLiteral("0")
                : tr("%1, the longest %2 ms").arg(health.stutters).arg(health.longestStutterMs));
    const quint32 most = *std::max_element(health.histogram.cbegin(), health.histogram.cend());
    for (int bucket = 0; bucket < IntervalStats::DisplayBuckets; ++bucket) {
        const quint32 count = health.histogram[bucket];
        const int length = most == 0 ? 0
                : std::max(count > 0 ? 1 : 0, int(quint64(count) * LongestBar / most));
        html += QStringLiteral("<tr><td>%1</td><td><tt>%2</tt></td><td align=\"right\">%3</td></tr>")
                        .arg(bucketLabel(bucket).toHtmlEscaped(),
                             QString(length, QChar(0x2588)), QString::number(count));
    }
    return html + QStringLiteral("</table>");
}
