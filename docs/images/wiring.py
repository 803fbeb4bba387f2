#!/usr/bin/env python3
"""Draws the wiring picture of the documentation as SVG on standard output.

    docs/images/wiring.py en > docs/images/wiring.svg
    docs/images/wiring.py ja > docs/images/wiring.ja.svg

The pictures in the tree are this script's output: a test runs it and
compares (tests/docs/docs_test.py). Change the drawing here, then run the two
lines above. The pins and wires are those of docs/wiring.md's tables.
"""
import sys
from xml.sax.saxutils import escape

WORDS = {
    "en": {
        "keyboard": ["USB keyboard", "X68000 Z keyboard,", "or PC keyboards"],
        "mouse": ["USB mouse", "(if wanted)"],
        "computer": ["Pellora", "on a Raspberry Pi,", "a Linux PC", "or a Windows PC"],
        "key_adapter": ["USB-TTL adapter, 5 V", "key line: PORT"],
        "mouse_adapter": ["USB-TTL adapter, 5 V", "mouse line: PORT2"],
        "connector": "X68000 keyboard connector",
        "connector_sub": "7-pin mini DIN, seen as the computer's pins",
        "pins": ["+5 V", "MSDATA", "key data", "commands", "READY", "REMOTE", "GND"],
        "unconnected": "leave unconnected",
        "usb": "USB",
        "notes": [
            "5 V TTL serial lines, idle high: never an RS-232 adapter or cable (its \u00b112 V can damage the X68000).",
            "Leave pin 1 and every adapter's own 5 V / 3.3 V pin unconnected: two supplies must not meet.",
            "A Raspberry Pi's own UART is 3.3 V: put a level shifter between it and the X68000.",
        ],
    },
    "ja": {
        "keyboard": ["USB キーボード", "X68000 Z キーボード", "または PC キーボード"],
        "mouse": ["USB マウス", "（使うなら）"],
        "computer": ["Pellora", "Raspberry Pi、", "Linux PC または", "Windows PC で動かす"],
        "key_adapter": ["USB-TTL アダプタ (5 V)", "キー信号線: PORT"],
        "mouse_adapter": ["USB-TTL アダプタ (5 V)", "マウス信号線: PORT2"],
        "connector": "X68000 のキーボードコネクタ",
        "connector_sub": "7 ピン mini DIN（本体側から見た信号）",
        "pins": ["+5 V", "MSDATA", "キーデータ", "コマンド", "READY", "REMOTE", "GND"],
        "unconnected": "つながない",
        "usb": "USB",
        "notes": [
            "5 V TTL のシリアル信号（アイドル時 High）。RS-232 のアダプタやケーブルは使わないこと（\u00b112 V で X68000 を壊すおそれ）。",
            "1 番ピンと、アダプタ自身の 5 V / 3.3 V ピンはつながないこと。電源どうしをつないではいけない。",
            "Raspberry Pi 自身の UART は 3.3 V。X68000 との間にはレベル変換を入れること。",
        ],
    },
}

WIDTH = 980
HEIGHT = 430
PIN_TOP = 70  # the connector's first row
PIN_STEP = 34
CONNECTOR_X = 730
ADAPTER_X = 450
ADAPTER_W = 180
TXD = "#1f5fbf"  # the key line's data, out of the adapter
RXD = "#2e8b3a"  # the computer's commands, into the adapter
MOUSE = "#c06010"  # the mouse's packets, out of its adapter
GROUND = "#222222"
GREY = "#8a8a8a"
HOP = 5  # the radius of a wire's hop over another


def pin_y(pin):
    return PIN_TOP + (pin - 1) * PIN_STEP + PIN_STEP // 2


def text(x, y, words, size=13, anchor="start", weight="normal", fill="#000000"):
    return (f'<text x="{x}" y="{y}" font-size="{size}" text-anchor="{anchor}" '
            f'font-weight="{weight}" fill="{fill}">{escape(words)}</text>')


def box(x, y, w, h, lines, bold=1, fill="#f4f4f4"):
    out = [f'<rect x="{x}" y="{y}" width="{w}" height="{h}" rx="6" fill="{fill}" '
           f'stroke="#333333" stroke-width="1.5"/>']
    top = y + h / 2 - (len(lines) - 1) * 8 + 5
    for i, line in enumerate(lines):
        out.append(text(x + w / 2, round(top + i * 16), line, 14 if i < bold else 13, "middle",
                         "bold" if i < bold else "normal"))
    return out


def line(points, colour="#333333"):
    path = " ".join(f"{x},{y}" for x, y in points)
    return [f'<polyline points="{path}" fill="none" stroke="{colour}" stroke-width="2"/>']


def wire(points, colour, arrow=None, hops=()):
    """A wire through points (right angles only), with an arrow at its "end"
    or "start" and a hop at each crossing point in hops."""
    d = [f"M{points[0][0]},{points[0][1]}"]
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        here = sorted((h for h in hops if (h[0] == x0 == x1 and min(y0, y1) < h[1] < max(y0, y1))
                       or (h[1] == y0 == y1 and min(x0, x1) < h[0] < max(x0, x1))),
                      key=lambda h: abs(h[0] - x0) + abs(h[1] - y0))
        for hx, hy in here:
            dx = (x1 > x0) - (x1 < x0)
            dy = (y1 > y0) - (y1 < y0)
            sweep = 1 if dx > 0 or dy < 0 else 0
            d.append(f"L{hx - dx * HOP},{hy - dy * HOP}")
            d.append(f"A{HOP},{HOP} 0 0 {sweep} {hx + dx * HOP},{hy + dy * HOP}")
        d.append(f"L{x1},{y1}")
    marker = f' marker-{arrow}="url(#arrow-{colour[1:]})"' if arrow else ""
    return [f'<path d="{" ".join(d)}" fill="none" stroke="{colour}" stroke-width="2.5"{marker}/>']


def adapter(y, h, title, line_name, pins):
    out = box(ADAPTER_X, y, ADAPTER_W, h, [title], 1, "#fbf3e4")
    out[1] = text(ADAPTER_X + ADAPTER_W / 2, y + 24, title, 14, "middle", "bold")
    out.append(text(ADAPTER_X + 12, y + h - 14, line_name, 13))
    for name, pin_at, colour in pins:
        out.append(text(ADAPTER_X + ADAPTER_W - 8, pin_at + 5, name, 12, "end", "bold", colour))
    return out


def drawing(lang):
    w = WORDS[lang]
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{HEIGHT}" '
           f'viewBox="0 0 {WIDTH} {HEIGHT}" font-family="sans-serif">',
           f'<rect width="{WIDTH}" height="{HEIGHT}" fill="#ffffff"/>', "<defs>"]
    for colour in (TXD, RXD, MOUSE):
        out.append(f'<marker id="arrow-{colour[1:]}" viewBox="0 0 10 10" refX="9" refY="5" '
                   f'markerWidth="6" markerHeight="6" orient="auto-start-reverse">'
                   f'<path d="M0,0 L10,5 L0,10 z" fill="{colour}"/></marker>')
    out.append("</defs>")

    # The devices, the computer and the adapters, joined by USB.
    out += box(20, 50, 170, 74, w["keyboard"])
    out += box(20, 180, 170, 56, w["mouse"])
    out += box(240, 70, 170, 150, w["computer"], 1, "#e8f0fb")
    out += line([(190, 87), (240, 87)]) + line([(190, 208), (240, 208)])
    out += line([(410, 110), (ADAPTER_X, 110)])
    out += line([(410, 190), (430, 190), (430, 280), (ADAPTER_X, 280)])
    for x, y in ((215, 80), (215, 201), (430, 103)):
        out.append(text(x, y, w["usb"], 11, "middle", fill=GREY))
    key_txd, key_rxd, key_gnd = 95, 130, 165
    mouse_txd, mouse_gnd = 280, 315
    out += adapter(50, 150, w["key_adapter"][0], w["key_adapter"][1],
                   [("TxD", key_txd, TXD), ("RxD", key_rxd, RXD), ("GND", key_gnd, GROUND)])
    out += adapter(245, 100, w["mouse_adapter"][0], w["mouse_adapter"][1],
                   [("TxD", mouse_txd, MOUSE), ("GND", mouse_gnd, GROUND)])

    # The connector: one row per pin.
    out.append(text(CONNECTOR_X + 110, PIN_TOP - 34, w["connector"], 14, "middle", "bold"))
    out.append(text(CONNECTOR_X + 110, PIN_TOP - 16, w["connector_sub"], 11, "middle",
                    fill="#444444"))
    for pin, name in enumerate(w["pins"], start=1):
        y = PIN_TOP + (pin - 1) * PIN_STEP
        unused = pin in (1, 5, 6)
        out.append(f'<rect x="{CONNECTOR_X}" y="{y}" width="220" height="{PIN_STEP}" '
                   f'fill="{"#eeeeee" if unused else "#ffffff"}" stroke="#333333"/>')
        out.append(text(CONNECTOR_X + 12, y + 22, str(pin), 14, "start", "bold"))
        out.append(text(CONNECTOR_X + 36, y + 22, name, 13, "start", "normal",
                        GREY if unused else "#000000"))
        if unused:
            out.append(text(CONNECTOR_X + 212, y + 22, w["unconnected"], 11, "end",
                            fill=GREY))

    # The wires, crossed as between any two serial devices: TxD to the data
    # in, RxD from the commands out; both grounds to pin 7.
    edge = ADAPTER_X + ADAPTER_W
    txd_lane, rxd_lane, gnd_lane, mouse_lane = 700, 690, 670, 715
    out += wire([(edge, key_txd), (txd_lane, key_txd), (txd_lane, pin_y(3)),
                 (CONNECTOR_X, pin_y(3))], TXD, "end")
    out += wire([(edge, key_rxd), (rxd_lane, key_rxd), (rxd_lane, pin_y(4)),
                 (CONNECTOR_X, pin_y(4))], RXD, "start")
    out += wire([(edge, key_gnd), (gnd_lane, key_gnd), (gnd_lane, pin_y(7)),
                 (CONNECTOR_X, pin_y(7))], GROUND)
    out += wire([(edge, mouse_gnd), (gnd_lane, mouse_gnd), (gnd_lane, pin_y(7))], GROUND)
    out.append(f'<circle cx="{gnd_lane}" cy="{pin_y(7)}" r="4" fill="{GROUND}"/>')
    out += wire([(edge, mouse_txd), (mouse_lane, mouse_txd), (mouse_lane, pin_y(2)),
                 (CONNECTOR_X, pin_y(2))], MOUSE, "end",
                hops=[(gnd_lane, mouse_txd), (mouse_lane, pin_y(3)), (mouse_lane, pin_y(4))])

    for i, note in enumerate(w["notes"]):
        out.append(text(20, 372 + i * 20, note, 12, "start", "bold" if i == 0 else "normal",
                        "#a01010" if i == 0 else "#000000"))
    out.append("</svg>")
    return "\n".join(out) + "\n"


if __name__ == "__main__":
    if len(sys.argv) != 2 or sys.argv[1] not in WORDS:
        sys.exit("usage: wiring.py en|ja")
    sys.stdout.write(drawing(sys.argv[1]))
