#!/usr/bin/env python3
"""Independent filter for the event search.

Runs eventviewer_search_probe on a temporary directory, then reads the
database files it wrote from the record layout alone and applies each
printed search the way an operator expects it: valid month, day, hour and
minute; the window inclusive at both ends, compared as the DVR's clock
readings (the PC's zone plays no part: the probe runs under zones with clock
changes and must not depend on them); any enabled filter passing. The kept
records must be the probe's, in file order.
   eventsearch.py PROBE [SEED...]
"""
import calendar
import os
import struct
import subprocess
import sys
import tempfile
import time

RECORD = struct.Struct('<IIH2xI2x6B')


def read_records(path):
    if not os.path.exists(path):
        return None
    data = open(path, 'rb').read()
    return [RECORD.unpack_from(data, i) for i in range(0, len(data) - len(data) % 24, 24)]


def fields(packed):
    return (2000 + (packed & 0x3F), (packed >> 6) & 0xF, (packed >> 10) & 0x1F,
            (packed >> 15) & 0x1F, (packed >> 20) & 0x3F, (packed >> 26) & 0x3F)


def clock_seconds(y, mo, d, h, mi, s):
    """A wall-clock reading as a number, whatever the zone: a reading the
    autumn night shows twice is one number, and fields past their range
    carry on linearly (day 31 of February is 3 March)."""
    return calendar.timegm((y, mo, 1, h, mi, s, 0, 0, 0)) + (d - 1) * 86400


def passes(f, rec):
    key, packed, cls, mask, sub, action, a3, a4, user, _ = rec
    (motion, sensor, rstart, rstop, vloss, menu, net, pon, poff,
     rskind, rpkind, mkind, ukind, chmask, ip0, ip1, ip2, ip3) = f
    chan = (mask & chmask) != 0
    if cls == 33:
        return chan and ((motion and sub == 2) or (sensor and sub == 3) or (vloss and sub == 1))
    if cls == 36:
        if rstart and action == 20 and chan and rskind in (255, sub):
            return True
        return bool(rstop and action == 21 and rpkind in (255, sub))
    if cls == 34:
        return bool((pon and sub == 10) or (poff and sub == 11))
    if cls == 31:
        return bool(menu and (mkind == 255 or (mkind == 1 and sub == 1) or (mkind == 23 and sub != 1)))
    if cls == 32:
        if not net:
            return False
        if not (ukind == 255 or (ukind == 15 and user == 15) or (ukind == 69 and user != 15)):
            return False
        return ip0 == -1 or (ip0, ip1, ip2, ip3) == (sub, action, a3, a4)
    return False


def expected(directory, line):
    parts = line.split()
    name = parts[1]
    nums = [int(x) for x in parts[2:]]
    f = nums[:18]
    windowed = nums[18]
    w = nums[19:31]
    records = read_records(os.path.join(directory, name + '.dat'))
    if records is None:
        return 'nodata', []
    start = clock_seconds(*w[:6]) if windowed else None
    end = clock_seconds(*w[6:]) if windowed else None
    kept = []
    for rec in records:
        y, mo, d, h, mi, s = fields(rec[1])
        if not (1 <= mo <= 12 and 1 <= d <= 31 and h <= 23 and mi <= 59):
            continue
        if windowed and not (start <= clock_seconds(y, mo, d, h, mi, s) <= end):
            continue
        if passes(f, rec):
            kept.append(rec[0])
    return ('ready' if kept else 'nodata'), kept


def main():
    probe = sys.argv[1]
    seeds = sys.argv[2:] or ['1', '2', '3']
    time.tzset()
    checked = 0
    for seed in seeds:
        with tempfile.TemporaryDirectory() as directory:
            out = subprocess.run([probe, directory, seed], check=True, capture_output=True, text=True).stdout
            lines = out.splitlines()
            for search, result in zip(lines[0::2], lines[1::2]):
                got = result.split()
                outcome, keys = expected(directory, search)
                if got[1] != outcome or [int(k) for k in got[2:]] != keys:
                    print('MISMATCH', search)
                    print('  ours  ', got[1], len(got) - 2, 'records')
                    print('  theirs', outcome, len(keys), 'records')
                    extra = set(int(k) for k in got[2:]) ^ set(keys)
                    print('  differing keys', sorted(extra)[:10])
                    return 1
                checked += 1
    print('%d searches agree (TZ=%s)' % (checked, os.environ.get('TZ', '')))
    return 0 if checked else 1


if __name__ == '__main__':
    sys.exit(main())
