#!/usr/bin/env bash
# Starts the real `vadoset` program under Xvfb, works it with xdotool as a
# user would (About window, Run, both folder dialogs), and saves screenshots
# in docs/screenshots/:
#   main-window.png    the window as it opens
#   about-window.png   the About window
#   folder-dialog.png  the data folder dialog of a run
#   finished-run.png   the window after a run of the bundled sample data
#   results-window.png the results window (View > Results) on Moscow's row
#   monthly-chart.png, daily-chart.png   its two charts, saved from the window
# It also checks that the run's table is the one vadoset-cli writes, and
# that a chart saved as SVG is one.
#
#   scripts/screenshots.sh            builds with the dev preset first
#   BUILD_DIR=build/x scripts/...     uses an existing build folder
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ "${1:-}" != "--inner" ]; then
  scripts/setup.sh
  if ! command -v xdotool >/dev/null; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends xdotool
  fi
  build=${BUILD_DIR:-build/dev}
  if [ -z "${BUILD_DIR:-}" ]; then cmake --preset dev >/dev/null; fi
  cmake --build "$build" --target vadoset vadoset-cli
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  # Xvfb keeps its screen in $tmp/Xvfb_screen0 (XWD), where the shots come from.
  xvfb-run -a -s "-screen 0 1024x768x24 -fbdir $tmp" "$0" --inner "$tmp" "$build"
  exit
fi

tmp=$2
build=$3
screen=$tmp/Xvfb_screen0
out=docs/screenshots
mkdir -p "$out" "$tmp/data"
cp examples/allsites_temp.txt examples/allsites_prec.txt "$tmp/data/"
unset QT_QPA_PLATFORMTHEME
export QT_QPA_PLATFORM=xcb

# The folder dialogs open in the working folder, where the data are.
(cd "$tmp/data" && exec "$root/$build/bin/vadoset") &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT

settle() { sleep "${1:-0.7}"; }
shot() {  # window-id file
  local X Y WIDTH HEIGHT WINDOW SCREEN
  eval "$(xdotool getwindowgeometry --shell "$1")"
  python3 scripts/xwd_to_png.py "$screen" "$out/$2" "$X" "$Y" "$WIDTH" "$HEIGHT"
  echo "saved $out/$2 (${WIDTH}x${HEIGHT})"
}
# The visible window of the program with this size, waiting for it.
window_of_size() {  # width height
  for _ in $(seq 50); do
    for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null || true); do
      local X Y WIDTH HEIGHT WINDOW SCREEN
      eval "$(xdotool getwindowgeometry --shell "$w")"
      if [ "$WIDTH" = "$1" ] && [ "$HEIGHT" = "$2" ]; then
        echo "$w"
        return 0
      fi
    done
    sleep 0.2
  done
  echo "no ${1}x${2} window appeared" >&2
  return 1
}
gone() {  # window-id
  for _ in $(seq 50); do
    xdotool getwindowname "$1" >/dev/null 2>&1 || return 0
    xdotool search --onlyvisible --pid "$pid" 2>/dev/null | grep -qx "$1" || return 0
    sleep 0.2
  done
  return 1
}

main=$(xdotool search --sync --onlyvisible --name '^Vadoset$' | head -n 1)
settle 1
shot "$main" main-window.png
eval "$(xdotool getwindowgeometry --shell "$main")"
mainX=$X mainY=$Y mainH=$HEIGHT
menuH=$((mainH - 349))  # the content area is 349 high; the menu bar sits on top

# File > About Vadoset, from the keyboard (Close is disabled, so About is
# the first item to take the highlight).
xdotool windowfocus --sync "$main"
xdotool key alt+f
settle 0.4
xdotool key Return
about=$(window_of_size 284 340)
settle
shot "$about" about-window.png
# Ctrl+W closes the About window and only it.
xdotool windowfocus --sync "$about"
xdotool key ctrl+w
gone "$about" || { echo "Ctrl+W left the About window open" >&2; exit 1; }

# Run: the data folder dialog, then the output folder dialog; each opens
# in the data folder, so Return picks it.
xdotool mousemove $((mainX + 30 + 34)) $((mainY + menuH + 261 + 10)) click 1
dialog=$(xdotool search --sync --onlyvisible --name '^Folder containing data files$' | head -n 1)
settle
shot "$dialog" folder-dialog.png
xdotool windowfocus --sync "$dialog"
xdotool key Return
dialog=$(xdotool search --sync --onlyvisible --name '^Folder to save output data$' | head -n 1)
settle 0.4
xdotool windowfocus --sync "$dialog"
xdotool key Return
for _ in $(seq 100); do
  [ -f "$tmp/data/output.txt" ] && break
  sleep 0.2
done
[ -f "$tmp/data/output.txt" ] || { echo "the run wrote no table" >&2; exit 1; }
xdotool mousemove 0 0
settle
shot "$main" finished-run.png

"$root/$build/bin/vadoset-cli" -t "$tmp/data/allsites_temp.txt" -p "$tmp/data/allsites_prec.txt" \
  -o "$tmp/cli.txt" --quiet
if cmp -s "$tmp/data/output.txt" "$tmp/cli.txt"; then
  echo "the window's table is the same as vadoset-cli's ($(tr '\r' '\n' <"$tmp/cli.txt" | grep -c .) lines)"
else
  echo "the window's table differs from vadoset-cli's" >&2
  exit 1
fi

# View > Results (Ctrl+R), filtered to one station: its row is selected and
# its charts drawn.
xdotool windowfocus --sync "$main"
xdotool key ctrl+r
results=$(xdotool search --sync --onlyvisible --name '^Vadoset results' | head -n 1)
settle 1
xdotool windowfocus --sync "$results"
xdotool key alt+f
xdotool type --delay 40 "Moscow"
settle 1
shot "$results" results-window.png

# Each chart's Save button (Alt+M, Alt+D) opens a file dialog in the working
# folder with a name ready; Return saves a PNG there. The daily chart is
# saved once more under a name that ends in .svg.
save_chart() {  # key file [name to type]
  xdotool windowfocus --sync "$results"
  xdotool key "$1"
  local d
  d=$(xdotool search --sync --onlyvisible --name '^Save the Chart' | head -n 1)
  settle 0.5
  xdotool windowfocus --sync "$d"
  if [ -n "${3:-}" ]; then
    xdotool key ctrl+a
    xdotool type --delay 40 "$3"
  fi
  xdotool key Return
  for _ in $(seq 50); do
    [ -s "$tmp/data/$2" ] && return 0
    sleep 0.2
  done
  echo "the chart $2 was not saved" >&2
  return 1
}
save_chart alt+m Moscow-monthly.png
save_chart alt+d Moscow-daily.png
save_chart alt+d Moscow-daily.svg Moscow-daily.svg
cp "$tmp/data/Moscow-monthly.png" "$out/monthly-chart.png"
cp "$tmp/data/Moscow-daily.png" "$out/daily-chart.png"
echo "saved $out/monthly-chart.png and $out/daily-chart.png from the results window"
if head -c 200 "$tmp/data/Moscow-daily.svg" | grep -q '<svg'; then
  echo "the daily chart saved as SVG is an SVG drawing"
else
  echo "the daily chart saved as SVG is not an SVG drawing" >&2
  exit 1
fi

xdotool windowfocus --sync "$main"
xdotool key ctrl+q
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$pid" 2>/dev/null; then
  echo "Ctrl+Q did not end the program" >&2
  exit 1
fi
