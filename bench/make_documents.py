#!/usr/bin/env python3
"""Writes the Markdown documents of the page benchmark into a folder (standard library only):

  readme-plain.md      a short project README: headings, prose, a list, a table, two code blocks;
  readme-diagrams.md   the same README with inline and display mathematics and two Mermaid
                       diagrams (a flowchart near the top, a sequence diagram further down);
  manual.md            a long reference manual, about 1.6 MB: about 60 tables, about 500 fenced
                       code blocks in a dozen languages and long prose sections.

The text is generated from a fixed seed, so every run measures the same documents.

Usage: make_documents.py OUTPUT_DIR
"""
import os
import random
import sys

WORDS = ("preview document notebook render page library module cell output image diagram table "
         "heading paragraph reader screen layout style sheet script template token value option "
         "folder extension bundle resource request reply service process thread cache memory "
         "buffer stream parser writer format version file user system network policy safe fast "
         "quick large small first last each every other same different clear simple exact").split()

LANGUAGES = ["python", "bash", "json", "cpp", "javascript", "yaml", "sql", "rust", "go", "swift",
             "typescript", "ruby"]

CODE = {
    "python": "def {w}_{n}(items):\n    total = 0\n    for item in items:\n        total += len(item)  # {w}\n    return total\n",
    "bash": "# {w} {n}\nfor f in ./*.md; do\n  qlmanage -o out \"$f\" || echo \"failed: $f\"\ndone\n",
    "json": "{{\n  \"name\": \"{w}\",\n  \"index\": {n},\n  \"enabled\": true,\n  \"tags\": [\"a\", \"b\"]\n}}\n",
    "cpp": "#include <vector>\n\nint {w}{n}(const std::vector<int>& v) {{\n  int sum = 0;\n  for (int x : v) sum += x;\n  return sum;\n}}\n",
    "javascript": "export function {w}{n}(list) {{\n  return list.filter((x) => x.ok).map((x) => x.value * {n});\n}}\n",
    "yaml": "{w}:\n  index: {n}\n  enabled: true\n  paths:\n    - /usr/share/{w}\n",
    "sql": "SELECT id, name, {w}\n  FROM items\n WHERE index > {n}\n ORDER BY name;\n",
    "rust": "fn {w}_{n}(v: &[u32]) -> u32 {{\n    v.iter().copied().sum()\n}}\n",
    "go": "func {w}{n}(v []int) int {{\n\tsum := 0\n\tfor _, x := range v {{\n\t\tsum += x\n\t}}\n\treturn sum\n}}\n",
    "swift": "func {w}{n}(_ v: [Int]) -> Int {{\n    v.reduce(0, +)\n}}\n",
    "typescript": "interface {W}{n} {{\n  name: string;\n  index: number;\n}}\nconst v: {W}{n} = {{ name: '{w}', index: {n} }};\n",
    "ruby": "def {w}_{n}(items)\n  items.map {{ |x| x * {n} }}.sum\nend\n",
}

README_HEAD = """# Lumivale Sample Project

A small library that turns documents into pages. It reads a file, picks the parts a page needs and
writes one self-contained HTML page that opens at once in any browser, with no network at all.

## Features

- Converts Markdown with tables, task lists, footnotes and alerts.
- Highlights code in more than a dozen languages.
- Keeps every page safe: nothing a document brings can run a script.

## Installation

```bash
./configure --prefix=/usr/local
make && sudo make install
```
"""

README_DIAGRAM_1 = """
## How it works

The pipeline reads the file once, renders it, and writes the page in one pass; the cost grows
with $O(n)$ in the size $n$ of the document.

```mermaid
flowchart LR
    A[Read file] --> B{Markdown?}
    B -- yes --> C[Render page]
    B -- no --> D[Notebook viewer]
    C --> E[Write once]
    D --> E
```
"""

README_MIDDLE = """
## Usage

| Command | What it does |
|:--------|:-------------|
| `sample render FILE` | writes FILE's page next to it |
| `sample serve DIR` | serves the pages of DIR on loopback |
| `sample check FILE` | reports problems without writing |

```python
from sample import render

page = render("README.md")
page.write("README.html")
```

The renderer keeps each step small, so large documents stay responsive and the first screen
appears before the rest of the page is laid out.
"""

README_DIAGRAM_2 = """
## Mathematics

The time to the first screen is bounded by

$$
T_{\\text{first}} \\le t_{\\text{parse}} + \\sum_{i=1}^{k} t_i \\quad\\text{where } k = \\left\\lceil \\frac{h}{\\bar h} \\right\\rceil
$$

and the total work is $\\sum_{i=1}^{n} t_i$.

## Sequence

```mermaid
sequenceDiagram
    participant U as User
    participant S as Service
    participant E as Extension
    U->>S: Press Space
    S->>E: Preview request
    E-->>S: Page and attachments
    S-->>U: Preview shown
```
"""

README_TAIL = """
## Licence

MIT. See the LICENSE file for details.
"""


def sentence(rng, words=14):
    text = " ".join(rng.choice(WORDS) for _ in range(words))
    return text[0].upper() + text[1:] + "."


def paragraph(rng, sentences):
    return " ".join(sentence(rng, rng.randint(8, 20)) for _ in range(sentences))


def table(rng, index):
    columns = rng.randint(3, 6)
    rows = rng.randint(6, 16)
    head = "| " + " | ".join(f"{rng.choice(WORDS).title()} {c}" for c in range(columns)) + " |"
    rule = "|" + "|".join([":---"] + ["---"] * (columns - 1)) + "|"
    body = ["| " + " | ".join(f"`{rng.choice(WORDS)}{index}`" if c == 0 else
                              " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 5)))
                              for c in range(columns)) + " |" for _ in range(rows)]
    return "\n".join([head, rule, *body]) + "\n"


def code_block(rng, n):
    language = rng.choice(LANGUAGES)
    word = rng.choice(WORDS)
    body = "".join(CODE[language].format(w=word, W=word.title(), n=n + k) for k in range(rng.randint(1, 4)))
    return f"```{language}\n{body}```\n"


def manual(rng, target_bytes=1_500_000, tables=60, code_blocks=500):
    parts = ["# Lumivale Reference Manual\n",
             paragraph(rng, 6) + "\n",
             "## Contents\n",
             "\n".join(f"{n}. [Chapter {n}](#chapter-{n})" for n in range(1, 31)) + "\n"]
    size = sum(len(p) for p in parts)
    sections = tables  # one table per section; code blocks spread over the sections
    per_section = code_blocks // sections
    extra = code_blocks - per_section * sections
    prose_per_section = (target_bytes - size) // sections
    n = 0
    for section in range(1, sections + 1):
        if section % 2 == 1:
            parts.append(f"## Chapter {(section + 1) // 2}\n")
        parts.append(f"### Section {section}: {rng.choice(WORDS)} {rng.choice(WORDS)}\n")
        blocks = per_section + (1 if section <= extra else 0)
        start = len("".join(parts[-2:]))
        written = 0
        for b in range(blocks):
            parts.append(paragraph(rng, rng.randint(3, 8)) + "\n")
            parts.append(code_block(rng, n))
            n += 1
            if b == blocks // 2:
                parts.append(table(rng, section))
            if b % 3 == 0:
                parts.append("\n".join(f"- {sentence(rng, rng.randint(5, 12))}" for _ in range(4)) + "\n")
        written = sum(len(p) for p in parts[-(blocks * 2 + 1):]) - start
        while written < prose_per_section:
            p = paragraph(rng, rng.randint(4, 10)) + "\n"
            parts.append(p)
            written += len(p)
    return "\n".join(parts)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    rng = random.Random(20241209)
    documents = {
        "readme-plain.md": README_HEAD + README_MIDDLE + README_TAIL,
        "readme-diagrams.md": README_HEAD + README_DIAGRAM_1 + README_MIDDLE + README_DIAGRAM_2 + README_TAIL,
        "manual.md": manual(rng),
    }
    for name, text in documents.items():
        path = os.path.join(out, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        print(f"{path}: {os.path.getsize(path) / 1e6:.2f} MB", file=sys.stderr)


if __name__ == "__main__":
    main()
