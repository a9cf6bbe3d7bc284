#!/usr/bin/env bash
# The preview panel's reading tools on a real X server: find in the page (n of m), zoom, export
# as PDF, and links: a relative link to another document previewed in the panel with Back and
# Forward, a link climbing out with .., a link to a named pipe refused in the panel, a web link
# and a picture handed to the desktop (a stand-in xdg-open notes what it is given), and the
# file manager reached without a bus. Light and dark screenshots with the find bar open go to
# SHOTS_DIR. Last, a linked document through the preview server on a private bus.
# usage: panel_reading_e2e.sh QLMANAGE SHOTS_DIR   (run under xvfb-run with a large screen)
set -uo pipefail
qlmanage=$1
shots=$2
mkdir -p "$shots"
for tool in xdotool xwininfo import python3; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -n "${DISPLAY:-}" ] || { echo "SKIP: no X display (run under xvfb-run)"; exit 77; }

work=$(mktemp -d)
export XDG_DATA_HOME=$work/xdg/data XDG_CONFIG_HOME=$work/xdg/config XDG_CACHE_HOME=$work/xdg/cache
build_dir=$(cd "$(dirname "$qlmanage")" && pwd)
"$build_dir/lsregister" -f -R -trusted "$build_dir/Lumivale Quick Look.app" >/dev/null ||
  { echo "FAIL - the application cannot be registered"; exit 1; }
qlm_pid=
cleanup() {
  [ -n "$qlm_pid" ] && kill "$qlm_pid" 2>/dev/null
  [ -n "${bus_pid:-}" ] && kill "$bus_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
pass() { echo "ok   - $1"; }
fail() { echo "FAIL - $1"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }

export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu"
export LUMIVALE_PANEL_PROBE=report
export LUMIVALE_PANEL_PDF_PATH=$work/out/Guide.pdf
mkdir -p "$work/bin" "$work/out"
cat > "$work/bin/xdg-open" <<SH
#!/bin/sh
echo "\$@" >> "$work/opened.log"
SH
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH" BROWSER="$work/bin/xdg-open"
unset GTK_THEME DBUS_SESSION_BUS_ADDRESS

# The documents: a guide linking to a chapter beside it, notes outside its folder, a picture,
# a named pipe (which nothing may open: it would block) and the web.
mkdir -p "$work/docs/guide" "$work/docs/outside"
cat > "$work/docs/guide/Guide.md" <<'MD'
# Guide

The word lumen appears here, lumen there, and lumen once more.

- [Chapter two](chapter%20two.md#details)
- [Notes outside](../outside/notes.md)
- [A pipe](pipe.md)
- [The web](http://127.0.0.1:9/page.html)
- [A picture](red.png)
MD
cat > "$work/docs/guide/chapter two.md" <<'MD'
# Chapter two

Second chapter text.
MD
printf '# Outside notes\n\nNotes beyond the folder.\n' > "$work/docs/outside/notes.md"
convert -size 40x40 xc:red "$work/docs/guide/red.png" 2>/dev/null || printf 'x' > "$work/docs/guide/red.png"
mkfifo "$work/docs/guide/pipe.md"

wait_for_line() { # waits (bounded) for the $3-th line of log $1 matching $2; prints it
  local log=$1 pattern=$2 nth=${3:-1}
  for _ in $(seq 600); do
    if line=$(grep -E "$pattern" "$log" | sed -n "${nth}p") && [ -n "$line" ]; then
      echo "$line"
      return 0
    fi
    kill -0 "$qlm_pid" 2>/dev/null || break
    sleep 0.1
  done
  return 1
}
seen() { wait_for_line "$@" >/dev/null; } # the same, quietly
state() { python3 -c 'import json,sys; s=json.loads(sys.argv[1].split(" ",4)[4]); print(eval(sys.argv[2]))' "$1" "$2"; }
window_of() {
  for _ in $(seq 100); do
    local id
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
press() { [ -n "$1" ] || return; xdotool windowfocus --sync "$1" 2>/dev/null; sleep 0.2; xdotool key "$2"; }
click_link() { # clicks the link whose href is $2 on the page whose ready state is $1
  local x y
  x=$(state "$1" "[l for l in s['links'] if l['href'] == '$2'][0]['x']")
  y=$(state "$1" "[l for l in s['links'] if l['href'] == '$2'][0]['y']")
  xdotool mousemove --window "$wid" "$x" "$y" click 1
}
opened() { for _ in $(seq 50); do grep -qF "$1" "$work/opened.log" 2>/dev/null && return 0; sleep 0.1; done; return 1; }
exits_within() {
  for _ in $(seq $(($1 * 10))); do
    if ! kill -0 "$qlm_pid" 2>/dev/null; then
      wait "$qlm_pid"; exit_status=$?; qlm_pid=; return 0
    fi
    sleep 0.1
  done
  return 1
}
console_problems() { grep -E 'console (error|warning)' "$1" | grep -v 'ResizeObserver loop limit exceeded'; }

# --- Light: find, zoom, PDF, links.
log=$work/light.log
"$qlmanage" -p "$work/docs/guide/Guide.md" 2>"$log" &
qlm_pid=$!
guide=$(wait_for_line "$log" "ready item=0 ") || { cat "$log"; fail "the guide's preview becomes ready"; exit 1; }
pass "the guide's preview becomes ready"
wid=$(window_of "Guide")

press "$wid" ctrl+f
sleep 0.3
xdotool type --delay 30 lumen
check "find reports the first of three matches" seen "$log" "find 1 of 3 for lumen$"
xdotool key Return
check "Enter goes to the next match" seen "$log" "find 2 of 3 for lumen$"
xdotool key shift+Return
check "Shift+Enter goes back to the previous match" seen "$log" "find 1 of 3 for lumen$" 2
sleep 1.5 # the highlights are painted a moment after the count
import -window "$wid" "$shots/panel-find-light.png"
xdotool key Escape
sleep 1
check "the first Escape closes only the find bar" kill -0 "$qlm_pid"

press "$wid" ctrl+plus
check "Ctrl+plus zooms in one step" seen "$log" "zoom 1.1$"
xdotool key ctrl+equal
check "Ctrl+= zooms in another" seen "$log" "zoom 1.25$"
xdotool key ctrl+minus
check "Ctrl+minus zooms out" seen "$log" "zoom 1.1$" 2
xdotool key ctrl+0
check "Ctrl+0 goes back to the actual size" seen "$log" "zoom 1$"

xdotool key ctrl+shift+e
check "Export as PDF writes the file" seen "$log" "pdf written $work/out/Guide.pdf"
check "the export is a PDF" test "$(head -c 5 "$work/out/Guide.pdf" 2>/dev/null)" = "%PDF-"
if command -v pdftotext >/dev/null; then
  check "the PDF holds the guide's text" grep -q "lumen there" <(pdftotext "$work/out/Guide.pdf" - 2>/dev/null)
fi

sleep 0.5
click_link "$guide" "http://127.0.0.1:9/page.html"
check "a clicked web link goes to the desktop's browser" opened "http://127.0.0.1:9/page.html"
click_link "$guide" "red.png"
check "a picture opens with the desktop's default application" opened "file://$work/docs/guide/red.png"

click_link "$guide" "pipe.md"
pipe=$(wait_for_line "$log" "ready item=1 ") && pass "a link to a named pipe shows a page" || fail "a link to a named pipe shows a page"
check "the page says it is a named pipe and was not followed" \
  test "$(state "$pipe" "'named pipe' in s['error'] and 'not followed' in s['error']")" = True
import -window "$wid" "$shots/panel-link-refused-light.png"
xdotool key alt+Left
check "Back returns to the guide" seen "$log" "ready item=0 " 2

click_link "$guide" "chapter%20two.md#details"
chapter=$(wait_for_line "$log" "ready item=2 ") && pass "a relative link previews the linked document in the panel" ||
  fail "a relative link previews the linked document in the panel"
check "the linked document is the chapter" test "$(state "$chapter" "s['text'].startswith('Chapter two')")" = True
check "the window is titled by the chapter" test -n "$(window_of "chapter two")"
sleep 0.3
import -window "$wid" "$shots/panel-linked-light.png"
xdotool key alt+Left
check "Back returns to the guide again" seen "$log" "ready item=0 " 3
xdotool key alt+Right
check "Forward shows the chapter again" seen "$log" "ready item=2 " 2

xdotool key alt+Left
wait_for_line "$log" "ready item=0 " 4 >/dev/null
click_link "$guide" "../outside/notes.md"
notes=$(wait_for_line "$log" "ready item=3 ") && pass "a link climbing out with .. previews the file there" ||
  fail "a link climbing out with .. previews the file there"
check "the notes are shown" test "$(state "$notes" "s['text'].startswith('Outside notes')")" = True

: > "$work/opened.log"
xdotool key ctrl+shift+r
check "without a bus, Reveal opens the document's folder" opened "file://$work/docs/outside"
xdotool key ctrl+o
check "Open hands the document to its default application" opened "file://$work/docs/outside/notes.md"

press "$wid" Escape
check "Escape closes the panel" exits_within 10
check "qlmanage exits 0 (a refused link is not a failed preview)" test "${exit_status:-1}" = 0
check "the console shows no errors" test -z "$(console_problems "$log")"
check "the pipe was never opened (nothing blocked on it)" test -p "$work/docs/guide/pipe.md"

# --- Dark: the print dialog comes and goes; the find bar in the dark appearance; a second
# Escape closes the panel.
log=$work/dark.log
GTK_THEME=Adwaita:dark "$qlmanage" -p "$work/docs/guide/Guide.md" 2>"$log" &
qlm_pid=$!
wait_for_line "$log" "ready item=0 " >/dev/null && pass "dark: the guide becomes ready" || fail "dark: the guide becomes ready"
wid=$(window_of "Guide")
press "$wid" ctrl+p
dialog=$(window_of "Print") && pass "Ctrl+P opens the print dialog" || fail "Ctrl+P opens the print dialog"
press "$dialog" Escape
sleep 0.5
check "cancelling the print dialog leaves the panel open" kill -0 "$qlm_pid"
check "the print dialog is gone" test -z "$(xdotool search --onlyvisible --name '^Print$' 2>/dev/null)"
press "$wid" ctrl+f
sleep 0.3
xdotool type --delay 30 lumen
check "dark: find reports three matches" seen "$log" "find 1 of 3 for lumen$"
sleep 1.5 # the highlights are painted a moment after the count
import -window "$wid" "$shots/panel-find-dark.png"
xdotool key Escape
sleep 0.5
xdotool key Escape
check "dark: a second Escape closes the panel" exits_within 10

# --- Through the panel agent and the preview server on a private session bus: the panel is the
# agent's, and the linked document comes from the server too, not from an extension process of
# qlmanage's own.
if command -v dbus-daemon >/dev/null; then
  "$build_dir/quicklookd" --install >/dev/null
  "$build_dir/qlpanelagent" --install >/dev/null
  bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1) &&
    bus_address=$(echo "$bus" | sed -n 1p) bus_pid=$(echo "$bus" | sed -n 2p)
  log=$work/server.log
  DBUS_SESSION_BUS_ADDRESS=$bus_address "$qlmanage" -v -p "$work/docs/guide/Guide.md" 2>"$log" &
  qlm_pid=$!
  guide=$(wait_for_line "$log" "ready item=0 ") && pass "server: the guide becomes ready" || fail "server: the guide becomes ready"
  wid=$(window_of "Guide")
  xdotool windowfocus --sync "$wid" 2>/dev/null
  click_link "$guide" "chapter%20two.md#details"
  check "server: the linked document is previewed" seen "$log" "ready item=1 .*Chapter two"
  press "$wid" Escape
  exits_within 10
  DBUS_SESSION_BUS_ADDRESS=$bus_address "$qlmanage" -r >/dev/null 2>&1
  [ -n "${bus_pid:-}" ] && kill "$bus_pid" 2>/dev/null && bus_pid=
  check "server: no fallback to running the extensions in qlmanage" bash -c "! grep -q -e 'without the preview server' -e 'qlmanage: started' '$log'"
  check "server: the panel agent showed the panel" bash -c "! grep -q 'without the panel agent' '$log'"
fi

if [ "$failures" -gt 0 ]; then
  echo "--- panel logs"; cat "$work"/*.log
  exit 1
fi
echo "all reading checks passed; screenshots in $shots"
