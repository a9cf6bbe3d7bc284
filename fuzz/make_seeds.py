#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into OUT/<target>/ from the project's own
examples, fixtures and templates, plus small generated documents, notebooks, wire frames and
property lists. Files larger than 32 KB are left out (each execution stays fast).

usage: fuzz/make_seeds.py OUT [INFO_PLIST...]"""
import glob
import hashlib
import json
import os
import plistlib
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAX_SEED = 32 * 1024


def files(*patterns):
    out = []
    for pattern in patterns:
        out += sorted(glob.glob(os.path.join(ROOT, pattern), recursive=True))
    return [p for p in out if os.path.isfile(p) and os.path.getsize(p) <= MAX_SEED]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write_seeds(out, target, seeds):
    folder = os.path.join(out, target)
    os.makedirs(folder, exist_ok=True)
    for seed in seeds:
        if len(seed) > MAX_SEED:
            continue
        name = hashlib.sha1(seed).hexdigest()[:16]
        with open(os.path.join(folder, name), "wb") as f:
            f.write(seed)


MARKDOWN_FILES = ["examples/*.md", "tests/browser/fixtures/*.md", "README.md"]

GENERATED_MARKDOWN = [
    b"![a](a.png) text ![b](b.gif \"title\") ![c](c.svg)\n",
    b"![big](big.jpg) ![fifo](fifo.png) ![dir](dir.png) ![zero](zero.png) ![loop](loop.png)\n",
    b"![up](../outside.png) ![space](sp%20ace.png) ![u](%C3%BC.png) ![d](img/./d.png)\n",
    b"![remote](https://example.com/x.png) ![data](data:image/png;base64,AAAA) ![cid](cid:x)\n",
    b"![![![nested](a.png)](b.gif)](c.svg) ![a](a.png) ![a again](a.png)\n",
    b"```python\nprint('$')\n```\n\n~~~ {.js}\nlet x = `$`\n~~~\n\n::: mermaid\ngraph TD; A-->B\n:::\n",
    b"Inline `$x$` and $y$ and `unclosed $z\n\r\n```mmd\r\nflowchart LR\r\n```\r\n",
    b"\xe2\x80\x83$\xcc\x81 `\xcc\x81` ```\xcc\x81\n\xc2\xa0```\n",
]

MERMAID_SOURCES = [
    b"graph TD\n  A-->B\n",
    b"\n%%{init: {\"theme\": \"dark\"}}%%\nsequenceDiagram\n  Alice->>Bob: Hi\n",
    b"stateDiagram-v2\n  [*] --> Still\n",
    b"pie title Pets\n  \"Dogs\" : 386\n```\n~~~~\n",
    b"not a diagram\n````\n   ~~~\n",
    b"%%{ }%% }%% gitGraph\n",
]


def notebook(cells, **extra):
    nb = {"cells": cells, "metadata": {"kernelspec": {"name": "python3"}},
          "nbformat": 4, "nbformat_minor": 5}
    nb.update(extra)
    return json.dumps(nb).encode()


GENERATED_NOTEBOOKS = [
    notebook([{"cell_type": "markdown", "metadata": {},
               "source": ["![a](a.png) and ![b](b.gif \"t\")\n", "![huge](huge.png) ![fifo](fifo.png)"]},
              {"cell_type": "code", "execution_count": 1, "metadata": {}, "source": "print(1)",
               "outputs": [{"output_type": "stream", "name": "stdout", "text": ["1\n"] * 40},
                           {"output_type": "error", "ename": "E", "evalue": "v",
                            "traceback": ["line\n"] * 30},
                           {"output_type": "execute_result", "execution_count": 1, "metadata": {},
                            "data": {"text/plain": "x" * 300, "text/html": "<b>x</b>"}}]},
              {"cell_type": "raw", "metadata": {}, "source": "![a](a.png)"}]),
    notebook([{"cell_type": "markdown", "source": "![a](a.png) ![a](a.png) ![c](cid:lumivale-asset-0)"}]),
    notebook([]),
    b'{"cells": [1, 2]}',
    b'[{"cells": []}]',
    b'{"a": -0.0, "b": 1e300, "c": 18446744073709551615, "d": -9223372036854775808, "e": "</script>\\u0000"}',
]


def frame(kind, ident, payload):
    return struct.pack("<IHHQI", 0x574C514C, 2, kind, ident, len(payload)) + payload


def field(data):
    return struct.pack("<I", len(data)) + data


def wire_seeds():
    request = frame(1, 7, field(b"/tmp/doc.md"))
    error = frame(2, 8, b"\x01" + field(b"NSCocoaErrorDomain") + struct.pack("<Q", 260) +
                  field(b"The file couldn\xe2\x80\x99t be opened."))
    reply = frame(2, 9, b"\x00" + field(b"doc.md") + field(b"public.html") +
                  struct.pack("<dd", 1024.0, 1024.0) + field(b"utf-8") + field(b"<html></html>") +
                  struct.pack("<I", 1) + field(b"lumivale-asset-0") + field(b"public.png") +
                  field(b"image/png") + field(b"\x89PNG"))
    return [request, error, reply, request + reply, reply + error + request, request[:30],
            frame(2, 1, b"\x00" + struct.pack("<I", 0xFFFFFFFF))]


def plist_seeds(info_plists):
    seeds = [read(p) for p in info_plists if os.path.getsize(p) <= MAX_SEED]
    sample = {"CFBundleIdentifier": "com.example.lens", "NSExtension": {
        "NSExtensionAttributes": {"QLSupportedContentTypes": ["net.daringfireball.markdown", 3]},
        "NSExtensionPointIdentifier": "com.apple.quicklook.preview"},
        "Flag": True, "Real": 1.5, "Count": 42, "Data": b"\x00\x01"}
    seeds.append(plistlib.dumps(sample, fmt=plistlib.FMT_XML))
    seeds.append(plistlib.dumps(sample, fmt=plistlib.FMT_BINARY))
    seeds.append(plistlib.dumps(["a", ["b", {"c": [1, 2.0, False]}]], fmt=plistlib.FMT_BINARY))
    return seeds


def main():
    out = sys.argv[1]
    info_plists = sys.argv[2:]
    markdown = [read(p) for p in files(*MARKDOWN_FILES)] + GENERATED_MARKDOWN
    notebooks = [read(p) for p in files("examples/notebooks/*.ipynb",
                                        "tests/browser/fixtures/notebooks/*.ipynb")]
    notebooks += GENERATED_NOTEBOOKS
    templates = [read(p) for p in files("web/*.html")]

    write_seeds(out, "template_tokenizer_fuzzer",
                templates + [b"%%A%%%%B%% %%unterminated", b"%%%x%%%", b"a%%%%b"])
    # The first byte picks the caps (see image_references_fuzzer.cpp).
    write_seeds(out, "image_references_fuzzer",
                [bytes([cap]) + text for text in markdown for cap in (2, 12)])
    write_seeds(out, "content_detection_fuzzer", markdown)
    # The first byte picks the file extension (see mermaid_source_fuzzer.cpp).
    write_seeds(out, "mermaid_source_fuzzer",
                [bytes([0]) + s for s in MERMAID_SOURCES] + [bytes([1]) + MERMAID_SOURCES[4]])
    write_seeds(out, "json_fuzzer", notebooks)
    # Texts first; the limits are read from the last bytes (FuzzedDataProvider).
    write_seeds(out, "output_bounding_fuzzer",
                notebooks + [b"line\r\n" * 50 + b"\x40\x10\x05\x05\x00\x01\x02",
                             "é̂👩‍👩‍👧 ".encode() * 40 + b"\x20\x00\x03\x03\x05\x00\x10",
                             b"x" * 1200 + b"\xff\xff\xff\xff\xff\xff\xff"])
    write_seeds(out, "notebook_images_fuzzer", notebooks)
    write_seeds(out, "preview_wire_fuzzer", wire_seeds())
    write_seeds(out, "property_list_fuzzer", plist_seeds(info_plists))


if __name__ == "__main__":
    main()
