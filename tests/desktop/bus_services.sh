# Helpers for tests that run the per-user services on a private session bus (sourced).

# The process owning a name on the current session bus (empty if none owns it).
bus_owner_pid() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.GetConnectionUnixProcessID "string:$1" 2>/dev/null | awk '/uint32/ { print $2 }'
}

# After the test's bus closed: every process listed in the file $1 must leave within 10 s, without
# waiting for its idle time. Prints a line per process; returns 1 if any stayed (and ends it).
services_left_with_bus() {
  local pid status=0
  for pid in $(cat "$1" 2>/dev/null); do
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then
      echo "FAIL - $(tr '\0' ' ' </proc/$pid/cmdline) left running after its bus closed"
      kill "$pid"; status=1
    else
      echo "ok   - a service left when its bus closed"
    fi
  done
  return $status
}
