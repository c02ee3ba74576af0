#!/usr/bin/env bash
# Starts the real `vadoset` program under Xvfb, works it with xdotool as a
# user would (About window, Run, both folder dialogs, the results window),
# and saves screenshots in docs/screenshots/:
#   main-window.png     the window as it opens
#   about-window.png    the About window
#   folder-dialog.png   the data folder dialog of a run
#   finished-run.png    the window after a run of the sample stations with a
#                       typing error (Tokio for Tokyo in one file): a warning
#   warnings-panel.png  that run's results window, with its warnings panel
#   results-window.png  the results window of a CSV run of the stations,
#                       Moscow selected, scrolled to the AET columns
#   monthly-chart.png, daily-chart.png, overview-chart.png
#                       its charts, saved from the window as PNG pictures
# It also checks that each run's table is the one vadoset-cli writes, and
# that a chart saved as SVG is one.
#
#   scripts/screenshots.sh            builds with the dev preset first
#   BUILD_DIR=build/x scripts/...     uses an existing build folder
#   DPI=144 scripts/screenshots.sh    the same at 144 dots per inch, into a
#                                     temporary folder (to look at, not kept)
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
  dpi=${DPI:-96}
  xvfb-run -a -s "-screen 0 $((1600 * dpi / 96))x$((1000 * dpi / 96))x24 -dpi $dpi -fbdir $tmp" \
    "$0" --inner "$tmp" "$build" "$dpi"
  exit
fi

tmp=$2
build=$3
dpi=$4
screen=$tmp/Xvfb_screen0
out=docs/screenshots
if [ "$dpi" != 96 ]; then
  out=$(mktemp -d "/tmp/vadoset-screenshots-${dpi}dpi.XXXXXX")
  # As a desktop set to this many dots per inch tells its programs (Xft.dpi).
  export QT_FONT_DPI=$dpi
fi
# The window's own pixels on the screen: Qt scales them by dpi/96.
scaled() { echo $(($1 * dpi / 96)); }
mkdir -p "$out" "$tmp/data"
cp examples/allsites_prec.txt examples/allsites_temp.csv examples/allsites_prec.csv "$tmp/data/"
# A typing error that the input checks warn of: Tokio for Tokyo.
sed 's/^Tokyo\t/Tokio\t/' examples/allsites_temp.txt >"$tmp/data/allsites_temp.txt"
unset QT_QPA_PLATFORMTHEME
export QT_QPA_PLATFORM=xcb

# The folder dialogs open in the working folder, where the data are.
(cd "$tmp/data" && exec "$root/$build/bin/vadoset") &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT

settle() { sleep "${1:-0.7}"; }
# The first visible window whose title matches, waiting for it. (A window
# that closes while xdotool looks through the list fails its search: the
# search is tried again.)
window_named() {  # title regex
  local w
  for _ in $(seq 100); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    if [ -n "$w" ]; then
      echo "$w"
      return 0
    fi
    sleep 0.2
  done
  echo "no window named $1 appeared" >&2
  return 1
}
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

main=$(window_named '^Vadoset$')
settle 1
shot "$main" main-window.png
eval "$(xdotool getwindowgeometry --shell "$main")"
mainX=$X mainY=$Y mainH=$HEIGHT
menuH=$((mainH - $(scaled 349)))  # the content area is 349 high; the menu bar sits on top

# File > About Vadoset, from the keyboard (Close is disabled, so About is
# the first item to take the highlight).
xdotool windowfocus --sync "$main"
xdotool key alt+f
settle 0.4
xdotool key Return
about=$(window_of_size "$(scaled 284)" "$(scaled 340)")
settle
shot "$about" about-window.png
# Ctrl+W closes the About window and only it.
xdotool windowfocus --sync "$about"
xdotool key ctrl+w
gone "$about" || { echo "Ctrl+W left the About window open" >&2; exit 1; }

click_at() {  # x y, in the main window's content area
  xdotool mousemove $((mainX + $(scaled $1))) $((mainY + menuH + $(scaled $2))) click 1
}
# Run: the data folder dialog, then the output folder dialog; each opens
# in the data folder, so Return picks it. Waits for the table.
run_from_window() {  # shot-of-the-data-folder-dialog (or "")
  rm -f "$tmp/data/output.txt"
  click_at $((30 + 34)) $((261 + 10))
  local dialog
  dialog=$(window_named '^Folder containing data files$')
  settle
  if [ -n "$1" ]; then shot "$dialog" "$1"; fi
  xdotool windowfocus --sync "$dialog"
  xdotool key Return
  dialog=$(window_named '^Folder to save output data$')
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
}
same_as_cli() {  # temperature-file precipitation-file format
  "$root/$build/bin/vadoset-cli" -t "$tmp/data/$1" -p "$tmp/data/$2" --format "$3" -o "$tmp/cli.txt" --quiet
  if cmp -s "$tmp/data/output.txt" "$tmp/cli.txt"; then
    echo "the window's table of $2 is the same as vadoset-cli's ($(tr '\r' '\n' <"$tmp/cli.txt" | grep -c .) lines)"
  else
    echo "the window's table of $2 differs from vadoset-cli's" >&2
    exit 1
  fi
}
open_results() {
  xdotool windowfocus --sync "$main"
  xdotool key ctrl+r
  results=$(window_named '^Vadoset results')
  settle 1.5
}

run_from_window folder-dialog.png
shot "$main" finished-run.png
same_as_cli allsites_temp.txt allsites_prec.txt tab

# View > Results (Ctrl+R): the run's warning and null rows in their panel.
open_results
shot "$results" warnings-panel.png
xdotool windowfocus --sync "$results"
xdotool key Escape
gone "$results" || { echo "Esc left the results window open" >&2; exit 1; }

# The same stations from CSV files: the format pop-up's third row, the
# files' names typed in.
click_at $((111 + 80)) $((5 + 10))
settle 0.5
xdotool key Down Down Return
settle 0.3
for field in "34 allsites_temp.csv" "61 allsites_prec.csv"; do
  set -- $field
  click_at $((146 + 60)) $(($1 + 11))
  xdotool key ctrl+a
  xdotool type --delay 20 "$2"
done
run_from_window ""
same_as_cli allsites_temp.csv allsites_prec.csv csv

# Its results: Moscow's row, picked with the keyboard from the first, then
# to the right as far as the AET columns; the identifiers stay in view.
open_results
xdotool windowfocus --sync "$results"
eval "$(xdotool getwindowgeometry --shell "$results")"
xdotool mousemove $((X + $(scaled 280))) $((Y + $(scaled 120))) click 1
xdotool key ctrl+Home
for _ in $(seq 17); do xdotool key Down; done
for _ in $(seq 16); do xdotool key Right; done
xdotool mousemove 0 0
settle 1
shot "$results" results-window.png

# Each chart's Save button (Alt+M, Alt+D, Alt+W) opens a file dialog in the
# working folder with a name ready; Return saves there, a PNG picture after
# its size (1600 pixels wide unless changed). The daily chart is saved once
# more under a name that ends in .svg.
save_chart() {  # key file [name to type]
  xdotool windowfocus --sync "$results"
  xdotool key "$1"
  local d
  d=$(window_named '^Save the Chart')
  settle 0.5
  xdotool windowfocus --sync "$d"
  if [ -n "${3:-}" ]; then
    xdotool key ctrl+a
    xdotool type --delay 40 "$3"
  fi
  xdotool key Return
  if [ "${2##*.}" = png ]; then
    d=$(window_named '^Picture Size$')
    settle 0.3
    xdotool windowfocus --sync "$d"
    xdotool key Return
  fi
  for _ in $(seq 50); do
    [ -s "$tmp/data/$2" ] && return 0
    sleep 0.2
  done
  echo "the chart $2 was not saved" >&2
  return 1
}
save_chart alt+m Moscow-monthly.png
save_chart alt+d Moscow-daily.png
save_chart alt+w overview.png
save_chart alt+d Moscow-daily.svg Moscow-daily.svg
cp "$tmp/data/Moscow-monthly.png" "$out/monthly-chart.png"
cp "$tmp/data/Moscow-daily.png" "$out/daily-chart.png"
cp "$tmp/data/overview.png" "$out/overview-chart.png"
echo "saved $out/monthly-chart.png, daily-chart.png and overview-chart.png from the results window"
if head -c 400 "$tmp/data/Moscow-daily.svg" | grep -q '<svg'; then
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
if [ "$dpi" != 96 ]; then echo "the pictures at $dpi dots per inch are in $out"; fi
