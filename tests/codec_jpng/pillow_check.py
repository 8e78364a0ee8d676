#!/usr/bin/python3
"""Compares Korvane's decodings (PPM dumps) with Pillow's, in one run.

  pillow_check.py png LIST   PNG files decoded by Korvane: Pillow's raw samples
                             are put through Korvane's rules (16-bit samples
                             keep their high byte, alpha and tRNS flattened onto
                             bKGD or the given background, a 1-bit palette image
                             shows its darker color as black) and compared.
  pillow_check.py any LIST   Files written by Korvane: Pillow's RGB (CMYK as
                             red = c * k / 255 on the stored samples) against
                             the image Korvane wrote.

Each LIST line holds: image ppm tolerance [bg_r bg_g bg_b]. Prints one line per
mismatch and a summary; exits 1 on any mismatch.
"""
import struct
import sys

import numpy as np
from PIL import Image


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    parts = data.split(maxsplit=4)
    w, h = int(parts[1]), int(parts[2])
    return np.frombuffer(parts[4][: w * h * 3], np.uint8).reshape(h, w, 3).astype(np.int32)


def png_chunks(path):
    with open(path, "rb") as f:
        data = f.read()
    pos, chunks = 8, {}
    while pos + 8 <= len(data):
        n, kind = struct.unpack(">I4s", data[pos : pos + 8])
        chunks.setdefault(kind.decode("latin-1"), data[pos + 8 : pos + 8 + n])
        pos += 12 + n
    return chunks


def gray_level(c):
    return (21 * int(c[0]) + 71 * int(c[1]) + 7 * int(c[2])) // 100


def png_expected(path, bg_default):
    ch = png_chunks(path)
    width, height, depth, ctype = struct.unpack(">IIBB", ch["IHDR"][:10])
    im = Image.open(path)
    im.load()
    raw = np.array(im)
    trns = ch.get("tRNS")
    alpha = None
    if ctype == 3:
        plte = np.frombuffer(ch["PLTE"], np.uint8).reshape(-1, 3).astype(np.int32)
        idx = raw.astype(np.int32)
        full = np.zeros((256, 3), np.int32)
        full[: len(plte)] = plte
        rgb = full[idx]
        if trns is not None:
            a = np.full(256, 255, np.int32)
            a[: len(trns)] = np.frombuffer(trns, np.uint8)
            alpha = a[idx]
    else:
        color = ctype & 2
        has_alpha = ctype & 4
        if depth == 16 and im.mode in ("I", "I;16", "I;16B"):
            samples = raw.astype(np.int64)
            gray16 = samples
            rgb = np.repeat((samples >> 8)[:, :, None], 3, 2).astype(np.int32)
        else:
            arr = raw.astype(np.int32)
            if arr.ndim == 2:
                arr = arr[:, :, None]
            if im.mode == "1":
                arr = arr * 255
            if color:
                rgb = arr[:, :, :3]
            else:
                rgb = np.repeat(arr[:, :, :1], 3, 2)
            if has_alpha:
                alpha = arr[:, :, -1]
        if trns is not None and not has_alpha:
            if color:
                t = struct.unpack(">HHH", trns[:6])
                if depth == 16:
                    t = tuple(v >> 8 for v in t)  # Pillow keeps the high bytes only
                alpha = np.where(np.all(rgb == np.array(t), axis=2), 0, 255)
            else:
                t = struct.unpack(">H", trns[:2])[0]
                if depth == 16:
                    alpha = np.where(gray16 == t, 0, 255)
                else:
                    sample = raw.astype(np.int32) if im.mode != "1" else raw.astype(np.int32)
                    scale = {1: 255, 2: 85, 4: 17, 8: 1}[depth]
                    alpha = np.where(sample == (t & ((1 << depth) - 1)) * scale, 0, 255)
        if depth == 1 and ctype == 0 and trns is None:
            return rgb, False
    if alpha is None:
        return rgb, False
    bg = np.array(bg_default, np.int32)
    bkgd = ch.get("bKGD")
    if bkgd is not None:
        if ctype == 3:
            bg = plte[bkgd[0]] if bkgd[0] < len(plte) else bg
        elif ctype & 2:
            v = struct.unpack(">HHH", bkgd[:6])
            bg = np.array([x >> 8 if depth == 16 else x for x in v], np.int32)
        else:
            v = struct.unpack(">H", bkgd[:2])[0]
            g = v >> 8 if depth == 16 else v * 255 // ((1 << depth) - 1)
            bg = np.array([g, g, g], np.int32)
    elif not ctype & 2 and ctype != 3:
        luma = (299 * bg[0] + 587 * bg[1] + 114 * bg[2] + 500) // 1000
        bg = np.array([luma] * 3, np.int32)
    a = alpha[:, :, None]
    out = (a * rgb + (255 - a) * bg[None, None, :] + 127) // 255
    return out, True


def any_expected(path):
    im = Image.open(path)
    im.load()
    if im.mode == "CMYK":
        a = np.array(im).astype(np.int32)
        if "adobe" in im.info:
            a = 255 - a  # Pillow un-inverts Adobe files; the stored samples are wanted
        k = a[:, :, 3:4]
        return a[:, :, :3] * k // 255
    return np.array(im.convert("RGB")).astype(np.int32)


def main():
    mode, listfile = sys.argv[1], sys.argv[2]
    checked = bad = 0
    for line in open(listfile):
        f = line.split()
        if not f:
            continue
        image, ppm, tol = f[0], f[1], int(f[2])
        bg = [int(v) for v in f[3:6]] if len(f) >= 6 else [0, 0, 0]
        try:
            if mode == "png":
                exp, blended = png_expected(image, bg)
                if blended:
                    tol = max(tol, 2)  # libpng blends 16-bit samples before reducing them
            else:
                exp = any_expected(image)
        except Exception as e:  # noqa: BLE001 - reported as a mismatch
            print(f"MISMATCH {image}: Pillow: {e}")
            bad += 1
            continue
        got = read_ppm(ppm)
        checked += 1
        if got.shape != exp.shape:
            print(f"MISMATCH {image}: size {got.shape} vs Pillow {exp.shape}")
            bad += 1
            continue
        diff = int(np.abs(got - exp).max()) if got.size else 0
        if diff > tol:
            y, x, c = np.unravel_index(np.argmax(np.abs(got - exp)), got.shape)
            print(f"MISMATCH {image}: max diff {diff} > {tol} at ({x},{y}) ours {got[y, x]} Pillow {exp[y, x]}")
            bad += 1
    print(f"checked {checked}, mismatched {bad}")
    sys.exit(1 if bad else 0)


main()
