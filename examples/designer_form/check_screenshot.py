#!/usr/bin/env python3
"""Runs designer_form with --screenshot and checks the histogram box in the
picture: bars in the red, green and blue of its curves for a picture with
all levels, none without a picture. Standard library only: the picture goes
in as BMP and the screenshot comes back as binary PPM.

    check_screenshot.py PROGRAM WORKDIR
"""
import os
import struct
import subprocess
import sys

CURVES = {(255, 0, 0), (0, 128, 0), (0, 0, 255)}


def write_bmp(path, width, height, pixel):
    """A 24-bit BMP; pixel(x, y) gives (r, g, b), y from the top."""
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in reversed(range(height)):
        row = b"".join(bytes((b, g, r)) for r, g, b in (pixel(x, y) for x in range(width)))
        rows.append(row + b"\0" * (stride - len(row)))
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def read_ppm(path):
    """Width, height and the RGB bytes of a binary PPM."""
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        sys.exit(f"{path}: not an 8-bit binary PPM")
    return int(fields[1]), int(fields[2]), data[pos + 1:]


def curve_pixels(program, workdir, image=None):
    """Curve-colored pixels in the screenshot's histogram box, and its width."""
    shot = os.path.join(workdir, "designer_form.ppm")
    args = [program, "--screenshot", shot] + ([image] if image else [])
    out = subprocess.run(args, check=True, capture_output=True, text=True).stdout
    x0, y0, w, h = (int(v) for v in out.split("histogram", 1)[1].split()[:4])
    width, _, rgb = read_ppm(shot)
    n = 0
    for y in range(y0, y0 + h):
        for x in range(x0, x0 + w):
            i = 3 * (y * width + x)
            n += tuple(rgb[i:i + 3]) in CURVES
    return n, w


def main():
    program, workdir = sys.argv[1], sys.argv[2]
    os.makedirs(workdir, exist_ok=True)
    # Levels rising across the picture in red and blue and down it in green.
    image = os.path.join(workdir, "levels.bmp")
    write_bmp(image, 256, 128, lambda x, y: (x, 255 - 2 * y, 255 - x))

    drawn, width = curve_pixels(program, workdir, image)
    # More than a one-pixel line along the bottom: bars of some height.
    if drawn < 4 * width:
        sys.exit(f"the histogram box drew {drawn} curve pixels over {width} columns")
    blank, _ = curve_pixels(program, workdir)
    if blank:
        sys.exit(f"without a picture the histogram box drew {blank} curve pixels")
    print(f"histogram: {drawn} curve pixels with a picture, none without")


if __name__ == "__main__":
    main()
