#!/usr/bin/env bash
# qlmanage hands most panels to the panel agent, and every -o to the preview server: it must
# start without loading the window system or the web engine, which only qlmanage-panel (the
# panel qlmanage shows itself) links. Checked on the loader's full list of libraries.
#
#   qlmanage_links_no_web_engine.sh QLMANAGE QLMANAGE_PANEL
set -euo pipefail
qlmanage=$1 panel=$2
status=0
for executable in "$qlmanage" "$panel"; do
  [[ -x $executable ]] || { echo "FAIL: $executable is not an executable" >&2; exit 1; }
done
loaded=$(ldd "$qlmanage")
grep -q 'libQt6Core' <<<"$loaded" || { echo "FAIL: ldd lists no Qt Core for $qlmanage" >&2; status=1; }
if grep -E 'libQt6(Gui|Widgets|WebEngine|Quick|OpenGL|PrintSupport)' <<<"$loaded"; then
  echo "FAIL: $qlmanage loads the window system or the web engine" >&2
  status=1
fi
grep -q 'libQt6WebEngineWidgets' <<<"$(ldd "$panel")" ||
  { echo "FAIL: $panel does not link the web engine it shows the panel with" >&2; status=1; }
exit $status
