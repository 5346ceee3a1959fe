#include "universeranges.h"

#include "sacnpackets.h"
#include "sacnreceiver.h"

#include <QStringList>

#include <algorithm>
#include <bitset>
#include <memory>

const int UniverseRanges::MaxUniverses = SacnReceiver::MaxWatchedUniverses;

namespace {

// Five digits hold every universe; more could only overflow the conversion.
constexpr int MaxDigits = 5;
// An item quoted in an error is cut, so that a pasted page does not become the message.
constexpr int MaxQuotedLength = 24;

using UniverseSet = std::bitset<SacnPackets::MaxUniverse + 1>;

QString quoted(const QString &item)
{
    const QString shown = item.size() > MaxQuotedLength
            ? item.left(MaxQuotedLength) + QStringLiteral("...")
            : item;
    return QStringLiteral("\"%1\"").arg(shown);
}

// A run of decimal digits, nothing else; -1 for anything else.
int numberOf(const QString &text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > MaxDigits)
        return -1;
    int value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

bool inRange(int universe)
{
    return universe >= SacnPackets::MinUniverse && universe <= SacnPackets::MaxUniverse;
}

} // namespace

bool UniverseRanges::parse(const QString &text, QList<quint16> *universes, QString *error)
{
    // The universes named so far: 8 KB, kept off the stack.
    auto chosen = std::make_unique<UniverseSet>();
    int count = 0;
    const QStringList items = text.split(u',');
    for (const QString &rawItem : items) {
        const QString item = rawItem.trimmed();
        if (item.isEmpty())
            continue;
        const qsizetype dash = item.indexOf(u'-');
        const int first = numberOf(dash < 0 ? item : item.left(dash));
        const int last = dash < 0 ? first : numberOf(item.mid(dash + 1));
        if (first < 0 || last < 0) {
            *error = tr("%1 is not a universe or a range of universes").arg(quoted(item));
            return false;
        }
        if (!inRange(first) || !inRange(last)) {
            *error = tr("%1 is outside the universes %2 to %3")
                             .arg(quoted(item))
                             .arg(SacnPackets::MinUniverse)
                             .arg(SacnPackets::MaxUniverse);
            return false;
        }
        if (last < first) {
            *error = tr("The range %1 runs backwards").arg(quoted(item));
            return false;
        }
        for (int universe = first; universe <= last; ++universe) {
            if (chosen->test(size_t(universe)))
                continue;
            if (++count > MaxUniverses) {
                *error = tr("The list names more than %1 universes, more than can be watched")
                                 .arg(MaxUniverses);
                return false;
            }
            chosen->set(size_t(universe));
        }
    }
    universes->clear();
    universes->reserve(count);
    for (int universe = SacnPackets::MinUniverse; universe <= SacnPackets::MaxUniverse; ++universe)
        if (chosen->test(size_t(universe)))
            universes->append(quint16(universe));
    return true;
}

QString UniverseRanges::format(const QList<quint16> &universes)
{
    QList<quint16> sorted = universes;
    std::sort(sorted.begin(), sorted.end());
    sorted.resize(std::unique(sorted.begin(), sorted.end()) - sorted.begin());
    QStringList items;
    for (qsizetype at = 0; at < sorted.size();) {
        qsizetype end = at + 1;
        while (end < sorted.size() && sorted[end] == sorted[end - 1] + 1)
            ++end;
        items << (end - at == 1 ? QString::number(sorted[at])
                                : QStringLiteral("%1-%2").arg(sorted[at]).arg(sorted[end - 1]));
        at = end;
    }
    return items.join(QStringLiteral(", "));
}
