#!/usr/bin/env python3
"""Draws the client's images.

Every image is described here as SVG. The script writes
  - the vector images the skin loads (src/resources/standart_skin/*.svg and
    src/resources/standart_skin/light/*.svg),
  - the SVG source of every raster image (src/resources/artwork/...),
  - the rasters themselves, rendered with rsvg-convert; the animated GIFs and
    the ICO files are assembled here from rendered frames.
The rasters are committed, so a build needs none of this. Re-run after a
change of a drawing:  tools/artwork/make-artwork.py
Needs: python3, rsvg-convert (Debian librsvg2-bin).
"""

import math
import os
import struct
import subprocess
import sys
import tempfile
import zlib

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
RES = os.path.join(ROOT, "src", "resources")
ART = os.path.join(RES, "artwork")
RSVG_TIMEOUT = 60

# ---------------------------------------------------------------- palettes

BLUE = "#269DE2"
BLUE_DEEP = "#1869DC"
ORANGE = "#EA941B"
RED = "#D4145A"
GREEN = "#74C25A"

DARK = {
    "name": "dark",
    "icon": "#B7BCC9",          # footer captions and idle icons
    "accent": BLUE,
    "strong": "#FFFFFF",
    "text": "#FFFFFF",
    "track": "#0C101A",
    "track_line": "#3A4356",
    "knob": "#B7BCC9",
    "globe_fill": "#092741",
    "globe_line": BLUE,
    "globe_line_opacity": "0.35",
    "node": BLUE,
    "header": "#B7BCC9",
    "flat_bg": (0x06, 0x17, 0x2E),   # behind the animated button
}

LIGHT = {
    "name": "light",
    "icon": "#93A0AC",
    "accent": "#239BB9",
    "strong": "#34404B",
    "text": "#34404B",
    "track": "#F1F4F7",
    "track_line": "#BEC7D0",
    "knob": "#93A0AC",
    "globe_fill": "#F1F4F7",
    "globe_line": "#96A9BA",
    "globe_line_opacity": "0.7",
    "node": "#239BB9",
    "header": "#34404B",
    "flat_bg": (0xD8, 0xDF, 0xE5),
}

# --------------------------------------------------------------- drawings
# Line icons live on a 24 x 24 grid, stroked 1.8 wide with round ends.

STROKE = 'fill="none" stroke-width="1.8" stroke-linecap="round" stroke-linejoin="round"'


def svg(width, height, body, view=None):
    view = view or f"0 0 {width} {height}"
    return (f'<svg xmlns="http://www.w3.org/2000/svg" version="1.1" '
            f'width="{width}" height="{height}" viewBox="{view}">\n{body}\n</svg>\n')


def g_power(color, sw=1.8):
    return (f'<g fill="none" stroke="{color}" stroke-width="{sw}" stroke-linecap="round">'
            '<path d="M7.4 6.6 A7.6 7.6 0 1 0 16.6 6.6"/><path d="M12 3.2 V11.4"/></g>')


def g_user(color):
    return (f'<g {STROKE} stroke="{color}"><circle cx="12" cy="8" r="4"/>'
            '<path d="M4.5 20.5 C4.5 16.4 7.9 14 12 14 C16.1 14 19.5 16.4 19.5 20.5"/></g>')


def gear_path(cx, cy, r_out, r_in, teeth):
    pts = []
    step = 2 * math.pi / teeth
    for i in range(teeth):
        a = i * step - math.pi / 2
        for da, r in ((-0.30, r_in), (-0.17, r_out), (0.17, r_out), (0.30, r_in)):
            pts.append((cx + r * math.cos(a + da * step * 1.6), cy + r * math.sin(a + da * step * 1.6)))
    d = "M" + " L".join(f"{x:.2f} {y:.2f}" for x, y in pts) + " Z"
    return d


def g_gear(color):
    return (f'<g {STROKE} stroke="{color}"><path d="{gear_path(12, 12, 9.6, 7.2, 8)}"/>'
            '<circle cx="12" cy="12" r="3"/></g>')


def g_news(color):
    return (f'<g {STROKE} stroke="{color}">'
            '<path d="M6 4 H16.5 A1.5 1.5 0 0 1 18 5.5 V18 A2 2 0 0 0 20 20 H6.5 A2.5 2.5 0 0 1 4 17.5 V6 A2 2 0 0 1 6 4 Z"/>'
            '<path d="M18 9 H20 V18 A2 2 0 0 1 18 20"/>'
            '<rect x="7.5" y="7.5" width="4.5" height="4"/>'
            '<path d="M14.5 8 H15"/><path d="M14.5 11 H15"/><path d="M7.5 15 H15"/></g>')


def g_question(color):
    return (f'<g {STROKE} stroke="{color}"><circle cx="12" cy="12" r="9"/>'
            '<path d="M9.4 9.3 A2.7 2.7 0 1 1 13.3 11.7 C12.5 12.1 12 12.6 12 13.5 V14"/></g>'
            f'<circle cx="12" cy="17.1" r="1.1" fill="{color}"/>')


def g_chevron(color, direction, sw=1.8):
    d = {"down": "M6 9.5 L12 15.5 L18 9.5", "up": "M6 14.5 L12 8.5 L18 14.5",
         "right": "M9.5 6 L15.5 12 L9.5 18", "left": "M14.5 6 L8.5 12 L14.5 18"}[direction]
    return (f'<path d="{d}" fill="none" stroke="{color}" stroke-width="{sw}" '
            'stroke-linecap="round" stroke-linejoin="round"/>')


def g_pin(color):
    return (f'<g {STROKE} stroke="{color}">'
            '<path d="M12 21.2 C12 21.2 5.2 14.9 5.2 9.8 A6.8 6.8 0 0 1 18.8 9.8 C18.8 14.9 12 21.2 12 21.2 Z"/>'
            '<circle cx="12" cy="9.8" r="2.4"/></g>')


def star_points(cx, cy, r_out, r_in):
    pts = []
    for i in range(10):
        a = -math.pi / 2 + i * math.pi / 5
        r = r_out if i % 2 == 0 else r_in
        pts.append(f"{cx + r * math.cos(a):.2f} {cy + r * math.sin(a):.2f}")
    return "M" + " L".join(pts) + " Z"


def g_star(color, filled):
    fill = color if filled else "none"
    return (f'<path d="{star_points(12, 12.6, 9.4, 4.1)}" fill="{fill}" stroke="{color}" '
            'stroke-width="1.8" stroke-linejoin="round"/>')


def g_flag(color):
    return (f'<g {STROKE} stroke="{color}"><path d="M5.5 21 V3.8"/>'
            '<path d="M5.5 4.5 C8.5 2.8 11 6.2 14 4.5 C15.6 3.6 17 3.6 18.5 4.2 V13 C17 12.4 15.6 12.4 14 13.3 C11 15 8.5 11.6 5.5 13.3"/></g>')


def g_refresh(color):
    return (f'<g {STROKE} stroke="{color}">'
            '<path d="M19.5 12 A7.5 7.5 0 1 1 16.9 6.3"/>'
            '<path d="M17.6 2.8 L17.2 6.7 L13.3 6.3"/></g>')


SHIELD = "M12 1.8 L20.4 4.9 V11.2 C20.4 16.6 16.9 20.5 12 22.2 C7.1 20.5 3.6 16.6 3.6 11.2 V4.9 Z"


def g_mark(top, bottom, glyph="#FFFFFF", gid="m"):
    """The brand mark: a shield holding the power sign."""
    return (f'<defs><linearGradient id="{gid}" x1="0" y1="0" x2="0" y2="1">'
            f'<stop offset="0" stop-color="{top}"/><stop offset="1" stop-color="{bottom}"/>'
            f'</linearGradient></defs>'
            f'<path d="{SHIELD}" fill="url(#{gid})"/>'
            f'<g transform="translate(12 12.4) scale(0.62) translate(-12 -12)">{g_power(glyph, 2.6)}</g>')


def g_mark_mono(color):
    """The mark as one colour: the power sign is cut out of the shield."""
    ring = ring_outline(12, 12.4, 0.62 * 7.6, 0.62 * 2.6 / 2, 0.62)
    return (f'<path fill-rule="evenodd" fill="{color}" d="{SHIELD} {ring}"/>')


def ring_outline(cx, cy, r, half, scale):
    """Even-odd hole in the shape of the power sign (open ring and stem)."""
    # Open ring from 230 deg to -50 deg (through the bottom), as outline.
    a0 = math.radians(-57)   # right end, measured from +x, y down
    a1 = math.radians(237)   # left end
    ro, ri = r + half, r - half

    def p(rr, a):
        return f"{cx + rr * math.cos(a):.3f} {cy + rr * math.sin(a):.3f}"
    ring = (f"M{p(ro, a0)} A{ro:.3f} {ro:.3f} 0 1 1 {p(ro, a1)} "
            f"A{half:.3f} {half:.3f} 0 0 1 {p(ri, a1)} "
            f"A{ri:.3f} {ri:.3f} 0 1 0 {p(ri, a0)} "
            f"A{half:.3f} {half:.3f} 0 0 1 {p(ro, a0)} Z")
    top = cy - 8.8 * scale
    bottom = cy - 0.6 * scale
    stem = (f"M{cx - half:.3f} {top:.3f} A{half:.3f} {half:.3f} 0 0 1 {cx + half:.3f} {top:.3f} "
            f"V{bottom:.3f} A{half:.3f} {half:.3f} 0 0 1 {cx - half:.3f} {bottom:.3f} Z")
    return ring + " " + stem


WORDMARK = (
    '<circle cx="6.7" cy="14" r="5.7"/>'
    '<path d="M22.3 10 C21.4 8.9 20 8.3 18.4 8.3 C16.4 8.3 15 9.4 15 11 C15 14.3 22.5 13 22.5 16.9 '
    'C22.5 18.7 21 19.7 18.7 19.7 C17 19.7 15.5 19.1 14.5 18.1"/>'
    '<path d="M28 4.4 V16.9 C28 18.8 28.9 19.7 30.6 19.7 H31.6"/><path d="M25.2 8.6 H31.4"/>'
    '<path d="M35.6 19.7 V8.4"/><path d="M35.6 14.2 C35.6 10.6 37.6 8.3 41 8.3"/>'
    '<path d="M44.3 14.1 H55.3 C55.3 10.9 53 8.3 49.8 8.3 C46.6 8.3 44.3 10.8 44.3 14 '
    'C44.3 17.3 46.7 19.7 49.9 19.7 C51.9 19.7 53.5 18.9 54.6 17.4"/>'
    '<path d="M60.4 3 V19.7"/>'
)


def g_wordmark(color, sw=2.5):
    return (f'<g fill="none" stroke="{color}" stroke-width="{sw}" stroke-linecap="round" '
            f'stroke-linejoin="round">{WORDMARK}</g>')


def logo(width, height, text_color, gid):
    """Mark and word side by side, fitted into width x height."""
    # Natural layout: mark 24 wide, gap 7, word 62 wide (x 0.3 .. 61.7), 24 high.
    nat_w, nat_h = 24 + 7 + 62.5, 24
    s = min(width / nat_w, height / nat_h) * 0.92
    ox = (width - nat_w * s) / 2
    oy = (height - nat_h * s) / 2
    return (f'<g transform="translate({ox:.2f} {oy:.2f}) scale({s:.4f})">'
            f'{g_mark(BLUE, BLUE_DEEP, gid=gid)}'
            f'<g transform="translate(31.6 1.2)">{g_wordmark(text_color)}</g></g>')


def toggle(pal, state, knob_x=None):
    """The large on/off switch, 213 x 74."""
    w, h = 213, 74
    r = 33
    if state == "on":
        track, line, knob, glyph = GREEN, GREEN, "#FFFFFF", GREEN
        kx = w - 37
    elif state == "off":
        track, line, knob, glyph = pal["track"], pal["track_line"], pal["knob"], pal["track"]
        kx = 37
    else:
        track, line, knob, glyph = BLUE_DEEP, BLUE_DEEP, "#FFFFFF", BLUE_DEEP
        kx = w / 2
    if knob_x is not None:
        kx = knob_x
    body = (f'<rect x="4" y="4" width="{w - 8}" height="{h - 8}" rx="{r}" fill="{track}" '
            f'stroke="{line}" stroke-width="2"/>')
    if state == "process" and knob_x is None:
        for i, dx in enumerate((-58, -44, 44, 58)):
            body += f'<circle cx="{kx + dx}" cy="37" r="{3.2 if abs(dx) < 50 else 2.4}" fill="#FFFFFF" opacity="{0.9 if abs(dx) < 50 else 0.55}"/>'
    body += f'<circle cx="{kx}" cy="37" r="27" fill="{knob}"/>'
    body += (f'<g transform="translate({kx - 16} 21) scale(1.3333)">{g_power(glyph, 2.4)}</g>')
    return svg(w, h, body)


def globe(pal):
    """The earth picture of the light skin's background, 450 x 421."""
    cx, cy, r = 225, 210, 196
    line = pal["globe_line"]
    op = pal["globe_line_opacity"]
    parts = [f'<defs><radialGradient id="gl" cx="0.38" cy="0.32" r="0.75">'
             f'<stop offset="0" stop-color="{pal["globe_fill"]}" stop-opacity="0.95"/>'
             f'<stop offset="1" stop-color="{pal["globe_fill"]}" stop-opacity="0.35"/></radialGradient></defs>',
             f'<circle cx="{cx}" cy="{cy}" r="{r}" fill="url(#gl)"/>',
             f'<g fill="none" stroke="{line}" stroke-opacity="{op}" stroke-width="1.6">']
    # Parallels.
    for lat in (-60, -30, 0, 30, 60):
        y = cy + r * math.sin(math.radians(lat))
        rx = r * math.cos(math.radians(lat))
        ry = rx * 0.16
        parts.append(f'<ellipse cx="{cx}" cy="{y:.1f}" rx="{rx:.1f}" ry="{ry:.1f}"/>')
    # Meridians.
    for lon in (15, 45, 75):
        rx = r * math.sin(math.radians(lon))
        parts.append(f'<ellipse cx="{cx}" cy="{cy}" rx="{rx:.1f}" ry="{r}"/>')
    parts.append(f'<path d="M{cx} {cy - r} V{cy + r}"/>')
    parts.append(f'<circle cx="{cx}" cy="{cy}" r="{r}" stroke-width="2.2"/>')
    parts.append('</g>')
    # Routes between a few nodes, as arcs above the surface.
    nodes = [(130, 150), (300, 118), (352, 250), (190, 300), (250, 200)]
    routes = [(0, 4), (4, 1), (4, 2), (3, 4), (0, 3)]
    parts.append(f'<g fill="none" stroke="{pal["node"]}" stroke-width="2.4" stroke-linecap="round" stroke-dasharray="1 7">')
    for a, b in routes:
        (x1, y1), (x2, y2) = nodes[a], nodes[b]
        mx, my = (x1 + x2) / 2, (y1 + y2) / 2 - 38
        parts.append(f'<path d="M{x1} {y1} Q{mx} {my} {x2} {y2}"/>')
    parts.append('</g>')
    for i, (x, y) in enumerate(nodes):
        col = ORANGE if i == 4 else pal["node"]
        parts.append(f'<circle cx="{x}" cy="{y}" r="13" fill="{col}" fill-opacity="0.18"/>')
        parts.append(f'<circle cx="{x}" cy="{y}" r="6" fill="{col}"/>')
    return svg(450, 421, "".join(parts))


def icon24(body, size):
    return svg(size, size, body, view="0 0 24 24")


def header_button(pal, kind):
    c = pal["header"]
    body = {
        "close": f'<g {STROKE} stroke="{c}"><path d="M7 7 L17 17"/><path d="M17 7 L7 17"/></g>',
        "minimize": f'<path d="M6.5 16.5 H17.5" {STROKE} stroke="{c}"/>',
        "maximize": f'<rect x="6.5" y="6.5" width="11" height="11" rx="1.5" {STROKE} stroke="{c}"/>',
    }[kind]
    return icon24(body, 32)


def combobox_dropdown(pal):
    return icon24(f'<path d="M7 10 L12 15 L17 10 Z" fill="{pal["icon"]}" stroke="{pal["icon"]}" '
                  'stroke-width="1.2" stroke-linejoin="round"/>', 32)


def dots(pal):
    body = "".join(f'<circle cx="{8 + i * 22}" cy="8" r="{4.5 if i == 1 else 3.5}" fill="{pal["accent"]}" '
                   f'opacity="{1 if i == 1 else 0.55}"/>' for i in range(3))
    return svg(60, 16, body)


def cloud_flag():
    """16 x 11 flag for the proxy locations of the cloud provider."""
    body = ('<rect width="16" height="11" fill="#F6821F"/>'
            '<path d="M3.6 8.2 H12.6 A1.9 1.9 0 0 0 12.4 4.4 A3 3 0 0 0 6.8 3.6 A2.3 2.3 0 0 0 3.6 5.9 '
            'A1.2 1.2 0 0 0 3.6 8.2 Z" fill="#FFFFFF"/>')
    return svg(16, 11, body)


def spinner_frame(i, n, size, color):
    a = 2 * math.pi * i / n
    parts = []
    for k in range(8):
        ang = a + k * math.pi / 4
        x1 = 16 + 7 * math.cos(ang)
        y1 = 16 + 7 * math.sin(ang)
        x2 = 16 + 12 * math.cos(ang)
        y2 = 16 + 12 * math.sin(ang)
        op = 0.15 + 0.85 * (k / 7)
        parts.append(f'<path d="M{x1:.2f} {y1:.2f} L{x2:.2f} {y2:.2f}" stroke="{color}" '
                     f'stroke-opacity="{op:.2f}" stroke-width="3" stroke-linecap="round"/>')
    return svg(size, size, "".join(parts), view="0 0 32 32")


# ------------------------------------------------------------ raster tools

def render(svg_text, width, height):
    """SVG text to RGBA rows (list of bytearrays)."""
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "in.svg")
        out = os.path.join(tmp, "out.png")
        with open(src, "w") as f:
            f.write(svg_text)
        subprocess.run(["rsvg-convert", "-w", str(width), "-h", str(height), "-f", "png", "-o", out, src],
                       check=True, timeout=RSVG_TIMEOUT)
        with open(out, "rb") as f:
            return decode_png(f.read())


def decode_png(data):
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, idat = 8, []
    while at < len(data):
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + size]
        at += size + 12
        if kind == b"IHDR":
            w, h, depth, ctype, _, _, inter = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and ctype in (2, 6) and inter == 0, "expects 8-bit RGB or RGBA"
        elif kind == b"IDAT":
            idat.append(body)
    raw = zlib.decompress(b"".join(idat))
    bpp = 4 if ctype == 6 else 3
    stride = w * bpp
    rows, prior = [], bytearray(stride)
    for y in range(h):
        f = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = row[i - bpp] if i >= bpp else 0
            b = prior[i]
            c = prior[i - bpp] if i >= bpp else 0
            if f == 1:
                row[i] = (row[i] + a) & 255
            elif f == 2:
                row[i] = (row[i] + b) & 255
            elif f == 3:
                row[i] = (row[i] + ((a + b) >> 1)) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prior = row
        if bpp == 3:
            row = bytearray(b"".join(bytes(row[x * 3:x * 3 + 3]) + b"\xff" for x in range(w)))
        rows.append(row)
    return w, h, rows


def encode_png(w, h, rows):
    raw = b"".join(b"\x00" + bytes(r) for r in rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_ico(path, w, h, rows):
    """ICO holding one 32-bit BMP image (alpha in the colour data, empty AND mask)."""
    xor = b"".join(bytes(sum(([r[x * 4 + 2], r[x * 4 + 1], r[x * 4], r[x * 4 + 3]] for x in range(w)), []))
                   for r in reversed(rows))
    mask_stride = ((w + 31) // 32) * 4
    mask = bytes(mask_stride * h)
    dib = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0) + xor + mask
    head = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(dib), 6 + 16)
    with open(path, "wb") as f:
        f.write(head + entry + dib)


def flatten(rows, w, bg):
    """Composite RGBA rows on a background colour; keeps a clear-pixel mask."""
    out, clear = [], []
    for r in rows:
        line, cl = [], []
        for x in range(w):
            cr, cg, cb, ca = r[x * 4:x * 4 + 4]
            if ca < 24:
                cl.append(True)
                line.append(bg)
                continue
            cl.append(False)
            line.append(tuple((c * ca + k * (255 - ca)) // 255 for c, k in zip((cr, cg, cb), bg)))
        out.append(line)
        clear.append(cl)
    return out, clear


def median_cut(colors, count):
    boxes = [list(colors)]
    while len(boxes) < count:
        boxes.sort(key=lambda b: max(max(c[i] for c in b) - min(c[i] for c in b) for i in range(3)) if len(b) > 1 else -1)
        box = boxes.pop()
        if len(box) < 2:
            boxes.append(box)
            break
        ch = max(range(3), key=lambda i: max(c[i] for c in box) - min(c[i] for c in box))
        box.sort(key=lambda c: c[ch])
        mid = len(box) // 2
        boxes += [box[:mid], box[mid:]]
    return [tuple(sum(c[i] for c in b) // len(b) for i in range(3)) for b in boxes if b]


def lzw(indices, min_size):
    clear, end = 1 << min_size, (1 << min_size) + 1
    out, bits, nbits = bytearray(), 0, 0
    size = min_size + 1

    def put(code):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(bits & 255)
            bits >>= 8
            nbits -= 8
    table = {(i,): i for i in range(clear)}
    nxt = end + 1
    put(clear)
    cur = ()
    for px in indices:
        cand = cur + (px,)
        if cand in table:
            cur = cand
            continue
        put(table[cur])
        if nxt < 4096:
            table[cand] = nxt
            nxt += 1
            if nxt > (1 << size) and size < 12:
                size += 1
        else:
            put(clear)
            table = {(i,): i for i in range(clear)}
            nxt = end + 1
            size = min_size + 1
        cur = (px,)
    if cur:
        put(table[cur])
    put(end)
    if nbits:
        out.append(bits & 255)
    return bytes(out)


def write_gif(path, w, h, frames, bg, delay_cs):
    flat = [flatten(rows, w, bg) for rows in frames]
    colors = set()
    for pix, _ in flat:
        for line in pix:
            colors.update(line)
    palette = median_cut(colors, 255)
    while len(palette) < 255:
        palette.append((0, 0, 0))
    palette.append(bg)                 # index 255: transparent
    cache = {}

    def nearest(c):
        if c not in cache:
            cache[c] = min(range(255), key=lambda i: sum((a - b) ** 2 for a, b in zip(c, palette[i])))
        return cache[c]
    data = bytearray(b"GIF89a" + struct.pack("<HHBBB", w, h, 0xF7, 255, 0))
    for c in palette:
        data += bytes(c)
    data += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"        # loop forever
    for pix, clear in flat:
        idx = [255 if clear[y][x] else nearest(pix[y][x]) for y in range(h) for x in range(w)]
        data += b"\x21\xF9\x04" + bytes([0x09]) + struct.pack("<H", delay_cs) + b"\xFF\x00"
        data += b"\x2C" + struct.pack("<HHHHB", 0, 0, w, h, 0)
        body = lzw(idx, 8)
        data += b"\x08"
        for i in range(0, len(body), 255):
            part = body[i:i + 255]
            data += bytes([len(part)]) + part
        data += b"\x00"
    data += b"\x3B"
    with open(path, "wb") as f:
        f.write(data)


# ----------------------------------------------------------------- output

def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)


def raster(rel, svg_text, w, h):
    """Writes the SVG source under artwork/ and the PNG in the resource tree."""
    write(os.path.join(ART, rel[:-4] + ".svg"), svg_text)
    pw, ph, rows = render(svg_text, w, h)
    out = os.path.join(RES, rel)
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with open(out, "wb") as f:
        f.write(encode_png(pw, ph, rows))


def skin_vectors(pal, folder):
    icons = {
        "gear": g_gear(pal["icon"]), "gear_selected": g_gear(pal["accent"]),
        "news": g_news(pal["icon"]), "news_selected": g_news(pal["accent"]),
        "power": g_power(pal["icon"]), "power_selected": g_power(pal["accent"]),
        "power2": g_power("#FFFFFF", 2),
        "question": g_question(pal["icon"]), "question_selected": g_question(pal["accent"]),
        "user": g_user(pal["icon"]), "user_selected": g_user(pal["accent"]),
        "star_2": g_star(pal["icon"], False), "star_2_selected": g_star(ORANGE, True),
        "keyboard-right-arrow-button": g_chevron(pal["icon"], "right"),
        "path": g_chevron(pal["strong"], "down"),
        "pin_left": g_pin(pal["icon"]),
    }
    for name, body in icons.items():
        write(os.path.join(RES, folder, name + ".svg"), icon24(body, 48))
    write(os.path.join(RES, folder, "logo.svg"), svg(250, 72, logo(250, 72, pal["text"], "lg")))
    write(os.path.join(RES, folder, "logokelvaran.svg"),
          svg(96, 96, f'<g transform="translate(8 8) scale(3.3333)">{g_mark(BLUE, BLUE_DEEP, gid="lk")}</g>'))


def skin_rasters(pal, folder, full):
    r = lambda name, text, w, h: raster(os.path.join(folder, name + ".png"), text, w, h)
    r("back_arrow", icon24(g_chevron(pal["strong"], "left", 2.2), 48), 48, 48)
    r("category_down", icon24(g_chevron(pal["icon"], "down"), 32), 32, 32)
    r("category_up", icon24(g_chevron(pal["icon"], "up"), 32), 32, 32)
    r("combobox_dropdown", combobox_dropdown(pal), 32, 32)
    r("earth", globe(pal), 450, 421)
    r("flag", icon24(g_flag(pal["icon"]), 48), 48, 48)
    for page, glyph in (("connect", g_power), ("preferences", g_user), ("advanced", g_gear),
                        ("news", g_news), ("help", g_question)):
        r(f"footer_{page}_blue", icon24(glyph(pal["accent"]), 64), 64, 64)
        r(f"footer_{page}_orange", icon24(glyph(ORANGE), 64), 64, 64)
    for kind in ("close", "maximize", "minimize"):
        r(f"header_{kind}", header_button(pal, kind), 32, 32)
    r("header_logo", svg(300, 86, logo(300, 86, pal["text"], "hl")), 300, 86)
    r("ostrel-logo", svg(250, 72, logo(250, 72, pal["text"], "ol")), 250, 72)
    r("refresh", icon24(g_refresh(pal["icon"]), 48), 48, 48)
    r("btn_off", toggle(pal, "off"), 213, 74)
    r("btn_on", toggle(pal, "on"), 213, 74)
    r("btn_on_process", toggle(pal, "process"), 213, 74)
    if full:
        r("back_circle", icon24(f'<circle cx="12" cy="12" r="10.5" fill="{pal["accent"]}" fill-opacity="0.15" '
                                f'stroke="{pal["accent"]}" stroke-width="1.2"/>', 48), 48, 48)
        r("on_of_dots", dots(pal), 60, 16)
        # The animated switch: the knob swings from side to side.
        frames = []
        n = 16
        for i in range(n):
            t = (1 - math.cos(2 * math.pi * i / n)) / 2
            kx = 37 + t * (213 - 74)
            text = toggle(pal, "process", knob_x=kx)
            if i == 0:
                write(os.path.join(ART, folder, "onoffbunton-connecting.svg"), text)
            frames.append(render(text, 213, 74)[2])
        write_gif(os.path.join(RES, folder, "onoffbunton-connecting.gif"), 213, 74, frames, pal["flat_bg"], 7)


def main_window_images():
    folder = "MainWindow/Images"
    mark = lambda top, bottom: svg(24, 24, g_mark(top, bottom))
    raster(f"{folder}/ostrel-red.png", mark("#E8477F", RED), 24, 24)
    raster(f"{folder}/ostrel-gray.png", svg(24, 24, g_mark_mono("#8A93A6")), 24, 24)
    raster(f"{folder}/ostrel-white.png", svg(24, 24, g_mark_mono("#FFFFFF")), 24, 24)
    tray = lambda color: svg(39, 35, f'<g transform="translate(3.5 1.5) scale(1.3333)">{g_mark_mono(color)}</g>')
    raster(f"{folder}/vpn-black.png", tray("#1B1F27"), 39, 35)
    raster(f"{folder}/vpn-grey.png", tray("#9AA1AE"), 39, 35)
    raster(f"{folder}/vpn-white.png", tray("#FFFFFF"), 39, 35)
    raster(f"{folder}/checked.png", icon24(f'<path d="M5 12.5 L10 17.5 L19.5 7" fill="none" stroke="{BLUE}" '
                                           'stroke-width="2.6" stroke-linecap="round" stroke-linejoin="round"/>', 64), 64, 64)
    raster(f"{folder}/Logo.png", svg(125, 36, logo(125, 36, "#092741", "lo")), 125, 36)
    for name, top, bottom, size in (("ostrel.ico", BLUE, BLUE_DEEP, 128), ("IconRed.ico", "#E8477F", RED, 24)):
        text = mark(top, bottom)
        write(os.path.join(ART, folder, name[:-4] + ".svg"), text)
        w, h, rows = render(text, size, size)
        write_ico(os.path.join(RES, folder, name), w, h, rows)
    frames = []
    for i in range(12):
        text = spinner_frame(i, 12, 32, BLUE)
        if i == 0:
            write(os.path.join(ART, folder, "wait.svg"), text)
        frames.append(render(text, 32, 32)[2])
    write_gif(os.path.join(RES, folder, "wait.gif"), 32, 32, frames, (0xFF, 0xFF, 0xFF), 8)


def main():
    only = sys.argv[1:]
    if not only or "skin" in only:
        skin_vectors(DARK, "standart_skin")
        skin_vectors(LIGHT, "standart_skin/light")
        skin_rasters(DARK, "standart_skin", True)
        skin_rasters(LIGHT, "standart_skin/light", False)
    if not only or "window" in only:
        main_window_images()
    if not only or "flags" in only:
        raster("Images/flags/cloudflare.png", cloud_flag(), 16, 11)
    print("artwork written under", RES)


if __name__ == "__main__":
    main()
