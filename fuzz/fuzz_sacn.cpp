// Feeds sACN datagrams to the reader and a universe's merge, with time passing between them, and
// the same datagrams to a receiver (no socket: handed over as its socket's reader would).
//
// Input: one byte of settings (bit 0: the merge accepts preview data), then records until the
// input ends, each a time step (one byte, in 20 ms units) and one datagram:
//   - a kind byte (bits 1-2: which of four sender addresses) with bit 0 set: a datagram of the
//     next two bytes' length (little-endian), as it stands;
//   - bit 0 clear: a data packet written from fields: source (its CID's every byte), priority,
//     sequence, options, start code (0: levels, 1: per-address priority, else as it stands),
//     universe (bit 0: 1 or 2), slot count (two bytes, up to 512), the slots.
//
// Checked besides the sanitizers (each datagram sits in a buffer of exactly its size):
//   - no field of a message points past the datagram; slot count 0-512, discovery list 0-512;
//   - a malformed message carries no levels, slots or universe list; only start code 0 gives
//     levels; a priority above 200 is flagged; a data message's layers say what the standard
//     says at their fixed offsets;
//   - a data packet rewritten by the writer reads back with the same fields and levels;
//   - after every datagram, the merged level of each slot is the highest level among the live
//     sources of the highest priority there (kept here in a model of its own: sequence rule,
//     loss after 2.5 s, stream terminated, per-address priority, preview, at most 64 sources),
//     and the count of live sources agrees;
//   - the receiver's table of sources (every data message, as the receiver feeds it) lists only
//     sources heard within 2.5 s, within its bound, with names of at most 64 bytes;
//   - the receiver itself, universe 1 on show: each merged frame it keeps is the
//     model's levels at that frame's arrival; its census holds, per universe, every source that
//     sent it levels, up to the bound of 64, and counts each malformed datagram against its
//     sender.

#include "dmxcensus.h"
#include "fuzzenvironment.h"
#include "fuzzinput.h"
#include "framehistory.h"
#include "monotonicclock.h"
#include "sacnmerge.h"
#include "sacnpackets.h"
#include "sacnreceiver.h"
#include "sacnsourcetable.h"
#include "testpackets.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace {

#define REQUIRE(condition) FUZZ_REQUIRE("fuzz_sacn", condition)

constexpr quint16 MergedUniverse = 1;
constexpr qint64 StepNs = 20'000'000;
constexpr qint64 LossNs = 2'500'000'000;
constexpr int Slots = DmxFrame::MaxChannels;

using Cid = SacnPackets::Cid;

struct ModelSource
{
    qint64 lastNs = 0;
    qint64 perAddressNs = -1;
    quint8 sequence = 0;
    quint8 priority = 0;
    std::vector<quint8> levels;
    std::vector<quint8> priorities;
};

struct Model
{
    bool acceptPreview = false;
    std::map<Cid, ModelSource> sources;

    bool live(const ModelSource &source, qint64 nowNs) const { return nowNs - source.lastNs < LossNs; }
    int liveCount(qint64 nowNs) const
    {
        return int(std::count_if(sources.begin(), sources.end(),
                                 [&](const auto &entry) { return live(entry.second, nowNs); }));
    }
    void take(const SacnMessage &message);
    // -1 where no live source drives the slot.
    int level(int slot, qint64 nowNs) const;
};

void Model::take(const SacnMessage &message)
{
    const DmxFrame &frame = message.frame;
    const bool levels = message.startCode == 0x00;
    if (message.kind != SacnMessage::Kind::Data || frame.universe.number != MergedUniverse
        || (!levels && message.startCode != 0xDD) || frame.priority > 200
        || ((message.options & 0x80) && !acceptPreview))
        return;
    const qint64 now = frame.arrivalNs;
    auto found = sources.find(frame.source.cid);
    if (found != sources.end() && !live(found->second, now)) {
        sources.erase(found);
        found = sources.end();
    }
    if (message.options & 0x40) {
        if (found != sources.end())
            sources.erase(found);
        return;
    }
    if (found == sources.end()) {
        if (liveCount(now) >= SacnMerge::MaxSources)
            return;
        found = sources.emplace(frame.source.cid, ModelSource()).first;
    } else {
        const qint8 difference = qint8(quint8(frame.sequence - found->second.sequence));
        if (difference <= 0 && difference > -20)
            return;
    }
    ModelSource &source = found->second;
    source.lastNs = now;
    source.sequence = frame.sequence;
    source.priority = frame.priority;
    std::vector<quint8> &target = levels ? source.levels : source.priorities;
    target.assign(message.slotValues, message.slotValues + message.slotCount);
    if (!levels)
        source.perAddressNs = now;
}

int Model::level(int slot, qint64 nowNs) const
{
    int bestPriority = -1;
    int bestLevel = -1;
    for (const auto &entry : sources) {
        const ModelSource &source = entry.second;
        if (!live(source, nowNs) || slot >= int(source.levels.size()))
            continue;
        int priority = source.priority;
        if (source.perAddressNs >= 0 && nowNs - source.perAddressNs < LossNs) {
            priority = slot < int(source.priorities.size()) ? source.priorities[size_t(slot)] : 0;
            if (priority == 0)
                continue;
        }
        const int level = source.levels[size_t(slot)];
        if (priority > bestPriority)
            bestLevel = level;
        else if (priority == bestPriority)
            bestLevel = std::max(bestLevel, level);
        bestPriority = std::max(bestPriority, priority);
    }
    return bestLevel;
}

bool inside(const uchar *begin, qsizetype size, const uchar *field, qsizetype fieldSize)
{
    return field >= begin && fieldSize >= 0 && field + fieldSize <= begin + size;
}

quint16 read16(const uchar *field)
{
    return quint16(field[0] << 8 | field[1]);
}

void checkDataLayers(const uchar *datagram, qsizetype size, const SacnMessage &message)
{
    REQUIRE(size >= 126 && read16(datagram) == 0x0010 && read16(datagram + 2) == 0);
    REQUIRE(std::memcmp(datagram + 4, "ASC-E1.17\0\0\0", 12) == 0);
    REQUIRE(datagram[18] == 0 && datagram[19] == 0 && datagram[20] == 0 && datagram[21] == 4);
    REQUIRE(datagram[117] == 0x02 && datagram[118] == 0xA1);
    REQUIRE(read16(datagram + 123) == message.slotCount + 1);
    REQUIRE(message.frame.universe.number >= 1 && message.frame.universe.number <= 63999);
    REQUIRE(message.frame.universeKnown);
    REQUIRE(message.invalidPriority == (message.frame.priority > 200));
    REQUIRE(message.startCode == datagram[125]);
    REQUIRE(std::memcmp(message.frame.source.cid.data(), datagram + 22, 16) == 0);
}

void checkRewrite(const SacnMessage &message)
{
    SacnPackets::DataHeader header;
    std::memcpy(header.cid.data(), message.frame.source.cid.data(), header.cid.size());
    header.priority = message.frame.priority;
    header.sequence = message.frame.sequence;
    header.syncAddress = message.syncAddress;
    header.options = message.options;
    header.universe = message.frame.universe.number;
    auto packet = std::make_unique<uchar[]>(SacnPackets::Dmp::MaxSize);
    const int size = SacnPackets::writeDataPacket(packet.get(), header, message.frame.levels,
                                                  message.frame.count);
    SacnMessage again;
    SacnPackets::readDatagram(packet.get(), size, 0, 0, &again);
    REQUIRE(again.kind == SacnMessage::Kind::Data);
    REQUIRE(again.frame.count == message.frame.count && again.options == message.options);
    REQUIRE(again.frame.priority == message.frame.priority && again.syncAddress == message.syncAddress);
    REQUIRE(again.frame.source == message.frame.source && again.frame.universe == message.frame.universe);
    REQUIRE(std::memcmp(again.frame.levels, message.frame.levels, message.frame.count) == 0);
}

void checkMessage(const uchar *datagram, qsizetype size, const SacnMessage &message)
{
    REQUIRE(message.frame.source.protocol == DmxProtocol::Sacn);
    REQUIRE(message.slotCount <= Slots && message.frame.count <= Slots);
    REQUIRE(message.universeCount <= SacnMessage::MaxDiscoveryUniverses);
    REQUIRE(message.sourceNameSize <= SacnMessage::SourceNameSize);
    if (message.sourceName)
        REQUIRE(inside(datagram, size, message.sourceName, message.sourceNameSize));
    if (message.slotValues)
        REQUIRE(inside(datagram, size, message.slotValues, message.slotCount));
    if (message.universeList)
        REQUIRE(inside(datagram, size, message.universeList, 2 * message.universeCount));
    const bool levels = message.frame.levels != nullptr;
    REQUIRE(levels == (message.kind == SacnMessage::Kind::Data && message.startCode == 0));
    REQUIRE(message.frame.count == (levels ? message.slotCount : 0));
    REQUIRE(message.frame.malformed == (message.kind == SacnMessage::Kind::Malformed));
    if (message.kind == SacnMessage::Kind::Malformed)
        REQUIRE(!message.slotValues && message.slotCount == 0 && message.fault != SacnMessage::Fault::None);
    if (message.kind == SacnMessage::Kind::Data)
        checkDataLayers(datagram, size, message);
    if (levels)
        checkRewrite(message);
    if (message.kind == SacnMessage::Kind::Discovery)
        REQUIRE(message.universeList == datagram + 120);
}

void checkMerge(const SacnMerge &merge, const Model &model, qint64 nowNs)
{
    std::array<uchar, Slots> merged;
    const int driven = merge.merge(nowNs, merged.data());
    int expectedDriven = 0;
    for (int slot = 0; slot < Slots; ++slot) {
        const int level = model.level(slot, nowNs);
        REQUIRE(merged[size_t(slot)] == std::max(level, 0));
        if (level >= 0)
            expectedDriven = slot + 1;
    }
    REQUIRE(driven == expectedDriven);
    REQUIRE(merge.liveSources(nowNs) == model.liveCount(nowNs));
}

QByteArray fieldPacket(FuzzInput &input)
{
    TestPackets::SacnData data;
    data.cid = QByteArray(16, char(input.takeByte()));
    data.priority = input.takeByte();
    data.sequence = input.takeByte();
    data.options = input.takeByte();
    const quint8 startCode = input.takeByte();
    data.startCode = startCode == 0 ? 0x00 : startCode == 1 ? 0xDD : startCode;
    data.universe = (input.takeByte() & 1) ? 2 : 1;
    const int count = input.takeUInt16() % (Slots + 1);
    data.values = input.takeBytes(size_t(count));
    data.values.append(count - int(data.values.size()), '\0');
    return TestPackets::sacnData(data);
}

void checkSources(const SacnSourceTable &table, qint64 nowMs)
{
    REQUIRE(table.storedCount() <= SacnSourceTable::MaxSources);
    const QList<SacnSourceInfo> sources = table.sources(nowMs);
    REQUIRE(sources.size() <= table.storedCount());
    for (const SacnSourceInfo &source : sources) {
        REQUIRE(nowMs - source.lastSeenMs < SacnSourceTable::SourceLossMs);
        REQUIRE(source.name.toUtf8().size() <= 3 * SacnMessage::SourceNameSize);
        REQUIRE(source.universe >= SacnPackets::MinUniverse
                && source.universe <= SacnPackets::MaxUniverse);
    }
}

// What the receiver's census must hold: the distinct sources that sent levels, per universe,
// and the malformed datagrams per sender address.
struct CensusModel
{
    std::map<quint16, std::set<Cid>> sources;
    std::map<quint32, quint64> malformed;
    quint64 malformedInAll = 0;

    void take(const SacnMessage &message)
    {
        if (message.kind == SacnMessage::Kind::Malformed) {
            ++malformed[message.frame.source.address];
            ++malformedInAll;
        } else if (message.kind == SacnMessage::Kind::Data && message.startCode == 0) {
            sources[message.frame.universe.number].insert(message.frame.source.cid);
        }
    }
};

// The newest merged frame, when the datagram just handed over made one.
void checkReceiverFrame(const SacnReceiver &receiver, quint64 framesBefore, const Model &model,
                        qint64 arrivalNs)
{
    const FrameHistory *history = receiver.frameHistory();
    REQUIRE(history->endSerial() - framesBefore <= 1);
    if (history->endSerial() == framesBefore)
        return;
    const quint64 newest = history->endSerial() - 1;
    const uchar *levels = history->levelsAt(newest);
    int expectedCount = 0;
    for (int slot = 0; slot < Slots; ++slot) {
        const int level = model.level(slot, arrivalNs);
        if (level >= 0)
            expectedCount = slot + 1;
        if (slot < history->lengthAt(newest))
            REQUIRE(levels[slot] == std::max(level, 0));
    }
    REQUIRE(history->lengthAt(newest) == expectedCount);
}

void checkReceiverCensus(const SacnReceiver &receiver, const CensusModel &census)
{
    REQUIRE(receiver.malformedDmx() == census.malformedInAll);
    for (const auto &[sender, count] : census.malformed)
        REQUIRE(receiver.malformedFrom(sender) == count);
    for (const auto &[universe, sources] : census.sources) {
        const int stored = int(receiver.dmxSources(universe).size());
        REQUIRE(stored == std::min<int>(int(sources.size()), DmxCensus::MaxSourcesPerUniverse));
    }
    for (const UniverseTraffic &traffic : receiver.universeTraffic()) {
        REQUIRE(traffic.sources <= DmxCensus::MaxSourcesPerUniverse);
        REQUIRE(census.sources.count(traffic.portAddress) == 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzEnvironment::setUp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    SacnMerge merge(MergedUniverse);
    SacnSourceTable sources;
    Model model;
    model.acceptPreview = input.takeByte() & 1;
    merge.setAcceptPreview(model.acceptPreview);
    // One receiver for every input, made afresh here but for its tables (megabytes, which made
    // and freed per input would take most of the run's time).
    static SacnReceiver *const kept = new SacnReceiver;
    SacnReceiver &receiver = *kept;
    receiver.clearCensus();
    receiver.forgetDiscoveredUniverses();
    receiver.setUniverseOnShow(0);
    receiver.setUniverseOnShow(MergedUniverse);
    receiver.setPreviewAccepted(model.acceptPreview);
    receiver.setFrameHistoryKept(true);
    CensusModel census;
    const qint64 startNs = MonotonicClock::nowNs();
    qint64 nowNs = 0;
    while (!input.atEnd()) {
        nowNs += input.takeByte() * StepNs;
        const quint8 kind = input.takeByte();
        const quint32 sender = 0x0A000001 + ((kind >> 1) & 3);
        const QByteArray bytes = (kind & 1) ? input.takeBytes(input.takeUInt16()) : fieldPacket(input);
        // A buffer of exactly the datagram's size: a read past it is a sanitizer report.
        auto datagram = std::make_unique<uchar[]>(size_t(std::max<qsizetype>(bytes.size(), 1)));
        std::memcpy(datagram.get(), bytes.constData(), size_t(bytes.size()));
        SacnMessage message;
        SacnPackets::readDatagram(datagram.get(), bytes.size(), sender, nowNs, &message);
        checkMessage(datagram.get(), bytes.size(), message);
        merge.take(message);
        model.take(message);
        checkMerge(merge, model, nowNs);
        const quint64 framesBefore = receiver.frameHistory()->endSerial();
        receiver.handleDatagram(bytes, QHostAddress(sender), startNs + nowNs);
        census.take(message);
        checkReceiverFrame(receiver, framesBefore, model, nowNs);
        checkReceiverCensus(receiver, census);
        if (message.kind == SacnMessage::Kind::Data)
            sources.record(message, nowNs / 1'000'000);
        checkSources(sources, nowNs / 1'000'000);
    }
    checkMerge(merge, model, nowNs + LossNs - 1);
    checkMerge(merge, model, nowNs + LossNs);
    return 0;
}
