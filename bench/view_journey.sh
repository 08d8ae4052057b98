#!/usr/bin/env bash
# Puts the three locators on grid crossings of a 12000 x 9000 sheet as a user would with the
# keyboard and the mouse (Fit Whole Map, 1/2/3, a double-click near each crossing, arrow-key
# nudges), under a private X server, and times it. The locators are then set up (Action >
# Setup Transform), which keeps them beside the sheet, and the kept file is checked against
# the crossings. Needs Xvfb, openbox, xdotool and ImageMagick.
#
#   bench/view_journey.sh build/src/gui/gridmorph
set -eu
program=$(readlink -f "$1")
work=$(mktemp -d)
trap 'kill $ppid $wpid $xpid 2>/dev/null; rm -rf "$work"' EXIT
ppid=""; wpid=""; xpid=""

# The sheet: a 1000-pixel grid from (500, 500), one metre a pixel, west 509500, north 6009500.
W=12000 H=9000 draw=""
for x in $(seq 500 1000 11500); do draw="$draw line $x,0 $x,$H"; done
for y in $(seq 500 1000 8500); do draw="$draw line 0,$y $W,$y"; done
convert -size ${W}x${H} xc:'#f3ecd9' -fill none -stroke '#8a2b1a' -strokewidth 3 -draw "$draw" \
    -type TrueColor "$work/sheet.bmp"
printf '1.0\n0.0\n0.0\n-1.0\n509500.0\n6009500.0\n' > "$work/sheet.bpw"

disp=:$((500 + RANDOM % 300))
Xvfb $disp -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 & xpid=$!
sleep 0.8
export DISPLAY=$disp HOME=$work XDG_CONFIG_HOME=$work/config
unset QT_QPA_PLATFORM
openbox >/dev/null 2>&1 & wpid=$!
sleep 0.5
"$program" --open "$work/sheet.bmp" >"$work/program.log" 2>&1 & ppid=$!
# The 24-bit advice comes first; then the window has the sheet.
for _ in $(seq 1 80); do xdotool search --name "^Gridmorph$" >/dev/null 2>&1 && break; sleep 0.5; done
sleep 1
box=$(xdotool search --name "^Gridmorph$" | head -1)
xdotool windowactivate --sync "$box" 2>/dev/null || true
xdotool key --window "$box" Return; sleep 0.3; xdotool key Return
for _ in $(seq 1 40); do xdotool search --name "SHEET" >/dev/null 2>&1 && break; sleep 0.5; done
sleep 1
wid=$(xdotool search --name "SHEET" | head -1)
xdotool windowactivate "$wid"; sleep 0.3

# Where the view's top-left corner is on the screen, and its size: from the window's
# client area (below the menu bar and the toolbar).
eval "$(xdotool getwindowgeometry --shell "$wid")"
ox=$X; oy=$((Y + 31))
start=$(date +%s.%N)
xdotool key ctrl+0; sleep 0.6
# The zoom Fit Whole Map chose: the view's height over the sheet's (the window is wider).
z=$(python3 -c "print(($HEIGHT - 31 - 57) / 9000)")
place() {
    local n=$1 tx=$2 ty=$3 wx wy px py
    read -r wx wy px py <<< "$(python3 -c "
import math
z = $z; wx = round($tx * z); wy = round($ty * z)
print(wx, wy, math.floor(wx / z + 1e-9), math.floor(wy / z + 1e-9))")"
    xdotool key "$n"
    xdotool mousemove $((ox + wx)) $((oy + wy))
    xdotool click --repeat 2 --delay 60 1; sleep 0.2
    local dx=$((tx - px)) dy=$((ty - py)) kx=Right ky=Down
    [ $dx -lt 0 ] && kx=Left && dx=$((-dx))
    [ $dy -lt 0 ] && ky=Up && dy=$((-dy))
    for _ in $(seq 1 $((dx / 10))); do xdotool key shift+$kx; done
    for _ in $(seq 1 $((dx % 10))); do xdotool key $kx; done
    for _ in $(seq 1 $((dy / 10))); do xdotool key shift+$ky; done
    for _ in $(seq 1 $((dy % 10))); do xdotool key $ky; done
}
place 1 500 500
place 2 11500 500
place 3 11500 8500
placed=$(date +%s.%N)
xdotool key Escape alt+a; sleep 0.4; xdotool key s; sleep 1.0
xdotool key Tab Tab ctrl+a; xdotool type 510000; xdotool key Tab ctrl+a; xdotool type 6009000
xdotool key Tab Tab Tab Tab Tab ctrl+a; xdotool type 521000; xdotool key Tab ctrl+a; xdotool type 6001000
xdotool key Return; sleep 0.8
echo "three locators placed in $(python3 -c "print(round($placed - $start, 1))") s (the pauses in it: 1.2 s)"
expected='510000.000000,6009000.000000,500.5,-500.5,1,0,0,0
521000.000000,6009000.000000,11500.5,-500.5,1,0,0,0
521000.000000,6001000.000000,11500.5,-8500.5,1,0,0,0'
if [ "$(tail -n 3 "$work/sheet.bmp.points" 2>/dev/null)" = "$expected" ]; then
    echo "the kept locators are on the three crossings"
else
    echo "the kept locators are not where they were put:"; cat "$work/sheet.bmp.points" 2>/dev/null
    exit 1
fi
