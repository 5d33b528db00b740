#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The demo host wears each face in turn, chosen by the stored "BallSkin": the ball takes the
# face's size, sits on the desktop cut to its shape, and looks like its reference picture
# (the live figures masked). Writes a contact sheet of all faces.
# VB_UPDATE_REFERENCES=1 stores the new pictures as references and in docs/.
VB_CONFINE_SERVICES=1
source "$VB_SOURCE_DIR/tests/lib/xsession.sh"

ref_dir="$VB_SOURCE_DIR/tests/ballqml/reference"
sheet_dir="$VB_BUILD_DIR/docs"
mkdir -p "$sheet_dir" "$VB_ARTEFACTS/faces"
desk='#5b7a99'
ini="$XDG_CONFIG_HOME/VerdantSuite/VerdantBall.ini"
mkdir -p "$(dirname "$ini")"

vb_start_x 800x600
xsetroot -solid "$desk"

S=qrc:/Ball/Skins/BallSkins
# name | stored value | width | height | text column x | y
faces=(
  "Default|qrc:/Ball/Skins/BallSkinDef.qml|120|48|51|11"
  "Christmas|$S/Christmas/main.qml|170|180|60|87"
  "egg|$S/egg/main.qml|120|115|36|33"
  "Halloween|$S/Halloween/main.qml|200|110|112|52"
  "Lighter|$S/Lighter/main.qml|95|115|23|50"
  "notebook|$S/notebook/main.qml|150|100|45|30"
  "shaver|$S/shaver/main.qml|140|80|60|24"
  "tennis|$S/tennis/main.qml|160|75|74|20"
  "tissue|$S/tissue/main.qml|130|130|40|84"
  "Night|$VB_BIN_DIR/BallSkins/Night.Sky/main.qml|110|110|28|42"
  "gone|$VB_TMP/removed/main.qml|120|48|51|11"
)

# crop_stable OUT X Y W H: a screenshot of that part of the screen once it stops changing.
crop_stable() {
  local out="$1" prev="$VB_TMP/prev.png" i
  import -window root -crop "${4}x${5}+${2}+${3}" +repage "$prev"
  for i in $(seq 1 30); do
    sleep 0.2
    import -window root -crop "${4}x${5}+${2}+${3}" +repage "$out"
    [ "$(compare -metric AE "$prev" "$out" null: 2>&1 || true)" = 0 ] && return 0
    cp "$out" "$prev"
  done
  return 0
}

# masked IN OUT X Y: the picture with the figures' column painted over (the figures are live).
masked() {
  convert "$1" -fill '#ff00ff' -draw "rectangle $3,$(($4 - 1)) $(($3 + 64)),$(($4 + 30))" "$2"
}

# difference A B X Y: the normalised root mean square difference of the two pictures with the
# figures' column masked in both, so small font or antialiasing changes and live figures pass.
difference() {
  masked "$1" "$VB_TMP/a.png" "$3" "$4"
  masked "$2" "$VB_TMP/b.png" "$3" "$4"
  { compare -metric RMSE "$VB_TMP/a.png" "$VB_TMP/b.png" null: 2>&1 || true; } |
    sed -n 's/^[0-9.e+-]* (\([0-9.e+-]*\))$/\1/p'
}
alike() { awk -v d="$1" 'BEGIN { exit !(d != "" && d + 0 < 0.03) }'; }

shots=()
for row in "${faces[@]}"; do
  IFS='|' read -r name value w h tx ty <<<"$row"
  printf '[General]\nBallSkin=%s\nBallViewerX=300\nBallViewerY=200\n' "$value" >"$ini"
  log="$VB_TMP/host-$name.log"
  vb_bg "$log" "$VB_BIN_DIR/verdant-ball-host" -lang en
  pid=$VB_LAST_PID
  check "$name: the host shows the ball" vb_wait_log "$log" "ball shown" 15
  id=$(vb_window_of "$pid" "$w" "$h" || true)
  check "$name: the ball window is ${w}x${h}" test -n "$id"
  if [ -n "$id" ]; then
    read -r x y < <(vb_geometry "$id")
    shot="$VB_ARTEFACTS/faces/$name.png"
    crop_stable "$shot" "$x" "$y" "$w" "$h"
    corner=$(convert "$shot" -format '%[hex:p{1,1}]' info:)
    check "$name: the desktop shows through the face's corner (got #$corner)" \
      test "${corner:0:6}" = "5B7A99"
    centre=$(convert "$shot" -format "%[hex:p{$((w / 2)),$((h / 2))}]" info:)
    check "$name: the face is drawn in the middle" test "${centre:0:6}" != "5B7A99"
    if [ "$name" = gone ]; then
      diff=$(difference "$shot" "$VB_ARTEFACTS/faces/Default.png" "$tx" "$ty")
      check "gone: a stored skin that no longer exists gives the default face (difference ${diff:-not comparable})" \
        alike "$diff"
    else
      shots+=("$shot")
      if [ "${VB_UPDATE_REFERENCES:-0}" = 1 ]; then
        mkdir -p "$ref_dir"
        cp "$shot" "$ref_dir/$name.png"
      fi
      if [ -f "$ref_dir/$name.png" ]; then
        diff=$(difference "$shot" "$ref_dir/$name.png" "$tx" "$ty")
        check "$name: looks like its reference (difference ${diff:-not comparable})" alike "$diff"
      else
        check "$name: has a reference picture in tests/ballqml/reference" false
      fi
    fi
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
done

if [ "${#shots[@]}" -gt 0 ]; then
  args=()
  for s in "${shots[@]}"; do args+=(-label "$(basename "$s" .png)" "$s"); done
  montage -font DejaVu-Sans -pointsize 13 -fill '#f5faff' -background "$desk" "${args[@]}" \
    -geometry '220x190+10+8>' -tile 5x "$sheet_dir/skins.png"
  cp "$sheet_dir/skins.png" "$VB_ARTEFACTS/skins-contact-sheet.png"
  echo "contact sheet: $sheet_dir/skins.png"
  if [ "${VB_UPDATE_REFERENCES:-0}" = 1 ]; then
    mkdir -p "$VB_SOURCE_DIR/docs"
    cp "$sheet_dir/skins.png" "$VB_SOURCE_DIR/docs/skins.png"
  fi
fi
vb_finish
