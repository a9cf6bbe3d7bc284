#!/usr/bin/env bash
# End-to-end checks of desktop registration and the plug-in registry: lsregister on the built
# app bundle, the desktop's view of it (xdg-mime, desktop-file-validate), pluginkit listings and
# elections, and qlmanage obeying them; all inside temporary XDG folders.
set -uo pipefail
build=$1
lsregister=$build/lsregister
pluginkit=$build/pluginkit
qlmanage=$build/qlmanage
app="$build/Lumivale Quick Look.app"
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() { # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok   - $1"; else echo "FAIL - $1"; failures=$((failures + 1)); fi
}
contains() { grep -qF -- "$2" "$1"; }

export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache
# A plain session: xdg-mime asks the shared MIME database, not a desktop's own service.
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
bash "$here/make_fixtures.sh" "$work" >/dev/null
docs=$work/docs
cat >"$docs/small.ipynb" <<'NB'
{"cells": [{"cell_type": "markdown", "metadata": {}, "source": ["# A notebook"]}],
 "metadata": {}, "nbformat": 4, "nbformat_minor": 5}
NB
entry=$XDG_DATA_HOME/applications/com.lumivale.quicklook.desktop
package=$XDG_DATA_HOME/mime/packages/com.lumivale.quicklook.xml

# Registration.
"$lsregister" -f -R -trusted "$app" >"$work/out" 2>&1
check "lsregister -f -R -trusted succeeds" test $? -eq 0
check "lsregister prints nothing on success" test ! -s "$work/out"
check "the desktop entry validates" desktop-file-validate "$entry"
check "the desktop entry lists the three types" \
  grep -qx 'MimeType=text/markdown;text/vnd.mermaid;application/x-ipynb+json;' "$entry"
check "the desktop entry opens previews with qlmanage" \
  grep -qxF "Exec=\"$qlmanage\" -p %F" "$entry"
check "registration makes itself the default for nothing" \
  test ! -e "$XDG_CONFIG_HOME/mimeapps.list" -a ! -e "$XDG_DATA_HOME/applications/mimeapps.list"
printf 'graph TD\n  A --> B\n' >"$work/flow.mmd"
check "xdg-mime knows a .mmd file as text/vnd.mermaid" \
  test "$(xdg-mime query filetype "$work/flow.mmd")" = text/vnd.mermaid
check "the MIME cache knows the alias" contains "$XDG_DATA_HOME/mime/aliases" \
  "application/vnd.mermaid text/vnd.mermaid"
check "the desktop database offers the application for notebooks" contains \
  "$XDG_DATA_HOME/applications/mimeinfo.cache" "application/x-ipynb+json=com.lumivale.quicklook.desktop;"

cp "$entry" "$work/entry.before"
"$lsregister" -f -R -trusted "$app"
check "registering again with -f gives the same desktop entry" cmp -s "$entry" "$work/entry.before"

# Tools running at once: registrations and elections interleave, nothing is damaged or lost.
(for _ in 1 2 3 4; do "$lsregister" -f -R -trusted "$app" || echo failed; done) >"$work/a" 2>&1 &
(for _ in $(seq 1 15); do "$pluginkit" -e ignore -i com.lumivale.quicklook.markdown || echo failed
  "$pluginkit" -e default -i com.lumivale.quicklook.markdown || echo failed; done) >"$work/b" 2>&1 &
wait
check "concurrent registrations and elections all succeed" test ! -s "$work/a" -a ! -s "$work/b"
check "... and leave no damaged or temporary files" \
  test -z "$(find "$work/data" "$work/config" -name '*.damaged-*' -o -name '.*.json.*')"

# The listing, exactly as the status window parses it.
"$pluginkit" -m -p com.apple.quicklook.preview >"$work/list" 2>&1
printf '     com.lumivale.quicklook.markdown(1.0.0)\n     com.lumivale.quicklook.notebook(1.0.0)\n' \
  >"$work/expected"
check "pluginkit -m -p lists both extensions with the default election" cmp -s "$work/list" "$work/expected"
"$pluginkit" -m -v -i com.lumivale.quicklook.markdown >"$work/list"
check "pluginkit -m -v adds the bundle path" test "$(cat "$work/list")" = \
  "$(printf '     com.lumivale.quicklook.markdown(1.0.0)\t%s' "$app/Contents/PlugIns/MarkdownLens.appex")"

# Elections, as the application's registration runs them.
"$pluginkit" -e ignore -i com.sqlitequicklook.preview >"$work/out" 2>&1
check "electing an unknown identifier fails" test $? -eq 1
check "... naming the identifier" contains "$work/out" com.sqlitequicklook.preview
for id in markdown notebook; do "$pluginkit" -e use -i com.lumivale.quicklook.$id; done
check "elected plug-ins are listed with +" test "$("$pluginkit" -m -p com.apple.quicklook.preview | cut -c1 | tr -d '\n')" = "++"

"$pluginkit" -e ignore -i com.lumivale.quicklook.notebook
check "an ignored plug-in is listed with -" \
  test "$("$pluginkit" -m -i com.lumivale.quicklook.notebook)" = "-    com.lumivale.quicklook.notebook(1.0.0)"
"$qlmanage" -o "$work/out1" "$docs/notes.md" "$docs/seq.mmd" "$docs/small.ipynb" \
  >"$work/stdout" 2>"$work/stderr"
check "qlmanage fails when a file's extension is switched off" test $? -eq 1
check "... with the clear message" contains "$work/stderr" \
  "qlmanage: $docs/small.ipynb: The preview extension com.lumivale.quicklook.notebook for content type org.jupyter.ipynb is switched off; switch it on with: pluginkit -e use -i com.lumivale.quicklook.notebook"
check "... and writes no notebook preview" test ! -e "$work/out1/small.ipynb.qlpreview"
check "... but previews the Markdown files" test -s "$work/out1/notes.md.qlpreview/Standalone.html"
check "qlmanage -o says where each preview went" contains "$work/stdout" \
  "$docs/seq.mmd -> $work/out1/seq.mmd.qlpreview/Standalone.html"
check "qlmanage -m shows why notebooks are not previewed" \
  sh -c "'$qlmanage' -m | grep -q 'org.jupyter.ipynb -> none: .*switched off'"

"$pluginkit" -e use -i com.lumivale.quicklook.notebook
"$qlmanage" -q -o "$work/out2" "$docs/small.ipynb" >"$work/stdout" 2>"$work/stderr"
check "pluginkit -e use brings the notebook preview back" test $? -eq 0 -a -s "$work/out2/small.ipynb.qlpreview/Standalone.html"
check "qlmanage -q prints nothing" test ! -s "$work/stdout"
"$pluginkit" -e default -i com.lumivale.quicklook.notebook
check "-e default leaves the flag blank" \
  test "$("$pluginkit" -m -i com.lumivale.quicklook.notebook | cut -c1)" = " "

# A damaged elections file is reported and kept aside, and the registry goes on.
elections=$XDG_CONFIG_HOME/lumivale/PlugInKit/elections.json
"$pluginkit" -e ignore -i com.lumivale.quicklook.markdown
printf '{"format":1,"elections":{"com.lumivale.quicklook.mark' >"$elections"
"$pluginkit" -m -p com.apple.quicklook.preview >"$work/list" 2>"$work/stderr"
check "pluginkit reports a damaged elections file" grep -q "is damaged.*kept as $elections.damaged-" "$work/stderr"
check "... keeps it aside unchanged" \
  grep -qF '"com.lumivale.quicklook.mark' "$(ls "$elections".damaged-* | head -1)"
check "... and lists with the default elections" test "$(grep -c '^     com' "$work/list")" -eq 2

# The service reset.
mkdir -p "$XDG_CACHE_HOME/lumivale/QuickLook/Previews/old.qlpreview"
"$qlmanage" -r >/dev/null 2>&1
check "qlmanage -r succeeds" test $? -eq 0
"$qlmanage" -r cache >/dev/null 2>&1
check "qlmanage -r cache succeeds and empties the cache" \
  test $? -eq 0 -a -z "$(ls -A "$XDG_CACHE_HOME/lumivale/QuickLook/Previews")"

# Bad input.
usage() { "$@" >/dev/null 2>&1; test $? -eq 2; }
check "lsregister: unknown option is a usage error" usage "$lsregister" -x "$app"
check "lsregister: no bundle is a usage error" usage "$lsregister" -f
check "pluginkit: -e without -i is a usage error" usage "$pluginkit" -e use
check "pluginkit: a bad election is a usage error" usage "$pluginkit" -e maybe -i x
check "pluginkit: -i without a value is a usage error" usage "$pluginkit" -m -i
check "qlmanage: -r with a stray word is a usage error" usage "$qlmanage" -r caches
check "qlmanage: unknown option is a usage error" usage "$qlmanage" -o "$work/x" -z a.md
mkdir -p "$work/Not An App.app"
"$lsregister" -f -R "$work/Not An App.app" >"$work/out" 2>&1
check "a folder that is no bundle is refused" test $? -eq 1
check "... with a clear message" contains "$work/out" "is not a valid bundle"
check "... recording nothing" sh -c "! '$lsregister' -dump | grep -q 'Not An App'"

service_file=$XDG_DATA_HOME/dbus-1/services/com.lumivale.quicklook.PreviewService.service
check "the session bus can start the preview server" grep -q "^Exec=.*quicklookd" "$service_file"

# Unregistration takes everything away again.
"$lsregister" -u "$app"
check "lsregister -u succeeds" test $? -eq 0
check "the desktop entry is gone" test ! -e "$entry"
check "the MIME package is gone" test ! -e "$package"
check "the preview server's activation file is gone" test ! -e "$service_file"
check "xdg-mime no longer knows text/vnd.mermaid" \
  test "$(xdg-mime query filetype "$work/flow.mmd")" != text/vnd.mermaid
check "the desktop database forgot the application" \
  sh -c "! grep -q com.lumivale.quicklook.desktop '$XDG_DATA_HOME/applications/mimeinfo.cache'"
check "no plug-ins are listed" test "$("$pluginkit" -m)" = "(no matches)"
"$qlmanage" -o "$work/out3" "$docs/notes.md" 2>"$work/stderr"
check "qlmanage without a registered extension says so" \
  contains "$work/stderr" "No registered preview extension handles content type net.daringfireball.markdown"

echo "$failures failure(s)"
test "$failures" -eq 0
