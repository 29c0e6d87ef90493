#!/usr/bin/env python3
"""Independent decoder of the viewers' settings files.

Decodes a settings file from the archive rules alone (not from our C++ code)
and prints the same canonical dump as viewercore_model_dump. With --check it
runs the dump tool to write sample files, then compares both dumps of each.
"""
import os
import struct
import subprocess
import sys
import tempfile


class Damaged(Exception):
    pass


CP1252 = {0x80: 0x20AC, 0x82: 0x201A, 0x83: 0x0192, 0x84: 0x201E, 0x85: 0x2026, 0x86: 0x2020,
          0x87: 0x2021, 0x88: 0x02C6, 0x89: 0x2030, 0x8A: 0x0160, 0x8B: 0x2039, 0x8C: 0x0152,
          0x8E: 0x017D, 0x91: 0x2018, 0x92: 0x2019, 0x93: 0x201C, 0x94: 0x201D, 0x95: 0x2022,
          0x96: 0x2013, 0x97: 0x2014, 0x98: 0x02DC, 0x99: 0x2122, 0x9A: 0x0161, 0x9B: 0x203A,
          0x9C: 0x0153, 0x9E: 0x017E, 0x9F: 0x0178}


class Archive:
    def __init__(self, data):
        self.data = data
        self.pos = 0
        self.loaded = [None]  # index 0: null; then ("class", name) or ("object", value)

    def take(self, n):
        if self.pos + n > len(self.data):
            raise Damaged("end of data")
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def u8(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack("<H", self.take(2))[0]

    def i16(self):
        return struct.unpack("<h", self.take(2))[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def i32(self):
        return struct.unpack("<i", self.take(4))[0]

    def string(self):
        wide = False
        n = self.u8()
        if n == 0xFF:
            w = self.u16()
            if w == 0xFFFE:
                wide = True
                n = self.u8()
                if n == 0xFF:
                    w = self.u16()
            if n == 0xFF:
                n = w if w != 0xFFFF else self.u32()
        if wide:
            raw = self.take(2 * n)
            return [struct.unpack_from("<H", raw, 2 * i)[0] for i in range(n)]
        return [CP1252.get(b, b) for b in self.take(n)]

    def count(self):
        n = self.u16()
        return self.u32() if n == 0xFFFF else n

    def read_object(self, readers):
        """Reads one object in the object form; returns None for the null tag."""
        word = self.u16()
        if word == 0x7FFF:
            big = self.u32()
            is_class, index = bool(big & 0x80000000), big & 0x7FFFFFFF
        else:
            is_class, index = bool(word & 0x8000), word & 0x7FFF
        if not is_class:
            if index == 0:
                return None
            entry = self.loaded[index]
            if entry[0] != "object":
                raise Damaged("back-reference to a class")
            return entry[1]
        if word == 0xFFFF:
            schema = self.u16()
            name = self.take(self.u16()).decode("ascii")
            self.loaded.append(("class", name, schema))
        else:
            entry = self.loaded[index]
            if entry[0] != "class":
                raise Damaged("class tag names an object")
            name, schema = entry[1], entry[2]
        expected = {"CObList": 0}.get(name, 1)
        if name not in readers or schema != expected:
            raise Damaged("unknown class %s schema %d" % (name, schema))
        slot = len(self.loaded)
        self.loaded.append(("object", None))
        value = readers[name](self)
        self.loaded[slot] = ("object", value)
        return value


def quote(units):
    out = '"'
    for u in units:
        if 0x20 <= u < 0x7F and u not in (0x22, 0x5C):
            out += chr(u)
        else:
            out += "\\u%04x" % u
    return out + '"'


def octets(ar):
    return ".".join(str(b) for b in ar.take(4))


def make_readers(stamp):
    def oblist(ar):
        return [ar.read_object(readers) for _ in range(ar.count())]

    def channel(ar):
        return "channel name=%s number=%d" % (quote(ar.string()), ar.i32())

    def dvr(ar):
        f = {}
        f["name"] = quote(ar.string())
        f["channelType"] = ar.i32()
        f["addressType"] = ar.i32()
        f["addressText"] = quote(ar.string())
        f["octets"] = octets(ar)
        f["port"] = ar.i32()
        f["audioMode"] = ar.i32()
        f["loginId"] = quote(ar.string())
        f["password"] = quote(ar.string())
        f["savePassword"] = ar.i32()
        channels = ar.read_object(readers) or []
        f["deviceKind"] = ar.i32()
        f["reservedA"] = ar.u16()
        f["reservedB"] = ar.u16()
        order = ["name", "channelType", "addressType", "addressText", "octets", "port", "audioMode",
                 "loginId", "password", "savePassword", "deviceKind", "reservedA", "reservedB"]
        lines = ["dvr " + " ".join("%s=%s" % (k, f[k]) for k in order), "channels %d" % len(channels)]
        return lines + channels

    def camera(ar):
        f = {}
        f["deviceName"] = quote(ar.string())
        f["channelName"] = quote(ar.string())
        f["channelType"] = ar.i32()
        f["addressType"] = ar.i32()
        f["addressText"] = quote(ar.string())
        f["octets"] = octets(ar)
        f["port"] = ar.i32()
        f["audioMode"] = ar.i32()
        f["loginId"] = quote(ar.string())
        f["password"] = quote(ar.string())
        f["savePassword"] = ar.i32()
        f["channelNumber"] = ar.i32()
        f["cell"] = ar.i32()
        f["deviceKind"] = ar.i32()
        f["groupName"] = quote(ar.string()) if stamp > 20080501 else '""'
        order = ["deviceName", "channelName", "channelType", "addressType", "addressText", "octets", "port",
                 "audioMode", "loginId", "password", "savePassword", "channelNumber", "cell", "deviceKind", "groupName"]
        return "camera " + " ".join("%s=%s" % (k, f[k]) for k in order)

    def group(ar):
        beep, auto = ar.i16(), ar.i16()
        name = quote(ar.string())
        ar.i16(), ar.i16()  # first copy of split and format; the second one counts
        split, fmt = ar.i16(), ar.i16()
        motion, sensor, forced, disk = ar.i16(), ar.i16(), ar.i16(), ar.i16()
        flags = ["%d,%d,%d" % (ar.i16(), ar.i16(), ar.i16()) for _ in range(64)]
        grid = [[[ar.i16() for _day in range(8)] for _hour in range(24)] for _cell in range(64)]
        cameras = ar.read_object(readers)
        lines = ["group name=%s split=%d format=%d motion=%d sensor=%d forced=%d disk=%d beep=%d auto=%d"
                 % (name, split, fmt, motion, sensor, forced, disk, beep, auto),
                 "flags " + " ".join(flags)]
        for c in range(64):
            for d in range(8):
                for h in range(24):
                    if grid[c][h][d]:
                        lines.append("hour cell=%d day=%d hour=%d value=%d" % (c, d, h, grid[c][h][d]))
        if cameras is None:
            lines.append("cameras null")
        else:
            lines.append("cameras %d" % len(cameras))
            lines += cameras
        return lines

    readers = {"CObList": oblist, "CChannel": channel, "CDVR": dvr, "CCamera": camera, "CGroup": group}
    return readers


def flatten(items):
    out = []
    for item in items:
        if isinstance(item, list):
            out += flatten(item)
        else:
            out.append(item)
    return out


def decode(path):
    data = open(path, "rb").read()
    ar = Archive(data)
    lines = []
    try:
        stamp = ar.u32()
        lines.append("stamp %d" % stamp)
        readers = make_readers(stamp)
        name = os.path.basename(path)

        def current():
            g = ar.read_object(readers)
            return ["current null"] if g is None else ["current"] + g

        if name == "device.vyr":
            devices = ar.read_object(readers) or []
            lines.append("devices %d" % len(devices))
            lines += flatten(devices)
        elif name == "config_nv.vyr":
            lines.append("recordingDirectory=" + quote(ar.string()))
            lines.append("captureDirectory=" + quote(ar.string()))
            groups = ar.read_object(readers) or []
            lines.append("groups %d" % len(groups))
            lines += flatten(groups)
            lines += current()
        elif name == "config_nv2bv.vyr":
            lines.append("recordingDirectory=" + quote(ar.string()))
            lines.append("captureDirectory=" + quote(ar.string()))
            lines.append("handOver format=%d forced=%d disk=%d auto=%d" % (ar.i16(), ar.i16(), ar.i16(), ar.i16()))
        elif name == "config_win.vyr":
            lines.append("rect %d %d %d %d" % (ar.i32(), ar.i32(), ar.i32(), ar.i32()))
            lines.append("style %d" % ar.u32())
        elif name == "config_bv.vyr":
            lines += current()
        elif name == "config_ev.vyr":
            lines.append("databaseDirectory=" + quote(ar.string()))
            lines.append("searchDatabaseDirectory=" + quote(ar.string()))
            lines.append("words " + " ".join(str(ar.u16()) for _ in range(11)))
        else:
            raise SystemExit("unknown settings file " + path)
    except Damaged:
        lines.append("damaged")
    return "\n".join(lines) + "\n"


def check(tool, root):
    subprocess.run([tool, "write", root], check=True)
    variants = {"network": "network", "backup": "backup", "event": "event", "big": "network"}
    compared = 0
    failures = 0
    for folder, variant in sorted(variants.items()):
        for name in sorted(os.listdir(os.path.join(root, folder))):
            path = os.path.join(root, folder, name)
            ours = subprocess.run([tool, "dump", variant, path], check=True, capture_output=True).stdout.decode()
            theirs = decode(path)
            compared += 1
            if "damaged" in theirs or ours != theirs:
                failures += 1
                print("MISMATCH %s" % path)
                for a, b in zip(ours.splitlines(), theirs.splitlines()):
                    if a != b:
                        print("  ours:   " + a[:300])
                        print("  python: " + b[:300])
                        break
                else:
                    print("  line counts %d vs %d" % (len(ours.splitlines()), len(theirs.splitlines())))
    print("%d files compared, %d mismatches" % (compared, failures))
    return 1 if failures or compared < 11 else 0


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--check":
        with tempfile.TemporaryDirectory() as root:
            return check(sys.argv[2], root)
    if len(sys.argv) == 2:
        sys.stdout.write(decode(sys.argv[1]))
        return 0
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
