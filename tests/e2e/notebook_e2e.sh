#!/usr/bin/env bash
# End-to-end checks of qlmanage -o with the real NotebookLens extension: local images in
# Markdown cells, files that are not notebooks, and a notebook with huge outputs.
set -uo pipefail
qlmanage=$1
# The previews come straight from the built app, bypassing the per-user plug-in registry.
built_app=(--app "$(dirname "$qlmanage")/Lumivale Quick Look.app")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() { # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok   - $1"; else echo "FAIL - $1"; failures=$((failures + 1)); fi
}

docs=$work/docs
out=$work/out
mkdir -p "$docs/figures" "$work/shared"
python3 - "$docs" "$work/shared" <<'PY'
import base64, json, struct, sys, zlib

docs, shared = sys.argv[1], sys.argv[2]

def png(width, height, seed=0):
    rows = b"".join(b"\x00" + bytes((x * 7 + y * 13 + seed) % 256 for x in range(width * 3))
                    for y in range(height))
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 0)) + chunk(b"IEND", b""))

open(f"{docs}/plot.png", "wb").write(png(4, 4))
open(f"{docs}/figures/chart.png", "wb").write(png(8, 2, 5))
open(f"{shared}/logo.png", "wb").write(png(3, 3, 9))
open(f"{docs}/figures/too big.png", "wb").write(png(1200, 1200))  # over 4 MiB: not inlined

def cell(kind, source, **extra):
    return {"cell_type": kind, "metadata": {}, "source": source, **extra}

def notebook(cells):
    return {"cells": cells, "metadata": {"kernelspec": {"name": "python3", "language": "python"}},
            "nbformat": 4, "nbformat_minor": 5}

images = notebook([
    cell("markdown", ["# Figures\n", "![plot](plot.png) ![chart](figures/chart.png \"Chart\")\n"]),
    cell("code", "![not inlined](plot.png)", execution_count=1, outputs=[]),
    cell("markdown", "Again: ![plot](plot.png), shared ![logo](../shared/logo.png)"),
    cell("markdown", "Kept: ![big](figures/too%20big.png) ![web](https://example.com/a.png) "
                     "![att](attachment:a.png)",
         attachments={"a.png": {"image/png": base64.b64encode(png(2, 2)).decode()}}),
])
json.dump(images, open(f"{docs}/images.ipynb", "w"), indent=1)
json.dump(notebook([cell("markdown", "plain")]), open(f"{docs}/data.final.ipynb", "w"))

big_png = base64.b64encode(png(1000, 700)).decode()  # about 2.8 MB of base64
huge = notebook([
    cell("code", "for i in range(10**6): print(i)", execution_count=1, outputs=[
        {"output_type": "stream", "name": "stdout", "text": [f"{i}\n" for i in range(300000)]}]),
    cell("code", "df", execution_count=2, outputs=[
        {"output_type": "execute_result", "execution_count": 2, "metadata": {},
         "data": {"text/html": "<table>" + "<tr><td>1</td></tr>" * 200000 + "</table>",
                  "text/plain": "  a\n" * 5000}}]),
    cell("code", "plot()", execution_count=3, outputs=[
        {"output_type": "display_data", "metadata": {}, "data": {"image/png": big_png,
                                                                   "text/plain": "<Figure>"}}]),
    cell("code", "raise E", execution_count=4, outputs=[
        {"output_type": "error", "ename": "E", "evalue": "x",
         "traceback": [f"\u001b[0;31mframe {i}\u001b[0m\n" for i in range(2000)]}]),
])
json.dump(huge, open(f"{docs}/huge.ipynb", "w"))
open(f"{docs}/huge.png.b64", "w").write(big_png)

open(f"{docs}/broken.ipynb", "w").write('{\n  "cells": [\n    {"cell_type": "code",,}\n  ]\n}\n')
open(f"{docs}/empty.ipynb", "w").write("")
open(f"{docs}/array.ipynb", "w").write('[{"cell_type": "markdown", "source": "$x$"}]')
PY

"$qlmanage" "${built_app[@]}" -o "$out" "$docs/images.ipynb" "$docs/data.final.ipynb" "$docs/huge.ipynb" \
  "$docs/broken.ipynb" "$docs/empty.ipynb" "$docs/array.ipynb" >"$work/stdout" 2>"$work/stderr"
status=$?
check "exit status 1 when some previews fail" test "$status" -eq 1

# Local images in Markdown cells travel as attachments.
nb=$out/images.ipynb.qlpreview
check "images.ipynb: page written" test -s "$nb/Preview.html"
check "images.ipynb: properties" grep -q '"title":"images","contentType":"public.html","contentSize":\[1100,900\],"stringEncoding":"utf-8"' "$nb/PreviewProperties.json"
check "images.ipynb: four attachments (the repeated image once per cell)" \
  test "$(ls "$nb" | grep -c '^lumivale-asset-')" -eq 4
check "attachment 0 is plot.png" cmp -s "$nb/lumivale-asset-0" "$docs/plot.png"
check "attachment 1 is figures/chart.png" cmp -s "$nb/lumivale-asset-1" "$docs/figures/chart.png"
check "attachment 2 is plot.png again" cmp -s "$nb/lumivale-asset-2" "$docs/plot.png"
check "attachment 3 is ../shared/logo.png" cmp -s "$nb/lumivale-asset-3" "$work/shared/logo.png"
check "attachments typed as PNG" \
  test "$(grep -o '"mimeType":"image/png"' "$nb/PreviewProperties.json" | wc -l)" -eq 4
check "array source joined and rewritten, title kept" \
  grep -q '"source":"# Figures\\n!\[plot\](cid:lumivale-asset-0) !\[chart\](cid:lumivale-asset-1 \\"Chart\\")\\n"' "$nb/Preview.html"
check "the code cell's reference is untouched" grep -q '!\[not inlined\](plot.png)' "$nb/Preview.html"
check "oversized, remote and attachment: images stay as written" \
  grep -qF '![big](figures\/too%20big.png) ![web](https:\/\/example.com\/a.png) ![att](attachment:a.png)' "$nb/Preview.html"
check "the standalone page embeds the attachments" grep -q '"lumivale-asset-3":"data:image/png;base64,' "$nb/Standalone.html"
check "file name shown in the page" grep -q 'images.ipynb' "$nb/Preview.html"

check "data.final.ipynb titled data.final" \
  grep -q '"title":"data.final"' "$out/data.final.ipynb.qlpreview/PreviewProperties.json"
check "a notebook without images has an empty attachment dictionary" \
  grep -q '"attachments":{}' "$out/data.final.ipynb.qlpreview/PreviewProperties.json"

# Files that are not notebooks.
check "a file that is not JSON is reported with its place" \
  grep -q "^qlmanage: $docs/broken.ipynb: .*isn.t valid JSON.*line 3, column" "$work/stderr"
check "an empty file is reported as not JSON" \
  grep -q "^qlmanage: $docs/empty.ipynb: .*isn.t valid JSON.*empty" "$work/stderr"
check "no folders for the failed previews" \
  test ! -e "$out/broken.ipynb.qlpreview" -a ! -e "$out/empty.ipynb.qlpreview"
array=$out/array.ipynb.qlpreview/Preview.html
check "a top-level array still previews" test -s "$array"
check "the array is embedded as it is" grep -qF '[{"cell_type":"markdown","source":"$x$"}]' "$array"

# Huge outputs are bounded; images are not.
huge=$out/huge.ipynb.qlpreview/Preview.html
check "huge.ipynb previews" test -s "$huge"
check "the stream is cut by lines" grep -q 'truncated 1.9 MB from stream output; 299721 lines omitted. Open the notebook for the full output.' "$huge"
check "the large HTML table gives way to its plain text" \
  grep -q 'used text\\/plain because text\\/html output was 3.6 MB.\]\\n\\n  a\\n' "$huge"
check "the long traceback keeps 40 + 120 lines" grep -q 'from traceback; 1841 lines omitted' "$huge"
check "no HTML table is left in the page" test "$(grep -c '<tr><td>1</td></tr><tr>' "$huge")" -eq 0
sed 's|/|\\/|g' "$docs/huge.png.b64" >"$work/escaped.b64"
check "the image output is kept whole" grep -qF -f "$work/escaped.b64" "$huge"
size=$(stat -c %s "$huge")
check "the page stays small beside its image ($size bytes)" test "$size" -lt 12000000

echo "$failures failure(s)"
test "$failures" -eq 0
