// The session's choice of levels for the universe on show, and each source's levels beside
// their merge, for both protocols.
#include "capturesession.h"

#include "artnet.h"
#include "monotonicclock.h"
#include "sacnreceiver.h"
#include "sourcelevels.h"

#include <QCoreApplication>
#include <QHostAddress>

#include <algorithm>
#include <cstring>

namespace {

bool offeredFor(DmxProtocol protocol, const LevelChoice &choice)
{
    switch (choice.kind) {
    case LevelChoice::Kind::LatestPacket:
        return true;
    case LevelChoice::Kind::MergedHtp:
    case LevelChoice::Kind::MergedLtp:
        return protocol == DmxProtocol::ArtNet;
    case LevelChoice::Kind::MergedPriorityHtp:
        return protocol == DmxProtocol::Sacn;
    case LevelChoice::Kind::Source:
        return choice.source.protocol == protocol;
    }
    return false;
}

QString addressText(quint32 address)
{
    return QHostAddress(address).toString();
}

// Channels that two or more live sources carry at different levels.
int differingChannels(const UniverseMerge &merge)
{
    int differing = 0;
    for (int channel = 0; channel < DmxFrame::MaxChannels; ++channel) {
        int lowest = 256;
        int highest = -1;
        for (const MergeSourceLevels &source : merge.sources) {
            if (!source.live || channel >= source.count)
                continue;
            lowest = std::min<int>(lowest, source.levels[size_t(channel)]);
            highest = std::max<int>(highest, source.levels[size_t(channel)]);
        }
        if (highest > lowest)
            ++differing;
    }
    return differing;
}

} // namespace

const SourceLevels *CaptureSession::shownSourceLevels() const
{
    if (m_protocol == DmxProtocol::Sacn)
        return m_sacn ? &m_sacn->sourceLevels() : nullptr;
    return m_artNet ? m_artNet->sourceLevels() : nullptr;
}

void CaptureSession::applyLevelChoice()
{
    if (m_artNet)
        m_artNet->setHistoryChoice(m_artNetChoice);
    if (m_sacn)
        m_sacn->setLevelChoice(m_sacnChoice);
}

void CaptureSession::setLevelChoice(const LevelChoice &choice)
{
    if (!offeredFor(m_protocol, choice))
        return;
    (m_protocol == DmxProtocol::Sacn ? m_sacnChoice : m_artNetChoice) = choice;
    applyLevelChoice();
}

LevelChoice CaptureSession::levelChoice() const
{
    return m_protocol == DmxProtocol::Sacn ? m_sacnChoice : m_artNetChoice;
}

QList<LevelChoice> CaptureSession::levelChoices() const
{
    QList<LevelChoice> choices{LevelChoice()};
    if (m_protocol == DmxProtocol::Sacn) {
        choices << LevelChoice::of(LevelChoice::Kind::MergedPriorityHtp);
    } else {
        choices << LevelChoice::of(LevelChoice::Kind::MergedHtp)
                << LevelChoice::of(LevelChoice::Kind::MergedLtp);
    }
    if (const SourceLevels *levels = shownSourceLevels()) {
        for (int index = 0; index < levels->count(); ++index)
            choices << LevelChoice::ofSource(levels->identity(index));
    }
    return choices;
}

QString CaptureSession::levelChoiceText(const LevelChoice &choice) const
{
    switch (choice.kind) {
    case LevelChoice::Kind::LatestPacket:
        return QCoreApplication::translate("CaptureSession", "Latest packet");
    case LevelChoice::Kind::MergedHtp:
        return QCoreApplication::translate("CaptureSession", "Merged (HTP)");
    case LevelChoice::Kind::MergedLtp:
        return QCoreApplication::translate("CaptureSession", "Merged (LTP)");
    case LevelChoice::Kind::MergedPriorityHtp:
        return QCoreApplication::translate("CaptureSession", "Merged (priority, HTP)");
    case LevelChoice::Kind::Source:
        break;
    }
    return sourceLabel(choice.source);
}

// An Art-Net source is its address, with its Physical when the same address sends the universe
// from another output too; an sACN source is its name and address.
QString CaptureSession::sourceLabel(const SourceIdentity &source) const
{
    const QString address = addressText(source.address);
    if (source.protocol == DmxProtocol::Sacn) {
        const QList<SacnSourceInfo> known = m_sacn ? m_sacn->sources() : QList<SacnSourceInfo>();
        for (const SacnSourceInfo &info : known) {
            if (info.cid == source.cid && info.universe == quint16(m_sacnUniverse))
                return QStringLiteral("%1 (%2)").arg(info.name, address);
        }
        return address;
    }
    const SourceLevels *levels = m_artNet ? m_artNet->sourceLevels() : nullptr;
    for (int index = 0; levels && index < levels->count(); ++index) {
        const SourceIdentity &other = levels->identity(index);
        if (other.address == source.address && other.physical != source.physical)
            return QCoreApplication::translate("CaptureSession", "%1 physical %2")
                    .arg(address)
                    .arg(source.physical);
    }
    return address;
}

UniverseMerge CaptureSession::universeMerge(LevelChoice::Kind mergeKind) const
{
    UniverseMerge merge;
    merge.universe = universeOnShow();
    merge.winner.fill(SourceLevels::NoWinner);
    const SourceLevels *levels = shownSourceLevels();
    if (!levels)
        return merge;
    const qint64 nowNs = MonotonicClock::nowNs();
    const bool sacn = m_protocol == DmxProtocol::Sacn;
    for (int index = 0; index < levels->count(); ++index) {
        MergeSourceLevels source;
        source.identity = levels->identity(index);
        source.label = sourceLabel(source.identity);
        source.live = levels->isLive(index, nowNs);
        source.inMerge = levels->inMerge(index, nowNs);
        source.droppedByNode = !sacn && levels->droppedByNode(index, nowNs);
        source.priority = sacn ? m_sacn->priorityOf(source.identity) : 0;
        source.count = levels->levelCount(index);
        std::memcpy(source.levels.data(), levels->levels(index), source.count);
        merge.sources << source;
    }
    fillMerge(mergeKind, nowNs, &merge);
    merge.differingChannels = differingChannels(merge);
    return merge;
}

void CaptureSession::fillMerge(LevelChoice::Kind mergeKind, qint64 nowNs, UniverseMerge *merge) const
{
    const SourceLevels *levels = shownSourceLevels();
    quint8 *merged = merge->merged.data();
    qint8 *winner = merge->winner.data();
    int count = 0;
    switch (mergeKind) {
    case LevelChoice::Kind::MergedHtp:
        count = levels->mergeHtp(nowNs, merged, winner);
        break;
    case LevelChoice::Kind::MergedLtp:
        count = levels->mergeLtp(nowNs, merged, winner);
        break;
    case LevelChoice::Kind::MergedPriorityHtp:
        count = m_sacn ? m_sacn->mergeWithWinners(nowNs, merged, winner) : 0;
        break;
    case LevelChoice::Kind::LatestPacket:
    case LevelChoice::Kind::Source:
        // Not a merge: no source wins a channel over another.
        count = std::max(0, levels->choose(LevelChoice::of(mergeKind), nowNs, merged));
        break;
    }
    merge->mergedCount = quint16(count);
}

void CaptureSession::setTracedChannel(int channel)
{
    m_tracedChannel = channel >= 0 && channel < DmxFrame::MaxChannels ? channel : -1;
    if (m_artNet && m_artNet->sourceLevels())
        m_artNet->sourceLevels()->setTracedChannel(m_tracedChannel);
    if (m_sacn)
        m_sacn->sourceLevels().setTracedChannel(m_tracedChannel);
}

QList<CaptureSession::SourceTraceSample> CaptureSession::sourceTrace(int sourceIndex,
                                                                     qint64 sinceNs) const
{
    const SourceLevels *levels = shownSourceLevels();
    return levels ? levels->trace(sourceIndex, sinceNs) : QList<SourceTraceSample>();
}
