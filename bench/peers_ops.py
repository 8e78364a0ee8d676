#!/usr/bin/python3
"""Times the peer programs' counterparts of bench_ops, for bench/compare_ops.sh.

Usage: peers_ops.py IMAGE.ppm PAGE.pbm REPEATS
Prints one line per case: "<case> <best milliseconds>", or "<case> -" when the
peer library is missing. One thread; images are loaded before timing; processor time.
"""
import math
import sys
import time

from PIL import Image, ImageFilter

try:
    import cv2
    import numpy as np

    cv2.setNumThreads(1)
except ImportError:
    cv2 = None


def best(fn, repeats):
    t = float("inf")
    for _ in range(repeats):
        t0 = time.process_time()
        out = fn()
        t = min(t, time.process_time() - t0)
        del out
    return t * 1000


def shear_size(w, h, angle):
    # The output size of the three-shear rotation (rounding half to even).
    th = math.radians(angle)
    t, s = abs(math.tan(th / 2)), abs(math.sin(th))
    w1 = round(h * t + w + 1)
    d1 = round((w1 - w) * s)
    tall = round(w1 * s + h + 1)
    h2 = round(tall - 2 * d1)
    d2 = round((tall - h - d1) * t)
    w3 = round(h2 * t + w1 + 1 - 2 * d2)
    return w3, h2


def main():
    path, page_path, repeats = sys.argv[1], sys.argv[2], int(sys.argv[3])
    img = Image.open(path)
    img.load()
    page = Image.open(page_path)
    page.load()
    hp1 = [0, -1, 0, -1, 5, -1, 0, -1, 0]
    res = {}
    res["filter_pillow"] = best(lambda: img.filter(ImageFilter.Kernel((3, 3), hp1, scale=1)), repeats)
    res["rotate_pillow_bicubic"] = best(lambda: img.rotate(30, Image.BICUBIC, expand=True), repeats)
    res["rot90_pillow"] = best(lambda: img.transpose(Image.ROTATE_90), repeats)
    res["flip_pillow"] = best(lambda: img.transpose(Image.FLIP_LEFT_RIGHT), repeats)
    res["rotate1bit_pillow"] = best(lambda: page.rotate(3, expand=True), repeats)
    res["histogram_pillow"] = best(lambda: img.histogram(), repeats)
    if cv2 is not None:
        a = np.asarray(img)[:, :, ::-1].copy()  # BGR, as Korvane stores it
        k = np.array(hp1, dtype=np.float32).reshape(3, 3)
        res["filter_opencv"] = best(lambda: cv2.filter2D(a, -1, k, borderType=cv2.BORDER_REPLICATE), repeats)
        w3, h2 = shear_size(a.shape[1], a.shape[0], 30)
        m = cv2.getRotationMatrix2D(((a.shape[1] - 1) / 2, (a.shape[0] - 1) / 2), 30, 1.0)
        m[0, 2] += (w3 - a.shape[1]) / 2
        m[1, 2] += (h2 - a.shape[0]) / 2
        res["rotate_opencv"] = best(
            lambda: cv2.warpAffine(a, m, (w3, h2), flags=cv2.INTER_LINEAR, borderValue=(0, 0, 0)), repeats)
    for name in ["filter_opencv", "filter_pillow", "rotate_opencv", "rotate_pillow_bicubic", "rot90_pillow",
                 "flip_pillow", "rotate1bit_pillow", "histogram_pillow"]:
        v = res.get(name)
        print(f"{name} {v:.2f}" if v is not None else f"{name} -", flush=True)


if __name__ == "__main__":
    main()
