#!/usr/bin/env bash
# End-to-end checks of qlmanage -o with the real MarkdownLens extension.
set -uo pipefail
qlmanage=$1
# The previews come straight from the built app, bypassing the per-user plug-in registry.
built_app=(--app "$(dirname "$qlmanage")/Lumivale Quick Look.app")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() { # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok   - $1"; else echo "FAIL - $1"; failures=$((failures + 1)); fi
}

bash "$here/make_fixtures.sh" "$work"
docs=$work/docs
out=$work/out

# One call for everything: the good documents are written, the bad ones reported.
"$qlmanage" "${built_app[@]}" -v -o "$out" "$docs/notes.md" "$docs/flow.mermaid" "$docs/seq.mmd" "$docs/bad.md" \
  "$docs/missing.md" >"$work/stdout" 2>"$work/stderr"
status=$?
check "exit status 1 when some previews fail" test "$status" -eq 1
check "one extension process serves every file" \
  test "$(grep -c 'started MarkdownLens' "$work/stderr")" -eq 1
check "invalid UTF-8 is reported" \
  grep -q "^qlmanage: $docs/bad.md: .*UTF-8" "$work/stderr"
check "a missing file is reported" grep -q "^qlmanage: $docs/missing.md: .*no such file" "$work/stderr"
check "no folder for the failed previews" \
  test ! -e "$out/bad.md.qlpreview" -a ! -e "$out/missing.md.qlpreview"
check "no temporary folders are left" test -z "$(find "$out" -maxdepth 1 -name '.*qlpreview-*')"

notes=$out/notes.md.qlpreview
for f in Preview.html PreviewProperties.json Standalone.html; do
  check "notes.md: $f written" test -s "$notes/$f"
done
check "notes.md: six attachments (one per distinct image)" \
  test "$(ls "$notes" | grep -c '^lumivale-asset-')" -eq 6
check "notes.md: properties" grep -q '"title":"notes","contentType":"public.html","contentSize":\[1024,1024\],"stringEncoding":"utf-8"' "$notes/PreviewProperties.json"
for mime in image/png image/jpeg image/gif image/svg+xml; do
  check "notes.md: an attachment of type $mime" grep -q "\"mimeType\":\"$mime\"" "$notes/PreviewProperties.json"
done
# Attachments hold the files byte for byte, numbered in order of first reference.
check "attachment 0 is beside.png" cmp -s "$notes/lumivale-asset-0" "$docs/beside.png"
check "attachment 1 is photo.jpg" cmp -s "$notes/lumivale-asset-1" "$docs/photo.jpg"
check "attachment 2 is img/anim.gif" cmp -s "$notes/lumivale-asset-2" "$docs/img/anim.gif"
check "attachment 3 is img/shape.svg" cmp -s "$notes/lumivale-asset-3" "$docs/img/shape.svg"
check "attachment 4 is ../pictures/sibling.png" cmp -s "$notes/lumivale-asset-4" "$work/pictures/sibling.png"
check "attachment 5 is my pic.png" cmp -s "$notes/lumivale-asset-5" "$docs/my pic.png"
check "references rewritten, title kept" grep -q 'cid:lumivale-asset-1 \\"A photo\\"' "$notes/Preview.html"
check "repeated destination shares its attachment" \
  test "$(grep -o 'cid:lumivale-asset-0)' "$notes/Preview.html" | wc -l)" -eq 2
check "remote and missing images stay as written" \
  grep -q 'https:\\/\\/example.com\\/x.png).*(nothing.png)' "$notes/Preview.html"
check "standalone page defines the resolver first in <head>" \
  grep -q '<head><meta charset="utf-8"><script>(()=>{const attachments={"lumivale-asset-0":"data:image/png;base64,' "$notes/Standalone.html"

for name in flow.mermaid seq.mmd; do
  check "$name: wrapped as a diagram" grep -q '```mermaid\\n' "$out/$name.qlpreview/Preview.html"
  check "$name: no attachments" grep -q '"attachments":{}' "$out/$name.qlpreview/PreviewProperties.json"
done
check "flow.mermaid titled flow" grep -q '"title":"flow"' "$out/flow.mermaid.qlpreview/PreviewProperties.json"

# A file without extension needs -c; with it, it previews.
"$qlmanage" "${built_app[@]}" -o "$out" "$docs/README" 2>"$work/stderr2"
check "README without -c fails" test $? -eq 1 -a ! -e "$out/README.qlpreview"
check "README without -c explains" grep -q "content type" "$work/stderr2"
"$qlmanage" "${built_app[@]}" -o "$out" -c net.daringfireball.markdown "$docs/README"
check "README with -c previews" test $? -eq 0 -a -s "$out/README.qlpreview/Preview.html"

# Previewing again replaces the folder.
"$qlmanage" "${built_app[@]}" -o "$out" "$docs/flow.mermaid"
check "a second run replaces the folder" test $? -eq 0 -a -s "$out/flow.mermaid.qlpreview/Preview.html"

# -p prints the standalone page's path.
page=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$qlmanage" "${built_app[@]}" -p "$docs/seq.mmd")
check "-p prints an existing standalone page" test -s "$page"
rm -rf "$(dirname "$(dirname "$page")")"

# With a display and no panel agent, qlmanage becomes qlmanage-panel from its own folder: one
# that is missing is reported as a failure, not a panel silently never shown.
mkdir -p "$work/alone" && cp "$qlmanage" "$work/alone/qlmanage"
env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR=/nonexistent LUMIVALE_NO_PANEL_AGENT=1 DISPLAY=:0 \
  "$work/alone/qlmanage" "${built_app[@]}" -p "$docs/seq.mmd" >"$work/stdout4" 2>"$work/stderr4"
check "-p without its panel program fails" test $? -eq 1 -a ! -s "$work/stdout4"
check "  and says which program is missing" \
  grep -q "^qlmanage: cannot show the preview panel (.*/alone/qlmanage-panel: No such file" "$work/stderr4"

# An extension that dies fails its requests with a clear error, and nothing is written.
app=$work/Broken.app
mkdir -p "$app/Contents/PlugIns/Broken.appex/Contents/MacOS"
cp "$(dirname "$qlmanage")/Lumivale Quick Look.app/Contents/Info.plist" "$app/Contents/"
sed 's/MarkdownLens/Broken/' \
  "$(dirname "$qlmanage")/Lumivale Quick Look.app/Contents/PlugIns/MarkdownLens.appex/Contents/Info.plist" \
  >"$app/Contents/PlugIns/Broken.appex/Contents/Info.plist"
printf '#!/bin/sh\nhead -c 10 >/dev/null\nkill -SEGV $$\n' >"$app/Contents/PlugIns/Broken.appex/Contents/MacOS/Broken"
chmod +x "$app/Contents/PlugIns/Broken.appex/Contents/MacOS/Broken"
"$qlmanage" --app "$app" -o "$work/broken" "$docs/notes.md" "$docs/flow.mermaid" 2>"$work/stderr3"
check "a crashed extension fails its requests" test $? -eq 1 -a -z "$(ls -A "$work/broken")"
check "the crash is explained" grep -q "Broken crashed" "$work/stderr3"

echo "$failures failure(s)"
test "$failures" -eq 0
