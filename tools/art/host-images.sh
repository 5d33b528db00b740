#!/usr/bin/env bash
# Remakes the host environment's pictures (close button states, the suite's tray icon).
set -euo pipefail
out="$(dirname "$0")/../../src/helper/qml/Skin/images"
mkdir -p "$out"
cross() { # colour background → 20x30 close button
  convert -size 20x30 xc:"$2" -fill none -stroke "$1" -strokewidth 2 \
    -draw "line 6,11 14,19" -draw "line 14,11 6,19" PNG32:"$3"
}
cross '#5d6a75' none "$out/btnclosenormal.png"
cross '#ffffff' '#e5484d' "$out/btnclosehover.png"
cross '#ffffff' '#b8343a' "$out/btnclosepress.png"
convert -size 16x16 xc:none -fill '#2e9e5b' -draw "circle 8,8 8,1" \
  -fill '#ffffff' -draw "polygon 5,9 8,4 11,9" -draw "rectangle 7,9 9,12" PNG32:"$out/icon_trayshowvds.png"
