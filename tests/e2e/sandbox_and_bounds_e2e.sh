#!/usr/bin/env bash
# End-to-end checks of bounded document reads and of the extension sandbox through qlmanage:
# a 10 GB (sparse) Markdown file is previewed as its first part with a notice, a 10 GB notebook
# and a FIFO fail at once with clear errors, the extension's memory stays bounded; without
# Landlock (as the ABI cap simulates) no extension starts unless the user allows it, and an
# extension started directly, outside the launcher, refuses to run.
set -uo pipefail
qlmanage=$1
built_app=(--app "$(dirname "$qlmanage")/Lumivale Quick Look.app")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() { # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok   - $1"; else echo "FAIL - $1"; failures=$((failures + 1)); fi
}

# 17 MB of ordinary lines, then a sparse tail up to 10 GB.
{
  printf '# Huge\n\nThe start of a very large document.\n\n'
  yes 'An ordinary line of a very large log that someone previews by mistake.' | head -c 17825792
} >"$work/huge.md"
truncate -s 10G "$work/huge.md"
printf '{"cells": [' >"$work/huge.ipynb"
truncate -s 10G "$work/huge.ipynb"
mkfifo "$work/pipe.md"

# Peak memory as reported by time(1) covers qlmanage and the extensions it reaped (the last
# line of its report; a first one notes the exit status).
/usr/bin/time -f "%e %M" -o "$work/time" "$qlmanage" "${built_app[@]}" --timeout 240 -o "$work/out" "$work/huge.md" \
  "$work/pipe.md" "$work/huge.ipynb" >"$work/stdout" 2>"$work/stderr"
status=$?
read -r seconds peak_kb < <(tail -n 1 "$work/time")
echo "# 10 GB Markdown + FIFO + 10 GB notebook: ${seconds} s, peak ${peak_kb} KB"
check "exit status 1: two of the three fail" test "$status" -eq 1
page=$work/out/huge.md.qlpreview/Preview.html
check "the huge Markdown file is previewed" test -s "$page"
check "with a notice of what is shown" \
  grep -q 'Lumivale Quick Look shows only the first 16 MB of this 10 GB document. Open the file to read all of it.' "$page"
check "its start is shown" grep -q 'The start of a very large document.' "$page"
check "cut after a whole line" grep -Eq 'by mistake\.(\\n)+\[Lumivale Quick Look shows' "$page"
check "the page stays bounded (under 128 MB)" test "$(stat -c %s "$page")" -lt 134217728
check "the FIFO fails at once" \
  grep -q "pipe.md: The file “pipe.md” couldn’t be opened because it is not a regular file." "$work/stderr"
check "the huge notebook fails with a clear error" \
  grep -q "huge.ipynb: The notebook “huge.ipynb” is too large to preview (10 GB; Lumivale Quick Look previews notebooks of up to 512 MB)." "$work/stderr"
check "peak memory stays under 1 GB" test "$peak_kb" -lt 1048576

printf '# Small\n' >"$work/small.md"
LUMIVALE_SANDBOX_LANDLOCK_ABI_MAX=0 LUMIVALE_ALLOW_UNSANDBOXED= \
  "$qlmanage" "${built_app[@]}" -o "$work/refused" "$work/small.md" >"$work/stdout" 2>"$work/stderr"
status=$?
check "without Landlock nothing starts" test "$status" -eq 1 -a ! -e "$work/refused/small.md.qlpreview"
check "and qlmanage says why and how to override it" \
  grep -q "does not offer Landlock.*LUMIVALE_ALLOW_UNSANDBOXED=1" "$work/stderr"
LUMIVALE_SANDBOX_LANDLOCK_ABI_MAX=0 LUMIVALE_ALLOW_UNSANDBOXED=1 \
  "$qlmanage" "${built_app[@]}" -o "$work/allowed" "$work/small.md" >"$work/stdout" 2>"$work/stderr"
check "allowed explicitly, it runs" test -s "$work/allowed/small.md.qlpreview/Preview.html"
check "and warns that it runs without the sandbox" \
  grep -q "warning: preview extensions run without the file-system sandbox" "$work/stderr"

# An extension run directly, outside the launcher, refuses to serve.
extension="$(dirname "$qlmanage")/Lumivale Quick Look.app/Contents/PlugIns/MarkdownLens.appex/Contents/MacOS/MarkdownLens"
"$extension" </dev/null >/dev/null 2>"$work/stderr"
check "an extension started outside its sandbox exits with status 78" test "$?" -eq 78
check "and says why" grep -q "not started inside its sandbox" "$work/stderr"

echo "$failures failure(s)"
test "$failures" -eq 0
