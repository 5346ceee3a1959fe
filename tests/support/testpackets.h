#ifndef TESTPACKETS_H
#define TESTPACKETS_H

#include <QByteArray>
#include <QtGlobal>

#include <initializer_list>

// Art-Net packets as consoles and controllers send them, written here byte by byte from the
// protocol's layout and never through the program's own writers: the tests, benchmarks and
// fuzzers feed them to the engine, and where they are compared with what the engine sends,
// that comparison stays a check of the engine.
namespace TestPackets {

constexpr int HeaderSize = 12;       // ID, OpCode, ProtVerHi, ProtVerLo
constexpr int ArtDmxHeaderSize = 18; // then the data
constexpr int ArtPollSize = 14;

// The bytes given, each taken as one byte.
QByteArray bytes(std::initializer_list<int> values);

// ID (seven characters and a zero byte: "Art-Net" or another program's "MadrixN"), OpCode
// low byte first, protocol version 14.
QByteArray header(quint16 opCode, const char *id = "Art-Net");
void writeHeader(uchar *packet, quint16 opCode, const char *id = "Art-Net");

// The 18 bytes before the data of an ArtDmx whose Length field says length.
void writeArtDmxHeader(uchar *packet, quint16 portAddress, quint16 length, quint8 sequence = 0);

// An ArtDmx carrying levels, its Length field their count.
QByteArray artDmx(quint16 portAddress, const QByteArray &levels, quint8 sequence = 0);
// An ArtDmx whose Length field says length whatever data it carries (cut or padded packets).
QByteArray artDmxClaiming(quint16 portAddress, quint16 length, const QByteArray &data);

// An ArtPoll with the given Flags byte (0x02: send a reply whenever something changes) and
// DiagPriority 0.
QByteArray artPoll(quint8 flags);

} // namespace TestPackets

#endif // TESTPACKETS_H
