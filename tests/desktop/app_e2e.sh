#!/usr/bin/env bash
# End-to-end tests of the real "Lumivale Quick Look" executable on an X display (run under
# xvfb-run): a copy of the app bundle whose Info.plist points at recording fake tools, with
# temporary XDG folders, and no session bus unless a test starts one.
# Usage: app_e2e.sh <build dir> <test name>|all [screenshot dir]
set -uo pipefail
build=$(cd "$1" && pwd)
only=${2:-all}
shots=${3:-$build/screenshots}
here=$(cd "$(dirname "$0")" && pwd)
app_src="$build/Lumivale Quick Look.app"
mkdir -p "$shots"

failures=0
pids=()
fail() { echo "FAIL [$current]: $*" >&2; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" || fail "$what"; }

# A fresh world: bundle copy, fake tools, XDG folders. Sets $tmp, $app, $exe, $config.
fresh() {
  tmp=$(mktemp -d /tmp/lumivale-app-e2e.XXXXXX)
  app="$tmp/Apps/Lumivale Quick Look.app"
  mkdir -p "$app/Contents/MacOS" "$tmp/tools" "$tmp/config" "$tmp/data" "$tmp/home" "$tmp/run"
  chmod 700 "$tmp/run"
  cp "$app_src/Contents/MacOS/Lumivale Quick Look" "$app/Contents/MacOS/"
  exe="$app/Contents/MacOS/Lumivale Quick Look"
  for tool in lsregister pluginkit qlmanage; do ln -s "$here/fake_tool.sh" "$tmp/tools/$tool"; done
  sed -e "s#<string>$build/\(lsregister\|pluginkit\|qlmanage\)</string>#<string>$tmp/tools/\1</string>#" \
    "$app_src/Contents/Info.plist" > "$app/Contents/Info.plist"
  config="$tmp/config"
  export XDG_CONFIG_HOME="$config" XDG_DATA_HOME="$tmp/data" XDG_RUNTIME_DIR="$tmp/run" \
    HOME="$tmp/home" FAKE_TOOL_LOG="$tmp/tools.log" QT_QPA_PLATFORM=xcb
  unset DBUS_SESSION_BUS_ADDRESS LUMIVALE_QL_REGISTER_AND_QUIT LUMIVALE_QL_SHOW_SETUP \
    FAKE_TOOL_FAIL FAKE_TOOL_FAIL_OUTPUT FAKE_TOOL_DELAY FAKE_TOOL_WINDOWS_LOG GTK_THEME
  export FAKE_TOOL_LISTING=$'+    com.lumivale.quicklook.markdown(1.0)\n+    com.lumivale.quicklook.notebook(1.0)\n'
  : > "$FAKE_TOOL_LOG"
}

set_info() { # key value: replaces a string value of the copied Info.plist
  python3 - "$app/Contents/Info.plist" "$1" "$2" <<'PY'
import sys, re
path, key, value = sys.argv[1:]
text = open(path).read()
text = re.sub(r'(<key>%s</key>\s*<string>)[^<]*(</string>)' % re.escape(key),
              lambda m: m.group(1) + value + m.group(2), text)
open(path, 'w').write(text)
PY
}

store_setup_flag() {
  mkdir -p "$config/lumivale"
  cat > "$config/lumivale/com.lumivale.quicklook.plist" <<'PL'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>com.lumivale.quicklook.didCompleteInitialSetup</key>
	<true/>
</dict>
</plist>
PL
}

flag_stored() {
  python3 - "$config/lumivale/com.lumivale.quicklook.plist" <<'PY'
import plistlib, sys
try:
    data = plistlib.load(open(sys.argv[1], 'rb'))
except Exception:
    sys.exit(1)
sys.exit(0 if data.get('com.lumivale.quicklook.didCompleteInitialSetup') is True else 1)
PY
}

autostart="com.lumivale.quicklook.desktop"
autostart_written() { grep -q -- '--launched-as-login-item' "$config/autostart/$autostart" 2>/dev/null; }

expected_registration() {
  printf '%s\n' "lsregister -f -R -trusted $app" \
    "pluginkit -e ignore -i $(grep -A1 LumivaleForeignSQLitePreviewIdentifier "$app/Contents/Info.plist" | sed -n 's#.*<string>\(.*\)</string>.*#\1#p')" \
    "pluginkit -e use -i com.lumivale.quicklook.markdown" \
    "pluginkit -e use -i com.lumivale.quicklook.notebook" \
    "pluginkit -e use -i com.lumivale.quicklook.tabular" \
    "qlmanage -r" "qlmanage -r cache"
}

start_app() { # [args...]: starts the app in the background, stderr to $tmp/stderr.<n>
  "$exe" "$@" 2>> "$tmp/stderr" &
  app_pid=$!
  pids+=("$app_pid")
}

stop_app() {
  local pid=${1:-$app_pid}
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}

wait_for() { # seconds command...: true as soon as the command succeeds
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.2
  done
}

visible_windows() { xdotool search --onlyvisible --name '^Lumivale Quick Look$' 2>/dev/null; }
window_shown() { [ -n "$(visible_windows)" ]; }
log_lines() { [ "$(wc -l < "$FAKE_TOOL_LOG")" -ge "$1" ]; }
registration_logged() { [ "$(grep -vc '^pluginkit -m' "$FAKE_TOOL_LOG")" -ge 7 ]; }

screenshot() { # name: the application's window
  local id
  id=$(visible_windows | head -1)
  [ -n "$id" ] || { fail "no window to photograph for $1"; return; }
  sleep 0.6
  import -window "$id" "$shots/$1.png" 2>/dev/null || fail "screenshot $1"
}

window_size() { xwininfo -id "$(visible_windows | head -1)" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}'; }

# ---------------------------------------------------------------------------------------------

t_register_and_quit() {
  fresh
  export FAKE_TOOL_WINDOWS_LOG="$tmp/windows.log"
  LUMIVALE_QL_REGISTER_AND_QUIT=1 timeout 30 "$exe" 2> "$tmp/stderr"
  check "exits with status 0" [ $? -eq 0 ]
  check "the seven command lines in order" diff <(expected_registration) "$FAKE_TOOL_LOG"
  check "the setup flag is stored" flag_stored
  check "the autostart entry is written" autostart_written
  check "no window while registering" [ -z "$(awk '$NF != 0' "$tmp/windows.log")" ]
  check "updates are off, said once" [ "$(grep -c 'Sparkle updates are disabled until LUMIVALE_SPARKLE_FEED_URL points to a real appcast URL.' "$tmp/stderr")" = 1 ]
}

t_register_and_quit_failing() {
  fresh
  export FAKE_TOOL_FAIL="qlmanage -r" FAKE_TOOL_FAIL_OUTPUT=$'\n  100% done %s %n\n\n'
  LUMIVALE_QL_REGISTER_AND_QUIT=1 timeout 30 "$exe" 2> "$tmp/stderr"
  check "exits with status 0" [ $? -eq 0 ]
  check "stops after qlmanage -r" diff <(expected_registration | head -6) "$FAKE_TOOL_LOG"
  check "one literal log line" grep -qF "] Lumivale Quick Look registration failed: $tmp/tools/qlmanage -r exited with status 1: 100% done %s %n" "$tmp/stderr"
  check "nothing stored" bash -c "! [ -e '$config/lumivale/com.lumivale.quicklook.plist' ] || ! grep -q didCompleteInitialSetup '$config/lumivale/com.lumivale.quicklook.plist'"
  check "launch at login untouched" [ ! -e "$config/autostart/$autostart" ]
}

t_register_and_quit_other_values() {
  fresh
  store_setup_flag
  LUMIVALE_QL_REGISTER_AND_QUIT=true start_app
  check "LUMIVALE_QL_REGISTER_AND_QUIT=true is an ordinary launch" wait_for 20 window_shown
  stop_app
}

t_setup() {
  fresh
  export FAKE_TOOL_DELAY="lsregister -f -R -trusted $app=4"
  start_app
  check "the setup window appears" wait_for 20 window_shown
  check "no autostart entry before registration" [ ! -e "$config/autostart/$autostart" ]
  check "the setup window is 560x320" [ "$(window_size)" = 560x320 ]
  screenshot setup-working-light
  check "registration ends" wait_for 30 registration_logged
  check "the setup flag is stored" wait_for 10 flag_stored
  check "the autostart entry is written" wait_for 10 autostart_written
  screenshot setup-ready-light
  check "one window only (no status window)" [ "$(visible_windows | wc -l)" = 1 ]
  xdotool key --window "$(visible_windows | head -1)" Return 2>/dev/null
  check "Return closes the setup window" wait_for 10 bash -c '! xdotool search --onlyvisible --name "^Lumivale Quick Look$" >/dev/null 2>&1'
  check "the process stays" kill -0 "$app_pid"
  stop_app
}

t_setup_needs_attention() {
  fresh
  export FAKE_TOOL_FAIL="qlmanage -r" GTK_THEME=${GTK_THEME_FOR_TEST:-}
  start_app
  check "the setup window appears" wait_for 20 window_shown
  check "registration ends" wait_for 30 log_lines 6
  sleep 0.5
  screenshot "setup-needs-attention-${shot_theme:-light}"
  check "nothing stored" bash -c "! grep -qs didCompleteInitialSetup '$config/lumivale/com.lumivale.quicklook.plist'"
  stop_app
}

t_setup_as_login_item() {
  fresh
  start_app --launched-as-login-item
  check "the setup window appears at a login-item launch" wait_for 20 window_shown
  check "registration ends" wait_for 30 registration_logged
  stop_app
}

t_normal() {
  fresh
  store_setup_flag
  start_app
  check "the status window appears" wait_for 20 window_shown
  check "the status window is 500x310" [ "$(window_size)" = 500x310 ]
  check "registration runs again" wait_for 30 registration_logged
  check "the extensions are queried" grep -q '^pluginkit -m -p com.apple.quicklook.preview$' "$FAKE_TOOL_LOG"
  check "the autostart entry is written" wait_for 10 autostart_written
  sleep 0.5
  screenshot "status-${shot_theme:-light}"
  stop_app
}

t_login_item() {
  fresh
  store_setup_flag
  # The entry as the desktop would run it.
  start_app
  wait_for 20 autostart_written
  stop_app
  : > "$FAKE_TOOL_LOG"
  exec_line=$(sed -n 's/^Exec=//p' "$config/autostart/$autostart")
  eval "$exec_line" 2>> "$tmp/stderr" &
  app_pid=$!
  pids+=("$app_pid")
  check "registration runs at a login-item launch" wait_for 30 registration_logged
  sleep 1
  check "no window at a login-item launch" bash -c '! xdotool search --onlyvisible --name "^Lumivale Quick Look$" >/dev/null 2>&1'
  check "no extension query (no status window)" bash -c "! grep -q '^pluginkit -m' '$FAKE_TOOL_LOG'"
  check "still running" kill -0 "$app_pid"
  # A second launch brings up the status window of the running instance.
  timeout 20 "$exe" 2>> "$tmp/stderr"
  check "the second launch exits with status 0" [ $? -eq 0 ]
  check "the running instance shows its status window" wait_for 20 window_shown
  stop_app
}

t_second_launch_on_bus() {
  fresh
  store_setup_flag
  dbus-run-session -- bash -c '
    "$1" --launched-as-login-item 2>>"$2/stderr" & first=$!
    sleep 3
    timeout 20 "$1" 2>>"$2/stderr"; status=$?
    for i in $(seq 50); do
      xdotool search --onlyvisible --name "^Lumivale Quick Look$" >/dev/null 2>&1 && break
      sleep 0.2
    done
    xdotool search --onlyvisible --name "^Lumivale Quick Look$" >/dev/null 2>&1; shown=$?
    kill $first; wait $first 2>/dev/null
    echo "$status $shown" > "$2/bus-result"' _ "$exe" "$tmp"
  check "on the session bus: second launch exits 0 and the first shows its window" [ "$(cat "$tmp/bus-result" 2>/dev/null)" = "0 0" ]
}

t_show_setup_again() {
  fresh
  store_setup_flag
  LUMIVALE_QL_SHOW_SETUP=1 start_app
  check "the setup window appears again" wait_for 20 window_shown
  check "registration ends" wait_for 30 registration_logged
  check "no extension query (no status window)" bash -c "! grep -q '^pluginkit -m' '$FAKE_TOOL_LOG'"
  stop_app
}

t_dark() {
  export GTK_THEME_FOR_TEST=Adwaita:dark shot_theme=dark
  fresh; export GTK_THEME=Adwaita:dark
  store_setup_flag
  start_app
  check "dark: the status window appears" wait_for 20 window_shown
  wait_for 30 registration_logged
  sleep 1
  screenshot status-dark
  stop_app
  fresh; export GTK_THEME=Adwaita:dark FAKE_TOOL_DELAY="lsregister -f -R -trusted $app=3"
  start_app
  wait_for 20 window_shown
  screenshot setup-working-dark
  wait_for 30 flag_stored
  sleep 0.5
  screenshot setup-ready-dark
  stop_app
  t_setup_needs_attention
  unset GTK_THEME_FOR_TEST shot_theme
}

t_updates_on() {
  fresh
  store_setup_flag
  mkdir -p "$tmp/feed"
  cat > "$tmp/feed/appcast.xml" <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
  <channel><title>Lumivale Quick Look</title></channel>
</rss>
XML
  python3 - "$tmp/feed" > "$tmp/feed.port" 2> "$tmp/feed.log" <<'PY' &
import http.server, socketserver, sys, time, os
os.chdir(sys.argv[1])
class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, fmt, *args):
        sys.stderr.write("%.3f %s\n" % (time.time(), self.path)); sys.stderr.flush()
with socketserver.TCPServer(("127.0.0.1", 0), Handler) as server:
    print(server.server_address[1], flush=True)
    server.serve_forever()
PY
  local server=$!
  pids+=("$server")
  wait_for 10 test -s "$tmp/feed.port"
  set_info SUFeedURL "http://127.0.0.1:$(cat "$tmp/feed.port")/appcast.xml"
  set_info SUPublicEDKey "$(python3 -c 'import base64; print(base64.b64encode(bytes(range(32))).decode())')"
  local started
  started=$(date +%s.%N)
  start_app
  check "the status window appears" wait_for 20 window_shown
  check "the feed is fetched" wait_for 20 grep -q appcast.xml "$tmp/feed.log"
  local first
  first=$(awk '/appcast.xml/{print $1; exit}' "$tmp/feed.log")
  check "the background check starts 5 s after start-up (took $(python3 -c "print(round($first - $started, 2))") s)" \
    python3 -c "import sys; sys.exit(0 if 4.5 <= $first - $started <= 20 else 1)"
  check "no 'updates are disabled' line" bash -c "! grep -q 'Sparkle updates are disabled' '$tmp/stderr'"
  sleep 0.5
  screenshot status-updates-on-light
  stop_app
  kill "$server" 2>/dev/null
}

tests=(register_and_quit register_and_quit_failing register_and_quit_other_values setup
       setup_needs_attention setup_as_login_item normal login_item second_launch_on_bus
       show_setup_again dark updates_on)
for name in "${tests[@]}"; do
  [ "$only" = all ] || [ "$only" = "$name" ] || continue
  current=$name
  echo "== $name"
  "t_$name"
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  pids=()
  if [ $failures -gt 0 ] && [ -n "${tmp:-}" ]; then
    echo "-- stderr of $name:" >&2; cat "$tmp/stderr" >&2 2>/dev/null
    echo "-- tools:" >&2; cat "$FAKE_TOOL_LOG" >&2
  fi
  # Folders of passing cases go; a failing case's stay for a look.
  [ $failures -eq 0 ] && [ -n "${tmp:-}" ] && rm -rf "$tmp"
done
[ $failures -eq 0 ] && echo "all passed" || { echo "$failures failed" >&2; exit 1; }
