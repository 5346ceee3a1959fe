// Feeds arbitrary datagrams to artnet::handleDatagram in every engine state, with the engine's
// send and read operations interleaved. The engine answers polls and sends DMX, so this target
// runs only inside tests/netns-run (see fuzz/run-fuzzer).
//
// Input layout:
//   0     flags: bit 0 start reception, bit 1 poll mode, bit 2 record-buffer sink,
//                bit 3 colour sink, bit 4 the rest is a command list (else one datagram),
//                bits 5-6 sender of the single datagram, bit 7 the network view open
//                (census enabled and node polling, whether receiving or not)
//   1-2   receive universe as given to setReceiveUniverse (little-endian, 0 is refused)
//   3-4   record-buffer size (modulo 4097, at most 40 universes)
//   5     record-buffer universe stride (index into a table)
//   6     colour count (modulo 48)
//   7     colour channels per universe (index into a table)
//   8...  one datagram, or commands: see runCommand()
//
// Datagrams reach the engine two ways: straight through handleDatagram, and through the
// kernel: sent from a local socket to port 6454 and read by the readArtnetPackage slot, which
// exercises the batch reader too (more than a batch queued, datagrams longer than its slots).
//
// Besides the sanitizers, a model of the engine checks every readUniverse result, and at the
// end the record buffer and the colours, against what the datagrams carried; the census's
// sources and the counts of malformed packets likewise, and the node list's invariants.

#include "artnet.h"
#include "artnetpackets.h"
#include "datagramreader.h"
#include "nodetable.h"
#include "trafficcensus.h"
#include "fuzzenvironment.h"
#include "fuzzinput.h"

#include <QColor>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <set>
#include <tuple>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace ArtNetPackets;

constexpr int InputHeaderSize = 8;
constexpr int MaxChannels = Dmx::MaxChannels;
constexpr uint MaxSinkUniverses = 40;

const std::array<quint16, 10> Strides = {512, 511, 510, 170, 3, 1, 0, 513, 1024, 65535};
const std::array<quint16, 9> ColourChannels = {512, 3, 1, 2, 6, 0, 510, 1536, 65535};

const QHostAddress &senderAddress(int index)
{
    // Loopback and the harness's own and peer addresses lie on discovered subnets (polls from
    // them are answered); 10.0.0.5 lies on none.
    static const std::array<QHostAddress, 4> senders = {
        QHostAddress(QStringLiteral("127.0.0.1")), QHostAddress(QStringLiteral("2.0.0.20")),
        QHostAddress(QStringLiteral("10.0.0.5")), QHostAddress(QStringLiteral("2.0.0.10"))};
    return senders[size_t(index) & 3];
}

#define REQUIRE(condition) FUZZ_REQUIRE("fuzz_datagram", condition)

// The census as the documented rules build it: sources (sender address + Physical byte) per
// port-address in order of first arrival, up to the bounds; counts of malformed packets.
struct CensusModel
{
    struct Source
    {
        quint32 address;
        quint8 physical;
        quint64 packets;
        quint16 lastLength;
    };
    bool enabled = false;  // the network view open: counts whether receiving or not
    bool polling = false;  // node polling: the same
    // False once the engine may have read a datagram of its own; the model's counts are then
    // lower bounds.
    bool known = true;
    std::map<quint16, std::vector<Source>> universes;
    std::map<quint16, std::set<std::pair<quint32, quint8>>> more; // beyond a universe's own
    std::set<std::tuple<quint16, quint32, quint8>> unstored;       // beyond any bound
    int stored = 0;
    quint64 malformedDmx = 0;    // while the census ran
    quint64 incompleteDmx = 0;   // by the receiver, census or not
    quint64 shortReplies = 0;    // ArtPollReply under 207 bytes while the census ran

    void clear()
    {
        universes.clear();
        more.clear();
        unstored.clear();
        stored = 0;
        malformedDmx = 0;
        shortReplies = 0;
    }
};

// A datagram on its way to the engine's socket; without bytes it stands for whatever the
// engine may have sent to itself.
struct QueuedDatagram
{
    std::optional<QByteArray> bytes;
    quint32 sender = 0;
};

// What the engine should hold, from the documented rules alone.
struct EngineModel
{
    bool receiving = false;
    quint16 filter = 0; // port-address: universe - 1
    quint16 length = 0;
    std::array<quint8, MaxChannels> values{};
    // False after the engine may have read an ArtDmx it sent itself (its broadcasts reach its
    // own socket too); the next ArtDmx for the universe makes the values known again.
    bool known = true;
    // Datagrams waiting on the engine's socket, in arrival order.
    std::vector<QueuedDatagram> queued;

    // The sinks. Unlike the receive buffer they accumulate, so once the engine may have read a
    // datagram of its own they stay unknown.
    bool sinksKnown = true;
    bool recordInstalled = false;
    std::vector<quint8> record;
    std::vector<quint8> staging;
    quint16 stride = 512;
    qint16 syncMode = 0;
    // Restarted just before the engine sees a sync packet, read just after it sees an ArtDmx:
    // never less than the engine's own sync clock.
    QElapsedTimer sinceSync;
    bool coloursInstalled = false;
    std::vector<std::array<int, 3>> colours;
    quint16 colourChannels = 512;
    CensusModel census;
};

void modelStartReceiving(EngineModel &model)
{
    if (model.receiving)
        return;
    model.values.fill(0);
    model.length = 0;
    model.receiving = true;
    model.known = true;
}

void modelStopReceiving(EngineModel &model)
{
    model.receiving = false;
    model.length = 0;
    model.known = true;
}

bool modelSetUniverse(EngineModel &model, quint16 universe)
{
    if (universe == 0)
        return false;
    const quint16 filter = quint16(universe - 1);
    if (filter != model.filter) {
        model.length = 0;
        model.known = true;
    }
    model.filter = filter;
    return true;
}

quint8 byteAt(const QByteArray &datagram, int offset)
{
    return offset < datagram.size() ? quint8(datagram[offset]) : 0;
}

bool hasId(const QByteArray &datagram, const char (&id)[8])
{
    return datagram.size() > Header::Size && std::memcmp(datagram.constData(), id, sizeof id) == 0;
}

quint16 opCodeOf(const QByteArray &datagram)
{
    return quint16(byteAt(datagram, Header::OpCode) | (byteAt(datagram, Header::OpCode + 1) << 8));
}

bool isSyncPacket(const QByteArray &datagram)
{
    const quint16 opCode = opCodeOf(datagram);
    return (hasId(datagram, ArtNetId) || hasId(datagram, MadrixId))
            && (opCode == OpCode::SyncPre || opCode == OpCode::SyncPost);
}

// The record-buffer copy rule: a slot per universe from the receive universe on, cut at the
// end of the buffer.
void modelCopyToRecord(const EngineModel &model, std::vector<quint8> &target, uint slot,
                       const QByteArray &datagram, uint count)
{
    const uint size = uint(target.size());
    const uint width = model.stride > 511 ? 512u : model.stride;
    const uint start = slot * width;
    if (start + width >= size) {
        if (start >= size)
            return;
        count = std::min(count, size - start);
    }
    for (uint k = 0; k < count; ++k)
        target[start + k] = byteAt(datagram, int(Dmx::Data + k));
}

void modelSinks(EngineModel &model, const QByteArray &datagram, quint16 portAddress, uint length)
{
    if (model.recordInstalled && !model.record.empty() && portAddress >= model.filter) {
        if (model.syncMode != 0 && model.sinceSync.elapsed() > 2900)
            model.sinksKnown = false; // the engine may have fallen back to immediate writes
        const uint count = std::min<uint>(length, model.stride);
        modelCopyToRecord(model, model.syncMode != 0 ? model.staging : model.record,
                          uint(portAddress - model.filter), datagram, count);
    }
    const uint perUniverse = model.colourChannels / 3;
    const uint width = perUniverse > 511 ? 512u : perUniverse;
    if (model.coloursInstalled && !model.colours.empty() && width != 0 && length != 0) {
        const uint first = uint(portAddress) * width;
        const uint end = std::min<uint>(first + width, uint(model.colours.size()));
        uint j = 0;
        for (uint colour = first; colour < end && j < length; ++colour)
            for (int component = 0; component < 3 && j < length; ++component)
                model.colours[colour][size_t(component)] = byteAt(datagram, int(Dmx::Data + j++));
    }
}

void modelHandleDatagram(EngineModel &model, const QByteArray &datagram)
{
    if (isSyncPacket(datagram)) {
        model.syncMode = qint16(qint8(byteAt(datagram, Sync::Value)));
        if (model.recordInstalled && !model.record.empty())
            model.record = model.staging;
        return;
    }
    if (!model.receiving || !hasId(datagram, ArtNetId) || opCodeOf(datagram) != OpCode::Dmx)
        return;
    const quint16 portAddress = quint16(byteAt(datagram, Dmx::SubUni) | (byteAt(datagram, Dmx::Net) << 8));
    int count = (byteAt(datagram, Dmx::LengthHi) << 8) | byteAt(datagram, Dmx::LengthLo);
    // Cut inside the header or shorter than its Length says: passed over. The engine's reader
    // hands datagrams over cut to its slot size.
    const int arrived = std::min<int>(int(datagram.size()), DatagramReader::DefaultCapacity);
    if (arrived < Dmx::HeaderSize || arrived < Dmx::HeaderSize + count)
        return;
    if (count > MaxChannels)
        count = MaxChannels;
    if (portAddress == model.filter) {
        for (int i = 0; i < count; ++i)
            model.values[size_t(i)] = byteAt(datagram, Dmx::Data + i);
        model.length = quint16(count);
        model.known = true;
    }
    modelSinks(model, datagram, portAddress, uint(count));
}

void modelCensus(EngineModel &model, const QByteArray &datagram, quint32 sender)
{
    CensusModel &census = model.census;
    const bool running = model.receiving || census.enabled || census.polling;
    // 10 to 12 bytes with the identifier and the ArtDmx opcode: too short to be handled, but
    // a malformed ArtDmx for the census.
    const bool cutArtDmx = datagram.size() >= Header::OpCode + 2 && datagram.size() <= Header::Size
            && std::memcmp(datagram.constData(), ArtNetId, sizeof ArtNetId) == 0
            && opCodeOf(datagram) == 0x5000;
    if (cutArtDmx && running)
        ++census.malformedDmx;
    if (!hasId(datagram, ArtNetId))
        return;
    const int arrived = std::min<int>(int(datagram.size()), DatagramReader::DefaultCapacity);
    if (opCodeOf(datagram) == 0x2100 && running && arrived < NodeTable::MinReplySize)
        ++census.shortReplies;
    if (opCodeOf(datagram) != 0x5000)
        return;
    const int length = (byteAt(datagram, 16) << 8) | byteAt(datagram, 17);
    if (arrived < Dmx::Data || arrived < Dmx::Data + length) {
        ++census.incompleteDmx;
        if (running)
            ++census.malformedDmx;
        return;
    }
    if (!running)
        return;
    const quint16 portAddress = quint16(byteAt(datagram, 14) | (byteAt(datagram, 15) << 8));
    const quint8 physical = byteAt(datagram, 13);
    std::vector<CensusModel::Source> &sources = census.universes[portAddress];
    for (CensusModel::Source &source : sources) {
        if (source.address == sender && source.physical == physical) {
            ++source.packets;
            source.lastLength = quint16(length);
            return;
        }
    }
    if (int(sources.size()) < TrafficCensus::MaxSourcesPerUniverse
        && census.stored < TrafficCensus::MaxSources) {
        sources.push_back({sender, physical, 1, quint16(length)});
        ++census.stored;
    } else {
        // A universe's "(+n)" counts its own senders beyond its bound, not a full table.
        if (int(sources.size()) >= TrafficCensus::MaxSourcesPerUniverse)
            census.more[portAddress].insert({sender, physical});
        census.unstored.insert({portAddress, sender, physical});
    }
}

// Call just before the engine sees the datagram.
void modelBeforeHandling(EngineModel &model, const QByteArray &datagram)
{
    if (isSyncPacket(datagram))
        model.sinceSync.restart();
}

// The engine may have put an ArtDmx on the wire that comes back to its own socket.
void modelMaySendToItself(EngineModel &model)
{
    model.queued.push_back(QueuedDatagram());
}

// Local sockets that send to the engine's port through the kernel: one on loopback and, in a
// netns-run --peer namespace, one on the harness's own address (polls from there are answered).
struct Injectors
{
    int loopback = -1;
    int local = -1;
};

int boundUdpSocket(const char *address)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in bound = {};
    bound.sin_family = AF_INET;
    inet_pton(AF_INET, address, &bound.sin_addr);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&bound), sizeof bound) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

const Injectors &injectors()
{
    static const Injectors sockets = {boundUdpSocket("127.0.0.1"), boundUdpSocket("2.0.0.10")};
    return sockets;
}

QUdpSocket *engineSocket(artnet &engine)
{
    return engine.findChild<QUdpSocket *>(QString(), Qt::FindDirectChildrenOnly);
}

void inject(artnet &engine, EngineModel &model, const QByteArray &datagram, bool fromLocal)
{
    const int fd = fromLocal && injectors().local >= 0 ? injectors().local : injectors().loopback;
    REQUIRE(fd >= 0);
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = htons(Port);
    inet_pton(AF_INET, fd == injectors().loopback ? "127.0.0.1" : "2.0.0.10", &target.sin_addr);
    const ssize_t sent = ::sendto(fd, datagram.constData(), size_t(datagram.size()), 0,
                                  reinterpret_cast<const sockaddr *>(&target), sizeof target);
    // Only a bound port takes datagrams; before the engine opens its socket they are lost.
    if (sent == datagram.size() && engineSocket(engine)) {
        const bool loopback = fd == injectors().loopback;
        model.queued.push_back({datagram, loopback ? 0x7f000001U : 0x0200000aU});
    }
}

void drain(artnet &engine, EngineModel &model)
{
    if (QUdpSocket *socket = engineSocket(engine)) {
        // Loopback delivery completes within sendto(); waiting for the first datagram to be
        // readable only guards against a scheduler that would ever defer it.
        bool waiting = false;
        for (const QueuedDatagram &entry : model.queued)
            waiting = waiting || entry.bytes.has_value();
        if (waiting) {
            pollfd readable = {int(socket->socketDescriptor()), POLLIN, 0};
            ::poll(&readable, 1, 1000);
        }
    }
    for (const QueuedDatagram &entry : model.queued) {
        if (entry.bytes)
            modelBeforeHandling(model, *entry.bytes);
    }
    engine.readArtnetPackage();
    for (const QueuedDatagram &entry : model.queued) {
        if (entry.bytes) {
            modelHandleDatagram(model, *entry.bytes);
            modelCensus(model, *entry.bytes, entry.sender);
        } else {
            if (model.receiving)
                model.known = false;
            model.sinksKnown = false;
            model.census.known = false;
        }
    }
    model.queued.clear();
}

// readUniverse into a buffer of exactly the requested size, compared with the model.
void checkReadUniverse(artnet &engine, EngineModel &model, quint16 requested)
{
    std::unique_ptr<uchar[]> buffer(new uchar[requested ? requested : 1]);
    quint16 length = requested;
    const bool ok = engine.readUniverse(buffer.get(), &length);
    if (requested == 0) {
        REQUIRE(!ok);
        REQUIRE(engine.startReceiving()); // see checkRefusedRead()
        modelStartReceiving(model);
        return;
    }
    REQUIRE(ok);
    modelStartReceiving(model);
    if (!model.known) {
        REQUIRE(length <= requested && length <= MaxChannels);
        return;
    }
    const quint16 expected = requested > model.length ? model.length : requested;
    REQUIRE(length == expected);
    REQUIRE(std::memcmp(buffer.get(), model.values.data(), expected) == 0);
}

// A null or empty read refuses; whether it started reception first is the engine's business,
// so reception is started explicitly afterwards to keep the model in step.
void checkRefusedRead(artnet &engine, EngineModel &model, bool nullBuffer)
{
    uchar one = 0;
    quint16 length = nullBuffer ? 1 : 0;
    REQUIRE(!engine.readUniverse(nullBuffer ? nullptr : &one, &length));
    REQUIRE(engine.startReceiving());
    modelStartReceiving(model);
}

void checkSendDmx(artnet &engine, EngineModel &model, FuzzInput &input, bool toLoopback)
{
    const quint16 length = quint16(input.takeUInt16() % 600);
    const quint16 universe = input.takeUInt16();
    QByteArray data = input.takeBytes(length);
    // Exactly `length` bytes on the heap, so reading one more is an error the sanitizer sees.
    std::unique_ptr<uchar[]> frame(new uchar[length ? length : 1]());
    std::memcpy(frame.get(), data.constData(), size_t(data.size()));
    static const QHostAddress loopback(QHostAddress::LocalHost);
    const qint64 result = engine.sendDmx(frame.get(), length, universe,
                                         toLoopback ? &loopback : nullptr);
    modelMaySendToItself(model);
    if (universe == 0)
        REQUIRE(result == 0);
    else if (length < 2 || length > MaxChannels)
        REQUIRE(result == -1);
    else
        REQUIRE(result == -1 || result == Dmx::HeaderSize + length);
}

void checkTimeCodeSources(artnet &engine)
{
    TimeCodeSource source;
    QHostAddress sender;
    int count = 0;
    while (engine.timeCodeSource(&source, &sender, count)) {
        ++count;
        REQUIRE(count <= 4); // one record per sender, and there are four senders
    }
    REQUIRE(!engine.timeCodeSource(&source, &sender, -1));
    REQUIRE(!engine.timeCodeSource(nullptr, &sender, 0));
}

// The census and node list as the network view reads them: always within their bounds and
// consistent; while every datagram the engine read is known, the sources and counts exactly.
void checkCensus(artnet &engine, const EngineModel &model)
{
    const CensusModel &census = model.census;
    const QList<UniverseTraffic> universes = engine.universeTraffic();
    REQUIRE(universes.size() <= TrafficCensus::MaxUniverses);
    int stored = 0;
    for (int u = 0; u < universes.size(); ++u) {
        const UniverseTraffic &traffic = universes.at(u);
        REQUIRE(u == 0 || universes.at(u - 1).portAddress < traffic.portAddress);
        REQUIRE(traffic.sources <= TrafficCensus::MaxSourcesPerUniverse);
        REQUIRE(traffic.liveSources >= 0 && traffic.liveSources <= traffic.sources);
        REQUIRE(std::isfinite(traffic.rateHz) && traffic.rateHz >= 0);
        stored += traffic.sources;
        const QList<DmxSource> sources = engine.dmxSources(traffic.portAddress);
        REQUIRE(sources.size() == traffic.sources);
        quint64 errors = 0;
        for (const DmxSource &source : sources) {
            REQUIRE(source.packets >= 1 && source.firstSeenMs <= source.lastSeenMs);
            // The first packet of a source sets the expectation and is never an error.
            REQUIRE(quint64(source.sequenceGaps) + source.sequenceOutOfOrder < source.packets);
            REQUIRE(source.rateHz >= 0 && source.rateHz <= double(source.packets));
            errors += quint64(source.sequenceGaps) + source.sequenceOutOfOrder;
        }
        REQUIRE(traffic.sequenceErrors == errors);
    }
    REQUIRE(stored <= TrafficCensus::MaxSources);
    REQUIRE(engine.malformedDmx() >= census.malformedDmx);
    REQUIRE(engine.incompleteDmxCount() >= census.incompleteDmx);
    REQUIRE(engine.malformedPollReplies() >= census.shortReplies);
    if (census.known) {
        REQUIRE(engine.malformedDmx() == census.malformedDmx);
        REQUIRE(engine.incompleteDmxCount() == census.incompleteDmx);
        REQUIRE(engine.malformedPollReplies() == census.shortReplies);
        int listed = 0;
        for (const auto &[portAddress, expected] : census.universes) {
            ++listed;
            const QList<DmxSource> sources = engine.dmxSources(portAddress);
            REQUIRE(sources.size() == int(expected.size()));
            for (size_t i = 0; i < expected.size(); ++i) {
                const DmxSource &source = sources.at(int(i));
                REQUIRE(source.address == expected[i].address);
                REQUIRE(source.physical == expected[i].physical);
                REQUIRE(source.packets == expected[i].packets);
                REQUIRE(source.lastLength == expected[i].lastLength);
            }
        }
        REQUIRE(universes.size() == listed);
        for (const UniverseTraffic &traffic : universes) {
            const auto beyond = census.more.find(traffic.portAddress);
            REQUIRE(traffic.moreSources
                    == (beyond == census.more.end() ? 0 : beyond->second.size()));
        }
        // Counted once each by a bit of its own, so two may share one: a lower bound.
        REQUIRE(engine.unstoredSources() <= census.unstored.size()
                && (engine.unstoredSources() == 0) == census.unstored.empty());
    }

    const QList<NodeInfo> nodes = engine.nodes();
    REQUIRE(nodes.size() <= NodeTable::MaxNodes);
    for (int n = 0; n < nodes.size(); ++n) {
        const NodeInfo &node = nodes.at(n);
        if (n > 0) {
            const NodeInfo &before = nodes.at(n - 1);
            REQUIRE(before.sourceAddress < node.sourceAddress
                    || (before.sourceAddress == node.sourceAddress
                        && before.bindIndex < node.bindIndex));
        }
        REQUIRE(node.shortName.size() <= 18 && node.longName.size() <= 64
                && node.nodeReport.size() <= 64);
        REQUIRE(node.gone == (node.missedPolls >= NodeTable::MissedPollsGone));
        REQUIRE(node.firstSeenMs <= node.lastSeenMs);
        for (int j = 0; j < 4; ++j)
            REQUIRE(node.swIn[j] <= 0x7fff && node.swOut[j] <= 0x7fff);
    }
}

// One command: a byte whose low three bits choose the operation and whose upper bits
// ("detail") its variant, then the operation's own bytes.
//   0-2  handleDatagram: length (2 bytes, modulo 1100), the datagram; detail: sender
//   3    readUniverse: requested length (2 bytes); detail bit 0: a refused read instead;
//        bit 2: the census and node list instead, and bit 3 clears them afterwards
//   4    detail bit 1: send 1-8 datagrams to port 6454 through the kernel (length, bytes each);
//        else bit 2: readArtnetPackage; else sendDmx (length, universe, values)
//   5    sendTimeCode: 5 bytes
//   6    stop/start reception, setReceiveUniverse (2 bytes), setPollMode
//   7    sendDataTimeout, sendDatagram, interfaceAddress, sendPoll (detail bit 2: node
//        polling stopped and started again, which polls at once)
void runCommand(artnet &engine, EngineModel &model, FuzzInput &input)
{
    const quint8 command = input.takeByte();
    const int detail = command >> 3;
    switch (command & 7) {
    case 0:
    case 1:
    case 2: {
        const QByteArray datagram = input.takeBytes(input.takeUInt16() % 1100);
        const QHostAddress &sender = senderAddress(detail);
        modelBeforeHandling(model, datagram);
        engine.handleDatagram(datagram, sender);
        modelHandleDatagram(model, datagram);
        modelCensus(model, datagram, sender.toIPv4Address());
        break;
    }
    case 3: {
        const quint16 requested = quint16(input.takeUInt16() % 1100);
        if (detail & 4) {
            checkCensus(engine, model);
            if (detail & 8) {
                engine.clearCensus();
                model.census.clear();
                checkCensus(engine, model);
            }
        } else if (detail & 1)
            checkRefusedRead(engine, model, (detail & 2) != 0);
        else
            checkReadUniverse(engine, model, requested);
        break;
    }
    case 4:
        if (detail & 2) {
            // Through the kernel: queue up to 8 datagrams, up to 2200 bytes each.
            for (int count = (detail >> 2) & 7; count >= 0; --count)
                inject(engine, model, input.takeBytes(input.takeUInt16() % 2200), detail & 1);
        } else if (detail & 4) {
            drain(engine, model);
        } else {
            checkSendDmx(engine, model, input, detail & 1);
        }
        break;
    case 5: {
        const QByteArray bytes = input.takeBytes(5);
        quint8 timeCode[5] = {};
        std::memcpy(timeCode, bytes.constData(), size_t(bytes.size()));
        static const QHostAddress loopback(QHostAddress::LocalHost);
        const qint64 result =
                engine.sendTimeCode((detail & 2) ? nullptr : timeCode, (detail & 1) ? &loopback : nullptr);
        if (detail & 2)
            REQUIRE(result == -1);
        break;
    }
    case 6:
        switch (detail & 3) {
        case 0:
            engine.stopReceiving();
            modelStopReceiving(model);
            break;
        case 1:
            REQUIRE(engine.startReceiving());
            modelStartReceiving(model);
            break;
        case 2: {
            const quint16 universe = input.takeUInt16();
            REQUIRE(engine.setReceiveUniverse(universe) == modelSetUniverse(model, universe));
            break;
        }
        case 3:
            REQUIRE(engine.setPollMode((detail & 4) != 0) == ((detail & 4) != 0));
            break;
        }
        break;
    case 7:
        switch (detail & 3) {
        case 0:
            engine.sendDataTimeout();
            modelMaySendToItself(model);
            break;
        case 1: {
            const QByteArray bytes = input.takeBytes(input.takeByte());
            REQUIRE(engine.sendDatagram(nullptr, 1) == -2);
            REQUIRE(engine.sendDatagram(bytes.constData(), 0) == -3);
            if (!bytes.isEmpty())
                engine.sendDatagram(bytes.constData(), quint16(bytes.size()));
            modelMaySendToItself(model);
            break;
        }
        case 2: {
            const QString text = engine.interfaceAddress(qint8(input.takeByte()));
            REQUIRE(text.isEmpty() || !QHostAddress(text).isNull());
            break;
        }
        case 3:
            REQUIRE(engine.openSocket());
            if (detail & 4) {
                engine.stopNodePolling();
                REQUIRE(engine.startNodePolling() && engine.nodePolling());
                model.census.polling = true;
            } else {
                engine.sendPoll();
            }
            break;
        }
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzEnvironment::requirePrivateNetwork("fuzz_datagram");
    FuzzEnvironment::setUp(argc, argv);
    if (injectors().loopback < 0) {
        std::fprintf(stderr, "fuzz_datagram: cannot open a loopback UDP socket\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < InputHeaderSize)
        return -1; // not worth keeping in the corpus
    FuzzInput input(data, size);
    const quint8 flags = input.takeByte();
    const quint16 universe = input.takeUInt16();
    uint recordSize = input.takeUInt16() % 4097;
    const quint16 stride = Strides[input.takeByte() % Strides.size()];
    // Every poll is answered with one reply per four universes of the sink: thousands of
    // one-channel universes would only make the run slow, not find more.
    if (stride > 0)
        recordSize = std::min(recordSize, uint(stride) * MaxSinkUniverses);
    const uint colourCount = input.takeByte() % 48;
    const quint16 channels = ColourChannels[input.takeByte() % ColourChannels.size()];

    // The sinks are exactly as large as the engine is told, and outlive the engine.
    std::unique_ptr<uchar[]> recordBuffer(new uchar[recordSize ? recordSize : 1]());
    std::unique_ptr<QColor[]> colours(new QColor[colourCount ? colourCount : 1]);
    for (uint colour = 0; colour < colourCount; ++colour)
        colours[colour] = QColor(Qt::black);
    EngineModel model;
    model.sinceSync.start();
    artnet engine;

    REQUIRE(engine.setReceiveUniverse(universe) == modelSetUniverse(model, universe));
    if (flags & 0x01) {
        REQUIRE(engine.startReceiving());
        modelStartReceiving(model);
    }
    if (flags & 0x02)
        REQUIRE(engine.setPollMode(true));
    if (flags & 0x04) {
        engine.setRecordBuffer(recordBuffer.get(), recordSize, stride);
        modelStartReceiving(model);
        model.recordInstalled = true;
        model.record.assign(recordSize, 0);
        model.staging.assign(recordSize, 0);
        model.stride = stride;
        uchar *installed = nullptr;
        uint installedSize = 0;
        engine.recordBuffer(&installed, &installedSize);
        REQUIRE(installed == recordBuffer.get() && installedSize == recordSize);
    }
    if (flags & 0x80) {
        REQUIRE(engine.setCensusEnabled(true) && engine.censusEnabled());
        REQUIRE(engine.startNodePolling());
        model.census.enabled = true;
        model.census.polling = true;
    }
    if (flags & 0x08) {
        engine.setColorTarget(colours.get(), colourCount, channels);
        modelStartReceiving(model);
        model.coloursInstalled = true;
        model.colours.assign(colourCount, {0, 0, 0});
        model.colourChannels = channels;
    }

    if (flags & 0x10) {
        while (!input.atEnd())
            runCommand(engine, model, input);
        drain(engine, model);
    } else {
        const QByteArray datagram = input.takeRest();
        const QHostAddress &sender = senderAddress((flags >> 5) & 3);
        modelBeforeHandling(model, datagram);
        engine.handleDatagram(datagram, sender);
        modelHandleDatagram(model, datagram);
        modelCensus(model, datagram, sender.toIPv4Address());
    }
    checkCensus(engine, model);
    checkReadUniverse(engine, model, MaxChannels);
    checkTimeCodeSources(engine);
    if (model.sinksKnown) {
        if (model.recordInstalled && recordSize > 0)
            REQUIRE(std::memcmp(recordBuffer.get(), model.record.data(), recordSize) == 0);
        for (size_t colour = 0; colour < model.colours.size(); ++colour) {
            const QColor &actual = colours[colour];
            REQUIRE(actual.red() == model.colours[colour][0]
                    && actual.green() == model.colours[colour][1]
                    && actual.blue() == model.colours[colour][2]);
        }
    }

    engine.setRecordBuffer(nullptr, 0, 0);
    engine.setColorTarget(nullptr, 0, 0);
    uchar *installed = recordBuffer.get();
    uint installedSize = 1;
    engine.recordBuffer(&installed, &installedSize);
    REQUIRE(installed == nullptr && installedSize == 0);
    return 0;
}
