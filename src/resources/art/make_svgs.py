#!/usr/bin/env python3
"""Writes the SVG sources of the panel's artwork.

Usage: make_svgs.py <output folder>

Every picture is drawn on its design grid (the face on 452 x 580, the loopback
art on 314 x 322, the About art on 514 x 212, the fader caps on 22 x 33 and
11 x 17). The places of the controls that sit over the art are fixed by the
program's layout, so the constants below must not move without it.
"""

import os
import sys

FONT = "DejaVu Sans"

# Front plate colours.
FRONT_TOP = "#e4e5e7"
FRONT_BOTTOM = "#cfd1d4"
INK = "#26282c"
INK_SOFT = "#55585e"
STRIP_FILL = "#c9cbcf"
STRIP_EDGE = "#8e9196"
SLOT_FILL = "#2c2e32"
SLOT_EDGE = "#16171a"
GROOVE = "#08090a"
READOUT_FILL = "#14161a"
ACCENT = "#c8261b"

# Face geometry (design pixels on the 452 x 580 face).
PAIR_Y = 129
PAIR_H = 320
FADER_W = 22
PAIR_XS = (89, 307)             # input pair, output pair
FADER_OFFSETS = (0, 34)         # channel 1 and 2 within a pair
TRAVEL_TOP = 145                # thumb centre at 0 dB
TRAVEL_BOTTOM = 433             # thumb centre at -60 dB
READOUT_XS = ((35, 118), (253, 336))
READOUT_Y, READOUT_W, READOUT_H = 461, 81, 32
MUTE_XS = (78, 298)
MUTE_Y, MUTE_W, MUTE_H = 513, 77, 44
STRIP_XS = (24, 242)
STRIP_W = 186
STRIP_Y, STRIP_H = 86, 416


def text(x, y, s, size, fill=INK, anchor="start", weight="normal", spacing=None, extra=""):
    ls = f' letter-spacing="{spacing}"' if spacing is not None else ""
    return (f'<text x="{x}" y="{y}" font-family="{FONT}" font-size="{size}" '
            f'font-weight="{weight}" fill="{fill}" text-anchor="{anchor}"{ls}{extra}>{s}</text>')


def svg(width, height, body):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
            f'viewBox="0 0 {width} {height}">\n' + "\n".join(body) + "\n</svg>\n")


def screw(cx, cy):
    return [
        f'<circle cx="{cx}" cy="{cy}" r="5.5" fill="url(#screw)" stroke="#7c7f84" stroke-width="0.8"/>',
        f'<line x1="{cx - 3.2}" y1="{cy + 1.6}" x2="{cx + 3.2}" y2="{cy - 1.6}" '
        f'stroke="#5a5d62" stroke-width="1.2"/>',
    ]


def face_defs():
    return [
        "<defs>",
        f'<linearGradient id="front" x1="0" y1="0" x2="0" y2="1">'
        f'<stop offset="0" stop-color="{FRONT_TOP}"/><stop offset="1" stop-color="{FRONT_BOTTOM}"/></linearGradient>',
        '<radialGradient id="screw" cx="0.4" cy="0.35" r="0.7">'
        '<stop offset="0" stop-color="#f4f4f5"/><stop offset="1" stop-color="#9c9fa4"/></radialGradient>',
        '<linearGradient id="muteOff" x1="0" y1="0" x2="0" y2="1">'
        '<stop offset="0" stop-color="#c3c5c9"/><stop offset="1" stop-color="#9a9da2"/></linearGradient>',
        '<linearGradient id="muteLit" x1="0" y1="0" x2="0" y2="1">'
        '<stop offset="0" stop-color="#ff5a48"/><stop offset="1" stop-color="#c4140a"/></linearGradient>',
        '<linearGradient id="readout" x1="0" y1="0" x2="0" y2="1">'
        f'<stop offset="0" stop-color="#1e2125"/><stop offset="1" stop-color="{READOUT_FILL}"/></linearGradient>',
        "</defs>",
    ]


def fader_scale(pair_x):
    """Tick marks beside and between a pair's slots, labelled in dB."""
    out = []
    step = (TRAVEL_BOTTOM - TRAVEL_TOP) / 12.0
    left = pair_x
    gap_l = pair_x + FADER_W
    gap_r = pair_x + FADER_OFFSETS[1]
    right = gap_r + FADER_W
    for i in range(13):
        y = TRAVEL_TOP + i * step
        major = i % 2 == 0
        w = 7 if major else 4
        sw = 1.2 if major else 0.8
        colour = INK if major else INK_SOFT
        out.append(f'<line x1="{left - 2 - w}" y1="{y:.2f}" x2="{left - 2}" y2="{y:.2f}" stroke="{colour}" stroke-width="{sw}"/>')
        out.append(f'<line x1="{right + 2}" y1="{y:.2f}" x2="{right + 2 + w}" y2="{y:.2f}" stroke="{colour}" stroke-width="{sw}"/>')
        if major:
            out.append(f'<line x1="{gap_l + 2}" y1="{y:.2f}" x2="{gap_r - 2}" y2="{y:.2f}" stroke="{INK_SOFT}" stroke-width="1"/>')
            label = "0" if i == 0 else f"-{i * 5}"
            out.append(text(left - 12, y + 3, label, 8.5, INK, "end"))
            out.append(text(right + 12, y + 3, label, 8.5, INK, "start"))
    return out


def fader_slot(x):
    cx = x + FADER_W / 2
    return [
        f'<rect x="{x - 1}" y="{PAIR_Y - 1}" width="{FADER_W + 2}" height="{PAIR_H + 2}" rx="4" fill="#f3f4f5" opacity="0.7"/>',
        f'<rect x="{x}" y="{PAIR_Y}" width="{FADER_W}" height="{PAIR_H}" rx="3" fill="{SLOT_FILL}" stroke="{SLOT_EDGE}" stroke-width="1"/>',
        f'<rect x="{cx - 2}" y="{TRAVEL_TOP - 6}" width="4" height="{TRAVEL_BOTTOM - TRAVEL_TOP + 12}" rx="2" fill="{GROOVE}"/>',
    ]


def strip(index, title):
    x = STRIP_XS[index]
    pair_x = PAIR_XS[index]
    cx = x + STRIP_W / 2
    out = [
        f'<rect x="{x}" y="{STRIP_Y}" width="{STRIP_W}" height="{STRIP_H}" rx="7" fill="{STRIP_FILL}" '
        f'stroke="{STRIP_EDGE}" stroke-width="1.5"/>',
        f'<rect x="{x + 3}" y="{STRIP_Y + 3}" width="{STRIP_W - 6}" height="{STRIP_H - 6}" rx="5" fill="none" '
        f'stroke="#e9eaec" stroke-width="1"/>',
        text(cx, STRIP_Y + 19, title, 11, INK, "middle", "bold", 2),
        text(pair_x - 12, PAIR_Y - 4, "dB", 7.5, INK_SOFT, "end"),
    ]
    for ch, off in enumerate(FADER_OFFSETS):
        fx = pair_x + off
        out.append(text(fx + FADER_W / 2, PAIR_Y - 5, str(ch + 1), 10, INK, "middle", "bold"))
        out += fader_slot(fx)
    out += fader_scale(pair_x)
    for rx in READOUT_XS[index]:
        out += [
            f'<rect x="{rx - 0.5}" y="{READOUT_Y - 0.5}" width="{READOUT_W + 1}" height="{READOUT_H + 1}" rx="3.5" fill="#f2f3f4"/>',
            f'<rect x="{rx}" y="{READOUT_Y}" width="{READOUT_W}" height="{READOUT_H - 1}" rx="3" fill="url(#readout)" '
            f'stroke="#08090b" stroke-width="1"/>',
        ]
    return out


def mute_button(x, lit):
    y, w, h = MUTE_Y, MUTE_W, MUTE_H
    if lit:
        return [
            f'<rect x="{x - 2}" y="{y - 2}" width="{w + 4}" height="{h + 4}" rx="8" fill="#ff8a7a" opacity="0.55"/>',
            f'<rect x="{x}" y="{y}" width="{w}" height="{h}" rx="6" fill="url(#muteLit)" stroke="#7e0c05" stroke-width="1.2"/>',
            f'<rect x="{x + 3}" y="{y + 2.5}" width="{w - 6}" height="{h / 2 - 4}" rx="4" fill="#ffffff" opacity="0.22"/>',
            text(x + w / 2, y + h / 2 + 5, "MUTE", 13, "#ffffff", "middle", "bold", 1.5),
        ]
    return [
        f'<rect x="{x}" y="{y}" width="{w}" height="{h}" rx="6" fill="url(#muteOff)" stroke="#6a6d72" stroke-width="1.2"/>',
        f'<rect x="{x + 3}" y="{y + 2.5}" width="{w - 6}" height="{h / 2 - 4}" rx="4" fill="#ffffff" opacity="0.35"/>',
        text(x + w / 2, y + h / 2 + 5, "MUTE", 13, "#3a3c40", "middle", "bold", 1.5),
    ]


def face_body(lit):
    body = [
        '<rect x="0" y="0" width="452" height="580" fill="url(#front)"/>',
        '<rect x="0.75" y="0.75" width="450.5" height="578.5" fill="none" stroke="#8a8d92" stroke-width="1.5"/>',
        '<rect x="2.5" y="2.5" width="447" height="575" fill="none" stroke="#f5f6f7" stroke-width="1"/>',
    ]
    for sx, sy in ((14, 14), (438, 14), (14, 566), (438, 566)):
        body += screw(sx, sy)
    body += [
        text(26, 58, "TARVIK", 34, INK, "start", "bold", 5),
        text(28, 74, "VYR Zelvatek GmbH", 10.5, INK_SOFT, "start", "normal", 0.5),
        text(426, 44, "2-CHANNEL", 9, INK_SOFT, "end", "bold", 1.5),
        text(426, 57, "USB AUDIO INTERFACE", 9, INK_SOFT, "end", "bold", 1.5),
        f'<rect x="300" y="64" width="126" height="3" fill="{ACCENT}"/>',
    ]
    body += strip(0, "INPUTS")
    body += strip(1, "OUTPUTS")
    # Channel legends under the readouts' strip edge.
    for index in (0, 1):
        for ch, rx in enumerate(READOUT_XS[index]):
            body.append(text(rx + READOUT_W / 2, READOUT_Y - 5, ("IN " if index == 0 else "OUT ") + str(ch + 1),
                             7.5, INK_SOFT, "middle", "bold", 1))
    # The strip between a pair's slots drags both faders.
    for index in (0, 1):
        gx = PAIR_XS[index] + FADER_W + 6
        body.append(text(gx, PAIR_Y - 6, "LINK", 5, INK_SOFT, "middle", "bold"))
    for x in MUTE_XS:
        body += mute_button(x, lit)
    return face_defs() + body


def face(lit):
    return svg(452, 580, face_body(lit))


# Loopback dialog (314 x 322 design grid).
LB_BUTTON_X, LB_BUTTON_W, LB_BUTTON_H = 13, 46, 45
LB_ON_Y, LB_OFF_Y = 96, 203
LB_STARTS = ((98, 96), (98, 140), (98, 205), (98, 249))
LB_ENDS = ((266, 203), (266, 249))


def socket(cx, cy):
    return [
        f'<circle cx="{cx}" cy="{cy}" r="6" fill="#f4f5f6" stroke="#3a3d42" stroke-width="1.5"/>',
        f'<circle cx="{cx}" cy="{cy}" r="2.6" fill="#1a1c1f"/>',
    ]


def lb_button(y, label, lit):
    x, w, h = LB_BUTTON_X, LB_BUTTON_W, LB_BUTTON_H
    if lit:
        face_fill, edge, led, led_edge, ink = "url(#lbLit)", "#2f6d2a", "#7dff6a", "#1f7a16", "#10340d"
    else:
        face_fill, edge, led, led_edge, ink = "url(#muteOff)", "#6a6d72", "#4b5a49", "#33382f", "#3a3c40"
    out = [
        f'<rect x="{x}" y="{y}" width="{w}" height="{h}" rx="5" fill="{face_fill}" stroke="{edge}" stroke-width="1.2"/>',
        f'<rect x="{x + 3}" y="{y + 2.5}" width="{w - 6}" height="{h / 2 - 5}" rx="3" fill="#ffffff" opacity="0.3"/>',
        f'<circle cx="{x + w / 2}" cy="{y + 12}" r="4" fill="{led}" stroke="{led_edge}" stroke-width="1"/>',
        text(x + w / 2, y + 34, label, 11, ink, "middle", "bold", 0.5),
    ]
    if lit:
        out.insert(0, f'<circle cx="{x + w / 2}" cy="{y + 12}" r="8" fill="#b6ff9e" opacity="0.5"/>')
    return out


def loopback(lit):
    body = face_defs()[:-1] + [
        '<linearGradient id="lbLit" x1="0" y1="0" x2="0" y2="1">'
        '<stop offset="0" stop-color="#c9f7bd"/><stop offset="1" stop-color="#7fcf6c"/></linearGradient>',
        '<linearGradient id="band" x1="0" y1="0" x2="0" y2="1">'
        '<stop offset="0" stop-color="#3a3d42"/><stop offset="1" stop-color="#232529"/></linearGradient>',
        "</defs>",
        '<rect x="0" y="0" width="314" height="322" fill="url(#front)"/>',
        '<rect x="0" y="0" width="314" height="62" fill="url(#band)"/>',
        f'<rect x="0" y="62" width="314" height="2" fill="{ACCENT}"/>',
        text(14, 33, "PatchWEAVE", 21, "#ffffff", "start", "bold", 0.5),
        text(15, 51, "LOOPBACK ROUTING", 8.5, "#b9bdc4", "start", "bold", 1.5),
        text(300, 33, "TARVIK", 12, "#d6d9de", "end", "bold", 2.5),
        text(300, 51, "VYR Zelvatek", 8, "#9ea3ab", "end"),
        # The routing field, where the program draws the live connections.
        '<rect x="106" y="78" width="152" height="232" rx="8" fill="#eef0f2" stroke="#aeb1b6" '
        'stroke-width="1" stroke-dasharray="4 3"/>',
        text(182, 303, "INTERNAL ROUTING", 7, INK_SOFT, "middle", "bold", 1),
        text(36, 86, "LOOPBACK", 7.5, INK, "middle", "bold", 0.5),
    ]
    body += lb_button(LB_ON_Y, "ON", lit)
    body += lb_button(LB_OFF_Y, "OFF", lit)
    # Sources on the left, recording channels on the right.
    body += [
        f'<rect x="66" y="84" width="32" height="68" rx="4" fill="{STRIP_FILL}" stroke="{STRIP_EDGE}" stroke-width="1"/>',
        f'<rect x="66" y="193" width="32" height="68" rx="4" fill="{STRIP_FILL}" stroke="{STRIP_EDGE}" stroke-width="1"/>',
        f'<rect x="266" y="191" width="38" height="70" rx="4" fill="{STRIP_FILL}" stroke="{STRIP_EDGE}" stroke-width="1"/>',
        text(82, 167, "USB", 7, INK_SOFT, "middle", "bold"),
        text(82, 176, "PLAY", 7, INK_SOFT, "middle", "bold"),
        text(82, 276, "ANALOG", 6.5, INK_SOFT, "middle", "bold"),
        text(82, 285, "IN", 6.5, INK_SOFT, "middle", "bold"),
        text(286, 276, "USB", 7, INK_SOFT, "middle", "bold"),
        text(286, 285, "REC", 7, INK_SOFT, "middle", "bold"),
    ]
    names = ("PB1", "PB2", "IN1", "IN2")
    for (sx, sy), name in zip(LB_STARTS, names):
        body.append(text(sx - 15, sy + 3, name, 7, INK, "middle", "bold"))
    for i, (ex, ey) in enumerate(LB_ENDS):
        body.append(text(ex + 22, ey + 3, f"R{i + 1}", 7, INK, "middle", "bold"))
    for sx, sy in LB_STARTS + LB_ENDS:
        body += socket(sx, sy)
    return svg(314, 322, body)


# About art (514 x 212).
ABOUT_URL_TEXT = "www.vyr-zelvatek.example"


def about():
    body = face_defs()[:-1] + [
        '<linearGradient id="dark" x1="0" y1="0" x2="0" y2="1">'
        '<stop offset="0" stop-color="#34373c"/><stop offset="1" stop-color="#1d1f22"/></linearGradient>',
        '<linearGradient id="closeBtn" x1="0" y1="0" x2="0" y2="1">'
        '<stop offset="0" stop-color="#e9eaec"/><stop offset="1" stop-color="#b4b7bc"/></linearGradient>',
        "</defs>",
        '<rect x="0" y="0" width="514" height="212" fill="#f3f4f5"/>',
        '<rect x="0" y="0" width="256" height="212" fill="url(#dark)"/>',
        f'<rect x="256" y="0" width="3" height="212" fill="{ACCENT}"/>',
        text(128, 34, "VYR Zelvatek GmbH", 11, "#aeb3ba", "middle", "normal", 0.5),
        text(130, 82, "TARVIK", 40, "#ffffff", "middle", "bold", 6),
        text(128, 106, "Tarvik Panel", 14, "#dfe3e8", "middle"),
        text(128, 123, "for the TARVIK USB audio interface", 8.5, "#9ea3ab", "middle"),
        # Web address, under the invisible link spot (59, 140, 138, 20).
        text(128, 154, ABOUT_URL_TEXT, 10, "#8cc4ff", "middle", "normal", None,
             ' text-decoration="underline"'),
        # Close button, under the invisible close spot (109, 166, 41, 23).
        '<rect x="109.5" y="166.5" width="40" height="22" rx="4" fill="url(#closeBtn)" stroke="#0e0f11" stroke-width="1"/>',
        text(129.5, 181.5, "Close", 10, "#1d1f22", "middle", "bold"),
        text(128, 204, "\u00a9 VYR Zelvatek GmbH", 7.5, "#80858d", "middle"),
    ]
    # A small picture of the front, drawn from the face itself.
    body += [
        '<rect x="279" y="21" width="116" height="148" fill="#b9bcc1"/>',
        '<g transform="translate(276 18) scale(0.25)">',
    ]
    body += [part for part in face_body(False) if not part.startswith("<defs") and not part.startswith("<linear")
             and not part.startswith("<radial") and part != "</defs>"]
    body += [
        "</g>",
        '<rect x="276" y="18" width="113" height="145" fill="none" stroke="#6e7277" stroke-width="1"/>',
        text(404, 40, "TARVIK", 14, INK, "start", "bold", 2),
        text(404, 58, "USB audio interface", 8.5, INK_SOFT),
        text(404, 76, "2 inputs, 2 outputs", 8.5, INK_SOFT),
        text(404, 90, "24 bit, up to 192 kHz", 8.5, INK_SOFT),
        text(404, 104, "PatchWEAVE loopback", 8.5, INK_SOFT),
        # The version line is drawn by the program into (275, 186, 200, 20).
        '<line x1="275" y1="180" x2="500" y2="180" stroke="#c9ccd0" stroke-width="1"/>',
    ]
    return svg(514, 212, body)


# Fader caps.
def thumb(width, height, hot):
    if width >= 20:
        ribs = (5.5, 8.5, 11.5, 21.5, 24.5, 27.5)
        mid, rib_w, rx = 16.5, 1, 2.5
    else:
        ribs = (3.5, 5.5, 11.5, 13.5)
        mid, rib_w, rx = 8.5, 1, 1.5
    top, bottom = ("#ffffff", "#cfd3d9") if hot else ("#d9dbde", "#8f9297")
    edge = "#2f7fd6" if hot else "#2a2c30"
    body = [
        "<defs>",
        f'<linearGradient id="cap" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="{top}"/>'
        f'<stop offset="0.5" stop-color="{bottom}"/><stop offset="1" stop-color="{top}"/></linearGradient>',
        "</defs>",
        f'<rect x="0" y="0" width="{width}" height="{height}" fill="{SLOT_FILL}"/>',
        f'<rect x="0.5" y="0.5" width="{width - 1}" height="{height - 1}" rx="{rx}" fill="url(#cap)" '
        f'stroke="{edge}" stroke-width="1"/>',
    ]
    for y in ribs:
        body.append(f'<line x1="2" y1="{y}" x2="{width - 2}" y2="{y}" stroke="#5d6065" stroke-width="{rib_w}"/>')
    body.append(f'<line x1="1" y1="{mid}" x2="{width - 1}" y2="{mid}" stroke="#101113" stroke-width="{rib_w * 1.5}"/>')
    return svg(width, height, body)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_svgs.py <output folder>")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    files = {
        "face.svg": face(False),
        "face_lit.svg": face(True),
        "loopback.svg": loopback(False),
        "loopback_pressed.svg": loopback(True),
        "about.svg": about(),
        "thumb.svg": thumb(22, 33, False),
        "thumb_hot.svg": thumb(22, 33, True),
        "thumb_small.svg": thumb(11, 17, False),
        "thumb_small_hot.svg": thumb(11, 17, True),
    }
    for name, content in files.items():
        with open(os.path.join(out, name), "w", encoding="utf-8", newline="\n") as f:
            f.write(content)


if __name__ == "__main__":
    main()
