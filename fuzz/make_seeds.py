#!/usr/bin/env python3
"""Writes small seed sources for the fuzzer: every depth, byte order, FillOrder, predictor and
strip layout, uncompressed and, through libtiff's tiffcp, LZW and PackBits."""
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "examples"))
from make_examples import phantom, write_tiff  # noqa: E402


def main(folder):
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    n = 0
    for bits in (1, 2, 4, 7, 8, 12, 16):
        rows = phantom(23, 9, bits)
        for little in (True, False):
            for fill_order in (1, 2):
                for predictor in (1, 2):
                    for rows_per_strip in (1, 4, 100):
                        n += 1
                        write_tiff(folder / f"seed{n:03}.tif", rows, bits, little=little,
                                   fill_order=fill_order, predictor=predictor,
                                   rows_per_strip=rows_per_strip,
                                   description="seed" if n % 3 == 0 else None)
        plain = folder / f"plain{bits}.tif"
        write_tiff(plain, phantom(40, 12, bits), bits, little=False, rows_per_strip=5)
        variants = [["-c", "lzw"], ["-c", "packbits"], ["-c", "lzw", "-r", "1", "-L"]]
        if bits in (8, 16):
            variants.append(["-c", "lzw:2"])
        for i, options in enumerate(variants):
            subprocess.run(["tiffcp", *options, str(plain), str(folder / f"tiffcp{bits}-{i}.tif")],
                           check=True)


if __name__ == "__main__":
    main(sys.argv[1])
