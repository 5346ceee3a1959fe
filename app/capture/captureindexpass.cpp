#include "captureindexpass.h"

#include <QFileInfo>

#include <algorithm>

namespace {

// How often the cancel flag and the progress are looked at, in datagrams.
constexpr quint64 CheckEvery = 1024;

// Keeps every other entry: the step between entries doubles.
void thinOut(QList<CaptureIndexPass::Entry> *entries)
{
    qsizetype kept = 0;
    for (qsizetype index = 0; index < entries->size(); index += 2)
        (*entries)[kept++] = entries->at(index);
    entries->resize(kept);
}

} // namespace

CaptureIndexPass::Entry CaptureIndexPass::Result::entryBefore(qint64 timeNs) const
{
    if (entries.isEmpty())
        return {};
    const auto after = std::upper_bound(
            entries.cbegin(), entries.cend(), timeNs,
            [](qint64 time, const Entry &entry) { return time < entry.timeNs; });
    return after == entries.cbegin() ? entries.first() : *(after - 1);
}

CaptureIndexPass::Result CaptureIndexPass::run(const QString &path,
                                               std::atomic<int> *progressPerMille,
                                               const std::atomic<bool> *cancel)
{
    Result result;
    CaptureFileReader reader;
    if (!reader.open(path)) {
        result.error = reader.errorString();
        return result;
    }
    result.opened = true;
    result.linkType = reader.linkTypeName();
    result.entries.reserve(MaxEntries);
    const qint64 size = std::max<qint64>(1, QFileInfo(path).size());
    quint64 step = 1;
    CapturedDatagram datagram;
    qint64 position = reader.position();
    while (reader.readNext(&datagram)) {
        if (result.datagrams == 0)
            result.firstNs = datagram.timeNs;
        // Captures merged from several interfaces may step back a little; the index must not.
        result.lastNs = std::max(result.lastNs, datagram.timeNs);
        if (result.datagrams % step == 0) {
            if (result.entries.size() == MaxEntries) {
                thinOut(&result.entries);
                step *= 2;
            }
            if (result.datagrams % step == 0)
                result.entries.append({position, result.lastNs});
        }
        ++result.datagrams;
        position = reader.position();
        if (result.datagrams % CheckEvery == 0) {
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                result.cancelled = true;
                break;
            }
            if (progressPerMille)
                progressPerMille->store(int(std::min<qint64>(1000, position * 1000 / size)),
                                        std::memory_order_relaxed);
        }
    }
    result.error = reader.errorString();
    result.counts = reader.counts();
    return result;
}
