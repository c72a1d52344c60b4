#!/usr/bin/env python3
"""Gives a widl type library a fixed creation time, so that every build of one
source is the same bytes. widl records when it ran twice: as text ("Created by
WIDL version ... at <ctime>") and as a VT_UI4 custom value; both become the
Unix epoch. widl runs with TZ=UTC, so the text reads as UTC.

    typelib-fixed-time.py FILE.tlb
"""
import calendar
import re
import struct
import sys
import time

path = sys.argv[1]
data = bytearray(open(path, "rb").read())
match = re.search(rb"Created by WIDL version [^\n]* at ([A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4})\n", data)
if not match:
    sys.exit("%s: no creation time found" % path)
stamp = calendar.timegm(time.strptime(match.group(1).decode(), "%a %b %d %H:%M:%S %Y"))
data[match.start(1):match.end(1)] = time.strftime("%a %b %e %H:%M:%S %Y", time.gmtime(0)).encode()
replaced = 0
for candidate in range(stamp - 2, stamp + 3):  # one clock read, or two close together
    value = b"\x13\x00" + struct.pack("<I", candidate)  # VT_UI4 and the time
    at = data.find(value)
    while at >= 0:
        data[at + 2:at + 6] = struct.pack("<I", 0)
        replaced += 1
        at = data.find(value, at + 6)
if replaced == 0:
    sys.exit("%s: no creation time value found" % path)
open(path, "wb").write(bytes(data))
