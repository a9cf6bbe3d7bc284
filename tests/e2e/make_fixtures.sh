#!/usr/bin/env bash
# Writes the end-to-end documents into DIR: a Markdown document with local PNG, JPEG, GIF and
# SVG images (beside it, in a subfolder, in a sibling folder reached with "..", and a name with
# a space written as %20), Mermaid sources, a file that is not UTF-8.
set -euo pipefail
dir=$1
mkdir -p "$dir/docs/img" "$dir/pictures"
png=iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAFklEQVR4nGP4z8DAwMDAxMDAwMDAAAANHQEDasKb6QAAAABJRU5ErkJggg==
gif=R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7
jpg=/9j/4AAQSkZJRgABAQEASABIAAD/2wBDAP//////////////////////////////////////////////////////////////////////////////////////wgALCAABAAEBAREA/8QAFBABAAAAAAAAAAAAAAAAAAAAAP/aAAgBAQABPxA=
echo "$png" | base64 -d > "$dir/docs/beside.png"
echo "$jpg" | base64 -d > "$dir/docs/photo.jpg"
echo "$gif" | base64 -d > "$dir/docs/img/anim.gif"
echo "$png" | base64 -d > "$dir/pictures/sibling.png"
echo "$png" | base64 -d > "$dir/docs/my pic.png"
cat > "$dir/docs/img/shape.svg" <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="20" height="10"><rect width="20" height="10" fill="teal"/></svg>
SVG
cat > "$dir/docs/notes.md" <<'MD'
# Images

Beside: ![png](beside.png) and ![jpeg](photo.jpg "A photo")

Below: ![gif](img/anim.gif) ![svg](./img/shape.svg)

Sibling: ![sibling](../pictures/sibling.png)

Escaped: ![space](my%20pic.png) and again ![png again](beside.png)

Remote stays: ![remote](https://example.com/x.png) and missing stays: ![gone](nothing.png)

```mermaid
graph TD; A-->B
```
MD
cat > "$dir/docs/flow.mermaid" <<'MMD'
flowchart LR
  start --> finish
MMD
cat > "$dir/docs/seq.mmd" <<'MMD'

%%{init: {"theme": "default"}}%%
sequenceDiagram
  Alice->>Bob: Hello
MMD
printf '# Bad\n\xff\xfe not UTF-8\n' > "$dir/docs/bad.md"
printf '# Readme\n\nNo extension.\n' > "$dir/docs/README"
