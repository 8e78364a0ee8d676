#!/usr/bin/python3
"""Times Pillow's Image.resize on a PPM image, for bench/compare_resample.sh.

Usage: pillow_resize.py IMAGE.ppm REPEATS
Prints one line per case: "<filter> <width>x<height> <best milliseconds>".
Pillow resizes on one thread; the image is loaded before timing.
"""
import sys
import time

from PIL import Image

CASES = [
    ("lanczos3", Image.LANCZOS, 1000, 750),
    ("lanczos3", Image.LANCZOS, 6000, 4500),
    ("triangle", Image.BILINEAR, 1000, 750),
    ("triangle", Image.BILINEAR, 6000, 4500),
]


def main():
    path, repeats = sys.argv[1], int(sys.argv[2])
    img = Image.open(path)
    img.load()
    for name, flt, w, h in CASES:
        best = float("inf")
        for _ in range(repeats):
            t0 = time.perf_counter()
            out = img.resize((w, h), flt)
            best = min(best, time.perf_counter() - t0)
            del out
        print(f"{name} {w}x{h} {best * 1000:.2f}", flush=True)


if __name__ == "__main__":
    main()
