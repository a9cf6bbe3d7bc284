#!/usr/bin/env bash
# From `qlmanage -p FILE` to the first screen of text in the preview panel, for a small README,
# a README with a diagram and a 20 MB notebook:
#   cold    neither the preview server nor the panel agent running: the bus starts both, the
#           server starts the extension, the agent its web engine;
#   warm    the server (with its extension process) and the agent (with its pre-warmed web
#           view) running, the document changed since (so the reply is made afresh);
#   cached  as warm, with the unchanged document's reply in the server's cache;
#   next    as warm, right after another warm run whose panel closed at its first text (the
#           user going on to the next file): the agent, rested before the first, is then making
#           its next spare panel;
#   alone   no session bus: qlmanage runs the extension and the web engine itself.
# Every run starts qlmanage afresh. The panel's probe reports the wall-clock time at which the
# first frame that holds the page's text was painted (taken in the task right after that frame,
# as the page benchmark takes it, so that the diagram library the page starts after its first
# paint does not count); the figure is that time minus the moment qlmanage was started. For the
# last warm run of each document the panel's timeline is shown too: request at the agent, panel
# made, reply there, page load started and finished, next spare panel scheduled; for the last
# next run too.
#
#   bench/panel_bench.sh [BUILD_DIR] [RUNS] [DOCUMENT...]
#     RUNS per figure, default 5; the median is shown. DOCUMENTs: some of README.md,
#     README-diagram.md and notebook-20mb.ipynb (default all). LUMIVALE_PANEL_BENCH_MODES: some
#     of "cold warm cached next alone" (default all; a warm run needs no cold one before it).
#
# Runs under its own X server (xvfb-run) and its own session bus (dbus-run-session).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
runs=${2:-5}
shift $(($# > 2 ? 2 : $#))
documents=("$@")
[ ${#documents[@]} -gt 0 ] || documents=(README.md README-diagram.md notebook-20mb.ipynb)
modes=${LUMIVALE_PANEL_BENCH_MODES:-cold warm cached next alone}
if [ -z "${LUMIVALE_PANEL_BENCH_INSIDE:-}" ]; then
  for tool in xvfb-run dbus-run-session python3; do
    command -v $tool >/dev/null || { echo "missing $tool" >&2; exit 1; }
  done
  home=$(mktemp -d)
  trap 'rm -rf "$home"' EXIT
  XDG_DATA_HOME=$home/data "$build/quicklookd" --install >/dev/null
  XDG_DATA_HOME=$home/data "$build/qlpanelagent" --install >/dev/null
  echo "load: $(uptime)"
  # Exported before the bus starts, so that the panel agent it starts has them too.
  export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
  XDG_DATA_HOME=$home/data LUMIVALE_PANEL_BENCH_INSIDE=$home \
    xvfb-run -a -s "-screen 0 1600x1200x24" dbus-run-session -- bash "$0" "$build" "$runs" "${documents[@]}" 2>/dev/null
  exit $?
fi
home=$LUMIVALE_PANEL_BENCH_INSIDE
qlmanage=$build/qlmanage
app="$build/Lumivale Quick Look.app"
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
export LUMIVALE_PANEL_PROBE=exit-after-first-text

docs=$home/docs
mkdir -p "$docs"
cat > "$docs/README.md" <<'MD'
# Sample project

A small library that does one thing well. It reads a configuration file, checks it, and
prints a report of what it found.

## Installation

```sh
make && sudo make install
```

## Usage

Run `sample --check config.toml` to check a file. Options:

| option | meaning |
|---|---|
| `--check FILE` | check FILE and report problems |
| `--quiet` | print only errors |

## License

MIT
MD
cp "$docs/README.md" "$docs/README-diagram.md"
cat >> "$docs/README-diagram.md" <<'MD'

## How it works

```mermaid
flowchart LR
  Read[Read the file] --> Parse --> Check{Valid?}
  Check -- yes --> Report
  Check -- no --> Errors[List the errors]
```
MD
python3 - "$here" "$docs/notebook-20mb.ipynb" <<'PY'
import json, random, sys
sys.path.insert(0, sys.argv[1])
import make_notebooks
with open(sys.argv[2], "w", encoding="utf-8") as f:
    json.dump(make_notebooks.image_notebook(20 * make_notebooks.MB, random.Random(7)), f, indent=1)
PY

server_pids() { pgrep -f "^$build/(quicklookd|qlpanelagent)" || true; }
stop_server() {
  local pid
  for pid in $(server_pids); do kill "$pid"; done
  for _ in $(seq 100); do [ -z "$(server_pids)" ] && return; sleep 0.05; done
}
# One run: milliseconds from start to first text.
first_text_ms() {
  local start log=$home/run.log
  start=$(date +%s%3N)
  "$@" 2>"$log" >/dev/null || true
  local at
  at=$(sed -n 's/.*first text item=0 at=\([0-9]*\).*/\1/p' "$log" | head -1)
  [ -n "$at" ] || { echo "no first text: $*" >&2; cat "$log" >&2; echo NaN; return; }
  # A run meant for the agent that qlmanage showed itself measures something else: counted.
  [ "$via" != agent ] || grep -q "timeline agent" "$log" || echo "$*" >>"$home/not-by-agent"
  # Where the time went, for the last run of each kind.
  sed -n 's/.*timeline \([a-z-]*\) at=\([0-9]*\).*/\1 \2/p' "$log" |
    awk -v s="$start" -v t="$at" '{printf "%s +%d  ", $1, $2 - s} END {printf "first-text +%d", t - s}' >"$home/breakdown"
  echo $((at - start))
}
median() { local values; values=$(cat); [ "$values" != - ] || { echo -; return; }; echo "$values" | sort -n | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else print int((a[NR/2]+a[NR/2+1])/2)}'; }

printf '%-22s %10s %10s %10s %10s %10s\n' "document" "cold" "warm" "cached" "next" "alone"
wanted() { [[ " $modes " == *" $1 "* ]]; }
for doc in "${documents[@]}"; do
  file=$docs/$doc
  via=agent
  rm -f "$home/not-by-agent"
  [ -f "$file" ] || { echo "no such document: $doc" >&2; exit 2; }
  cold=(-) warm=(-) cached=(-) next=(-) alone=(-) warm_breakdown= next_breakdown=
  # Without cold runs, one unmeasured run starts the services.
  wanted cold || first_text_ms "$qlmanage" -p --app "$app" "$file" >/dev/null
  for ((i = 0; i < runs; i++)); do
    if wanted cold; then
      [ "$i" -gt 0 ] || cold=()
      stop_server
      touch "$file"
      cold+=("$(first_text_ms "$qlmanage" -p --app "$app" "$file")")
    fi
    if wanted warm; then
      [ "$i" -gt 0 ] || warm=()
      touch "$file"
      warm+=("$(first_text_ms "$qlmanage" -p --app "$app" "$file")")
      warm_breakdown=$(cat "$home/breakdown")
    fi
    if wanted cached; then
      [ "$i" -gt 0 ] || cached=()
      cached+=("$(first_text_ms "$qlmanage" -p --app "$app" "$file")")
    fi
    if wanted next; then
      [ "$i" -gt 0 ] || next=()
      sleep 2 # the agent rests: its spare panel is made
      touch "$file"
      first_text_ms "$qlmanage" -p --app "$app" "$file" >/dev/null
      touch "$file"
      next+=("$(first_text_ms "$qlmanage" -p --app "$app" "$file")")
      next_breakdown=$(cat "$home/breakdown")
    fi
    if wanted alone; then
      [ "$i" -gt 0 ] || alone=()
      via=own
      alone+=("$(first_text_ms env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR=/nonexistent "$qlmanage" -p --app "$app" "$file")")
      via=agent
    fi
  done
  printf '%-22s %8s ms %7s ms %7s ms %7s ms %7s ms\n' "$doc ($(( $(stat -c %s "$file") / 1024 )) KB)" \
    "$(printf '%s\n' "${cold[@]}" | median)" "$(printf '%s\n' "${warm[@]}" | median)" \
    "$(printf '%s\n' "${cached[@]}" | median)" "$(printf '%s\n' "${next[@]}" | median)" \
    "$(printf '%s\n' "${alone[@]}" | median)"
  [ -z "$warm_breakdown" ] || printf '    last warm run (ms after start): %s\n' "$warm_breakdown"
  [ -z "$next_breakdown" ] || printf '    last next run (ms after start): %s\n' "$next_breakdown"
  [ ! -s "$home/not-by-agent" ] ||
    printf '    %d runs meant for the panel agent were shown by qlmanage itself\n' \
      "$(wc -l <"$home/not-by-agent")"
done
stop_server
echo "load: $(uptime)"
