#!/usr/bin/env bash
# The preview extensions stay small and start in milliseconds: their executables must not link
# Qt, directly (NEEDED entries) or through another library (the loader's full list).
#
#   extensions_link_no_qt.sh EXECUTABLE...
set -euo pipefail
status=0
for executable in "$@"; do
  if [[ ! -x $executable ]]; then
    echo "FAIL: $executable is not an executable" >&2
    status=1
    continue
  fi
  needed=$(readelf -d "$executable" | awk '/\(NEEDED\)/ { print $NF }')
  if [[ -z $needed ]]; then
    echo "FAIL: readelf lists no NEEDED entries for $executable" >&2
    status=1
  fi
  if grep -i 'qt' <<<"$needed"; then
    echo "FAIL: $executable links Qt directly" >&2
    status=1
  fi
  if ldd "$executable" | grep -i 'libqt'; then
    echo "FAIL: $executable loads Qt through its libraries" >&2
    status=1
  fi
  echo "$(basename "$executable"): $(tr '\n' ' ' <<<"$needed")"
done
exit $status
