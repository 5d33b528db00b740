#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the ball's artwork as SVG sources (tools/art/svg/) and renders them with
rsvg-convert into the resource tree; the skin previews become JPG through ImageMagick.

    tools/art/ballart.py            # write the SVGs and render every picture
    tools/art/ballart.py --svg-only # only rewrite the SVG sources
    tools/art/ballart.py --render   # render the committed SVG sources as they are
"""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
SVG = os.path.join(HERE, "svg")
SKINS = os.path.join(ROOT, "src", "qml", "Ball", "Skins")
IMAGES = os.path.join(SKINS, "images")
BALL_IMAGES = os.path.join(ROOT, "src", "qml", "Ball", "Images")
FONT = "DejaVu Sans"

# name -> (svg text, width, height, output path)
ART = {}


def svg(w, h, body, defs=""):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" '
            f'viewBox="0 0 {w} {h}">\n<defs>{defs}</defs>\n{body}\n</svg>\n')


def lin(id_, stops, x2=0, y2=1):
    s = "".join(f'<stop offset="{o}" stop-color="{c}"/>' for o, c in stops)
    return f'<linearGradient id="{id_}" x1="0" y1="0" x2="{x2}" y2="{y2}">{s}</linearGradient>'


def rad(id_, stops, cx=0.5, cy=0.5, r=0.5, fx=None, fy=None):
    fx = cx if fx is None else fx
    fy = cy if fy is None else fy
    s = "".join(f'<stop offset="{o}" stop-color="{c}"/>' for o, c in stops)
    return (f'<radialGradient id="{id_}" cx="{cx}" cy="{cy}" r="{r}" fx="{fx}" fy="{fy}">'
            f'{s}</radialGradient>')


def shadow(id_="sh", dy=2, blur=2, op=0.35):
    return (f'<filter id="{id_}" x="-20%" y="-20%" width="140%" height="140%">'
            f'<feGaussianBlur in="SourceAlpha" stdDeviation="{blur}"/>'
            f'<feOffset dy="{dy}" result="b"/>'
            f'<feComponentTransfer><feFuncA type="linear" slope="{op}"/></feComponentTransfer>'
            f'<feMerge><feMergeNode/><feMergeNode in="SourceGraphic"/></feMerge></filter>')


def add(name, w, h, body, defs="", out=IMAGES):
    ART[name] = (svg(w, h, body, defs), w, h, os.path.join(out, name))


# ---------------------------------------------------------------- ball faces (skins)

SKIN_TEXT = {}  # folder -> (background file, w, h, x, y, colour, svg)


def skin(folder, bg, w, h, x, y, colour, body, defs):
    s = svg(w, h, body, defs)
    SKIN_TEXT[folder] = (bg, w, h, x, y, colour, s)
    ART[f"{folder}/{bg}"] = (s, w, h, os.path.join(SKINS, "BallSkins", folder, bg))


def default_face():
    defs = (lin("body", [(0, "#2b3a44"), (0.5, "#17222a"), (1, "#0d1418")]) +
            lin("rim", [(0, "#5fe39a"), (1, "#1d7a4c")]) +
            lin("gloss", [(0, "#ffffff"), (1, "#ffffff")]) + shadow("sh", 1, 1.5, 0.5))
    body = ('<g filter="url(#sh)">'
            '<rect x="8" y="5" width="110" height="38" rx="19" fill="url(#body)" '
            'stroke="url(#rim)" stroke-width="1.6"/></g>'
            '<rect x="30" y="7" width="84" height="14" rx="7" fill="#ffffff" opacity="0.07"/>'
            '<rect x="49" y="24" width="62" height="1" fill="#5fe39a" opacity="0.35"/>')
    add("bg_120x48.png", 120, 48, body, defs)


def boost_button(name, c1, c2, ring, glow):
    defs = (rad("g", [(0, c1), (1, c2)], 0.4, 0.3, 0.75) + shadow("sh", 1, 1.4, 0.55) +
            lin("hl", [(0, "#ffffff"), (1, "#ffffff")]))
    glow_c = (f'<circle cx="24" cy="24" r="23" fill="{ring}" opacity="0.35"/>' if glow else "")
    body = (glow_c +
            f'<g filter="url(#sh)"><circle cx="24" cy="24" r="20.5" fill="url(#g)" '
            f'stroke="{ring}" stroke-width="2"/></g>'
            '<ellipse cx="24" cy="14.5" rx="13" ry="7" fill="#ffffff" opacity="0.22"/>'
            # a rocket going up: the boost
            '<g transform="translate(24 25)">'
            '<path d="M0,-13 C5,-9 6,-3 5,4 L-5,4 C-6,-3 -5,-9 0,-13 Z" fill="#ffffff"/>'
            f'<circle cx="0" cy="-4" r="2.4" fill="{c2}"/>'
            '<path d="M-5,0 L-9,6 L-5,5 Z M5,0 L9,6 L5,5 Z" fill="#ffffff"/>'
            '<path d="M-3,5.5 L0,12 L3,5.5 Z" fill="#ffd166"/></g>')
    add(name, 48, 48, body, defs)


def christmas():
    defs = (rad("snow", [(0, "#ffffff"), (0.7, "#f1f6fb"), (1, "#cfdce8")], 0.42, 0.38, 0.62) +
            lin("hat", [(0, "#2a2f36"), (1, "#0b0e12")]) +
            lin("scarf", [(0, "#e63946"), (1, "#a4161a")]) + shadow("sh", 2, 2, 0.4))
    flakes = "".join(
        f'<g transform="translate({x} {y}) scale({s})" stroke="#ffffff" stroke-width="1.3" '
        f'stroke-linecap="round" opacity="0.95"><path d="M0,-5 L0,5 M-4.3,-2.5 L4.3,2.5 '
        f'M-4.3,2.5 L4.3,-2.5"/></g>'
        for x, y, s in [(14, 30, 1), (150, 22, 0.8), (20, 96, 0.7), (158, 84, 1),
                        (146, 150, 0.7), (12, 150, 0.9)])
    body = (
        '<ellipse cx="85" cy="174" rx="62" ry="5" fill="#8fb3d1" opacity="0.45"/>'
        # twig arms
        '<path d="M33,112 L6,92 M14,98 L8,86 M137,112 L164,90 M156,96 L162,84" '
        'stroke="#6b4226" stroke-width="3.5" stroke-linecap="round" fill="none"/>'
        '<g filter="url(#sh)"><circle cx="85" cy="122" r="55" fill="url(#snow)"/></g>'
        '<g filter="url(#sh)"><circle cx="85" cy="48" r="27" fill="url(#snow)"/></g>'
        # scarf
        '<path d="M56,68 Q85,80 114,68 L114,76 Q85,88 56,76 Z" fill="url(#scarf)"/>'
        '<path d="M102,75 L112,84 L104,88 L95,78 Z" fill="#c1121f"/>'
        '<path d="M62,70 l0,8 M72,74 l0,8 M82,75 l0,8 M92,75 l0,8 M102,73 l0,8" '
        'stroke="#ffffff" stroke-width="2" opacity="0.7"/>'
        # face
        '<circle cx="75" cy="42" r="3" fill="#1b1f24"/><circle cx="95" cy="42" r="3" fill="#1b1f24"/>'
        '<path d="M85,49 L101,53 L85,54 Z" fill="#f77f00"/>'
        '<path d="M74,58 Q85,64 96,58" stroke="#1b1f24" stroke-width="2" fill="none" '
        'stroke-linecap="round"/>'
        # hat
        '<g filter="url(#sh)"><rect x="58" y="24" width="54" height="6" rx="3" fill="url(#hat)"/>'
        '<rect x="66" y="2" width="38" height="24" rx="3" fill="url(#hat)"/></g>'
        '<rect x="66" y="18" width="38" height="5" fill="#2a9d8f"/>'
        '<circle cx="96" cy="20" r="3" fill="#e63946"/><circle cx="100" cy="17" r="2.5" fill="#e63946"/>'
        '<path d="M97,16 q4,-5 9,-3" stroke="#2d6a4f" stroke-width="2" fill="none"/>'
        # buttons under the read-out
        '<circle cx="85" cy="134" r="3.5" fill="#1b1f24"/><circle cx="85" cy="150" r="3.5" fill="#1b1f24"/>'
        '<circle cx="85" cy="165" r="3" fill="#1b1f24"/>' + flakes)
    skin("Christmas", "Christmas_170x180.png", 170, 180, 60, 87, "#050a0f", body, defs)


def halloween():
    defs = (rad("pump", [(0, "#ffb347"), (0.65, "#f77f00"), (1, "#b3470a")], 0.4, 0.35, 0.7) +
            lin("stone", [(0, "#3d2c5c"), (1, "#1b1030")]) +
            rad("moon", [(0, "#fff7c2"), (1, "#f2d45c")]) +
            rad("candle", [(0, "#fff3b0"), (0.5, "#ffd23f"), (1, "#ff8c00")]) + shadow("sh", 2, 2, 0.5))
    body = (
        '<ellipse cx="110" cy="104" rx="88" ry="5" fill="#000000" opacity="0.35"/>'
        # the sign that holds the read-out
        '<g filter="url(#sh)"><path d="M104,24 L190,24 Q196,24 196,30 L196,94 Q196,100 190,100 '
        'L110,100 Q104,100 104,94 Z" fill="url(#stone)" stroke="#7b5ea7" stroke-width="1.5"/></g>'
        '<path d="M104,30 L192,30" stroke="#ffffff" stroke-opacity="0.12" stroke-width="1"/>'
        '<circle cx="178" cy="40" r="9" fill="url(#moon)"/><circle cx="182" cy="37" r="8" fill="#2a1c44"/>'
        # bat
        '<path d="M150,84 q6,-8 12,-2 q3,-4 6,0 q3,-4 6,0 q6,-6 12,2 q-8,-2 -10,4 q-4,-3 -8,0 '
        'q-4,-3 -8,0 q-2,-6 -10,-4 Z" fill="#0d0716"/>'
        # pumpkin
        '<path d="M50,20 q-2,-10 8,-14 l2,4 q-6,3 -5,10 Z" fill="#3a5a40"/>'
        '<g filter="url(#sh)">'
        '<ellipse cx="32" cy="62" rx="26" ry="36" fill="#d9650a"/>'
        '<ellipse cx="76" cy="62" rx="26" ry="36" fill="#d9650a"/>'
        '<ellipse cx="54" cy="60" rx="36" ry="42" fill="url(#pump)"/></g>'
        '<path d="M54,18 Q43,60 54,102 M54,18 Q65,60 54,102" stroke="#b3470a" stroke-width="2" '
        'fill="none" opacity="0.6"/>'
        # carved face, lit from inside
        '<path d="M30,48 L42,38 L46,54 Z M78,48 L66,38 L62,54 Z" fill="url(#candle)"/>'
        '<path d="M51,60 L57,60 L54,68 Z" fill="url(#candle)"/>'
        '<path d="M25,72 Q54,98 83,72 L76,76 L72,70 L66,80 L60,74 L54,84 L48,74 L42,80 L36,70 '
        'L32,76 Z" fill="url(#candle)"/>')
    skin("Halloween", "bg_200x110.png", 200, 110, 112, 52, "#f5faff", body, defs)


def lighter():
    defs = (lin("case", [(0, "#b5171f"), (0.5, "#7a0b12"), (1, "#4a060b")], 1, 0) +
            lin("chrome", [(0, "#f4f6f8"), (0.45, "#a9b2ba"), (0.55, "#8c959d"), (1, "#e6eaee")], 1, 0) +
            rad("flame", [(0, "#fff9d6"), (0.45, "#ffd23f"), (0.8, "#ff7b00"), (1, "#ff4d00")],
                0.5, 0.75, 0.6) + shadow("sh", 2, 1.5, 0.45))
    body = (
        # flame
        '<path d="M50,2 C58,10 60,16 56,22 C54,25 46,25 44,22 C40,16 44,10 50,2 Z" fill="url(#flame)"/>'
        '<path d="M50,11 C53,15 53,19 51,21 C49,22 47,21 47,19 C47,16 48,14 50,11 Z" fill="#9bd4ff" opacity="0.8"/>'
        # chimney with holes
        '<g filter="url(#sh)"><rect x="11" y="20" width="73" height="24" rx="3" fill="url(#chrome)"/></g>'
        + "".join(f'<circle cx="{22 + 10 * i}" cy="{28 + 7 * j}" r="2" fill="#59626a"/>'
                  for i in range(6) for j in range(2)) +
        '<rect x="63" y="14" width="10" height="10" rx="5" fill="#59626a"/>'
        # case
        '<g filter="url(#sh)"><rect x="9" y="42" width="77" height="70" rx="7" fill="url(#case)"/></g>'
        '<rect x="12" y="45" width="6" height="64" rx="3" fill="#ffffff" opacity="0.18"/>'
        '<rect x="9" y="42" width="77" height="4" fill="#000000" opacity="0.25"/>'
        '<path d="M26,92 l8,-10 l4,6 l6,-8 l6,12 Z" fill="#ffffff" opacity="0.18"/>'
        '<rect x="20" y="96" width="55" height="1" fill="#ffffff" opacity="0.2"/>')
    skin("Lighter", "Lighter_95x115.png", 95, 115, 23, 50, "#f5faff", body, defs)


def egg():
    defs = (rad("shell", [(0, "#fffdf5"), (0.7, "#fbf1dc"), (1, "#e9d6b2")], 0.4, 0.35, 0.7) +
            rad("shell2", [(0, "#e0f4ff"), (1, "#7cc6e8")], 0.4, 0.35, 0.7) + shadow("sh", 2, 2, 0.35) +
            '<clipPath id="eggclip"><path d="M60,3 C92,3 108,52 106,76 C104,100 86,112 60,112 '
            'C34,112 16,100 14,76 C12,52 28,3 60,3 Z"/></clipPath>')
    zig = "M14,74 " + " ".join(f"L{14 + 6 * i},{74 + (5 if i % 2 else 0)}" for i in range(1, 17))
    body = (
        '<ellipse cx="64" cy="112" rx="46" ry="3" fill="#000000" opacity="0.25"/>'
        # a small blue egg behind
        '<g filter="url(#sh)"><ellipse cx="100" cy="88" rx="17" ry="22" fill="url(#shell2)"/></g>'
        '<path d="M84,86 q8,-5 16,0 q8,5 16,0" stroke="#ffffff" stroke-width="2" fill="none"/>'
        '<g filter="url(#sh)"><path d="M60,3 C92,3 108,52 106,76 C104,100 86,112 60,112 '
        'C34,112 16,100 14,76 C12,52 28,3 60,3 Z" fill="url(#shell)"/></g>'
        '<g clip-path="url(#eggclip)">'
        '<rect x="0" y="14" width="120" height="7" fill="#f4a6c6"/>'
        '<rect x="0" y="66" width="120" height="20" fill="#9bd69b"/>'
        f'<path d="{zig}" stroke="#ffffff" stroke-width="2.5" fill="none"/>'
        + "".join(f'<circle cx="{22 + 12 * i}" cy="94" r="2.6" fill="#f4a6c6"/>' for i in range(7)) +
        '<rect x="0" y="100" width="120" height="4" fill="#7cc6e8"/></g>'
        '<ellipse cx="44" cy="22" rx="9" ry="5" fill="#ffffff" opacity="0.7" transform="rotate(-30 44 22)"/>')
    skin("egg", "eggs_120x115.png", 120, 115, 36, 33, "", body, defs)


def notebook():
    defs = (lin("paper", [(0, "#ffffff"), (1, "#f3f1ea")]) + lin("ring", [(0, "#e9edf1"), (0.5, "#8d979f"), (1, "#d6dbe0")], 1, 0) +
            shadow("sh", 2, 2, 0.35))
    lines = "".join(f'<path d="M14,{y} L142,{y}" stroke="#9cc3e6" stroke-width="1"/>' for y in range(42, 96, 13))
    rings = "".join(f'<rect x="{x}" y="1" width="4" height="14" rx="2" fill="url(#ring)"/>'
                    f'<circle cx="{x + 2}" cy="13" r="2.4" fill="#d9d4c7"/>' for x in range(20, 140, 12))
    body = (
        '<g filter="url(#sh)"><rect x="8" y="6" width="137" height="90" rx="4" fill="#2f6690"/></g>'
        '<rect x="10" y="8" width="133" height="86" rx="3" fill="url(#paper)"/>' + lines +
        '<path d="M36,8 L36,94" stroke="#e5989b" stroke-width="1.3"/>' + rings +
        '<path d="M112,62 l18,-18 l5,5 l-18,18 l-7,2 Z" fill="#ffd166"/>'
        '<path d="M112,62 l-2,7 l7,-2 Z" fill="#3d405b"/><path d="M130,44 l5,5 l2,-2 l-5,-5 Z" fill="#e5989b"/>')
    skin("notebook", "bg_150x100.png", 150, 100, 45, 30, "", body, defs)


def shaver():
    defs = (lin("bodyg", [(0, "#fafbfc"), (0.5, "#dfe4e8"), (1, "#b8c1c8")]) +
            lin("foil", [(0, "#e9edf0"), (0.5, "#9aa4ac"), (1, "#d7dde1")]) +
            lin("lcd", [(0, "#d9f2d0"), (1, "#bfe3b1")]) + shadow("sh", 2, 2, 0.4))
    foil = "".join(f'<path d="M{x},12 L{x},68" stroke="#7d878f" stroke-width="0.8" opacity="0.6"/>' for x in range(10, 46, 3))
    body = (
        '<ellipse cx="72" cy="76" rx="64" ry="3" fill="#000000" opacity="0.25"/>'
        # head with foil
        '<g filter="url(#sh)"><rect x="4" y="8" width="46" height="64" rx="10" fill="#3a4149"/></g>'
        '<rect x="8" y="12" width="38" height="56" rx="7" fill="url(#foil)"/>' + foil +
        # body
        '<g filter="url(#sh)"><path d="M44,10 L124,6 Q136,6 136,18 L136,62 Q136,74 124,74 L44,70 Z" '
        'fill="url(#bodyg)" stroke="#9aa4ac" stroke-width="1"/></g>'
        '<path d="M48,14 L122,11" stroke="#ffffff" stroke-width="2" opacity="0.8"/>'
        # display for the read-out
        '<rect x="54" y="19" width="74" height="36" rx="5" fill="#2d3339"/>'
        '<rect x="56" y="21" width="70" height="32" rx="4" fill="url(#lcd)"/>'
        # power button and grip
        '<circle cx="131" cy="62" r="3.6" fill="#2a9d8f" stroke="#1d6f66" stroke-width="1"/>'
        '<path d="M131,60 l0,3" stroke="#ffffff" stroke-width="1" fill="none"/>'
        + "".join(f'<rect x="{60 + 8 * i}" y="60" width="4" height="6" rx="2" fill="#9aa4ac"/>' for i in range(7)))
    skin("shaver", "Shaver_140x80.png", 140, 80, 60, 24, "", body, defs)


def tennis():
    defs = (rad("ball", [(0, "#f4ff7a"), (0.6, "#d4e12a"), (1, "#9aa614")], 0.38, 0.32, 0.7) +
            lin("board", [(0, "#1f5f3a"), (1, "#0e3621")]) + shadow("sh", 2, 2, 0.45))
    body = (
        '<ellipse cx="84" cy="71" rx="74" ry="3" fill="#000000" opacity="0.3"/>'
        '<g filter="url(#sh)"><rect x="62" y="10" width="94" height="56" rx="8" fill="url(#board)" '
        'stroke="#e9f5ec" stroke-width="2"/></g>'
        '<path d="M66,38 L152,38" stroke="#e9f5ec" stroke-width="1" opacity="0.35"/>'
        '<path d="M140,14 L140,62" stroke="#e9f5ec" stroke-width="1" opacity="0.35"/>'
        '<circle cx="147" cy="26" r="3" fill="#d4e12a"/>'
        '<g filter="url(#sh)"><circle cx="36" cy="38" r="32" fill="url(#ball)"/></g>'
        '<path d="M10,20 C26,30 26,48 10,58" stroke="#ffffff" stroke-width="3.5" fill="none" stroke-linecap="round"/>'
        '<path d="M62,20 C46,30 46,48 62,58" stroke="#ffffff" stroke-width="3.5" fill="none" stroke-linecap="round"/>'
        '<ellipse cx="27" cy="22" rx="9" ry="5" fill="#ffffff" opacity="0.35" transform="rotate(-25 27 22)"/>')
    skin("tennis", "bg_160x75.png", 160, 75, 74, 20, "#f5faff", body, defs)


def tissue():
    defs = (lin("front", [(0, "#8ecae6"), (1, "#5aa9d1")]) + lin("top", [(0, "#bde0f5"), (1, "#9dd0ec")]) +
            lin("side", [(0, "#4f97bf"), (1, "#3a7ea5")]) +
            lin("paper", [(0, "#ffffff"), (1, "#e8edf2")]) + shadow("sh", 2, 2, 0.35))
    body = (
        '<ellipse cx="66" cy="127" rx="58" ry="3" fill="#000000" opacity="0.25"/>'
        '<g filter="url(#sh)">'
        '<path d="M8,60 L112,60 L124,50 L22,50 Z" fill="url(#top)"/>'
        '<path d="M112,60 L124,50 L124,114 L112,124 Z" fill="url(#side)"/>'
        '<rect x="8" y="60" width="104" height="64" fill="url(#front)"/></g>'
        '<path d="M40,55 Q66,49 92,55" stroke="#5d8fae" stroke-width="3" fill="none" stroke-linecap="round"/>'
        # the tissue puff
        '<g filter="url(#sh)"><path d="M44,56 C36,40 50,30 56,24 C52,14 64,4 72,10 C80,2 94,10 88,22 '
        'C98,28 96,44 88,56 Z" fill="url(#paper)"/></g>'
        '<path d="M58,26 C64,34 70,34 78,22 M62,44 C70,40 76,42 84,36" stroke="#c9d3dc" stroke-width="1.2" fill="none"/>'
        # label for the read-out
        '<rect x="32" y="78" width="68" height="36" rx="6" fill="#ffffff" opacity="0.95"/>'
        '<path d="M16,68 q6,6 0,12 M104,68 q-6,6 0,12" stroke="#ffffff" stroke-width="2" fill="none" opacity="0.6"/>'
        + "".join(f'<circle cx="{x}" cy="{y}" r="2" fill="#ffffff" opacity="0.7"/>'
                  for x, y in [(18, 100), (22, 114), (106, 96), (100, 112), (14, 86)]))
    skin("tissue", "bg_130.png", 130, 130, 40, 84, "", body, defs)


# ---------------------------------------------------------------- release animation

def release_animation():
    add("ani_bg_48.png", 48, 48,
        '<circle cx="24" cy="24" r="22" fill="url(#g)" stroke="#5fe39a" stroke-width="2"/>'
        '<path d="M24,11 L15,27 L23,27 L20,38 L33,20 L25,20 L28,11 Z" fill="#ffffff"/>',
        rad("g", [(0, "#2fbf71"), (1, "#0f5132")], 0.4, 0.3, 0.8))
    add("ani_Light_48.png", 48, 48,
        '<circle cx="24" cy="24" r="21" fill="none" stroke="url(#arc)" stroke-width="4" '
        'stroke-dasharray="70 62" stroke-linecap="round"/>'
        '<circle cx="24" cy="3" r="3" fill="#ffffff"/>',
        lin("arc", [(0, "#ffffff"), (1, "#9bffcf")], 1, 1))
    add("ani_shandow_78.png", 78, 78,
        '<circle cx="39" cy="39" r="35" fill="none" stroke="#7dffb8" stroke-width="5" opacity="0.9"/>'
        '<circle cx="39" cy="39" r="30" fill="none" stroke="#ffffff" stroke-width="1.5" opacity="0.6"/>')


# ---------------------------------------------------------------- context menu icons

def menu_icons():
    add("icon_boost_12.png", 12, 12,
        '<path d="M6,0.5 C8.5,2.5 9,5 8.5,8 L3.5,8 C3,5 3.5,2.5 6,0.5 Z" fill="#2e9e5b"/>'
        '<circle cx="6" cy="4.5" r="1.2" fill="#ffffff"/>'
        '<path d="M3.5,6 L1.5,9.5 L3.6,9 Z M8.5,6 L10.5,9.5 L8.4,9 Z" fill="#2e9e5b"/>'
        '<path d="M4.5,8.5 L6,11.5 L7.5,8.5 Z" fill="#f77f00"/>')
    add("icon_Screenshots_18.png", 18, 18,
        '<rect x="1.5" y="5" width="15" height="10.5" rx="2" fill="#3d4a55"/>'
        '<path d="M6,5 L7.5,2.5 L10.5,2.5 L12,5 Z" fill="#3d4a55"/>'
        '<circle cx="9" cy="10" r="3.6" fill="#ffffff"/><circle cx="9" cy="10" r="2.2" fill="#2e9e5b"/>'
        '<rect x="13" y="6.5" width="2" height="1.4" fill="#f5c542"/>')
    add("icon_skin_18.png", 18, 18,
        '<path d="M9,1.5 C13.5,1.5 16.5,4.5 16.5,8.5 C16.5,11 14.5,12 12.5,11.5 C11,11.2 10.5,12.5 '
        '11.2,13.8 C12,15.5 10.5,16.5 9,16.5 C4.8,16.5 1.5,13.2 1.5,9 C1.5,4.8 4.8,1.5 9,1.5 Z" fill="#e9c46a"/>'
        '<circle cx="5.5" cy="8" r="1.6" fill="#e63946"/><circle cx="8" cy="4.8" r="1.6" fill="#2e9e5b"/>'
        '<circle cx="12" cy="5.5" r="1.6" fill="#1d70b8"/><circle cx="6" cy="12.2" r="1.6" fill="#7b2cbf"/>')
    add("icon_hide_12.png", 12, 12,
        '<path d="M1,6 Q6,1 11,6 Q6,11 1,6 Z" fill="none" stroke="#3d4a55" stroke-width="1.3"/>'
        '<circle cx="6" cy="6" r="1.8" fill="#3d4a55"/>'
        '<path d="M2,10.5 L10,1.5" stroke="#e5484d" stroke-width="1.5" stroke-linecap="round"/>')


# ---------------------------------------------------------------- boost panel pictures

def title_button(base, glyph, states=("h", "n", "p")):
    looks = {"n": ("#00000000", "#8a949c"), "h": ("#2a343d", "#e8eef2"), "p": ("#1d252c", "#5fe39a")}
    for st in states:
        bg, fg = looks[st]
        add(f"{base}_{st}_20x30.png", 20, 30,
            f'<rect x="0" y="5" width="20" height="20" rx="3" fill="{bg}"/>' + glyph.format(fg=fg))


def panel_images():
    title_button("btn_staples", '<g fill="{fg}"><path d="M7,8 L13,8 L12,13 L14,16 L6,16 L8,13 Z"/>'
                 '<rect x="9.3" y="16" width="1.4" height="6"/></g>', ("h", "n"))
    title_button("btn_facebook", '<g fill="{fg}"><circle cx="6" cy="15" r="2.2"/><circle cx="14" cy="10" r="2.2"/>'
                 '<circle cx="14" cy="20" r="2.2"/></g><path d="M6,15 L14,10 M6,15 L14,20" stroke="{fg}" stroke-width="1.3"/>')
    title_button("btn_Screenshots", '<g fill="none" stroke="{fg}" stroke-width="1.5">'
                 '<path d="M4,12 L4,9 L7,9 M13,9 L16,9 L16,12 M16,18 L16,21 L13,21 M7,21 L4,21 L4,18"/></g>'
                 '<circle cx="10" cy="15" r="2" fill="{fg}"/>')

    for name, glyph in [
        ("icon_small_boost_n_18.png", '<path d="M9,1.5 C12.5,4 13,8 12,12 L6,12 C5,8 5.5,4 9,1.5 Z" fill="#e8eef2"/>'
                                      '<circle cx="9" cy="6.5" r="1.6" fill="#2e9e5b"/>'
                                      '<path d="M6,9 L3,14 L6,13 Z M12,9 L15,14 L12,13 Z" fill="#e8eef2"/>'
                                      '<path d="M7,12.5 L9,17 L11,12.5 Z" fill="#f5a524"/>'),
        ("icon_small_network_n_18.png", '<circle cx="9" cy="9" r="7.2" fill="none" stroke="#e8eef2" stroke-width="1.4"/>'
                                        '<ellipse cx="9" cy="9" rx="3.2" ry="7.2" fill="none" stroke="#e8eef2" stroke-width="1.2"/>'
                                        '<path d="M2,9 L16,9 M3.5,5 L14.5,5 M3.5,13 L14.5,13" stroke="#e8eef2" stroke-width="1.1"/>'),
        ("icon_small_cleaner_n_18.png", '<path d="M11,1.5 L13,2.5 L9.5,9.5 L7.5,8.5 Z" fill="#e8eef2"/>'
                                        '<path d="M5,8 L11.5,11 L9.5,16.5 L2,13 Z" fill="#5fe39a"/>'
                                        '<path d="M4.5,12.5 L3.5,15 M7,13.5 L6,16 M9,14.5 L8.5,16.5" stroke="#151b1f" stroke-width="0.9"/>')]:
        add(name, 18, 18, glyph)

    for idx, (c1, c2) in {1: ("#3ddc84", "#1b8a4f"), 2: ("#ff9f43", "#d35400")}.items():
        for st, lift in (("n", 0), ("h", 1)):
            top = c1 if not lift else "#ffffff"
            add(f"btn_boost_{idx}_{st}_120x35.png", 120, 35,
                '<rect x="1" y="1" width="118" height="33" rx="6" fill="url(#g)" stroke="{0}" stroke-width="1"/>'
                '<rect x="3" y="3" width="114" height="13" rx="5" fill="#ffffff" opacity="{1}"/>'.format(c2, 0.28 if lift else 0.16),
                lin("g", [(0, c1 if not lift else top), (0.08 if lift else 0, c1), (1, c2)]))

    for kind, left_on in (("pc", True), ("game", False)):
        for st in ("n", "h"):
            knob_x = 18 if left_on else 52
            hot = st == "h"
            add(f"btn_Switch_{kind}_{st}_70x20.png", 70, 20,
                '<rect x="0.5" y="0.5" width="69" height="19" rx="9.5" fill="{0}" stroke="#3a4650"/>'
                '<text x="{1}" y="14" font-family="{2}" font-size="9" font-weight="bold" fill="{3}" text-anchor="middle">{4}</text>'
                '<circle cx="{5}" cy="10" r="8" fill="{6}"/>'.format(
                    "#26313a" if hot else "#1d252c", 52 if left_on else 18, FONT,
                    "#e8eef2" if hot else "#9aa6ae", "GAME" if left_on else "PC", knob_x,
                    "#3ddc84" if left_on else "#ff9f43"))

    add("select_normal_13_1.png", 13, 13,
        '<rect x="0.5" y="0.5" width="12" height="12" rx="2.5" fill="#ffffff" stroke="#a7b1b8"/>')
    add("select_selected_13_1.png", 13, 13,
        '<rect x="0.5" y="0.5" width="12" height="12" rx="2.5" fill="#2e9e5b" stroke="#1d7a4c"/>'
        '<path d="M3,6.8 L5.5,9.3 L10,3.8" stroke="#ffffff" stroke-width="1.8" fill="none" '
        'stroke-linecap="round" stroke-linejoin="round"/>')

    cells = []
    for i in range(14):
        x = i * 40 + 20
        if i < 4:
            label = ["", "-", "", ""][i]
            cells.append(f'<text x="{x}" y="52" font-family="{FONT}" font-size="54" font-weight="bold" '
                         f'fill="#e8eef2" text-anchor="middle">{label}</text>')
        else:
            cells.append(f'<text x="{x}" y="52" font-family="{FONT}" font-size="54" font-weight="bold" '
                         f'fill="url(#dg)" text-anchor="middle">{i - 4}</text>')
    add("digitals_560x60.png", 560, 60, "".join(cells),
        '<linearGradient id="dg" x1="0" y1="0" x2="0" y2="60" gradientUnits="userSpaceOnUse">'
        '<stop offset="0" stop-color="#ffffff"/><stop offset="1" stop-color="#9fdcb8"/></linearGradient>')
    add("%_24.png", 24, 24, f'<text x="12" y="20" font-family="{FONT}" font-size="20" font-weight="bold" '
        'fill="#9fdcb8" text-anchor="middle">%</text>')

    for name, ok in (("net0_130x60.png", True), ("net1_130x60.png", False)):
        col = "#3ddc84" if ok else "#e5484d"
        bars = "".join(f'<rect x="{78 + 10 * i}" y="{44 - 8 * i}" width="7" height="{8 + 8 * i}" rx="1.5" '
                       f'fill="{col if ok or i < 1 else "#3a4650"}"/>' for i in range(4))
        mark = ('<path d="M32,30 L40,38 L54,22" stroke="#151b1f" stroke-width="4" fill="none" stroke-linecap="round" '
                'stroke-linejoin="round"/>' if ok else
                '<path d="M35,23 L51,39 M51,23 L35,39" stroke="#151b1f" stroke-width="4" stroke-linecap="round"/>')
        add(name, 130, 60, f'<circle cx="43" cy="30" r="24" fill="{col}"/>' + mark + bars +
            '<path d="M72,54 L122,54" stroke="#3a4650" stroke-width="2"/>')

    add("icon_-_9.png", 9, 9, '<circle cx="4.5" cy="4.5" r="4.2" fill="#e5484d"/>'
        '<rect x="2" y="3.8" width="5" height="1.5" fill="#ffffff"/>')
    for st, c in (("n", "#7d878f"), ("h", "#2e9e5b")):
        add(f"btn_play_{st}_16.png", 16, 16, f'<circle cx="8" cy="8" r="7.5" fill="{c}"/>'
            '<path d="M6.2,4.8 L11.5,8 L6.2,11.2 Z" fill="#ffffff"/>')
        add(f"btn_pause_{st}_16.png", 16, 16, f'<circle cx="8" cy="8" r="7.5" fill="{c if st == "n" else "#e5484d"}"/>'
            '<rect x="5.3" y="4.8" width="2" height="6.4" fill="#ffffff"/><rect x="8.7" y="4.8" width="2" height="6.4" fill="#ffffff"/>')
    add("icon_proc_default.png", 16, 16,
        '<rect x="1.5" y="2.5" width="13" height="11" rx="2" fill="#dfe4e8" stroke="#7d878f"/>'
        '<rect x="1.5" y="2.5" width="13" height="3" rx="1" fill="#7d878f"/>'
        '<rect x="4" y="8" width="8" height="1.2" fill="#7d878f"/><rect x="4" y="10.3" width="5" height="1.2" fill="#7d878f"/>')
    add("bg_330x290.png", 330, 290, '<rect width="330" height="290" rx="6" fill="url(#g)"/>'
        '<circle cx="280" cy="40" r="90" fill="#2e9e5b" opacity="0.08"/>',
        lin("g", [(0, "#1d252c"), (1, "#11171b")]))


# ---------------------------------------------------------------- previews

def preview(name, out, inner_svg, w, h, tx, ty, colour, size, backdrop):
    """A 153 x 100 tile: the face scaled to fit on a soft backdrop, with sample figures."""
    scale = min(1.0, 136.0 / w, 88.0 / h)
    ox = (153 - w * scale) / 2
    oy = (100 - h * scale) / 2
    inner = inner_svg.split("\n", 1)[1].rsplit("</svg>", 1)[0]
    colour = colour or "#000000"
    fs = size * scale
    text = (f'<g font-family="{FONT}" font-size="{fs:.2f}" fill="{colour}">'
            f'<text x="{tx}" y="{ty + size}">RAM: 42%</text>'
            f'<text x="{tx}" y="{ty + size + (size + 3 if name == "default_skin.png" else size + 2)}">CPU: 17%</text></g>')
    text = text.replace(f'x="{tx}"', f'x="{ox + tx * scale:.2f}"')
    text = text.replace(f'y="{ty + size}"', f'y="{oy + (ty + size) * scale:.2f}"', 1)
    second = ty + size + (size + 3 if name == "default_skin.png" else size + 2)
    text = text.replace(f'y="{second}"', f'y="{oy + second * scale:.2f}"', 1)
    body = (f'<rect width="153" height="100" fill="url(#bd)"/>'
            f'<g transform="translate({ox:.2f} {oy:.2f}) scale({scale:.4f})">{inner}</g>' + text)
    defs = rad("bd", backdrop, 0.5, 0.45, 0.75)
    ART[name] = (svg(153, 100, body, defs), 153, 100, out)


BACKDROPS = {
    "Christmas": [(0, "#2b5d8a"), (1, "#0f2a44")], "Halloween": [(0, "#3b2a55"), (1, "#120b1e")],
    "Lighter": [(0, "#4a4f55"), (1, "#1c1f22")], "egg": [(0, "#cdebd2"), (1, "#86c49a")],
    "notebook": [(0, "#f2e6cf"), (1, "#c9b48d")], "shaver": [(0, "#9fc4d8"), (1, "#4f7d96")],
    "tennis": [(0, "#4f9a5f"), (1, "#1f5b31")], "tissue": [(0, "#f7d6e0"), (1, "#d99aae")],
}


def previews():
    for folder, (bg, w, h, x, y, colour, s) in SKIN_TEXT.items():
        preview(f"{folder}/icon.jpg", os.path.join(SKINS, "BallSkins", folder, "icon.jpg"),
                s, w, h, x, y, colour, 11, BACKDROPS[folder])
    default_svg = ART["bg_120x48.png"][0]
    btn = ART["btn_small boost_1_n_48.png"][0].split("\n", 1)[1].rsplit("</svg>", 1)[0]
    for a, b in (('id="g"', 'id="gb"'), ("url(#g)", "url(#gb)"), ('id="sh"', 'id="shb"'),
                 ("url(#sh)", "url(#shb)")):
        btn = btn.replace(a, b)
    combined = default_svg.replace("</svg>", "<g>" + btn + "</g></svg>")
    preview("default_skin.png", os.path.join(BALL_IMAGES, "default_skin.png"), combined, 120, 48,
            51, 11, "#f5faff", 10, [(0, "#3d6f8f"), (1, "#16303f")])


def build():
    default_face()
    boost_button("btn_small boost_1_n_48.png", "#43c77a", "#1b7a45", "#a6f0c6", False)
    boost_button("btn_small boost_1_h_48.png", "#62e596", "#23955a", "#ffffff", True)
    boost_button("btn_small boost_2_n_48.png", "#4aa3ff", "#1559a8", "#b5d9ff", False)
    boost_button("btn_small boost_2_h_48.png", "#74bbff", "#1f6fcc", "#ffffff", True)
    christmas(); halloween(); lighter(); egg(); notebook(); shaver(); tennis(); tissue()
    release_animation(); menu_icons(); panel_images(); previews()


def svg_path(name):
    return os.path.join(SVG, name.replace("/", "__").rsplit(".", 1)[0] + ".svg")


def write_svgs():
    os.makedirs(SVG, exist_ok=True)
    for name, (text, _w, _h, _out) in ART.items():
        with open(svg_path(name), "w", encoding="utf-8") as f:
            f.write(text)


def render():
    for name, (_text, w, h, out) in sorted(ART.items()):
        os.makedirs(os.path.dirname(out), exist_ok=True)
        src = svg_path(name)
        if out.endswith(".jpg"):
            png = out[:-4] + ".tmp.png"
            subprocess.run(["rsvg-convert", "-w", str(w), "-h", str(h), "-o", png, src], check=True)
            subprocess.run(["convert", png, "-background", "white", "-flatten", "-strip",
                            "-quality", "92", out], check=True)
            os.remove(png)
        else:
            subprocess.run(["rsvg-convert", "-w", str(w), "-h", str(h), "-o", out, src], check=True)
            # The same picture every run: no time stamps in the PNG.
            subprocess.run(["convert", out, "-strip", "-define", "png:exclude-chunks=date,time",
                            "PNG32:" + out], check=True)
        print(os.path.relpath(out, ROOT))


if __name__ == "__main__":
    build()
    if "--render" not in sys.argv:
        write_svgs()
    if "--svg-only" not in sys.argv:
        render()
