#!/usr/bin/env python3
"""Draws varnel.ico: a brick-wall texture tile with an arrow across it, a TGA image on its way
to becoming a texture. Each size is drawn on its own pixel grid, so that the mortar lines stay
sharp at 16 and 32 pixels instead of blurring as a scaled-down large picture would.

Usage: make-icon.py OUTPUT.ico   (Pillow: python3-pil)
"""
import sys

from PIL import Image, ImageChops, ImageDraw

BRICK = (196, 82, 54, 255)
BRICK_LIGHT = (222, 116, 78, 255)
MORTAR = (236, 224, 204, 255)
DARK = (46, 52, 64, 255)
ARROW = (255, 255, 255, 255)
SIZES = (256, 48, 32, 16)
SCALE = 8  # supersampling for the rounded corners and the arrow's slanted edges


def tile(size):
    s = size * SCALE
    margin = max(1, round(size / 16))
    joint = max(1, round(size / 48))
    rows = 3 if size <= 16 else 4 if size <= 48 else 6
    inner = size - 2 * margin

    wall = Image.new("RGBA", (s, s), MORTAR)
    d = ImageDraw.Draw(wall)
    # Row and brick edges on whole pixels of the target size.
    edges = [margin + round(r * (inner - joint) / rows) for r in range(rows + 1)]
    brick = round(inner / 2)
    for r in range(rows):
        top, bottom = edges[r] + joint, edges[r + 1]
        x = margin - (brick // 2 if r % 2 else 0)
        n = 0
        while x < size - margin:
            left, right = max(x + joint, margin), min(x + brick, size - margin)
            colour = BRICK_LIGHT if (r + n) % 3 == 0 else BRICK
            d.rectangle((left * SCALE, top * SCALE, right * SCALE - 1, bottom * SCALE - 1),
                        fill=colour)
            x += brick
            n += 1

    frame = Image.new("L", (s, s), 0)
    ImageDraw.Draw(frame).rounded_rectangle((0, 0, s - 1, s - 1), radius=s * 0.16, fill=255)
    window = Image.new("L", (s, s), 0)
    ImageDraw.Draw(window).rounded_rectangle(
        (margin * SCALE, margin * SCALE, (size - margin) * SCALE - 1, (size - margin) * SCALE - 1),
        radius=s * 0.1, fill=255)
    img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    img.paste(DARK, (0, 0), frame)
    img.paste(wall, (0, 0), ImageChops.multiply(frame, window))

    # A shaft and a head pointing right, edged in the frame's colour so that it reads on the
    # bricks at every size.
    cy, shaft, head = s / 2, s * 0.11, s * 0.25
    tail, neck, tip = s * 0.16, s * 0.56, s * 0.84
    ImageDraw.Draw(img).polygon(
        [(tail, cy - shaft), (neck, cy - shaft), (neck, cy - head), (tip, cy),
         (neck, cy + head), (neck, cy + shaft), (tail, cy + shaft)],
        fill=ARROW, outline=DARK, width=max(1, round(size / 32)) * SCALE)
    return img.resize((size, size), Image.LANCZOS)


def main():
    images = [tile(size) for size in SIZES]
    images[0].save(sys.argv[1], format="ICO", sizes=[(n, n) for n in SIZES],
                   append_images=images[1:])


if __name__ == "__main__":
    main()
