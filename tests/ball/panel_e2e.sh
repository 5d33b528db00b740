#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Boost Panel of the demo host under Xvfb and openbox, used with real clicks. One scenario
# a run: panel_e2e.sh SCENARIO
#   user     the ball of an ordinary user: the panel opens beside the ball, the Office and Game
#            lists hold the test windows' processes, a ticked one is closed by PC BOOST and by
#            GAME BOOST; the Clean tab reaches the host; the pin keeps the panel through a
#            focus loss on the Network page only; the host switches the panel to German live
#   units    as root with a real systemd in a box: units grouped as Advice and Optional by a
#            test "pulsar.app", a boost stops the ticked units beside the ticked process
#   network  as root with the real filter service counting our own cgroup: a transfer between
#            two network namespaces shows as moving, the pause button blocks it and the play
#            button lets it through again
# Screenshots of every page are kept as artefacts (panel-*.png); VB_UPDATE_REFERENCES=1 also
# stores the README's pictures of the pages in docs/.
SCENARIO="${1:?scenario: user, units or network}"
case "$SCENARIO" in
  network) VB_CONFINE_SERVICES=traffic ;;
  *) VB_CONFINE_SERVICES=1 ;;
esac
source "$VB_SOURCE_DIR/tests/lib/xsession.sh"
HOST="$VB_BIN_DIR/verdant-ball-host"
LOG="$VB_TMP/host.log"
export QT_LOGGING_RULES="qt.qpa.*=false"

# --- the panel's layout, in window coordinates: a 2 px frame around 330 x 480 ---
PANEL_W=334 PANEL_H=484
LIST_Y=162 ROW_H=31                    # first row's top; 30 px rows, 1 px apart
TICK_X=20                              # the tick boxes of the Boost lists
BOOST_X=252 BOOST_Y=69                 # PC BOOST / GAME BOOST
SWITCH_RIGHT_X=270 SWITCH_LEFT_X=234 SWITCH_Y=107
TAB_Y=467 TAB_NETWORK_X=167 TAB_CLEAN_X=277
PIN_X=250 PIN_Y=22
BLOCK_X=314                            # pause and play buttons of a Network row
row_y() { echo $((LIST_Y + $1 * ROW_H + 15)); }

# --- what the user sees ---
# crop NAME X Y W H: a part of the panel as it is on the screen now, kept as NAME.png.
crop() {
  import -window root -crop "${4}x${5}+$((PX + $2))+$((PY + $3))" +repage "$VB_TMP/$1.png"
}
same() { [ "$(compare -metric AE "$VB_TMP/$1.png" "$VB_TMP/$2.png" null: 2>&1)" = 0 ]; }
differs() { ! same "$1" "$2"; }
# brightness X Y: the panel's pixel there, 0 (black) to 255.
brightness() {
  import -window root -crop "1x1+$((PX + $1))+$((PY + $2))" -colorspace Gray -depth 8 \
    -format '%[fx:int(255*p{0,0}.intensity+0.5)]' info:
}
darkened() { [ "$(brightness "$@")" -lt 90 ]; }
bright() { [ "$(brightness "$@")" -gt 200 ]; }
mapped() { xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
unmapped() { ! mapped "$1"; }
# eventually SECONDS COMMAND...: polls the command for at most that long.
eventually() {
  local n=$(($1 * 10)) i; shift
  for i in $(seq 1 "$n"); do "$@" && return 0; sleep 0.1; done
  return 1
}
# stays SECONDS COMMAND...: the command holds at every look for that long.
stays() {
  local n=$(($1 * 10)) i; shift
  for i in $(seq 1 "$n"); do "$@" || return 1; sleep 0.1; done
}
click_panel() { xdotool mousemove --sync $((PX + $1)) $((PY + $2)) click 1; }
hover_panel() {
  xdotool mousemove --sync $((PX + $1 + 1)) $((PY + $2)) 2>/dev/null
  xdotool mousemove --sync $((PX + $1)) $((PY + $2))
}
# shot NAME [now]: the panel once its slides and fades have come to rest (or at once, for a
# running animation), without the pointer's hover effects, kept as an artefact; the pointer
# then goes back.
shot() {
  if [ "${2:-}" = now ]; then keep_shot "$1"; return; fi
  local X Y SCREEN WINDOW
  eval "$(xdotool getmouselocation --shell)"
  xdotool mousemove --sync 3 3
  crop settle-a 0 0 "$PANEL_W" "$PANEL_H"
  local i
  for i in $(seq 1 20); do
    sleep 0.1
    crop settle-b 0 0 "$PANEL_W" "$PANEL_H"
    same settle-a settle-b && break
    cp "$VB_TMP/settle-b.png" "$VB_TMP/settle-a.png"
  done
  keep_shot "$1"
  xdotool mousemove --sync "$X" "$Y"
}
# The pages the README shows.
DOC_SHOTS="units-office boosting boost-game network-transfer network-blocked network-de"
keep_shot() {
  vb_shot "panel-$1" "$PANEL" >/dev/null
  case " $DOC_SHOTS " in *" $1 "*)
    if [ "${VB_UPDATE_REFERENCES:-0}" = 1 ]; then
      convert "$VB_ARTEFACTS/panel-$1.png" -strip "$VB_SOURCE_DIR/docs/panel-$1.png"
    fi ;;
  esac
}

# --- what the host says ---
# last LABEL: the newest listing the host logged under that label ("boost list", ...).
last() { grep "verdant-ball-host: $1:" "$LOG" | tail -1 | sed "s/.*$1: *//"; }
# index_of LABEL NAME: the row of NAME in the newest listing.
index_of() {
  last "$1" | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -nx -- "$2" | head -1 | cut -d: -f1 |
    awk '{ print $1 - 1 }'
}
# groups_are LABEL "Advice: A B" "Optional: C D": the newest listing holds exactly these groups
# in this order, each with these words in its names in any order (a group without members is
# left out).
groups_are() {
  local label="$1" want got; shift
  want=$(for g in "$@"; do echo "${g%%:*}:$(tr ' ' '\n' <<<"${g#*:}" | sed '/^$/d' | sort | paste -sd' ')"; done)
  got=$(last "$label" | tr ',' '\n' | sed 's/^ *//' | awk '
    /^(Advice|Optional)$/ { g = $0; order[++n] = g; next } { list[g] = list[g] " " $0 }
    END { for (i = 1; i <= n; i++) print order[i] ":" list[order[i]] }' |
    while IFS=: read -r g m; do echo "$g:$(tr ' ' '\n' <<<"$m" | sed '/^$/d' | sort | paste -sd' ')"; done)
  [ "$got" = "$want" ]
}
# check_groups DESCRIPTION LABEL GROUPS...: the listing comes to hold these groups within 10 s.
check_groups() {
  local d="$1"; shift
  if eventually 10 groups_are "$@"; then check "$d" true; else
    check "$d" false
    echo "  listed: $(last "$1")"
  fi
}

# --- set-up helpers ---
# RUN runs a command where the ball runs (in the box for units), AS_USER as whom.
RUN=()
AS_USER=()
# launch NAME [trap "" TERM;] CMD...: starts CMD there with output to NAME.log; its pid, as
# seen from where it runs, is read with pid_of NAME.
launch() {
  local name="$1" prep="$2"; shift 2
  vb_bg "$VB_TMP/$name.log" "${RUN[@]}" sh -c "echo \$\$ >\"\$0.pid\"; $prep exec \"\$@\"" \
    "$VB_TMP/$name" "${AS_USER[@]}" "$@"
  disown "$VB_LAST_PID" # ended by pid like the rest, without a word from the shell
}
pid_of() { cat "$VB_TMP/$1.pid" 2>/dev/null; }
alive() { local p; p=$(pid_of "$1") && [ -n "$p" ] && "${RUN[@]}" kill -0 "$p" 2>/dev/null; }
gone() { ! alive "$1"; }
# start_window NAME: a test window from a binary of that name, which ignores SIGTERM (so a
# boost that closes it takes its full wait and its overlay can be seen).
start_window() {
  cp "$VB_BIN_DIR/vb_testwindow" "$VB_TMP/bin/$1"
  launch "$1" 'trap "" TERM;' "$VB_TMP/bin/$1" normal
  vb_wait_log "$VB_TMP/$1.log" ready 10
}

# open_panel: clicks the ball and waits for the panel; sets PANEL, PX and PY.
open_panel() {
  xdotool mousemove --sync $((BX + 61)) $((BY + 24)) 2>/dev/null
  xdotool mousemove --sync $((BX + 60)) $((BY + 24)) click 1
  PANEL=$(vb_window_of "$HOST_PID" "$PANEL_W" "$PANEL_H") || return 1
  read -r PX PY < <(vb_geometry "$PANEL")
}
# start_host: the host; sets HOST_PID (as its windows name it), BALL, BX and BY.
start_host() {
  launch host "" "$HOST"
  vb_wait_log "$LOG" 'ball shown' 20 || { echo "the host did not show the ball:"; cat "$LOG"; return 1; }
  HOST_PID=$(pid_of host)
  BALL=$(vb_window_of "$HOST_PID" 120 48) || return 1
  read -r BX BY < <(vb_geometry "$BALL")
}
mkdir -p "$VB_TMP/bin"
mkdir -p "$XDG_CONFIG_HOME/verdant-ball"

# --- scenarios ---
scenario_user() {
  if [ "$(id -u)" -eq 0 ]; then
    # The ball is an ordinary user's program: the host and its windows run as nobody.
    chown -R nobody:nogroup "$VB_TMP"
    chmod 755 "$VB_TMP"
    AS_USER=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  fi
  start_window vbt_alpha && start_window vbt_beta && start_window vbt_gamma ||
    { echo "the test windows did not come up"; return 1; }
  start_host || return 1

  # A click on the ball: after the delay the panel opens beside it, on the Boost page.
  check "a click on the ball opens the panel" open_panel
  [ -n "${PANEL:-}" ] || return 1
  check "beside the ball: its right edge at the ball's left edge" [ $((PX + PANEL_W)) -eq "$BX" ]
  check "beside the ball: level with it or above" \
    bash -c "[ $PY -le $BY ] && [ $((PY + PANEL_H)) -ge $((BY + 48)) ]"
  check_groups "the Office list holds the three test windows' processes, as Optional" \
    "boost list" "Optional: vbt_alpha vbt_beta vbt_gamma"
  check "the rows are drawn: the fourth row has text, the fifth none" rows_drawn 4
  shot boost-office

  # Tick vbt_beta, boost: the overlay covers the page, the process ends, the list fills again.
  local row; row=$(index_of "boost list" vbt_beta)
  crop tick-before $((TICK_X - 7)) $(($(row_y "$row") - 7)) 14 14
  click_panel "$TICK_X" "$(row_y "$row")"
  check "a click on the tick box ticks the row" eventually 3 tick_changed
  check "the list area is bright before the boost" bright 300 440
  click_panel "$BOOST_X" "$BOOST_Y"
  check "PC BOOST darkens the page while it boosts" eventually 2 darkened 300 440
  check "and writes on it that it boosts" boosting_written
  shot boosting now
  check "the ticked process ends" eventually 6 gone vbt_beta
  check "the others live on" both_alive vbt_alpha vbt_gamma
  check "the host is told: one closed" eventually 5 grep -q 'boost closed 1,' "$LOG"
  check_groups "the list fills again without it" "boost list" "Optional: vbt_alpha vbt_gamma"
  check "the overlay is gone" eventually 3 bright 300 440
  shot boost-office-after

  # The Game view: the right half of the switch slides it in; GAME BOOST closes its ticked row.
  hover_panel "$SWITCH_LEFT_X" "$SWITCH_Y"
  crop button-office $((BOOST_X - 60)) $((BOOST_Y - 17)) 120 35
  click_panel "$SWITCH_LEFT_X" "$SWITCH_Y"
  check "the inert half of the switch leaves the Office view" stays 1 office_button_shown
  click_panel "$SWITCH_RIGHT_X" "$SWITCH_Y"
  check "the other half slides the Game view in" eventually 3 game_button_shown
  check_groups "the Game list holds the two processes left" "Game list" \
    "Optional: vbt_alpha vbt_gamma"
  shot boost-game
  row=$(index_of "Game list" vbt_gamma)
  click_panel "$TICK_X" "$(row_y "$row")"
  click_panel "$BOOST_X" "$BOOST_Y"
  check "GAME BOOST closes the ticked process" eventually 8 gone vbt_gamma
  check "the host is told again" eventually 5 bash -c "[ \$(grep -c 'boost closed 1,' '$LOG') -eq 2 ]"
  check_groups "the Game list fills again without it" "Game list" "Optional: vbt_alpha"
  check "vbt_alpha lives on" alive vbt_alpha

  # The Network page; the pin is shown there only, and keeps the panel through a focus loss.
  crop pin-boost $((PIN_X - 10)) $((PIN_Y - 15)) 20 30
  click_panel "$TAB_NETWORK_X" "$TAB_Y"
  crop pin-network $((PIN_X - 10)) $((PIN_Y - 15)) 20 30
  check "the Network tab shows the pin" eventually 3 pin_shown
  shot network
  local other; other=$(xdotool search --name '^normal$' | head -1)
  xdotool windowactivate --sync "$other" 2>/dev/null
  check "unpinned, the panel hides when another window takes the focus" eventually 3 unmapped "$PANEL"
  open_panel
  crop pin-unpinned $((PIN_X - 10)) $((PIN_Y - 15)) 20 30
  click_panel "$PIN_X" "$PIN_Y"
  crop pin-pinned $((PIN_X - 10)) $((PIN_Y - 15)) 20 30
  check "the pin button shows the pinned state" eventually 2 pin_changed
  xdotool windowactivate --sync "$other" 2>/dev/null
  check "pinned on the Network page, the panel stays through the focus loss" stays 2 mapped "$PANEL"
  shot network-pinned

  # The Clean tab hands over to the host, which shows its main window and says so.
  click_panel "$TAB_CLEAN_X" "$TAB_Y"
  check "the Clean tab reaches the host" eventually 3 grep -q 'asked to clean (1)' "$LOG"
  local main; main=$(vb_window_of "$HOST_PID" 780 240)
  check "the host's main window comes up" [ -n "$main" ]
  check "and shows the request" clean_notice_shown "$main"
  vb_shot panel-clean-host "$main" >/dev/null

  # A live language switch in the host: the pinned panel speaks German at once, and English
  # again after the switch back. The pointer rests on the host's button meanwhile, away
  # from the panel's hover effects.
  read -r mx my < <(vb_geometry "$main")
  xdotool mousemove --sync $((mx + 20 + 332 + 33)) $((my + 170 + 17))
  shot network-en
  crop tabs-en 0 452 334 30
  crop title-en 0 2 200 40
  xdotool click 1
  crop tabs-de 0 452 334 30
  check "the language switch reaches the panel's tabs" eventually 3 tabs_switched tabs-de
  crop title-de 0 2 200 40
  check "and its title" differs title-en title-de
  check "the panel stays up through the switch" mapped "$PANEL"
  shot network-de
  xdotool click 1
  check "switching back draws the English tabs again" eventually 3 tabs_back
  check "the host still runs" kill -0 "$HOST_PID"
}
tick_changed() { crop tick-after $((TICK_X - 7)) $(($(row_y "$row") - 7)) 14 14; differs tick-before tick-after; }
# The overlay's white line of text under its spinner, on the darkened list.
boosting_written() {
  crop overlay-text 100 235 130 25
  local f="$VB_TMP/overlay-text.png" mean white
  mean=$(convert "$f" -colorspace Gray -format '%[fx:int(100*mean)]' info:)
  white=$(convert "$f" -colorspace Gray -threshold 80% -format '%[fx:int(w*h*mean+0.5)]' info:)
  [ "$mean" -lt 40 ] && [ "$white" -gt 30 ]
}
both_alive() { alive "$1" && alive "$2"; }
office_button_shown() { crop button-still $((BOOST_X - 60)) $((BOOST_Y - 17)) 120 35; same button-office button-still; }
game_button_shown() { crop button-game $((BOOST_X - 60)) $((BOOST_Y - 17)) 120 35; differs button-office button-game; }
pin_shown() { crop pin-network $((PIN_X - 10)) $((PIN_Y - 15)) 20 30; differs pin-boost pin-network; }
pin_changed() { crop pin-pinned $((PIN_X - 10)) $((PIN_Y - 15)) 20 30; differs pin-unpinned pin-pinned; }
tabs_switched() { crop tabs-de 0 452 334 30; differs tabs-en tabs-de; }
tabs_back() { crop tabs-back 0 452 334 30; same tabs-en tabs-back; }
# rows_drawn N: the name column of rows 0 to N-1 holds dark text pixels, row N's does not.
rows_drawn() {
  local n="$1" i
  for i in $(seq 0 "$n"); do
    crop "row$i" 40 $((LIST_Y + i * ROW_H + 5)) 150 20
    local dark
    dark=$(convert "$VB_TMP/row$i.png" -colorspace Gray -threshold 50% -format '%[fx:int(w*h*(1-mean)+0.5)]' info:)
    if [ "$i" -lt "$n" ]; then [ "$dark" -gt 0 ] || { echo "row $i is empty"; return 1; }
    else [ "$dark" -eq 0 ] || { echo "row $i has text"; return 1; }; fi
  done
}
clean_notice_shown() {
  import -window "$1" -crop 380x20+20+136 +repage "$VB_TMP/notice.png"
  # The notice's red among the window's greys and greens.
  [ "$(convert "$VB_TMP/notice.png" -fx 'r > 0.55 && g < 0.4 ? 1 : 0' -format '%[fx:int(w*h*mean)]' info:)" -gt 20 ]
}

scenario_units() {
  cat >"$XDG_CONFIG_HOME/verdant-ball/pulsar.app" <<'CONF'
vbt-fix-1.service=3
vbt-fix-2.service=17
vbt-fix-3.service=2
vbt-wants.service=18
vbt-idle.service=3
CONF
  start_window vbt_alpha || { echo "the test window did not come up"; return 1; }
  start_host || return 1
  check "a click on the ball opens the panel" open_panel
  [ -n "${PANEL:-}" ] || return 1
  # Display names: "Verdant fix plain 1" and so on; vbt-idle never runs and is not offered.
  check_groups "Office: units flagged for it grouped by the configuration, the process Optional" \
    "boost list" "Advice: Verdant fix plain 1" "Optional: Verdant fix plain 2 vbt_alpha"
  shot units-office
  local row; row=$(index_of "boost list" vbt_alpha)
  click_panel "$TICK_X" "$(row_y "$row")"
  click_panel "$BOOST_X" "$BOOST_Y"
  check "PC BOOST ends the ticked process" eventually 8 gone vbt_alpha
  check "stops the Advice unit, ticked by default" eventually 8 unit_is vbt-fix-1 inactive
  check "and leaves the Optional unit" unit_is vbt-fix-2 active
  check "the host is told: two closed" eventually 5 grep -q 'boost closed 2,' "$LOG"
  check_groups "the Office list fills again with the Optional unit only" \
    "boost list" "Optional: Verdant fix plain 2"
  click_panel "$SWITCH_RIGHT_X" "$SWITCH_Y"
  check_groups "Game: its own groups" "Game list" \
    "Advice: Verdant fix plain 3" "Optional: Verdant test wanting the base"
  shot units-game
  click_panel "$BOOST_X" "$BOOST_Y"
  check "GAME BOOST stops the Game Advice unit" eventually 8 unit_is vbt-fix-3 inactive
  check "and leaves its Optional one" unit_is vbt-wants active
  check "the host is told: one closed" eventually 5 grep -q 'boost closed 1,' "$LOG"
}
unit_is() { [ "$(box_exec systemctl is-active "$1.service")" = "$2" ]; }

scenario_network() {
  [ "$(id -u)" -eq 0 ] && [ -x "${VB_FILTERD:-}" ] || { echo "not ok - needs root and the filter service"; return 1; }
  local nsa="vbpa$$" nsb="vbpb$$"
  trap "ip netns del $nsa 2>/dev/null; ip netns del $nsb 2>/dev/null; vb_cleanup" EXIT
  ip netns add "$nsa" && ip netns add "$nsb" || return 1
  ip -n "$nsa" link add va type veth peer name vb netns "$nsb"
  ip -n "$nsa" addr add 10.89.0.1/24 dev va
  ip -n "$nsb" addr add 10.89.0.2/24 dev vb
  ip -n "$nsa" link set va up && ip -n "$nsb" link set vb up && ip -n "$nsa" link set lo up
  # Our own service on the socket folder the ball looks in, counting our cgroup only.
  vb_bg "$VB_TMP/filterd.log" "$VB_FILTERD" --socket-dir /run/pswfp --state-dir "$VB_TMP/state"
  check "the filter service is up" vb_wait_log "$VB_TMP/filterd.log" 'filterd: ready' 10
  # The sender runs from an image of its own: blocking its path leaves the receiver alone.
  cp "$VB_BIN_DIR/vb_tgen" "$VB_TMP/bin/vbt_sink"
  cp "$VB_BIN_DIR/vb_tgen" "$VB_TMP/bin/vbt_upload"
  vb_bg "$VB_TMP/sink.log" ip netns exec "$nsa" "$VB_TMP/bin/vbt_sink" tcp-sink 6000 55
  vb_wait_log "$VB_TMP/sink.log" listening 5
  vb_bg "$VB_TMP/upload.log" ip netns exec "$nsb" "$VB_TMP/bin/vbt_upload" tcp-loop 10.89.0.1 6000 20000 500 100
  check "the transfer runs" vb_wait_log "$VB_TMP/upload.log" 'step=3 send=ok' 5

  start_host || return 1
  check "a click on the ball opens the panel" open_panel
  [ -n "${PANEL:-}" ] || return 1
  click_panel "$TAB_NETWORK_X" "$TAB_Y"
  check "the Network page lists the transfer's process with a speed" \
    eventually 10 traffic_shows 'vbt_upload moving'
  local row; row=$(index_of "traffic list" vbt_upload)
  shot network-transfer

  # The pause button shows while the pointer is over the row; it blocks the process.
  hover_panel 200 "$(row_y "$row")"
  hover_panel "$BLOCK_X" "$(row_y "$row")"
  click_panel "$BLOCK_X" "$(row_y "$row")"
  check "the host sees the process blocked" eventually 3 traffic_shows 'vbt_upload [a-z]+ blocked'
  check "the transfer is cut" eventually 5 grep -Eq 'send=-1|connect=-1' "$VB_TMP/upload.log"
  local sent; sent=$(grep -c 'send=ok' "$VB_TMP/upload.log")
  check "no more bytes leave while blocked" stays 2 bash -c "[ \$(grep -c 'send=ok' '$VB_TMP/upload.log') -eq $sent ]"
  xdotool mousemove --sync $((PX + 100)) $((PY + 100))
  check "the blocked mark shows on its icon" marked "$row"
  check "and on no other" not marked "$(index_of "traffic list" vbt_sink)"
  crop button-away $((BLOCK_X - 8)) $(($(row_y "$row") - 8)) 16 16
  check "the play button stays visible with the pointer elsewhere" button_drawn
  shot network-blocked

  # The play button lets it through again.
  click_panel "$BLOCK_X" "$(row_y "$row")"
  check "the transfer connects again" eventually 5 grep -q 'reconnected' "$VB_TMP/upload.log"
  check "and bytes move again" eventually 5 bash -c "[ \$(grep -c 'send=ok' '$VB_TMP/upload.log') -gt $sent ]"
  check "the host sees it unblocked and moving" eventually 5 traffic_shows 'vbt_upload moving'
}
# traffic_shows ROW: the newest traffic listing has that row (an extended pattern), whole.
traffic_shows() { last 'traffic list' | grep -Eq "(^|, )$1(,|\$)"; }
# marked ROW: the red of the blocked mark at the bottom right of the row's icon.
marked() {
  crop icon 22 $(($(row_y "$1") - 1)) 9 9
  [ "$(convert "$VB_TMP/icon.png" -fx 'r - g > 0.2 ? 1 : 0' -format '%[fx:int(w*h*mean)]' info:)" -gt 4 ]
}
not() { ! "$@"; }
# The play button's 16 x 16 square has more than one colour, where a hidden one shows the row.
button_drawn() {
  [ "$(convert "$VB_TMP/button-away.png" -format '%k' info:)" -gt 3 ]
}

if [ "$SCENARIO" = units ]; then
  # The box's systemd and its processes: the host, its windows and the X server (which names
  # its clients' pids) run in the box's pid namespace.
  source "$VB_SOURCE_DIR/tests/procs/systemd_box.sh"
  trap 'box_teardown; vb_cleanup' EXIT
  box_boot 0 >/dev/null || exit 1
  RUN=(box_exec)
  VB_X_RUNNER=(box_exec)
fi
vb_start_x 1280x800
vb_start_wm
"scenario_$SCENARIO"
vb_finish
