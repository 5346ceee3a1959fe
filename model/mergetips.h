#ifndef MERGETIPS_H
#define MERGETIPS_H

#include "dmxframe.h"

#include <QCoreApplication>
#include <QString>

#include <array>

struct UniverseMerge;

// What each channel's tool tip says while two or more sources send the universe on show: every
// source's level there and the source that wins it. Written on the window's refresh, so that the
// table's data() only hands out a text kept here.
class MergeTips
{
    Q_DECLARE_TR_FUNCTIONS(MergeTips)

public:
    static constexpr int Channels = DmxFrame::MaxChannels;

    // mergeName names the merge the winners come from ("Merged (HTP)").
    void update(const UniverseMerge &merge, const QString &mergeName);
    void clear();
    // False while fewer than two sources are live: the tips say nothing then.
    bool shown() const { return m_shown; }
    const QString &text(int channel) const { return m_texts[size_t(channel)]; }

private:
    std::array<QString, Channels> m_texts;
    bool m_shown = false;
};

#endif // MERGETIPS_H
