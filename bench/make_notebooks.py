#!/usr/bin/env python3
"""Writes the benchmark notebooks into a folder (standard library only):

  images-1mb.ipynb, images-20mb.ipynb, images-100mb.ipynb
      code cells whose outputs are mostly base64 PNG images (about 250 KB each, incompressible
      pixels), with some stream and plain-text outputs and Markdown cells with mathematics;
  text-100mb.ipynb
      code cells with huge stream, plain-text and traceback outputs (about 100 MB of text);
  cells-2000.ipynb
      2000 ordinary cells (about 7.7 MB): Markdown cells of prose and code cells with short
      stream and plain-text outputs, as a long working notebook has them.

Usage: make_notebooks.py OUTPUT_DIR [NAME...]   (default: every notebook above)
"""
import base64
import json
import os
import random
import struct
import sys
import zlib

MB = 1024 * 1024


def png(width, height, rng):
    """A valid PNG of random pixels, stored without compression so its size is predictable."""
    rows = b"".join(b"\x00" + rng.randbytes(width * 3) for _ in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(rows, 0)) + chunk(b"IEND", b""))


def markdown_cell(index):
    return {"cell_type": "markdown", "metadata": {},
            "source": [f"## Step {index}\n", "\n",
                       f"The loss falls as $L_{{{index}}} = \\sum_i (y_i - \\hat y_i)^2$.\n"]}


def code_cell(index, outputs):
    return {"cell_type": "code", "execution_count": index, "metadata": {},
            "source": [f"fig, ax = plt.subplots()\n", f"ax.plot(x, y{index})\n", "fig"],
            "outputs": outputs}


def notebook(cells):
    return {"cells": cells,
            "metadata": {"kernelspec": {"display_name": "Python 3", "language": "python",
                                        "name": "python3"},
                         "language_info": {"name": "python", "version": "3.11.2"}},
            "nbformat": 4, "nbformat_minor": 5}


def image_notebook(target_bytes, rng):
    cells, size, index = [], 0, 1
    image_side = 160 if target_bytes < 4 * MB else 290  # about 100 KB or 330 KB of base64
    while size < target_bytes:
        image = base64.b64encode(png(image_side, image_side, rng)).decode()
        outputs = [
            {"output_type": "stream", "name": "stdout", "text": [f"epoch {index}: loss 0.{index:04d}\n"]},
            {"output_type": "display_data", "metadata": {},
             "data": {"image/png": image, "text/plain": ["<Figure size 640x480 with 1 Axes>"]}},
        ]
        cells.append(markdown_cell(index))
        cells.append(code_cell(index, outputs))
        size += len(image) + 600
        index += 1
    return notebook(cells)


def text_notebook(target_bytes, rng):
    cells, size, index = [], 0, 1
    while size < target_bytes:
        lines = [f"{index}.{n} " + rng.choice("abcdefgh") * 60 + "\n" for n in range(40000)]
        traceback = [f"\u001b[0;31mFile /srv/job.py:{n}\u001b[0m in step()\n" for n in range(3000)]
        outputs = [
            {"output_type": "stream", "name": "stdout", "text": lines},
            {"output_type": "execute_result", "execution_count": index, "metadata": {},
             "data": {"text/plain": "".join(lines[:20000]),
                      "text/html": "<table>" + "<tr><td>x</td></tr>" * 70000 + "</table>"}},
            {"output_type": "error", "ename": "RuntimeError", "evalue": "diverged",
             "traceback": traceback},
        ]
        cells.append(markdown_cell(index))
        cells.append(code_cell(index, outputs))
        size += len(json.dumps(outputs, indent=1)) + 200
        index += 1
    return notebook(cells)


def cells_notebook(cell_count, rng):
    words = "data model loss value step train test batch layer mean error rate sample".split()
    cells = []
    for index in range(1, cell_count // 2 + 1):
        prose = " ".join(rng.choice(words) for _ in range(120))
        cells.append({"cell_type": "markdown", "metadata": {},
                      "source": [f"### Step {index}\n", "\n", prose.capitalize() + ".\n"]})
        lines = [f"step {index}.{n}: " + " ".join(f"{rng.random():.6f}" for _ in range(6)) + "\n"
                 for n in range(86)]
        outputs = [
            {"output_type": "stream", "name": "stdout", "text": lines},
            {"output_type": "execute_result", "execution_count": index, "metadata": {},
             "data": {"text/plain": [f"array([{', '.join(f'{rng.random():.4f}' for _ in range(8))}])"]}},
        ]
        cells.append({"cell_type": "code", "execution_count": index, "metadata": {},
                      "source": [f"for epoch in range({index}):\n", "    loss = train(model, batch)\n",
                                 "    print(epoch, loss)\n", "model.weights[:8]"],
                      "outputs": outputs})
    return notebook(cells)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    plans = [("images-1mb.ipynb", image_notebook, 1 * MB), ("images-20mb.ipynb", image_notebook, 20 * MB),
             ("images-100mb.ipynb", image_notebook, 100 * MB), ("text-100mb.ipynb", text_notebook, 100 * MB),
             ("cells-2000.ipynb", cells_notebook, 2000)]
    wanted = set(sys.argv[2:])
    for name, build, target in plans:
        if wanted and name not in wanted:
            continue
        rng = random.Random(f"20240601-{name}")
        path = os.path.join(out, name)
        with open(path, "w", encoding="utf-8") as f:
            json.dump(build(target, rng), f, indent=1)
        print(f"{path}: {os.path.getsize(path) / MB:.1f} MB")


if __name__ == "__main__":
    main()
