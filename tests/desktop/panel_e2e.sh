#!/usr/bin/env bash
# The preview panel on a real X server: `qlmanage -p` on a Markdown document (a local image, a
# diagram, a remote image) and a notebook, in the light and the dark appearance, and on a broken
# notebook. Checks the window's title and size, what the page drew (through the panel's probe),
# that no request reached a loopback server the document points at, that the console stayed
# clean, and that the keys work. Screenshots go to SHOTS_DIR.
# usage: panel_e2e.sh QLMANAGE SHOTS_DIR   (run under xvfb-run with a large screen)
set -uo pipefail
qlmanage=$1
shots=$2
mkdir -p "$shots"
for tool in xdotool xwininfo import python3; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -n "${DISPLAY:-}" ] || { echo "SKIP: no X display (run under xvfb-run)"; exit 77; }

work=$(mktemp -d)
# Files are previewed by the registered extensions, as for a user.
export XDG_DATA_HOME=$work/xdg/data XDG_CONFIG_HOME=$work/xdg/config XDG_CACHE_HOME=$work/xdg/cache
build_dir=$(cd "$(dirname "$qlmanage")" && pwd)
"$build_dir/lsregister" -f -R -trusted "$build_dir/Lumivale Quick Look.app" >/dev/null ||
  { echo "FAIL - the application cannot be registered"; exit 1; }
server_pid=
qlm_pid=
cleanup() {
  [ -n "$qlm_pid" ] && kill "$qlm_pid" 2>/dev/null
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
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
# Links the user clicks go to the desktop's browser: here a stand-in that only notes the address.
mkdir -p "$work/bin"
cat > "$work/bin/xdg-open" <<SH
#!/bin/sh
echo "\$@" >> "$work/opened.log"
SH
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH" BROWSER="$work/bin/xdg-open"
unset GTK_THEME DBUS_SESSION_BUS_ADDRESS

# A loopback server that records every request it sees.
mkdir -p "$work/site"
python3 - "$work/port" "$work/requests.log" "$work/site" <<'PY' &
import http.server, sys, functools
port_file, log_file, root = sys.argv[1:4]
class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, fmt, *args):
        with open(log_file, 'a') as log:
            log.write(self.requestline + '\n')
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(Handler, directory=root))
open(port_file, 'w').write(str(server.server_address[1]))
server.serve_forever()
PY
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(cat "$work/port")
convert -size 8x8 xc:orange "$work/site/remote.png"
: > "$work/requests.log"

# The documents.
convert -size 240x120 xc:'#d62728' "$work/docs-red.png" 2>/dev/null || convert -size 240x120 xc:red "$work/docs-red.png"
mkdir -p "$work/docs"
mv "$work/docs-red.png" "$work/docs/red.png"
cat > "$work/docs/Panel Notes.md" <<MD
# Panel notes

A local image, drawn from the reply's attachments:

![a red block](red.png)

A diagram:

\`\`\`mermaid
flowchart LR
  Select --> Preview --> Close
\`\`\`

A remote image, never fetched: ![remote](http://127.0.0.1:$port/remote.png)

A [link to the web](http://127.0.0.1:$port/page.html) and [one within the page](#panel-notes).
MD
cp "$(dirname "$0")/../../examples/notebooks/tour.ipynb" "$work/docs/tour.ipynb"
printf '{"cells": [ this is not JSON' > "$work/docs/broken.ipynb"

# Waits (bounded) until the panel's log holds a line matching $2; prints that line.
wait_for_line() {
  local log=$1 pattern=$2
  for _ in $(seq 600); do
    if line=$(grep -m1 -E "$pattern" "$log"); then
      echo "$line"
      return 0
    fi
    kill -0 "$qlm_pid" 2>/dev/null || break
    sleep 0.1
  done
  return 1
}
# The JSON state of a "ready" line, one field ($2, a Python expression over `s`) evaluated.
state() { python3 -c 'import json,sys; s=json.loads(sys.argv[1].split(" ",4)[4]); print(eval(sys.argv[2]))' "$1" "$2"; }
window_of() { # the panel's window by its exact title
  for _ in $(seq 100); do
    local id
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
size_of() { [ -n "$1" ] || { echo none; return; }; xwininfo -id "$1" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}'; }
press() { [ -n "$1" ] || return; xdotool windowfocus --sync "$1" 2>/dev/null; sleep 0.2; xdotool key "$2"; }
# Console errors and warnings, except Chromium's "ResizeObserver loop limit exceeded": Qt 6.4's
# engine reports it when an observer's callback changes layout within one frame (the notebook
# viewer's libraries do); it is a notice that delivery moved to the next frame, not a failure.
console_problems() { grep -E 'console (error|warning)' "$1" | grep -v 'ResizeObserver loop limit exceeded'; }
exits_within() { # the panel process ends within $1 seconds; sets exit_status
  for _ in $(seq $(($1 * 10))); do
    if ! kill -0 "$qlm_pid" 2>/dev/null; then
      wait "$qlm_pid"; exit_status=$?; qlm_pid=; return 0
    fi
    sleep 0.1
  done
  return 1
}

# --- Light: the Markdown document, then the notebook with the right arrow, Escape closes.
log=$work/light.log
"$qlmanage" -p "$work/docs/Panel Notes.md" "$work/docs/tour.ipynb" 2>"$log" &
qlm_pid=$!
ready=$(wait_for_line "$log" "ready item=0 ") || { cat "$log"; fail "the Markdown preview becomes ready"; exit 1; }
pass "the Markdown preview becomes ready"
wid=$(window_of "Panel Notes") && pass "a window titled by the reply's title appears" || fail "a window titled \"Panel Notes\" appears"
check "the window has the reply's content size (1024x1024)" test "$(size_of "$wid")" = 1024x1024
check "the image from cid: is drawn" test "$(state "$ready" "sum(1 for i in s['images'] if i['src'].startswith('cid:') and i['drawn'])")" = 1
check "the diagram is drawn" test "$(state "$ready" "s['diagrams']")" -ge 1
check "the remote image shows as a placeholder" test "$(state "$ready" "s['placeholders']")" = 1
check "the page is light" test "$(state "$ready" "s['dark']")" = False
[ -n "$wid" ] && import -window "$wid" "$shots/panel-markdown-light.png"
# A click on a web link hands it to the desktop's browser; the panel stays on the preview.
link_x=$(state "$ready" "s['link']['x']") link_y=$(state "$ready" "s['link']['y']")
xdotool mousemove --window "$wid" "$link_x" "$link_y" click 1
clicked() { for _ in $(seq 50); do grep -q "127.0.0.1:$port/page.html" "$work/opened.log" 2>/dev/null && return 0; sleep 0.1; done; return 1; }
check "a clicked web link opens in the desktop's browser" clicked
sleep 0.5
check "the panel stays on the preview after the click" test "$(grep -c 'first text item=0' "$log")" = 1
press "$wid" Right
ready=$(wait_for_line "$log" "ready item=1 ") && pass "the right arrow shows the notebook" || fail "the right arrow shows the notebook"
wid=$(window_of "tour") && pass "the notebook's window title" || fail "the notebook's window title"
check "the notebook's window has its content size (1100x900)" test "$(size_of "$wid")" = 1100x900
check "the notebook's cells are laid out" test "$(state "$ready" "s['cells']")" -gt 3
check "the notebook's diagram is drawn" test "$(state "$ready" "s['diagrams']")" -ge 1
sleep 0.5
import -window "$wid" "$shots/panel-notebook-light.png"
press "$wid" Left
shown_twice() { for _ in $(seq 300); do [ "$(grep -c 'first text item=0' "$log")" -ge 2 ] && return 0; sleep 0.1; done; return 1; }
check "the left arrow goes back" shown_twice
press "$wid" Escape
check "Escape closes the panel" exits_within 10
check "qlmanage exits 0" test "${exit_status:-1}" = 0
check "the console shows no errors" test -z "$(console_problems "$log")"

# --- Dark: GTK_THEME names a dark variant; Space closes.
log=$work/dark.log
GTK_THEME=Adwaita:dark "$qlmanage" -p "$work/docs/Panel Notes.md" "$work/docs/tour.ipynb" 2>"$log" &
qlm_pid=$!
ready=$(wait_for_line "$log" "ready item=0 ") && pass "dark: the Markdown preview becomes ready" || fail "dark: the Markdown preview becomes ready"
check "dark: the page follows the dark appearance" test "$(state "$ready" "s['dark']")" = True
check "dark: the diagram is drawn" test "$(state "$ready" "s['diagrams']")" -ge 1
wid=$(window_of "Panel Notes")
import -window "$wid" "$shots/panel-markdown-dark.png"
press "$wid" Right
wait_for_line "$log" "ready item=1 " >/dev/null
wid=$(window_of "tour")
sleep 0.5
import -window "$wid" "$shots/panel-notebook-dark.png"
press "$wid" space
check "Space closes the panel" exits_within 10
check "dark: the console shows no errors" test -z "$(console_problems "$log")"

# --- A failed preview shows its error in the panel.
log=$work/broken.log
"$qlmanage" -p "$work/docs/broken.ipynb" 2>"$log" &
qlm_pid=$!
ready=$(wait_for_line "$log" "ready item=0 ") && pass "the failed preview's page is ready" || fail "the failed preview's page is ready"
check "the panel shows the error's description" test -n "$(state "$ready" "s['error'].split('broken.ipynb',1)[1]")"
wid=$(window_of "broken.ipynb") && import -window "$wid" "$shots/panel-error-light.png"
press "$wid" Escape
exits_within 10
check "a failed preview makes qlmanage exit 1" test "${exit_status:-0}" = 1

# --- Through the preview server on a private session bus (started on demand).
if command -v dbus-run-session >/dev/null; then
  "$build_dir/quicklookd" --install >/dev/null
  log=$work/server.log
  LUMIVALE_PANEL_PROBE=exit-after-ready dbus-run-session -- bash -c '
    "$1" -v -p "$2" 2>"$3"; status=$?
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:com.lumivale.quicklook.PreviewService 2>/dev/null |
      grep -q "boolean true" && echo "server was running" >>"$3"
    "$1" -r; exit $status' _ "$qlmanage" "$work/docs/Panel Notes.md" "$log" "$build_dir" 2>/dev/null
  check "through the server: the panel shows the preview" grep -q "ready item=0 .*\"diagrams\":1" "$log"
  check "through the server: the server was started on demand" grep -q "server was running" "$log"
  check "through the server: no fallback to running the extension here" bash -c "! grep -q 'without the preview server' '$log'"
  check "through the server: the console shows no errors" test -z "$(console_problems "$log")"
fi

check "no request reached the loopback server" test ! -s "$work/requests.log"
[ -s "$work/requests.log" ] && cat "$work/requests.log"
if [ "$failures" -gt 0 ]; then
  echo "--- panel logs"; cat "$work"/*.log
  exit 1
fi
echo "all panel checks passed; screenshots in $shots"
