#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/ (run it from anywhere).

datagram/: inputs of fuzz_datagram: an 8-byte engine state, then one datagram or a command
list (the layout is described at the top of fuzz_datagram.cpp).
recordingfile/: recording files as the program writes them, and a few it must survive.
sacn/: inputs of fuzz_sacn: a settings byte, then time steps and sACN datagrams (the layout is
described at the top of fuzz_sacn.cpp).
capture/: capture files, pcap and pcapng, of each link layer the reader knows, and a few it must
survive.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ART_NET = b"Art-Net\x00"
MADRIX = b"MadrixN\x00"

# Engine state flags (byte 0 of a fuzz_datagram input); CENSUS: the network view open.
RECEIVE, POLL, RECORD, COLOURS, COMMANDS = 0x01, 0x02, 0x04, 0x08, 0x10
CENSUS = 0x80


def state(flags, universe=1, record_size=0, stride_index=0, colours=0, channels_index=0):
    return struct.pack("<BHHBBB", flags, universe, record_size, stride_index, colours,
                       channels_index)


def art_dmx(universe, values, length=None, sequence=0, physical=0):
    port_address = universe - 1
    if length is None:
        length = len(values)
    return (ART_NET + struct.pack("<H", 0x5000) + bytes([0, 14, sequence, physical])
            + struct.pack("<H", port_address) + struct.pack(">H", length) + bytes(values))


def art_poll():
    return ART_NET + struct.pack("<H", 0x2000) + bytes([0, 14, 0, 0])


def art_poll_reply():
    reply = bytearray(240)
    reply[0:8] = ART_NET
    reply[8:10] = struct.pack("<H", 0x2100)
    reply[10:14] = bytes([2, 0, 0, 20])
    reply[14:16] = struct.pack("<H", 6454)
    reply[26:34] = b"Console"
    return bytes(reply)


def node_reply(size, bind_index=1):
    """An ArtPollReply of a four-port node at 2.0.0.20, Net 1 Sub-Net 2, cut to size bytes
    (207: up to the MAC, as the oldest nodes send it; 239: with BindIndex and Status2)."""
    reply = bytearray(240)
    reply[0:8] = ART_NET
    reply[8:10] = struct.pack("<H", 0x2100)
    reply[10:14] = bytes([2, 0, 0, 20])          # IP
    reply[14:16] = struct.pack("<H", 6454)       # Port
    reply[16:18] = bytes([1, 4])                 # VersInfoH, VersInfoL
    reply[18:20] = bytes([0x01, 0x02])           # NetSwitch, SubSwitch
    reply[20:22] = bytes([0x2B, 0x9A])           # OemHi, Oem
    reply[23] = 0xD2                             # Status1
    reply[24:26] = struct.pack("<H", 0x7A70)     # EstaMan, low byte first
    reply[26:44] = b"Stage Left node\x00\x00\x00"  # ShortName
    reply[44:108] = b"L" * 64                    # LongName, no terminating zero
    reply[108:172] = b"#0001 [0042] Power On".ljust(64, b"\x00")  # NodeReport
    reply[172:174] = bytes([0, 4])               # NumPortsHi, NumPortsLo
    reply[174:178] = bytes([0x80, 0x80, 0x40, 0x45])  # PortTypes
    reply[178:182] = bytes([0, 0, 0x80, 0x88])   # GoodInput
    reply[182:186] = bytes([0x80, 0x82, 0, 0])   # GoodOutput
    reply[186:190] = bytes([0x0C, 0x0D, 0x0E, 0x1F])  # SwIn
    reply[190:194] = bytes([0x00, 0x01, 0x0F, 0x05])  # SwOut
    reply[200] = 0x01                            # Style
    reply[201:207] = bytes([0, 0x11, 0x22, 0x33, 0x44, 0x55])  # MAC
    reply[207:211] = bytes([2, 0, 0, 20])        # BindIp
    reply[211] = bind_index                      # BindIndex
    reply[212] = 0x0E                            # Status2
    return bytes(reply[:size])


def art_time_code(frames, seconds, minutes, hours, kind):
    return (ART_NET + struct.pack("<H", 0x9700) + bytes([0, 14, 0, 0])
            + bytes([frames, seconds, minutes, hours, kind, 0]))


def sync(identifier, op_code, value):
    return identifier + struct.pack("<H", op_code) + bytes([0, 14, value])


def datagram_command(datagram, sender=0):
    return bytes([sender << 3]) + struct.pack("<H", len(datagram)) + datagram


def read_command(requested):
    return bytes([3]) + struct.pack("<H", requested)


def census_command(clear=False):
    """Reads the census and node list; clears them afterwards when asked."""
    return bytes([3 | ((4 | (8 if clear else 0)) << 3)]) + struct.pack("<H", 0)


REPOLL = bytes([7 | ((3 | 4) << 3)])  # node polling stopped and started: a poll at once


def send_dmx_command(universe, values):
    return bytes([4]) + struct.pack("<HH", len(values), universe) + bytes(values)


def inject_command(datagrams, from_local=False):
    """Sends 1 to 8 datagrams to port 6454 through the kernel."""
    assert 1 <= len(datagrams) <= 8
    detail = 2 | (1 if from_local else 0) | ((len(datagrams) - 1) << 2)
    return bytes([4 | (detail << 3)]) + b"".join(
        struct.pack("<H", len(d)) + d for d in datagrams)


DRAIN = bytes([4 | (4 << 3)])  # readArtnetPackage


def ramp(count, start=0):
    return [(start + i) & 0xFF for i in range(count)]


def datagram_seeds():
    seeds = {
        "artdmx-universe1-512": state(RECEIVE) + art_dmx(1, ramp(512)),
        "artdmx-universe1-24": state(RECEIVE) + art_dmx(1, ramp(24, 100)),
        "artdmx-universe257-2": state(RECEIVE, universe=257) + art_dmx(257, [255, 1]),
        "artdmx-universe129-subuni-0x80": state(RECEIVE, universe=129) + art_dmx(129, ramp(16)),
        "artdmx-length-600": state(RECEIVE) + art_dmx(1, ramp(600)),
        "artdmx-length-0": state(RECEIVE) + art_dmx(1, []),
        "artdmx-claims-512-carries-3": state(RECEIVE) + art_dmx(1, [1, 2, 3], length=512),
        "artdmx-not-receiving": state(0) + art_dmx(1, ramp(512)),
        "artdmx-13-bytes": state(RECEIVE) + art_dmx(1, ramp(512))[:13],
        "artdmx-12-bytes": state(RECEIVE) + art_dmx(1, ramp(512))[:12],
        "artdmx-bad-id": state(RECEIVE) + b"Art-Net\x01" + art_dmx(1, ramp(8))[8:],
        "artpoll": state(POLL) + art_poll(),
        "artpoll-peer": state(POLL | RECEIVE | (1 << 5), universe=3) + art_poll(),
        "artpoll-other-subnet": state(POLL | (2 << 5)) + art_poll(),
        "artpoll-pollmode-off": state(0) + art_poll(),
        "artpollreply": state(0) + art_poll_reply(),
        "arttimecode": state(0) + art_time_code(10, 20, 30, 1, 3),
        "arttimecode-short": state(0) + art_time_code(10, 20, 30, 1, 3)[:15],
        "artsync-0x5200": state(0) + sync(ART_NET, 0x5200, 0),
        "sync-pre-artnet": state(0) + sync(ART_NET, 0x5101, 1),
        "sync-post-artnet": state(0) + sync(ART_NET, 0x5202, 0),
        "sync-pre-madrix": state(0) + sync(MADRIX, 0x5101, 1),
        "sync-post-madrix": state(0) + sync(MADRIX, 0x5202, 0x80),
        "madrix-other-opcode": state(0) + sync(MADRIX, 0x5000, 0),
        "record-buffer-4-universes": state(RECORD, universe=2, record_size=2048)
        + art_dmx(3, ramp(512)),
        "record-buffer-stride-3": state(RECORD, universe=1, record_size=100, stride_index=4)
        + art_dmx(20, ramp(512)),
        "record-buffer-smaller-than-slot": state(RECORD, universe=1, record_size=7)
        + art_dmx(1, ramp(512)),
        "colours-short-array": state(COLOURS, colours=5, channels_index=1) + art_dmx(2, ramp(512)),
        "colours-length-not-multiple-of-3": state(COLOURS, colours=40) + art_dmx(1, ramp(7)),
    }
    # Command lists: several datagrams, reads and sends in one input.
    staged = (datagram_command(sync(ART_NET, 0x5101, 1))
              + datagram_command(art_dmx(1, ramp(512)), sender=1)
              + datagram_command(sync(MADRIX, 0x5202, 0))
              + read_command(512))
    seeds["commands-staged-sync"] = state(COMMANDS | RECORD | RECEIVE, record_size=1024) + staged
    seeds["commands-long-then-short"] = (
        state(COMMANDS | RECEIVE) + datagram_command(art_dmx(1, ramp(512)))
        + datagram_command(art_dmx(1, ramp(24, 7))) + read_command(512) + read_command(100))
    seeds["commands-time-code-two-senders"] = (
        state(COMMANDS) + datagram_command(art_time_code(1, 2, 3, 4, 0), sender=0)
        + datagram_command(art_time_code(5, 6, 7, 8, 1), sender=1)
        + datagram_command(art_time_code(9, 9, 9, 9, 2), sender=0))
    seeds["commands-send-and-refresh"] = (
        state(COMMANDS | POLL) + send_dmx_command(1, ramp(512))
        + send_dmx_command(65535, [1, 2, 3]) + bytes([7])  # sendDataTimeout
        + datagram_command(art_poll()) + bytes([5, 1, 2, 3, 4, 5]))  # sendTimeCode
    seeds["commands-universe-change-and-stop"] = (
        state(COMMANDS | RECEIVE) + datagram_command(art_dmx(1, ramp(40)))
        + bytes([6 | (2 << 3)]) + struct.pack("<H", 5)  # setReceiveUniverse(5)
        + read_command(512) + bytes([6])  # stopReceiving
        + datagram_command(art_dmx(5, ramp(40))) + read_command(512))
    # Through the kernel and the batch reader of readArtnetPackage.
    burst = b"".join(inject_command([art_dmx(1, ramp(24, k * 8 + i)) for i in range(8)])
                     for k in range(9))
    seeds["kernel-burst-beyond-one-batch"] = (
        state(COMMANDS | RECEIVE) + burst + DRAIN + read_command(512))
    seeds["kernel-empty-datagram-first"] = (
        state(COMMANDS | RECEIVE) + inject_command([b"", art_dmx(1, ramp(16))]) + DRAIN
        + read_command(512))
    seeds["kernel-longer-than-a-slot"] = (
        state(COMMANDS | RECEIVE) + inject_command([art_dmx(1, ramp(512)) + bytes(1600)])
        + DRAIN + read_command(512))
    # The network view open: census and node table, without Record.
    seeds["census-artpollreply-207-bytes"] = state(CENSUS) + node_reply(207)
    seeds["census-artpollreply-239-bytes"] = state(CENSUS | (1 << 5)) + node_reply(239, 2)
    seeds["census-artpollreply-206-bytes"] = state(CENSUS) + node_reply(206)
    seeds["census-artsync"] = state(CENSUS | (1 << 5)) + sync(ART_NET, 0x5200, 0)
    seeds["census-artdmx-cut-in-header"] = state(CENSUS) + art_dmx(1, ramp(8))[:15]
    seeds["commands-census-two-senders-one-universe"] = (
        state(COMMANDS | CENSUS)
        + datagram_command(art_dmx(1, ramp(8), sequence=1), sender=0)
        + datagram_command(art_dmx(1, ramp(8), sequence=1, physical=1), sender=1)
        + datagram_command(art_dmx(1, ramp(8), sequence=3), sender=0)
        + datagram_command(art_dmx(1, ramp(8), sequence=2), sender=0)
        + datagram_command(sync(ART_NET, 0x5200, 0), sender=1)
        + datagram_command(art_dmx(1, ramp(40), length=512), sender=1)
        + census_command() + census_command(clear=True)
        + datagram_command(art_dmx(2, ramp(2), sequence=255), sender=2) + census_command())
    seeds["commands-census-node-pages-and-polls"] = (
        state(COMMANDS | CENSUS | POLL)
        + b"".join(datagram_command(node_reply(239, page), sender=1) for page in (1, 2, 3, 4))
        + REPOLL + REPOLL + datagram_command(node_reply(213, 2), sender=1) + REPOLL
        + inject_command([node_reply(207), art_dmx(1, ramp(4), sequence=9)]) + DRAIN
        + census_command())
    seeds["kernel-poll-from-own-address"] = (
        state(COMMANDS | POLL | RECEIVE) + inject_command([art_poll()], from_local=True) + DRAIN
        + DRAIN)
    return seeds


def frame_element(dmx, version="1", kind="artnet", universe="1"):
    return (' <frame version="%s" type="%s" universe="%s" dmx="%s"/>\n'
            % (version, kind, universe, dmx))


def document(*frames, root="VardoluxData"):
    return "<!DOCTYPE Vardolux>\n<%s>\n%s</%s>\n" % (root, "".join(frames), root)


def recording_seeds():
    levels = bytes([1, 2, 255] + [0] * 509)
    saved = "0x" + levels.hex()
    return {
        "saved.xml": document(frame_element(saved)),
        "saved-at-start-up.xml": document(frame_element("0x" + "00" * 512, universe="7")),
        "two-frames.xml": document(frame_element("0x0A0b"), frame_element("0XFF")),
        "sacn-saved.xml": document(frame_element(saved, kind="sacn", universe="532")),
        "sacn-and-artnet.xml": document(frame_element("0x0102", kind="sacn", universe="63999"),
                                        frame_element("0x03"),
                                        frame_element("0x04", kind="sacn", universe="64000"),
                                        frame_element("0x05", kind="sacn", universe="")),
        "other-root.xml": document(frame_element("0x123"), root="Recording"),
        "bad-version.xml": document(frame_element(saved, version="2")),
        "other-type.xml": document(frame_element(saved, kind="ArtNet")),
        "nested-frame.xml": document(" <group>\n" + frame_element("0x0102") + " </group>\n"),
        "no-prefix.xml": document(frame_element("ff00"), frame_element("0xg1")),
        "odd-and-short.xml": document(frame_element("0x1"), frame_element("0x"),
                                      frame_element("")),
        "not-well-formed.xml": '<!DOCTYPE Vardolux>\n<VardoluxData>\n <frame version="1"\n',
        "entity.xml": ('<!DOCTYPE Vardolux [<!ENTITY d "0102030405060708">]>\n<VardoluxData>\n'
                       + frame_element("0x&d;&d;") + "</VardoluxData>\n"),
        "comment-and-text.xml": document("<!-- recorded -->text\n" + frame_element("0x0405")),
        # Refused before the DOM sees it: the DOM's cost grows with the square of the depth.
        "nested-257-deep.xml": document(frame_element("0x0102") + "<a>" * 256 + "</a>" * 256),
    }


def flags_length(length):
    return struct.pack(">H", 0x7000 | length)


def sacn_root(vector, cid, rest):
    return (struct.pack(">HH", 0x0010, 0) + b"ASC-E1.17\x00\x00\x00"
            + flags_length(22 + len(rest)) + struct.pack(">I", vector) + cid + rest)


def sacn_data(cid, values, universe=1, priority=100, sequence=0, options=0, start_code=0,
              name=b"Seed Console"):
    dmp = bytes([0x02, 0xA1]) + struct.pack(">HHH", 0, 1, len(values) + 1) + bytes([start_code])
    dmp = flags_length(2 + len(dmp) + len(values)) + dmp + bytes(values)
    framing = (struct.pack(">I", 2) + name.ljust(64, b"\x00")[:64]
               + struct.pack(">BHBBH", priority, 0, sequence, options, universe) + dmp)
    return sacn_root(4, cid, flags_length(2 + len(framing)) + framing)


def sacn_sync(cid, sequence, address):
    framing = struct.pack(">IBHH", 1, sequence, address, 0)
    return sacn_root(8, cid, flags_length(2 + len(framing)) + framing)


def sacn_discovery(cid, page, last_page, universes):
    layer = struct.pack(">IBB", 1, page, last_page) + b"".join(struct.pack(">H", u) for u in universes)
    framing = (struct.pack(">I", 2) + b"Seed Console".ljust(64, b"\x00") + bytes(4)
               + flags_length(2 + len(layer)) + layer)
    return sacn_root(8, cid, flags_length(2 + len(framing)) + framing)


def sacn_record(datagram, step=1):
    return bytes([step, 1]) + struct.pack("<H", len(datagram)) + datagram


def sacn_fields(source, priority, sequence, values, step=1, options=0, start_code=0, universe=0):
    return (bytes([step, 0, source, priority, sequence, options, start_code, universe])
            + struct.pack("<H", len(values)) + bytes(values))


def sacn_seeds():
    a, b = bytes([0xA0] * 16), bytes([0xB0] * 16)
    return {
        "data-512": b"\x00" + sacn_record(sacn_data(a, ramp(512))),
        "data-then-terminated": b"\x00" + sacn_record(sacn_data(a, ramp(8)))
        + sacn_record(sacn_data(a, ramp(8), sequence=1, options=0x40)),
        "per-address-priority": b"\x00" + sacn_record(sacn_data(a, ramp(24)))
        + sacn_record(sacn_data(a, [100, 0, 200] * 8, sequence=1, start_code=0xDD)),
        "preview-accepted": b"\x01" + sacn_record(sacn_data(b, ramp(4), options=0x80)),
        "sync": b"\x00" + sacn_record(sacn_sync(a, 3, 7)),
        "discovery": b"\x00" + sacn_record(sacn_discovery(a, 0, 1, [1, 2, 7, 63999])),
        "two-sources": b"\x00" + sacn_fields(1, 100, 0, ramp(16)) + sacn_fields(2, 150, 0, [9] * 8)
        + sacn_fields(1, 100, 1, ramp(16, 5), step=200) + sacn_fields(2, 150, 250, [0] * 4),
        "lost-and-back": b"\x00" + sacn_fields(1, 120, 10, ramp(4)) + sacn_fields(2, 100, 0, [7] * 4)
        + sacn_fields(1, 120, 5, ramp(4), step=130),
    }


def ipv4_udp(source_port, destination_port, payload, fragment=0, protocol=17):
    udp = struct.pack(">HHHH", source_port, destination_port, 8 + len(payload), 0) + payload
    return struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 1, fragment, 64, protocol, 0,
                       bytes([2, 0, 0, 20]), bytes([2, 0, 0, 10])) + udp


def ethernet(packet, ether_type=0x0800, vlan=False):
    tag = struct.pack(">HH", 0x8100, 7) if vlan else b""
    return bytes([2] * 12) + tag + struct.pack(">H", ether_type) + packet


def pcap(link_type, packets, magic=0xA1B2C3D4, snap_length=65535):
    header = struct.pack("<IHHiIII", magic, 2, 4, 0, 0, snap_length, link_type)
    return header + b"".join(struct.pack("<IIII", 1, 2 + n, len(p), len(p)) + p
                             for n, p in enumerate(packets))


def pcapng_block(block_type, body):
    body += b"\0" * (-len(body) % 4)
    length = 12 + len(body)
    return struct.pack("<II", block_type, length) + body + struct.pack("<I", length)


def pcapng(link_type, packets):
    section = pcapng_block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1))
    interface = pcapng_block(1, struct.pack("<HHI", link_type, 0, 65535))
    records = b"".join(pcapng_block(6, struct.pack("<IIIII", 0, 0, 1000 + n, len(p), len(p)) + p)
                       for n, p in enumerate(packets))
    return section + interface + records


def capture_seeds():
    dmx = art_dmx(1, ramp(8))
    sacn = sacn_data(bytes([0xA0] * 16), ramp(8))
    artnet_packet, sacn_packet = ipv4_udp(6454, 6454, dmx), ipv4_udp(40000, 5568, sacn)
    cooked = struct.pack(">HHH8sH", 0, 1, 6, bytes(8), 0x0800)
    cooked2 = struct.pack(">HHIHBB8s", 0x0800, 0, 2, 1, 0, 6, bytes(8))
    return {
        "ethernet.pcap": pcap(1, [ethernet(artnet_packet), ethernet(sacn_packet, vlan=True)]),
        "ethernet.pcapng": pcapng(1, [ethernet(artnet_packet), ethernet(ipv4_udp(1, 2, b"x"))]),
        "cooked.pcap": pcap(113, [cooked + artnet_packet, cooked + ipv4_udp(5568, 9, b"", 0x2000)]),
        "cooked2.pcapng": pcapng(276, [cooked2 + sacn_packet]),
        "rawip-nanoseconds.pcap": pcap(101, [artnet_packet, ipv4_udp(6454, 6454, b"", protocol=6)],
                                       magic=0xA1B23C4D),
        "ipv4.pcap": pcap(228, [sacn_packet]),
        "loopback.pcap": pcap(0, [b"\x02\0\0\0" + artnet_packet]),
        "snapshot-cut.pcap": pcap(1, [ethernet(artnet_packet)], snap_length=60),
        "last-record-cut.pcap": pcap(1, [ethernet(artnet_packet)] * 2)[:-5],
    }


def write(directory, seeds):
    path = os.path.join(HERE, "corpus", directory)
    os.makedirs(path, exist_ok=True)
    for name, content in seeds.items():
        data = content.encode("ascii") if isinstance(content, str) else content
        with open(os.path.join(path, name), "wb") as seed:
            seed.write(data)


if __name__ == "__main__":
    write("datagram", datagram_seeds())
    write("recordingfile", recording_seeds())
    write("sacn", sacn_seeds())
    write("capture", capture_seeds())
