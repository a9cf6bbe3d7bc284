#!/usr/bin/env bash
# The preview server's life on a private session bus: started on demand through its activation
# file, extension processes kept warm under it, a crashed extension replaced, reset (with and
# without its cache, requests in flight failing cleanly), replies made afresh when an image beside
# the document changes, its exit when idle, its end when told to (SIGTERM), and its extensions
# ending when it is killed.
# usage: server_lifecycle.sh BUILD_DIR   (runs itself under dbus-run-session)
set -uo pipefail
build=$(cd "$1" && pwd)
source "$(dirname "$0")/bus_services.sh"
if [ -z "${LUMIVALE_IN_TEST_BUS:-}" ]; then
  command -v dbus-run-session >/dev/null || { echo "SKIP: dbus-run-session is not installed"; exit 77; }
  home=$(mktemp -d)
  trap 'rm -rf "$home"' EXIT
  # The bus reads the activation files and hands its environment to what it starts.
  export XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache
  "$build/quicklookd" --install >/dev/null || exit 1
  # Files are previewed by the registered extensions, as for a user.
  "$build/lsregister" -f -R -trusted "$build/Lumivale Quick Look.app" >/dev/null || exit 1
  LUMIVALE_QUICKLOOKD_IDLE_TIMEOUT=10 LUMIVALE_IN_TEST_BUS=$home \
    dbus-run-session -- bash "$0" "$build"
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

# The server is the process owning the service name on this bus, never one of another test's.
server_pid() { bus_owner_pid com.lumivale.quicklook.PreviewService; }
extension_pid() {
  local server; server=$(server_pid)
  [ -n "$server" ] && pgrep -P "$server" -f "^$build/Lumivale Quick Look.app/Contents/PlugIns/$1.appex/" | head -1
}
parent_of() { ps -o ppid= -p "$1" | tr -d ' '; }
gone_within() { for _ in $(seq $(($2 * 10))); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done; return 1; }

docs=$home/docs
mkdir -p "$docs"
printf '# Notes\n\nSome *text*.\n' > "$docs/notes.md"
printf '# Other\n\nMore text.\n' > "$docs/other.md"

check "no server runs before the first request" test -z "$(server_pid)"
check "a preview through the bus succeeds" "$qlmanage" -o "$home/out" "$docs/notes.md"
check "the preview folder is written" test -s "$home/out/notes.md.qlpreview/Preview.html"
server=$(server_pid)
check "the bus started the server" test -n "$server"
markdown=$(extension_pid MarkdownLens)
check "the extension runs under the server, not under qlmanage" test "$(parent_of "$markdown")" = "$server"

"$qlmanage" -o "$home/out" "$docs/other.md"
check "the next request reuses the warm extension process" test "$(extension_pid MarkdownLens)" = "$markdown"

# Cached replies: with the extension stopped, an unchanged document is still answered.
kill -STOP "$markdown"
check "an unchanged document is answered from the cache" timeout 5 "$qlmanage" -o "$home/out" "$docs/notes.md"
kill -CONT "$markdown"

# A crashed extension is replaced for the next request; the server stays.
kill -SEGV "$markdown"
gone_within "$markdown" 5
printf '# Changed\n' >> "$docs/other.md"
check "after a crash the next request succeeds" "$qlmanage" -o "$home/out" "$docs/other.md"
check "the crashed extension was replaced" test -n "$(extension_pid MarkdownLens)" -a "$(extension_pid MarkdownLens)" != "$markdown"
check "the server survived the crash" test "$(server_pid)" = "$server"

# Reset: the extension processes end; cached replies stay unless "cache" is asked for.
markdown=$(extension_pid MarkdownLens)
check "qlmanage -r succeeds" "$qlmanage" -r
check "the reset ended the extension process" gone_within "$markdown" 5
"$qlmanage" -o "$home/out" "$docs/notes.md"
check "after -r, cached replies are still served (no extension started)" test -z "$(extension_pid MarkdownLens)"
check "qlmanage -r cache succeeds" "$qlmanage" -r cache
"$qlmanage" -o "$home/out" "$docs/notes.md"
check "after -r cache, the document is previewed again by a new extension" test -n "$(extension_pid MarkdownLens)"
check "the server stays through resets" test "$(server_pid)" = "$server"

# A request in flight when the server is reset fails cleanly, with a message.
python3 - "$docs/big.md" <<'PY'
import sys
with open(sys.argv[1], 'w') as f:
    for i in range(60000):
        f.write(f"## Section {i}\n\nA paragraph with `code`, *emphasis* and a [link](#s{i}).\n\n")
PY
"$qlmanage" -o "$home/out" "$docs/big.md" 2>"$home/inflight.log" &
inflight=$!
for _ in $(seq 100); do [ -n "$(extension_pid MarkdownLens)" ] && break; sleep 0.02; done
sleep 0.05
if kill -0 "$inflight" 2>/dev/null; then
  "$qlmanage" -r
  wait "$inflight"
  status=$?
  if [ "$status" -ne 0 ]; then
    check "the request in flight fails with a clear message" grep -q "the preview service was reset" "$home/inflight.log"
    check "a failed request writes no preview folder" test ! -e "$home/out/big.md.qlpreview"
  else
    echo "skip - the request in flight finished before the reset"
  fi
else
  echo "skip - the request in flight finished before the reset"
fi
check "the server answers after a reset in flight" "$qlmanage" -o "$home/out" "$docs/other.md"

# Told to end (SIGTERM), the server gives up its name at once (the next request starts a new
# server rather than waiting on one on its way out), answers the request in flight, then leaves.
server=$(server_pid)
markdown=$(extension_pid MarkdownLens)
printf '# Ending\n' > "$docs/ending.md"
kill -STOP "$markdown" # holds the request in flight
"$qlmanage" -v -o "$home/out" "$docs/ending.md" 2>"$home/ending.log" &
inflight=$!
sleep 0.5
kill -TERM "$server"
check "a request straight after the server was told to end succeeds" \
  timeout 20 "$qlmanage" -o "$home/out" "$docs/notes.md"
check "  served by a new server" test -n "$(server_pid)" -a "$(server_pid)" != "$server"
running() { local state; state=$(ps -o stat= -p "$1" 2>/dev/null); [ -n "$state" ] && [[ $state != Z* ]]; }
check "the server told to end stays while its request is in flight" running "$server"
kill -CONT "$markdown"
wait "$inflight"
check "the request in flight is still answered" test $? = 0
check "  by the server told to end" bash -c "! grep -q 'without the preview server' '$home/ending.log'"
check "  in full" grep -q Ending "$home/out/ending.md.qlpreview/Preview.html"
check "then that server quits" gone_within "$server" 10
check "  and its extension with it" gone_within "$markdown" 5

# An image beside a Markdown document travels inside its reply: editing the image (same size,
# same document) or adding one the document names must not be answered from the cache.
printf '![pic](pic.bin) ![later](later.bin)\n' > "$docs/pictured.md"
printf 'AAAA' > "$docs/pic.bin"
attachments() { cat "$home/out/pictured.md.qlpreview"/lumivale-asset-* 2>/dev/null; }
"$qlmanage" -o "$home/out" "$docs/pictured.md"
check "the image travels with the reply" test "$(attachments)" = AAAA
printf 'BBBB' > "$docs/pic.bin"
"$qlmanage" -o "$home/out" "$docs/pictured.md"
check "an edited image beside the document is not answered from the cache" test "$(attachments)" = BBBB
printf 'CC' > "$docs/later.bin"
"$qlmanage" -o "$home/out" "$docs/pictured.md"
check "an image that appeared beside the document is not answered from the cache" test "$(attachments)" = BBBBCC
markdown=$(extension_pid MarkdownLens)
kill -STOP "$markdown"
check "with nothing changed, the reply comes from the cache again" timeout 5 "$qlmanage" -o "$home/out" "$docs/pictured.md"
kill -CONT "$markdown"

# Without the bus, qlmanage works on its own.
check "without a session bus qlmanage previews on its own" \
  env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR=/nonexistent "$qlmanage" -o "$home/alone" "$docs/notes.md"

# Idle: the server (and its extensions) leave a few seconds after the last request. (The time-out
# is long enough that the server stays through the steps above on a busy machine.)
server=$(server_pid)
markdown=$(extension_pid MarkdownLens)
check "a server and an extension are running before the idle time" test -n "$server" -a -n "$markdown"
check "the idle server exits" gone_within "$server" 30
check "its extension processes end with it" gone_within "$markdown" 5
check "a new request starts the server again" "$qlmanage" -o "$home/out" "$docs/notes.md"
check "a new server is running" test -n "$(server_pid)" -a "$(server_pid)" != "$server"

# A server killed outright takes its extensions with it, even one stuck on a request.
server=$(server_pid)
markdown=$(extension_pid MarkdownLens)
kill -STOP "$markdown"
printf '# Stuck\n' > "$docs/stuck.md"
"$qlmanage" -o "$home/out" "$docs/stuck.md" >/dev/null 2>&1 &
stuck=$!
sleep 0.5
kill -KILL "$server"
check "a hung extension ends when its server is killed" gone_within "$markdown" 5
wait "$stuck" 2>/dev/null
"$qlmanage" -r
# A server still running on this bus must leave with it (checked once it closed).
"$qlmanage" -o "$home/out" "$docs/notes.md" >/dev/null
server=$(server_pid)
check "a server runs at the end" test -n "$server"
echo "$server" > "$home/on-bus.pids"

[ "$failures" -eq 0 ] || exit 1
echo "all server checks passed"
