#ifndef LEVELCHOICE_H
#define LEVELCHOICE_H

#include "sourceidentity.h"

#include <QtGlobal>

// Which levels of the universe on show the table, the history and the views follow: the latest
// packet whatever its source, a merge of the sources as a node or receiver would output it, or
// one source's own frame.
struct LevelChoice
{
    enum class Kind : quint8 {
        LatestPacket,
        MergedHtp,          // Art-Net: highest level per channel
        MergedLtp,          // Art-Net: the most recently changed level per channel
        MergedPriorityHtp,  // sACN: highest priority, then highest level
        Source,
    };

    Kind kind = Kind::LatestPacket;
    SourceIdentity source; // for Kind::Source

    static LevelChoice of(Kind kind)
    {
        LevelChoice choice;
        choice.kind = kind;
        return choice;
    }
    static LevelChoice ofSource(const SourceIdentity &source)
    {
        LevelChoice choice;
        choice.kind = Kind::Source;
        choice.source = source;
        return choice;
    }

    friend bool operator==(const LevelChoice &a, const LevelChoice &b)
    {
        return a.kind == b.kind && (a.kind != Kind::Source || a.source == b.source);
    }
    friend bool operator!=(const LevelChoice &a, const LevelChoice &b) { return !(a == b); }
};

#endif // LEVELCHOICE_H
