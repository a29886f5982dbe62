#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into corpus/<target>/: a few small inputs,
valid frames and near misses, in each target's input layout (see the comment at the top
of <target>_fuzz.cpp). Run it again after changing a layout."""
import pathlib
import shutil

HERE = pathlib.Path(__file__).resolve().parent

SYNC = 0xAA
RECORD = 248          # one frame record
RECEIVE_BUFFER = 263  # the library's receive buffer


def crc16_modbus(data: bytes) -> int:
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def frame(code, payload=b"", seq=0, node=0, attr=0, length=None, good_crc=True) -> bytes:
    """A frame as it travels on the wire; `length` overrides the length byte."""
    header = bytearray([SYNC, code, seq, node, attr, len(payload) if length is None else length, 0, 0])
    crc = crc16_modbus(bytes(header) + payload)
    if not good_crc:
        crc ^= 0x0101
    header[6], header[7] = crc >> 8, crc & 0xFF
    return bytes(header) + payload


# The host node's own worked example: a sealed frame of code 0x15 ends in CD 8E.
assert frame(0x15) == bytes([0xAA, 0x15, 0, 0, 0, 0, 0xCD, 0x8E])


def record(data: bytes, size=RECORD) -> bytes:
    return data.ljust(size, b"\0")[:size]


def chunks(*parts: bytes) -> bytes:
    """Serial input chunks: [size - 1][bytes] each."""
    return b"".join(bytes([len(p) - 1]) + p for p in parts)


def datagram(data: bytes, stranger=False) -> bytes:
    """UDP input datagram: [flags][size, 16 bits little-endian][bytes]."""
    return bytes([1 if stranger else 0]) + len(data).to_bytes(2, "little") + data


def status_payload(credit=512, waiting=0) -> bytes:
    p = bytearray(31)
    p[0], p[1], p[2] = 1, 7, 0x80
    p[11:13] = waiting.to_bytes(2, "big")
    p[13:15] = credit.to_bytes(2, "big")
    p[15:17] = (4096).to_bytes(2, "big")
    return bytes(p)


def debug_long(event=1, self_station=3, a=3, b=9, cmd=0xE0) -> bytes:
    p = bytearray(157)
    p[0:21] = bytes(range(1, 22))
    p[14] = self_station
    p[21 + a // 8] |= 1 << (a % 8)           # a active
    p[21 + 32 + b // 8] |= 1 << (b % 8)      # b online
    p[151], p[153], p[154], p[156] = cmd, b, a, 0x45
    p[13] = event
    return bytes(p)


def debug_short() -> bytes:
    return bytes([0x13, 0x22, 0xE0, 0, 9, 3, 0, 0x81]).ljust(32, b"\0")


def signal(picture=0x45, station=12, state=0xD0, quality=b"\x11\x22\x33\x44") -> bytes:
    return bytes([picture, station, state]) + quality


def device_entry(description: bytes) -> bytes:
    e = bytes([192, 168, 1, 50]) + bytes([255, 255, 255, 0]) + bytes([192, 168, 1, 1])
    e += bytes([0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E])
    e += bytes([8, 8, 8, 8]) + bytes([1, 1, 1, 1]) + bytes([192, 168, 1, 10])
    e += (10086).to_bytes(2, "big")
    e += description.ljust(32, b"\0")[:32]
    return e + bytes([1, 0])


def serial_receive():
    data = frame(0x1E, bytes(range(20)), seq=0, node=5, attr=0x14)
    return {
        "sync_request": bytes([0]) + chunks(frame(0x27, seq=4)),
        "status_split": bytes([0]) + chunks(frame(0x9D, status_payload())[:8],
                                            frame(0x9D, status_payload())[8:]),
        "handshake_data": bytes([1]) + chunks(frame(0x28, seq=255), data),
        "debug_long": bytes([0]) + chunks(frame(0x1F, debug_long(), seq=1)),
        "signal_after_noise": bytes([0]) + chunks(b"\x00\x13\x55\x01", frame(0xB1, signal())),
        "two_frames_one_chunk": bytes([0]) + chunks(frame(0x9C, status_payload()) + frame(0x30, debug_short(), seq=2)),
        "bad_crc": bytes([0]) + chunks(frame(0x1E, b"abc", good_crc=False)),
        "longest_frame_sealed": bytes([2]) + chunks(frame(0x1E, bytes(255))[:200], frame(0x1E, bytes(255))[200:]),
    }


def udp_receive():
    return {
        "sync_reply": bytes([1]) + datagram(frame(0x28, seq=7)),
        "status": bytes([0]) + datagram(frame(0x9D, status_payload(), seq=255)),
        "data_from_stranger": bytes([0]) + datagram(frame(0x1E, b"hello"), stranger=True),
        "empty_then_data": bytes([0]) + datagram(b"") + datagram(frame(0x1E, b"hello", node=2)),
        "oversized": bytes([0]) + datagram(frame(0x1E, bytes(255)) + bytes(37)),
        "debug_and_signal": bytes([0]) + datagram(frame(0x1F, debug_long())) + datagram(frame(0xB1, signal())),
        "bad_crc_sealed": bytes([2]) + datagram(frame(0x9C, status_payload(), good_crc=False)),
    }


def record_run(*lengths: int) -> bytes:
    """SetPacketAttribute buffer: an 8-byte header whose byte 5 is the run's length, the
    records (8-byte header, length at byte 3), and 16 spare bytes."""
    body = b"".join(bytes([0, 0, 0xF0, n, 0, 0, 0, 0]) + bytes(n) for n in lengths)
    return bytes([0, 0, 0, 0, 0, len(body), 0, 0]) + body + bytes(16)


def packet_profiles():
    def case(link, tx_seq, flags, rec, rx, run):
        return bytes([link, tx_seq, flags]) + record(rec) + record(rx, RECEIVE_BUFFER) + run

    return {
        "data_and_ack": case(0b101, 4, 0x0E, frame(0x1E, b"x" * 30, attr=0x06),
                             frame(0x9D, status_payload(), seq=4), record_run(10, 0, 30)),
        "signal_and_debug": case(0, 0, 0x04, frame(0xB1, signal()), frame(0x1F, debug_long()),
                                 record_run(240)),
        "queried_and_short_debug": case(0b011, 9, 0x08, frame(0x9C, status_payload()),
                                        frame(0x30, debug_short(), seq=3), record_run(1, 1, 1, 1)),
        "long_length_byte": case(1, 255, 0x02, frame(0x1E, bytes(240), length=255),
                                 frame(0x1E, bytes(255)), record_run(110, 110, 10)),
    }


def discovery_answer():
    answer = lambda desc, **kw: frame(0xB7, device_entry(desc), **kw)
    return {
        "terminated_description": bytes([0]) + answer(b"Gate-1 \xb1\xb1\xc3\xc5"),
        "full_description": bytes([0]) + answer(b"D" * 31 + b"\xb1"),
        "gbk_cut_at_end": bytes([0]) + answer(b"\xc4\xe3" * 16),
        "wrong_crc_sealed": bytes([1]) + answer(b"sealed by the target", good_crc=False),
        "search_request": bytes([0]) + frame(0x37),
        "length_beyond_record": bytes([1]) + frame(0xB7, bytes(255))[:248],
    }


def station_bitmaps():
    maps = bytearray(128)
    for m, s in [(0, 1), (0, 8), (1, 8), (2, 255), (3, 200)]:
        maps[m * 32 + s // 8] |= 1 << (s % 8)
    changed = bytearray(maps)
    changed[32] ^= 0xFF
    list3 = (3).to_bytes(2, "little") + bytes([1, 9, 255])
    end_of_search = frame(0xB1, signal(picture=0x90, station=0xFF))
    return {
        "list_then_maps": bytes([1]) + list3 + bytes([0]) + bytes(maps) + bytes([0]) + bytes(changed),
        "signal_rows": bytes([1]) + list3 + bytes([1]) + record(frame(0xB1, signal()))
                       + bytes([1]) + record(frame(0xB1, signal(station=255))),
        "end_of_search": bytes([2]) + (0x1FF).to_bytes(2, "little") + bytes(range(255))
                         + bytes([1]) + record(end_of_search),
        "station_zero_signal": bytes([0]) + bytes(2) + bytes([1]) + record(frame(0xB1, signal(station=0))),
    }


def trace_writer():
    def packet(kind, event, minutes, payload):
        return bytes([kind, event, minutes]) + payload.ljust(157, b"\0")

    return {
        "long_events": packet(1, 1, 0, debug_long(1)) + packet(1, 2, 1, debug_long(2))
                       + packet(1, 3, 1, debug_long(3, cmd=0xF0)),
        "short_events": packet(2, 1, 0, debug_short()) + packet(2, 6, 0, debug_short())
                        + packet(2, 9, 0, debug_short()),
        "hourly_renewal": packet(1, 5, 0, debug_long(5)) + packet(2, 3, 61, debug_short())
                          + packet(1, 7, 61, debug_long(7)),
        "other_station": packet(1, 1, 0, debug_long(1, self_station=4)),
    }


def bridge_request():
    """[command index][payload]: 0 send, 1 cancel, 2 add_station, 3 set_receiver, 4 refresh, 5 info."""
    return {
        "send_file": bytes([0]) + b'{"id":"a","stations":[2,3],"file":"report.txt","loop":false}',
        "send_data": bytes([0]) + b'{"id":7,"stations":"broadcast","data":"aGVsbG8=","name":"x.bin"}',
        "send_both": bytes([0]) + b'{"id":1,"stations":[255],"file":"a","data":"=","name":"../b"}',
        "set_receiver": bytes([3]) + b'{"id":"r","station":"broadcast"}',
        "add_station": bytes([2]) + b'{"id":2.5,"station":-1}',
        "not_json": bytes([5]) + b'{"id":[1,{"id":',
    }


def main():
    for target in (serial_receive, udp_receive, packet_profiles, discovery_answer,
                   station_bitmaps, trace_writer, bridge_request):
        directory = HERE / "corpus" / target.__name__
        shutil.rmtree(directory, ignore_errors=True)
        directory.mkdir(parents=True)
        for name, data in target().items():
            (directory / name).write_bytes(data)


if __name__ == "__main__":
    main()
