#!/usr/bin/env bash
# A stand-in for lsregister, pluginkit or qlmanage that records its command line in
# $FAKE_TOOL_LOG (one line: the tool's name and its arguments) and answers as told:
#   FAKE_TOOL_FAIL    a command line ("qlmanage -r") that exits with status 1, printing
#                     $FAKE_TOOL_FAIL_OUTPUT
#   FAKE_TOOL_LISTING what "pluginkit -m ..." prints
#   FAKE_TOOL_DELAY   "<command line>=<seconds>": that command sleeps first
#   FAKE_TOOL_WINDOWS_LOG  where to note the application's visible windows at each call
name=$(basename "$0")
line="$name${*:+ $*}"
printf '%s\n' "$line" >> "${FAKE_TOOL_LOG:?}"
if [ -n "${FAKE_TOOL_DELAY:-}" ] && [ "$line" = "${FAKE_TOOL_DELAY%%=*}" ]; then
  sleep "${FAKE_TOOL_DELAY#*=}"
fi
if [ -n "${FAKE_TOOL_WINDOWS_LOG:-}" ]; then
  # How many windows of the application are on screen while the tools run.
  n=$(xdotool search --onlyvisible --name "Lumivale Quick Look" 2>/dev/null | wc -l)
  printf '%s %s\n' "$line" "$n" >> "$FAKE_TOOL_WINDOWS_LOG"
fi
if [ "$name" = pluginkit ] && [ "${1:-}" = -m ]; then
  printf '%s' "${FAKE_TOOL_LISTING:-}"
fi
if [ -n "${FAKE_TOOL_FAIL:-}" ] && [ "$line" = "$FAKE_TOOL_FAIL" ]; then
  printf '%s' "${FAKE_TOOL_FAIL_OUTPUT:-}"
  exit 1
fi
exit 0
