#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target>/.

Every seed is built here from the formats themselves; run it again after
changing a seed. Inputs that the fuzzers found are kept beside the seeds
under names starting with "found-" and are left alone by this script.
"""
import json
import os
import struct
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def packet(payload, ntype=0, channel=0, flag=0, magic=82, length=None):
    ext = b"\0" * (4 * (flag >> 4))
    n = len(payload) if length is None else length
    head = struct.pack("<BbH", flag, ntype, channel & 0xFFFF) + struct.pack(">I", n & 0xFFFFFFFF)
    return head + struct.pack("<I", magic) + ext + payload


def signal(obj):
    return packet(compact(obj) + b"\0")


def compact(obj):
    return json.dumps(obj, separators=(",", ":"), sort_keys=True).encode()


def avapi(kind, payload, records=b"", channel=0):
    head = struct.pack("<B", channel) + kind + b"dc"
    return head + struct.pack("<II", len(payload), len(records)) + records + payload


def record(rtype, body):
    return struct.pack("<I", rtype | (len(body) + 4) << 8) + body


def h264(key, payload, ts_us=0, ext=b"", channel=b"0", mark=b"H264"):
    head = channel + (b"0dc" if key else b"1dc") + mark
    return head + struct.pack("<IHHQ", len(payload), len(ext), 0, ts_us) + ext + payload


def audio(payload, channel=b"1"):
    return channel + b"0wb" + struct.pack("<HH", 0, len(payload)) + payload


def framer_input(kind, stream, limit=(0, 0), repeats=1, packets=False, seed=0x12345678):
    ctl = bytes([kind, limit[0], limit[1], (repeats - 1) | (8 if packets else 0)]) + struct.pack("<I", seed)
    return ctl + stream


def packet_head_seeds():
    return {
        "signal-100": packet(b"x" * 100)[:12],
        "extension-words": packet(b"", flag=0x10)[:12],
        "flag-8-no-magic": packet(b"abc", flag=8, magic=0)[:12],
        "bad-magic": packet(b"", magic=0x01000052)[:12],
        "max-length": packet(b"", length=6000000)[:12],
        "length-too-big": packet(b"", length=6000001)[:12],
        "length-minus-1": packet(b"", ntype=-1, length=0xFFFFFFFF)[:12],
        "talk-channel": packet(b"", ntype=5, channel=-3, length=640)[:12],
    }


def framer_seeds():
    # Byte 0 picks: 0 detection, 1 signalling packets, 2 tagged, 3 "99dc",
    # 4 0x7E (no framing), 5 a kind outside the table; packets=True feeds the
    # stream through FeedPackets.
    napi = signal({"MODULE": "CERTIFICATE", "OPERATION": "CONNECT", "RESPONSE": {"ERRORCODE": 0}})
    talk = packet(b"\x11" * 40, ntype=5, channel=1, flag=0x20)
    return {
        "detect-napi": framer_input(0, napi + talk + napi[:7]),
        "detect-short-first-chunks": framer_input(0, napi + napi, seed=3),
        "napi-signal-limit": framer_input(1, napi * 3, repeats=4),
        "napi-small-limit": framer_input(1, napi + napi, limit=(2, 90)),
        "tagged": framer_input(2, struct.pack("<III", 0x15437638, 0, 4) + b"abcd" + b"99dc0002xy" + b"junk"),
        "99dc": framer_input(3, b"99dc0003abc99dc  -1" + b"99dc0010"),
        "7e": framer_input(4, b"\x7e\x01\x02\x03"),
        "unknown-kind": framer_input(5, b"no framing here", limit=(2, 20)),
        "packets-in-place": framer_input(1, napi + talk + packet(b"v" * 3000, ntype=2), repeats=3, packets=True),
        "packets-refused": framer_input(1, napi + b"GET / HTTP/1.1\r\n\r\n", packets=True),
    }


def frame_seeds():
    ext = record(1, struct.pack("<I", 640 | 480 << 12 | 7 << 24)) + record(2, bytes([24, 5, 6, 7, 8, 9])) \
        + record(3, struct.pack("<I", 123456)) + record(9, b"??")
    return {
        "avapi-key-records": avapi(b"2", b"\x00\x00\x00\x01video", ext, channel=3),
        "avapi-audio": avapi(b"4", b"a" * 32),
        "avapi-end-record": avapi(b"3", b"p" * 8, record(3, struct.pack("<I", 40)) + b"\0" * 8),
        "h264-key": h264(True, b"\x00\x00\x00\x01\x67" + b"k" * 20, ts_us=40000, ext=b"EXT!"),
        "h264-delta-a264": h264(False, b"d" * 16, ts_us=80000, mark=b"A264", channel=b"2"),
        "audio-wb": audio(b"s" * 24),
        "garbage-then-chunks": b"garbage!" + h264(True, b"k" * 9) + b"\xff" * 3 + audio(b"q" * 5)
        + avapi(b"5", b"z" * 4),
        "cut-off-last": h264(True, b"k" * 30) + audio(b"q" * 40)[:20],
    }


def frame_reader_seeds():
    chunks = [h264(i % 3 == 0, b"f" * (20 + i), ts_us=40000 * i) for i in range(6)]
    s = {
        "h264-stream": b"".join(chunks),
        "mixed-with-garbage": b"\x00" + chunks[0] + b"noise" + avapi(b"2", b"v" * 30)
        + audio(b"a" * 12) + chunks[1][:-5],
        "no-chunk": b"this file holds no chunk at all, only text",
        "short-tail": chunks[2] + audio(b"t" * 10),
    }
    # Odd first byte: the reader stops at the offset given by bytes 1-2.
    s["offset-limit"] = b"\x03\x30\x00" + b"".join(chunks)
    return s


DISPATCH = [
    {"MODULE": "CERTIFICATE", "OPERATION": "CONNECT", "RESPONSE": {"ERRORCODE": 1}},
    {"MODULE": "CERTIFICATE", "OPERATION": "KEEPALIVE"},
    {"MODULE": "STORM", "OPERATION": "GETCALENDAR", "PARAMETER": {"SERIAL": 7, "MONTH": "201605"}},
    {"MODULE": "STORM", "OPERATION": "QUERYFILELIST", "PARAMETER": {"SERIAL": "abc"}},
    {"MODULE": "DEVEMM", "OPERATION": "GETDEVVERSIONINFO", "PARAMETER": {}},
    {"MODULE": "MEDIASTREAMMODEL", "OPERATION": "CONTROLREMOTEPLAYBACK",
     "PARAMETER": {"STREAMNAME": "b", "PALYBACKCMD": 2}},
    {"MODULE": "MEDIASTREAMMODEL", "OPERATION": "CONTROLSTREAM",
     "PARAMETER": {"STREAMNAME": "a", "CMD": 0, "SSRC": 34}},
    {"MODULE": "MEDIASTREAMMODEL", "OPERATION": "REQUESTALIVEVIDEO",
     "PARAMETER": {"SERIAL": 1, "STREAMNAME": "live-1", "CHANNEL": 3, "STREAMTYPE": 1}},
    {"MODULE": "MEDIASTREAMMODEL", "OPERATION": "REQUESTTALK", "PARAMETER": {"SERIAL": 2}},
]


def dispatcher_seeds():
    s = {}
    for i, msg in enumerate(DISPATCH):
        name = msg["OPERATION"].lower()
        s["text-" + name] = compact(msg)
        if i % 2 == 0:
            s["packet-" + name] = signal(msg)
    s["text-not-json"] = b'{"OPERATION":"CONNECT" garbage'
    s["text-array"] = b'["CONNECT",1]'
    s["packet-media-type"] = packet(b"\x00\x01", ntype=2)
    return s


def media_request(op, name, addr=None, channel=1, serial=1):
    par = {"STREAMNAME": name, "CHANNEL": channel, "SERIAL": serial}
    if addr is not None:
        par["IPANDPORT"] = addr
    return {"MODULE": "MEDIASTREAMMODEL", "OPERATION": op, "PARAMETER": par}


def media_control(op, name, **par):
    par["STREAMNAME"] = name
    return {"MODULE": "MEDIASTREAMMODEL", "OPERATION": op, "PARAMETER": par}


MEDIA_OPS = ["REQUESTALIVEVIDEO", "REQUESTTALK", "REQUESTDOWNLOADVIDEO", "REQUESTREMOTEPLAYBACK"]


def media_input(mode, lines):
    """First byte: where connections go (0 refused, 1 silent, 2 answered); then one line each."""
    return bytes([mode]) + b"\n".join(x if isinstance(x, bytes) else compact(x) for x in lines)


def media_setup_seeds():
    addr = "127.0.0.1:6000"
    each = [media_request(op, "s%d" % i, addr, channel=1 << i) for i, op in enumerate(MEDIA_OPS)]
    many = [media_request(MEDIA_OPS[i % 4], "n%02d" % i, addr, channel=3) for i in range(55)]
    controls = [
        media_control("CONTROLSTREAM", "s0", CMD=0, SSRC=0),
        media_control("CONTROLREMOTEPLAYBACK", "s3", PALYBACKCMD=2),
        media_control("CONTROLREMOTEPLAYBACK", "s3", PALYBACKCMD=1),
        media_control("CONTROLREMOTEPLAYBACK", "s1", PALYBACKCMD=0),
    ]
    join = [
        media_request("REQUESTALIVEVIDEO", "cam", addr, channel=1),
        media_request("REQUESTALIVEVIDEO", "cam", "no address", channel=2),
        media_control("CONTROLREMOTEPLAYBACK", "cam", PALYBACKCMD=0),
        media_request("REQUESTALIVEVIDEO", "cam", addr, channel=4),
        media_request("REQUESTTALK", "cam", addr),
    ]
    odd_addresses = [media_request(MEDIA_OPS[i % 4], "a%d" % i, a) for i, a in enumerate([
        "10.1.2.3", ":6000", "10.1.2.3:0", "", ":", "999999999999.-1.300.4:99999999999",
        "1.2.3.4:-5", "x" * 150 + ":80", 6000, ["1.2.3.4:5"], {"a": 1}, None, "1.2.3.4\u0000:80"])]
    odd_names = [
        media_request("REQUESTTALK", "x" * 39, addr),
        media_request("REQUESTTALK", "y" * 40, addr),
        media_request("REQUESTALIVEVIDEO", "y" * 400, addr),
        media_request("REQUESTDOWNLOADVIDEO", 12, addr),
        media_request("REQUESTREMOTEPLAYBACK", None, addr),
        media_request("REQUESTLIVE", "z", addr),
        b'{"OPERATION":"REQUESTTALK","PARAMETER":{"STREAMNAME":"nul\\u0000inside","IPANDPORT":":1"}}',
        b'{"OPERATION":"REQUESTTALK","PARAMETER":["STREAMNAME","t"]}',
    ]
    odd_numbers = [media_request("REQUESTALIVEVIDEO", "c%d" % i, addr, channel=c) for i, c in enumerate([
        "1", 1e300, -1, 4294967295, 18446744073709551615, 2.9, True, None, [1]])]
    return {
        "refused-each-kind": media_input(0, each + controls),
        "refused-slots-run-out": media_input(0, many + [b"REAP"] + each),
        "refused-join": media_input(0, join),
        "refused-odd-addresses": media_input(0, odd_addresses),
        "refused-odd-names": media_input(0, odd_names),
        "refused-odd-channels": media_input(0, odd_numbers + [odd_numbers[0]]),
        "silent-each-kind": media_input(1, each + [b"REAP"] + each),
        "answered-each-kind": media_input(2, each + controls + [b"REAP"]),
        "answered-join": media_input(2, join),
        "answered-slots-run-out": media_input(2, many),
        "not-json": media_input(0, [b'{"OPERATION":"REQUESTTALK" garbage', b"", b"REAP", b"[1,2]"]),
    }


def list_seeds():
    two = {"AD": [1, 1], "AS": [1, 1], "AT": [0, 0], "COUNT": 2, "DT": [0, 0], "FREQ": [10, 10],
           "GPS": [0, 0], "ID": ["CAR-0001", "CAR-0002"], "REALCLOSE": [0, 0], "UP": [0, 0]}
    return {
        "two-devices": compact(two) + b"\0",
        "empty-fleet": b'{"COUNT":0}\0',
        "odd-values": b'{"COUNT":"3","ID":[1,null,"x"],"FREQ":["10",2.9,true],"UP":{"a":1}}',
        "count-past-arrays": b'{"COUNT":5,"ID":["A","B"],"GPS":[1]}',
        "long-ids": compact({"COUNT": 2, "ID": ["X" * 38 + "\u00e9\u00e9", "Y" * 60]}),
        "id-with-nul": b'{"COUNT":1,"ID":["CAR\\u0000tail"],"AT":[-5]}',
        "not-an-object": b"[1,2,3]",
    }


def settings_seeds():
    return {
        "defaults": b'{"REG":"127.0.0.1:5556","VF":""}\0',
        "vf-only": b'{"VF":"/frames/live.bin"}',
        "wrong-types": b'{"REG":5556,"VF":null,"EXTRA":[1,{"a":2.5}]}',
        "big-port": b'{"REG":"10.0.0.1:99999999999","VF":"x"}',
        "no-colon": b'{"REG":"localhost","VF":"a/b"}',
        "array-root": b'["REG","VF"]',
        "comment": b'// settings\n{"REG":"1.2.3.4:", /* no port */ "VF":"v"}',
    }


def gps_seeds():
    line = b"22.5431,114.0579,0,0,0\r\n"
    return {
        "crlf-lines": line * 4,
        "lf-only": b"22.5431,114.0579,0,0,0\n" * 3,
        "blank-line": line + b"\r\n" + line,
        "two-fields": b"22.5,114.0\r\n" * 6,
        "long-fields": b"22.54310000000000000000001,114.05790000000000000000002,1,2,3\r\n",
        "no-trailing-separator": line + b"22.6,114.1,0,0,0",
    }


def json_writer_seeds():
    return {
        "object": b'{"b":1,"a":[true,false,null],"c":{"d":"e"}}',
        "reals": b'[2.5,3.0,25.331,-0.0,1e300,-1.5e-300,0.1,123456789012345678]',
        "big-integers": b'[18446744073709551615,-9223372036854775808,9223372036854775807,4294967295]',
        "escapes": b'["quote\\" back\\\\ tab\\t nl\\n ctl\\u0001 nul\\u0000 \\u00e9 \\ud83d\\ude00 /\\/"]',
        "raw-bytes": '{"k\u00e9y":"v\u00e4lue","\x7f":"\x7f"}'.encode(),
        "nested": b"[[[[[[[[[[{}]]]]]]]]]]",
        "comments": b'/* c */ {"a": 1 // tail\n}',
        "partial": b'{"a":[1,2,{"b":"c"',
    }


TARGETS = {
    "fuzz_packet_head": packet_head_seeds,
    "fuzz_framer": framer_seeds,
    "fuzz_frame_parser": frame_seeds,
    "fuzz_frame_reader": frame_reader_seeds,
    "fuzz_dispatcher": dispatcher_seeds,
    "fuzz_media_setup": media_setup_seeds,
    "fuzz_list_file": list_seeds,
    "fuzz_settings_file": settings_seeds,
    "fuzz_gps_file": gps_seeds,
    "fuzz_json_writer": json_writer_seeds,
}


def main():
    for target, make in TARGETS.items():
        folder = os.path.join(ROOT, target)
        os.makedirs(folder, exist_ok=True)
        for name in os.listdir(folder):
            if name.startswith("seed-"):
                os.remove(os.path.join(folder, name))
        for name, data in make().items():
            with open(os.path.join(folder, "seed-" + name), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
