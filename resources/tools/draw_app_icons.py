#!/usr/bin/env python3
"""Draws the program's icon for the desktop's icon theme (run by hand, output committed).

Writes resources/desktop/icons/hicolor/<N>x<N>/apps/io.tallowdesk.Tallowdesk.png at
every size a menu or a dock asks for, and the same drawing as a scalable SVG. The
shapes are those of app_icon() in draw_icons.py, so the window's own icon and the
menu's icon stay one picture.
"""
import os

import draw_icons

APP_ID = "io.tallowdesk.Tallowdesk"
SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "desktop", "icons", "hicolor")

# The scalable drawing on a 16-unit grid, the shapes of draw_icons.app_icon().
SVG = """<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 16 16">
  <title>Tallowdesk</title>
  <rect x="0.5" y="0.5" width="15" height="15" rx="3" fill="#1e3a8a"/>
  <rect x="0.5" y="0.5" width="15" height="7" rx="3" fill="#2563eb"/>
  <rect x="0.5" y="4" width="15" height="4" fill="#2563eb"/>
  <rect x="3.5" y="3.5" width="9" height="2.4" rx="0.6" fill="#ffffff"/>
  <rect x="6.8" y="3.5" width="2.4" height="9" rx="0.6" fill="#ffffff"/>
  <circle cx="12" cy="12" r="1.6" fill="#fbbf24"/>
</svg>
"""


def main():
    for size in SIZES:
        folder = os.path.join(ROOT, "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        draw_icons.OUT = folder
        draw_icons.app_icon(size).save(APP_ID + ".png")
    folder = os.path.join(ROOT, "scalable", "apps")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, APP_ID + ".svg"), "w", encoding="utf-8") as f:
        f.write(SVG)


if __name__ == "__main__":
    main()
