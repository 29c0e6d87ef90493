#!/usr/bin/env python3
"""Independent reader of the event database files.

Decodes a "<DVR>.dat" file from the record layout alone (not from our C++
code) and prints the same line per record as eventviewer_db_dump. With
--check it runs the dump tool on a temporary directory and compares.
"""
import os
import struct
import subprocess
import sys
import tempfile

RECORD = struct.Struct('<IIH2xI2x6B')
assert RECORD.size == 24


def time_text(packed):
    return '%04d/%02d/%02d %02d:%02d:%02d' % (
        2000 + (packed & 0x3F), (packed >> 6) & 0xF, (packed >> 10) & 0x1F,
        (packed >> 15) & 0x1F, (packed >> 20) & 0x3F, (packed >> 26) & 0x3F)


def channels(mask):
    return '/'.join('%02d' % (k + 1) for k in range(16) if mask & (1 << k))


def words(cls, mask, sub, action, a3, a4, user):
    """(row, event type, from, ip, channel) of the monitor's list."""
    if cls == 31:
        return 1, 'Menu Change', 'Network' if sub == 1 else 'DVR', '', ''
    if cls == 32:
        ip = '%03d.%03d.%03d.%03d' % (sub, action, a3, a4)
        return 1, 'Network Connect', 'Admin' if user == 15 else 'Guest', ip, ''
    if cls == 33:
        return 1, {1: 'Video Loss', 2: 'Motion', 3: 'Sensor'}.get(sub, ''), '', '', channels(mask)
    if cls == 34:
        return 1, {10: 'DVR Power On', 11: 'DVR Power Off'}.get(sub, ''), '', '', ''
    if cls == 35:
        return 1, 'Backup History', '', '', ''
    if cls == 36:
        source = {19: 'Network', 22: 'Schedule', 23: 'Manual'}.get(sub, '')
        if action == 20:
            return 1, 'Record Start', source, '', channels(mask)
        return 1, 'Record Stop', source, '', ''
    return 0, '', '', '', ''


def decode(path):
    data = open(path, 'rb').read()
    lines = []
    for off in range(0, len(data) - len(data) % 24, 24):
        key, packed, cls, mask, sub, action, a3, a4, user, _ = RECORD.unpack_from(data, off)
        row = words(cls, mask, sub, action, a3, a4, user)
        fields = [key, time_text(packed), cls, mask, sub, action, a3, a4, user] + list(row)
        lines.append('|'.join(str(f) for f in fields))
    return lines


def check(dump_tool):
    with tempfile.TemporaryDirectory() as directory:
        ours = subprocess.run([dump_tool, directory], check=True, capture_output=True, text=True).stdout.splitlines()
        theirs = decode(os.path.join(directory, 'Sample.dat'))
        size = os.path.getsize(os.path.join(directory, 'Sample.dat'))
    if size % 24:
        print('%d bytes after the last whole record: appended after stray bytes' % (size % 24))
        return 1
    if len(theirs) != 120:
        print('expected 120 records once each, the file holds %d' % len(theirs))
        return 1
    if ours != theirs:
        for a, b in zip(ours, theirs):
            if a != b:
                print('ours:   ' + a)
                print('theirs: ' + b)
                break
        return 1
    print('%d records agree' % len(ours))
    return 0


if __name__ == '__main__':
    if len(sys.argv) == 3 and sys.argv[1] == '--check':
        sys.exit(check(sys.argv[2]))
    for line in decode(sys.argv[1]):
        print(line)
