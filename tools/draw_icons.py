#!/usr/bin/env python3
"""Draws the desktop's icon set as SVG files into src/desktop/icons/.

Every picture is drawn here from simple shapes, so the set stays coherent
and owes nothing to anyone else's artwork. Files are named by the resource
numbers the desktop code asks for (desktop/Icons.h). Run it after changing
a shape, then rebuild: the files are compiled into the program as a Qt
resource.
"""

import math
import os
import sys

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "desktop", "icons")

BLUE, BLUE_DARK = "#2f7de1", "#1b5bb0"
GREEN, GREY, GREY_DARK = "#2ea44f", "#9aa3ad", "#6b7480"
AMBER, RED = "#e3a21a", "#d64541"


def svg(body, size=48):
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 48 48">\n%s\n</svg>\n'
            % (size, size, body))


def arrows(angle, colour="#ffffff", cx=24, cy=24, r=11):
    """Two curved arrows chasing each other round (cx, cy), turned by angle."""
    parts = []
    for start in (angle, angle + 180):
        a0, a1 = math.radians(start + 20), math.radians(start + 150)
        x0, y0 = cx + r * math.cos(a0), cy + r * math.sin(a0)
        x1, y1 = cx + r * math.cos(a1), cy + r * math.sin(a1)
        parts.append('<path d="M%.2f %.2f A%d %d 0 0 1 %.2f %.2f" fill="none" stroke="%s" stroke-width="4" '
                     'stroke-linecap="round"/>' % (x0, y0, r, r, x1, y1, colour))
        # The head: a triangle pointing along the circle at the arc's end.
        tx, ty = -math.sin(a1), math.cos(a1)  # tangent, direction of travel
        nx, ny = math.cos(a1), math.sin(a1)   # outward normal
        tip = (x1 + 4.5 * tx, y1 + 4.5 * ty)
        left = (x1 + 4.5 * nx, y1 + 4.5 * ny)
        right = (x1 - 4.5 * nx, y1 - 4.5 * ny)
        parts.append('<polygon points="%.2f,%.2f %.2f,%.2f %.2f,%.2f" fill="%s"/>'
                     % (tip[0], tip[1], left[0], left[1], right[0], right[1], colour))
    return "\n".join(parts)


def app_icon(angle=0):
    return svg('<defs><linearGradient id="g" x1="0" y1="0" x2="0" y2="1">'
               '<stop offset="0" stop-color="%s"/><stop offset="1" stop-color="%s"/></linearGradient></defs>\n'
               '<rect x="3" y="3" width="42" height="42" rx="10" fill="url(#g)"/>\n%s' % (BLUE, BLUE_DARK, arrows(angle)))


def device(kind, colour):
    """The outline of one kind of device, filled with colour."""
    if kind == "phone":
        return ('<rect x="15" y="5" width="18" height="36" rx="3" fill="%s"/>'
                '<rect x="17.5" y="9" width="13" height="25" fill="#ffffff"/>'
                '<circle cx="24" cy="37.5" r="1.6" fill="#ffffff"/>' % colour)
    if kind == "tablet":
        return ('<rect x="9" y="6" width="30" height="36" rx="3" fill="%s"/>'
                '<rect x="12" y="9" width="24" height="28" fill="#ffffff"/>'
                '<circle cx="24" cy="39.5" r="1.4" fill="#ffffff"/>' % colour)
    if kind == "laptop":
        return ('<rect x="9" y="9" width="30" height="21" rx="2" fill="%s"/>'
                '<rect x="11.5" y="11.5" width="25" height="16" fill="#ffffff"/>'
                '<path d="M4 33 H44 L41 38 H7 Z" fill="%s"/>' % (colour, colour))
    screen = ('<rect x="5" y="7" width="38" height="26" rx="2" fill="%s"/>'
              '<rect x="8" y="10" width="32" height="20" fill="#ffffff"/>'
              '<rect x="21" y="33" width="6" height="5" fill="%s"/>'
              '<rect x="14" y="38" width="20" height="3" rx="1" fill="%s"/>' % (colour, colour, colour))
    if kind == "terminal":  # a desktop with a prompt on its screen
        return screen + ('<path d="M12 14 L17 18 L12 22" fill="none" stroke="%s" stroke-width="2.2"/>'
                         '<rect x="19" y="22" width="9" height="2.2" fill="%s"/>' % (colour, colour))
    if kind == "panes":  # a desktop with four windows on its screen
        return screen + ''.join('<rect x="%d" y="%d" width="12" height="7" fill="%s"/>' % (x, y, colour)
                                for x in (11, 25) for y in (12, 21))
    return screen + ('<text x="24" y="27" font-family="sans-serif" font-size="15" font-weight="bold" '
                     'text-anchor="middle" fill="%s">?</text>' % colour)


def badge_trusted(colour):
    return ('<circle cx="37" cy="37" r="9" fill="%s" stroke="#ffffff" stroke-width="2"/>'
            '<path d="M32.5 37 L35.8 40.3 L41.5 34" fill="none" stroke="#ffffff" stroke-width="2.6" '
            'stroke-linecap="round" stroke-linejoin="round"/>' % colour)


def main():
    os.makedirs(OUT, exist_ok=True)
    files = {}
    files[130] = app_icon(0)
    for i, number in enumerate((131, 132, 133, 134)):
        files[number] = app_icon(45 * (i + 1))
    kinds = {137: "phone", 139: "tablet", 141: "terminal", 143: "laptop", 145: "panes"}
    for online, kind in kinds.items():
        files[online] = svg(device(kind, BLUE))
        files[online + 1] = svg(device(kind, GREY))
        files[online + 31] = svg(device(kind, BLUE) + badge_trusted(GREEN))   # 168, 170, ...
        files[online + 32] = svg(device(kind, GREY) + badge_trusted(GREY_DARK))
    files[147] = svg(device("unknown", GREY_DARK))
    files[160] = svg(badge_trusted(GREEN).replace('cx="37" cy="37" r="9"', 'cx="24" cy="24" r="14"')
                     .replace("M32.5 37 L35.8 40.3 L41.5 34", "M17 24 L22 29 L31 19"))
    files[162] = files[160].replace(GREEN, GREY_DARK)
    files[185] = svg('<circle cx="24" cy="24" r="20" fill="%s"/>%s' % (BLUE, arrows(0)))
    files[187] = svg('<circle cx="24" cy="24" r="20" fill="%s"/>'
                     '<path d="M14 24 L21 31 L34 17" fill="none" stroke="#ffffff" stroke-width="4.5" '
                     'stroke-linecap="round" stroke-linejoin="round"/>' % GREEN)
    files[189] = svg('<path d="M24 4 L45 42 H3 Z" fill="%s" stroke-linejoin="round"/>'
                     '<rect x="22" y="16" width="4" height="14" rx="1.5" fill="#ffffff"/>'
                     '<circle cx="24" cy="35.5" r="2.4" fill="#ffffff"/>' % AMBER)
    # The wizards' header picture: the application's arrows on a band.
    files[151] = ('<svg xmlns="http://www.w3.org/2000/svg" width="49" height="49" viewBox="0 0 48 48">\n'
                  '<circle cx="24" cy="24" r="22" fill="%s"/>%s\n</svg>\n' % (BLUE, arrows(0)))
    for number, text in sorted(files.items()):
        with open(os.path.join(OUT, "%d.svg" % number), "w") as f:
            f.write(text)
    print("wrote %d icons to %s" % (len(files), os.path.normpath(OUT)), file=sys.stderr)


if __name__ == "__main__":
    main()
