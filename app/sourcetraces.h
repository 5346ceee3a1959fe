#ifndef SOURCETRACES_H
#define SOURCETRACES_H

#include "channeltrace.h"
#include "sourceidentity.h"

#include <QString>

#include <memory>
#include <vector>

class CaptureSession;

// One channel of the universe on show, traced once per source that sends it, so that the scope
// can draw two consoles fighting over it as two lines. Fed from the session's per-source traces
// at each refresh of the table; at most MaxSources sources, in order of first arrival, each with
// its colour by that order.
class SourceTraces
{
public:
    static constexpr int MaxSources = 8;

    // channel: 0-511, or -1 for none; starts empty traces.
    void setChannel(int channel);
    int channel() const { return m_channel; }
    void clear();
    // Takes in what each source sent up to nowNs since the last refresh.
    void refresh(const CaptureSession &session, qint64 nowNs);

    int size() const { return int(m_sources.size()); }
    const ChannelTrace &trace(int index) const { return m_sources.at(size_t(index))->trace; }
    const QString &label(int index) const { return m_sources.at(size_t(index))->label; }
    // Stored sources of the universe beyond MaxSources, which are not traced.
    int untraced() const { return m_untraced; }

private:
    struct Source
    {
        SourceIdentity identity;
        QString label;
        ChannelTrace trace;
        qint64 fedUntilNs = 0;
    };

    Source *traceOf(const SourceIdentity &identity, const QString &label, qint64 nowNs);

    int m_channel = -1;
    int m_untraced = 0;
    std::vector<std::unique_ptr<Source>> m_sources;
};

#endif // SOURCETRACES_H
