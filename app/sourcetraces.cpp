#include "sourcetraces.h"

#include "capturesession.h"
#include "levelchoice.h"

#include <algorithm>

namespace {

// As far back as the scope's longest span.
constexpr qint64 FirstFeedNs = 60'000'000'000;

} // namespace

void SourceTraces::setChannel(int channel)
{
    m_channel = channel;
    clear();
}

void SourceTraces::clear()
{
    m_sources.clear();
    m_untraced = 0;
}

void SourceTraces::refresh(const CaptureSession &session, qint64 nowNs)
{
    if (m_channel < 0)
        return;
    // The session's sources in order of first arrival: their index is their trace's.
    std::vector<const Source *> listed;
    int sourceIndex = -1;
    m_untraced = 0;
    const QList<LevelChoice> choices = session.levelChoices();
    for (const LevelChoice &choice : choices) {
        if (choice.kind != LevelChoice::Kind::Source)
            continue;
        ++sourceIndex;
        Source *source = traceOf(choice.source, session.levelChoiceText(choice), nowNs);
        if (!source) {
            ++m_untraced;
            continue;
        }
        listed.push_back(source);
        const auto samples = session.sourceTrace(sourceIndex, source->fedUntilNs + 1);
        for (const auto &sample : samples) {
            // Later ones wait for the next refresh, so that a frozen scope shows what the
            // table showed.
            if (sample.timeNs > nowNs)
                break;
            source->trace.addFrame(&sample.level, 1, sample.timeNs);
            source->fedUntilNs = sample.timeNs;
        }
    }
    // A source the session forgot takes its trace and colour with it.
    m_sources.erase(std::remove_if(m_sources.begin(), m_sources.end(),
                                   [&listed](const std::unique_ptr<Source> &source) {
                                       return std::find(listed.cbegin(), listed.cend(),
                                                        source.get())
                                               == listed.cend();
                                   }),
                    m_sources.end());
}

SourceTraces::Source *SourceTraces::traceOf(const SourceIdentity &identity, const QString &label,
                                            qint64 nowNs)
{
    for (const auto &source : m_sources) {
        if (source->identity == identity) {
            source->label = label; // an sACN source may rename itself
            return source.get();
        }
    }
    if (int(m_sources.size()) >= MaxSources)
        return nullptr;
    auto source = std::make_unique<Source>();
    source->identity = identity;
    source->label = label;
    // The trace holds one level per point: that of the one channel.
    source->trace.setChannels({0});
    source->fedUntilNs = nowNs - FirstFeedNs;
    m_sources.push_back(std::move(source));
    return m_sources.back().get();
}
