#include "mergetips.h"

#include "universemerge.h"

#include <algorithm>

namespace {

// A tool tip taller than the screen shows nothing; the winner's line says what matters.
constexpr int MaxListedSources = 16;

} // namespace

void MergeTips::update(const UniverseMerge &merge, const QString &mergeName)
{
    const auto live = std::count_if(merge.sources.cbegin(), merge.sources.cend(),
                                    [](const MergeSourceLevels &source) { return source.live; });
    if (live < 2) {
        clear();
        return;
    }
    m_shown = true;
    for (int channel = 0; channel < Channels; ++channel) {
        // The first line is the program's own: a tool tip judges by it whether the rest is
        // markup, so an sACN source's name shows as the text it is.
        QString text = tr("Sources:");
        int listed = 0;
        int unlisted = 0;
        for (const MergeSourceLevels &source : merge.sources) {
            if (!source.live && !source.inMerge)
                continue;
            if (++listed > MaxListedSources) {
                ++unlisted;
                continue;
            }
            text += QLatin1Char('\n') + source.label + QLatin1String(": ")
                    + (channel < source.count ? QString::number(source.levels[size_t(channel)])
                                              : tr("not sent"));
            if (source.droppedByNode)
                text += tr(" (a node merging two drops this source)");
        }
        if (unlisted > 0)
            text += QLatin1Char('\n') + tr("and %1 more").arg(unlisted);
        const int winner = merge.winner[size_t(channel)];
        text += QLatin1Char('\n');
        if (channel < merge.mergedCount && winner >= 0 && winner < merge.sources.size())
            text += tr("%1: %2 from %3")
                            .arg(mergeName, QString::number(merge.merged[size_t(channel)]),
                                 merge.sources.at(winner).label);
        else
            text += tr("%1: none").arg(mergeName);
        m_texts[size_t(channel)] = text;
    }
}

void MergeTips::clear()
{
    if (!m_shown)
        return;
    m_shown = false;
    for (QString &text : m_texts)
        text.clear();
}
