#!/usr/bin/env bash
# The panel agent on a real X server and a private session bus: started on demand by the first
# `qlmanage -p`, the next ones served by the same (warm) agent, several at once each in a panel
# of their own, a failed preview still failing the call, a caller that goes away taking its panel
# along, `qlmanage -r` closing it, SIGTERM ending it, its exit when idle, and `qlmanage -p`
# showing the panel itself without a bus, for another appearance, and when the agent cannot
# start.
# usage: panel_agent.sh BUILD_DIR   (runs itself under xvfb-run and dbus-run-session)
set -uo pipefail
build=$(cd "$1" && pwd)
source "$(dirname "$0")/bus_services.sh"
if [ -z "${LUMIVALE_IN_TEST_BUS:-}" ]; then
  for tool in xvfb-run dbus-run-session xdotool python3; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  home=$(mktemp -d)
  trap 'rm -rf "$home"' EXIT
  # The bus reads the activation files and hands its environment to what it starts.
  export XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache
  export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
  unset GTK_THEME
  # lsregister installs the activation files of the preview server and of the panel agent.
  "$build/lsregister" -f -R -trusted "$build/Lumivale Quick Look.app" >/dev/null || exit 1
  test -s "$XDG_DATA_HOME/dbus-1/services/com.lumivale.quicklook.PanelAgent.service" ||
    { echo "FAIL - lsregister installs the panel agent's activation file"; exit 1; }
  LUMIVALE_PANEL_AGENT_IDLE_TIMEOUT=10 LUMIVALE_IN_TEST_BUS=$home \
    xvfb-run -a -s "-screen 0 1600x1200x24" dbus-run-session -- bash "$0" "$build"
  status=$?
  services_left_with_bus "$home/on-bus.pids" || status=1
  exit $status
fi
home=$LUMIVALE_IN_TEST_BUS
qlmanage=$build/qlmanage
failures=0
pass() { echo "ok   - $1"; }
fail() { echo "FAIL - $1"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
# The agent is the process owning its name on this bus, never one of another test's.
agent_pid() { bus_owner_pid com.lumivale.quicklook.PanelAgent; }
gone_within() { for _ in $(seq $(($2 * 10))); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done; return 1; }
line_within() { # $1 log, $2 pattern, $3 seconds
  for _ in $(seq $(($3 * 10))); do grep -q -E "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done; return 1
}
window_gone() { for _ in $(seq 50); do xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0; sleep 0.1; done; return 1; }

docs=$home/docs
mkdir -p "$docs"
printf '# First\n\nSome *text*.\n' > "$docs/first.md"
printf '# Second\n\nMore text.\n' > "$docs/second.md"
printf '# Third\n\nYet more.\n' > "$docs/third.md"
printf '{"cells": [ this is not JSON' > "$docs/broken.ipynb"
show() { # $1 log, then files; the panel closes once its page is ready
  local log=$1; shift
  LUMIVALE_PANEL_PROBE=exit-after-ready timeout 120 "$qlmanage" -v -p "$@" 2>"$log"
}
by_agent() { grep -q "timeline agent" "$1" && ! grep -q "without the panel agent" "$1"; }

check "no agent runs before the first panel" test -z "$(agent_pid)"
check "the first panel succeeds" show "$home/1.log" "$docs/first.md"
check "its page was shown" grep -q 'ready item=0 .*"text":"First' "$home/1.log"
check "the bus started the agent, which showed it" by_agent "$home/1.log"
agent=$(agent_pid)
check "the agent keeps running after its panel closed" test -n "$agent"

check "the second panel succeeds" show "$home/2.log" "$docs/second.md"
check "the second panel is shown by the same, warm agent" test "$(agent_pid)" = "$agent"
check "the second panel's page was shown by the agent" by_agent "$home/2.log"
check "its page is the second document" grep -q 'ready item=0 .*"text":"Second' "$home/2.log"

# The agent's next spare panel (a render process of its own starting) is begun only once the
# new panel's own page has loaded, never while that page is still loading: not on the load of the
# empty page the spare was warmed up with. Order, from the panel's timeline: the spare is
# scheduled after the document's page began loading.
spare_after_page() {
  awk '/timeline url-set/ {asked = 1} asked && /timeline load-started/ {started = 1}
       /timeline spare-scheduled/ {ok = started} END {exit !ok}' "$1"
}
sleep 2 # the agent's spare panel is made
LUMIVALE_PANEL_PROBE=report "$qlmanage" -p "$docs/first.md" 2>"$home/spare.log" &
caller=$!
line_within "$home/spare.log" "timeline spare-scheduled" 30
check "the next spare panel is begun only after the new panel's own page has loaded" \
  spare_after_page "$home/spare.log"
kill -KILL $caller
wait $caller 2>/dev/null
check "  and the panel then closes with its caller" window_gone First
# The next document straight after one closed, while the agent makes its next spare: the request
# takes what has been made.
show "$home/rested.log" "$docs/first.md" && show "$home/next.log" "$docs/second.md"
check "the next panel straight after another succeeds" grep -q 'ready item=0 .*"text":"Second' "$home/next.log"

# Several at once: each caller gets its own panel and its own answer.
show "$home/a.log" "$docs/first.md" & a=$!
show "$home/b.log" "$docs/third.md" & b=$!
wait $a; status_a=$?
wait $b; status_b=$?
check "two panels at once both succeed" test "$status_a" = 0 -a "$status_b" = 0
check "each shows its own document" \
  bash -c "grep -q '\"text\":\"First' '$home/a.log' && grep -q '\"text\":\"Third' '$home/b.log'"
check "both were shown by the one agent" bash -c "grep -q 'timeline agent' '$home/a.log' && grep -q 'timeline agent' '$home/b.log' && test '$(agent_pid)' = '$agent'"

show "$home/broken.log" "$docs/broken.ipynb"
check "a failed preview in the agent's panel makes qlmanage exit 1" test $? = 1
check "its error is shown" grep -q 'ready item=0 .*"error":".\+' "$home/broken.log"

# A caller that goes away takes its panel along.
LUMIVALE_PANEL_PROBE=report "$qlmanage" -p "$docs/second.md" 2>"$home/killed.log" &
caller=$!
line_within "$home/killed.log" "ready item=0" 60
check "the panel of a caller about to go is open" bash -c "xdotool search --onlyvisible --name '^Second$' >/dev/null"
kill -KILL $caller
wait $caller 2>/dev/null
check "the panel closes when its caller is killed" window_gone Second
check "the agent stays" test "$(agent_pid)" = "$agent"

# qlmanage -r closes the open panels (their callers return) and the agent.
LUMIVALE_PANEL_PROBE=report "$qlmanage" -p "$docs/first.md" 2>"$home/reset.log" &
caller=$!
line_within "$home/reset.log" "ready item=0" 60
check "qlmanage -r succeeds with a panel open" "$qlmanage" -r -q
check "the open panel's qlmanage returns, successfully" bash -c "for _ in \$(seq 100); do kill -0 $caller 2>/dev/null || exit 0; sleep 0.1; done; exit 1"
wait $caller
check "its exit status is 0" test $? = 0
check "the agent has quit" gone_within "$agent" 10

# Without the bus, with another appearance, or with an agent that cannot start, qlmanage shows
# the panel itself.
check "without a session bus the panel is shown by qlmanage itself" \
  env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR=/nonexistent LUMIVALE_PANEL_PROBE=exit-after-ready \
  "$qlmanage" -v -p "$docs/first.md" 2>"$home/alone.log"
check "  and its page was shown" grep -q 'ready item=0 .*"text":"First' "$home/alone.log"
check "  and no agent was asked" bash -c "! grep -q 'timeline agent' '$home/alone.log'"
check "the panel agent starts again on demand" show "$home/3.log" "$docs/first.md"
agent=$(agent_pid)
check "  a new agent" test -n "$agent"

# Told to end (SIGTERM), the agent gives up its name at once and closes its panels, whose callers
# return as on qlmanage -r. Until then it is a process on its way out whose name the bus still
# routes to: a qlmanage started straight after would get no answer from it, and a caller whose
# panel it took along would show that panel again by itself.
LUMIVALE_PANEL_PROBE=report "$qlmanage" -v -p "$docs/first.md" 2>"$home/term.log" &
caller=$!
line_within "$home/term.log" "ready item=0" 60
kill -TERM "$agent"
show "$home/after-term.log" "$docs/second.md"
check "a panel asked for straight after the agent was told to end succeeds" test $? = 0
check "  shown by a new agent" by_agent "$home/after-term.log"
check "  and its page is the document" grep -q 'ready item=0 .*"text":"Second' "$home/after-term.log"
check "the ended agent's open panel's qlmanage returns" gone_within "$caller" 10
kill -KILL "$caller" 2>/dev/null
wait "$caller"
check "  successfully" test $? = 0
check "  without showing the panel again by itself" \
  bash -c "! grep -q 'without the panel agent' '$home/term.log'"
check "the ended agent has quit" gone_within "$agent" 10
agent=$(agent_pid)
check "  and the new one runs on" test -n "$agent"
GTK_THEME=Adwaita:dark LUMIVALE_PANEL_PROBE=exit-after-ready "$qlmanage" -v -p "$docs/first.md" 2>"$home/dark.log"
check "a caller with another appearance shows the panel itself" grep -q "without the panel agent" "$home/dark.log"
check "  in its own appearance" grep -q 'ready item=0 .*"dark":true' "$home/dark.log"

# Idle: the agent leaves a while after its last panel closed.
check "the idle agent exits" gone_within "$agent" 30
service=$XDG_DATA_HOME/dbus-1/services/com.lumivale.quicklook.PanelAgent.service
printf '[D-BUS Service]\nName=com.lumivale.quicklook.PanelAgent\nExec=/bin/false\n' > "$service"
sleep 1 # the bus notices changed activation files on its own
show "$home/broken-agent.log" "$docs/second.md"
check "when the agent cannot start, qlmanage shows the panel itself" test $? = 0
check "  and its page was shown" grep -q 'ready item=0 .*"text":"Second' "$home/broken-agent.log"
"$qlmanage" -r -q
# The preview server still running on this bus must leave with it (checked once it closed).
server=$(bus_owner_pid com.lumivale.quicklook.PreviewService)
check "the preview server is running at the end" test -n "$server"
echo "$server" > "$home/on-bus.pids"

[ "$failures" -eq 0 ] || { echo "--- logs"; tail -n 5 "$home"/*.log; exit 1; }
echo "all panel agent checks passed"
