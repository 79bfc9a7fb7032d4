#!/usr/bin/env python3
"""Writes a ZQ6140 firmware image for the DSP: the 50-byte header, stored
bit-inverted, naming the instrument and the version, then a body whose bytes
differ from position to position.

    make_image.py PATH [VERSION] [BODY_SIZE]
"""
import sys

path = sys.argv[1]
version = (sys.argv[2] if len(sys.argv) > 2 else "02.06").encode()
body_size = int(sys.argv[3]) if len(sys.argv) > 3 else 1000

header = bytearray(50)
header[1:16] = b"KORVALEN ZQ6140"
header[41:46] = version[:5].ljust(5, b"\0")
header[46] = 0  # the DSP
body = bytes((i * 31 + 17 + (i >> 8)) & 0xFF for i in range(body_size))
with open(path, "wb") as image:
    image.write(bytes(~b & 0xFF for b in header) + body)
