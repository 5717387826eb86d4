#!/usr/bin/env python3
"""Writes the bundled sample sources: a synthetic phantom at several depths and layouts.

Uses only the standard library, so the samples can be remade anywhere; the compressed
variants are then made from them with libtiff's tiffcp (see README)."""
import math
import struct
import subprocess
import sys
from pathlib import Path


def phantom(width, height, bits):
    """Ellipses of several intensities over a smooth gradient, scaled to the given depth."""
    top = (1 << bits) - 1
    ellipses = [  # centre x, centre y, radius x, radius y, level (0 to 1)
        (0.5, 0.5, 0.42, 0.46, 0.55), (0.5, 0.5, 0.38, 0.42, 0.30),
        (0.35, 0.45, 0.08, 0.14, 0.85), (0.65, 0.45, 0.10, 0.16, 0.10),
        (0.5, 0.72, 0.06, 0.06, 1.00), (0.5, 0.25, 0.12, 0.05, 0.70)]
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            u, v = (x + 0.5) / width, (y + 0.5) / height
            level = 0.08 * u + 0.04 * v
            for cx, cy, rx, ry, value in ellipses:
                if ((u - cx) / rx) ** 2 + ((v - cy) / ry) ** 2 <= 1.0:
                    level = value + 0.05 * math.sin(40 * u) * math.cos(30 * v)
            row.append(max(0, min(top, int(level * top))))
        rows.append(row)
    return rows


def pack_row(row, bits, fill_order, little):
    if bits == 8 and fill_order == 1:
        return bytes(row)
    if bits == 16 and fill_order == 1:
        return b"".join(struct.pack("<H" if little else ">H", s) for s in row)
    out, acc, n = bytearray(), 0, 0
    for s in row:
        acc, n = (acc << bits) | s, n + bits
        while n >= 8:
            n -= 8
            out.append((acc >> n) & 0xFF)
    if n:
        out.append((acc << (8 - n)) & 0xFF)
    if fill_order == 2:
        out = bytearray(int(f"{b:08b}"[::-1], 2) for b in out)
    return bytes(out)


def difference(row, bits):
    mask = (1 << bits) - 1
    return [row[0]] + [(row[i] - row[i - 1]) & mask for i in range(1, len(row))]


def write_tiff(path, rows, bits, little=True, fill_order=1, predictor=1, rows_per_strip=16,
               photometric=1, description=None):
    width, height = len(rows[0]), len(rows)
    e = "<" if little else ">"
    strips = []
    for first in range(0, height, rows_per_strip):
        chunk = rows[first:first + rows_per_strip]
        if predictor == 2:
            chunk = [difference(r, bits) for r in chunk]
        strips.append(b"".join(pack_row(r, bits, fill_order, little) for r in chunk))
    data = bytearray(b"II" if little else b"MM") + struct.pack(e + "HI", 42, 0)
    offsets = []
    for strip in strips:
        offsets.append(len(data))
        data += strip
        if len(data) % 2:
            data.append(0)
    def array(values):
        nonlocal data
        where = len(data)
        data += struct.pack(e + "%dI" % len(values), *values)
        return where
    entries = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 1, bits), (259, 3, 1, 1),
               (262, 3, 1, photometric), (266, 3, 1, fill_order), (277, 3, 1, 1),
               (278, 4, 1, rows_per_strip), (284, 3, 1, 1)]
    if predictor != 1:
        entries.append((317, 3, 1, predictor))
    entries.append((273, 4, len(offsets), array(offsets) if len(offsets) > 1 else offsets[0]))
    counts = [len(s) for s in strips]
    entries.append((279, 4, len(counts), array(counts) if len(counts) > 1 else counts[0]))
    if description is not None:
        text = description.encode() + b"\0"
        where = len(data)
        data += text + (b"\0" if len(text) % 2 else b"")
        entries.append((270, 2, len(text), where))
    entries.sort()
    directory = len(data)
    data += struct.pack(e + "H", len(entries))
    for tag, kind, count, value in entries:
        if kind == 3 and count == 1:
            field = struct.pack(e + "HH", value, 0)
        else:
            field = struct.pack(e + "I", value)
        data += struct.pack(e + "HHI", tag, kind, count) + field
    data += struct.pack(e + "I", 0)
    data[4:8] = struct.pack(e + "I", directory)
    Path(path).write_bytes(bytes(data))


def main(folder):
    folder = Path(folder)
    write_tiff(folder / "phantom16.tif", phantom(256, 256, 16), 16, little=False,
               description="synthetic phantom, 16 bits")
    write_tiff(folder / "phantom12.tif", phantom(256, 256, 12), 12, little=True, predictor=2,
               rows_per_strip=32, description="synthetic phantom, 12 bits, Predictor 2")
    write_tiff(folder / "phantom12-msb.tif", phantom(256, 256, 12), 12, little=False,
               description="synthetic phantom, 12 bits")
    write_tiff(folder / "phantom8.tif", phantom(192, 160, 8), 8, fill_order=2, rows_per_strip=7)
    write_tiff(folder / "phantom4.tif", phantom(100, 80, 4), 4, little=False, photometric=0,
               rows_per_strip=1000, description="WhiteIsZero, 4 bits")
    # Compressed variants, written by libtiff itself.
    for options, name in [(["-c", "lzw", "-r", "16"], "phantom12-lzw.tif"),
                          (["-c", "packbits", "-L"], "phantom12-packbits.tif")]:
        subprocess.run(["tiffcp", *options, str(folder / "phantom12-msb.tif"), str(folder / name)],
                       check=True)
    (folder / "phantom12-msb.tif").unlink()
    subprocess.run(["tiffcp", "-c", "lzw:2", str(folder / "phantom16.tif"),
                    str(folder / "phantom16-lzw.tif")], check=True)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent)
