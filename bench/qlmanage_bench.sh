#!/usr/bin/env bash
# qlmanage end to end: (1) time from start to a written preview of a small document, extension
# process started cold each run; (2) previews per second for 200 documents through one
# extension process, with 1 and 2 requests in flight.
# usage: bench/qlmanage_bench.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build=${1:-build}
qlmanage=$build/qlmanage
[ -x "$qlmanage" ] || { echo "qlmanage not built: $qlmanage" >&2; exit 1; }
# The extensions come straight from the built app (no registration needed); -q: no report lines.
app=$build/Lumivale\ Quick\ Look.app
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/docs"
printf '\x89PNG\r\n\x1a\n' >"$work/docs/pic.png"
for i in $(seq 1 200); do
  printf '# Document %d\n\nSome *text* with `code` and an image: ![pic](pic.png)\n\n- one\n- two\n' "$i" \
    >"$work/docs/doc$i.md"
done

now() { date +%s%N; }

echo "== cold start: one small document =="
if command -v hyperfine >/dev/null; then
  hyperfine --warmup 2 --runs 20 "$qlmanage --app '$app' -q -o $work/cold $work/docs/doc1.md"
else
  runs=20
  "$qlmanage" --app "$app" -q -o "$work/cold" "$work/docs/doc1.md" # warm the file cache
  best=999999999999; total=0
  for _ in $(seq 1 $runs); do
    start=$(now); "$qlmanage" --app "$app" -q -o "$work/cold" "$work/docs/doc1.md"; end=$(now)
    t=$(( (end - start) / 1000 )); total=$((total + t)); [ $t -lt $best ] && best=$t
  done
  echo "mean $((total / runs / 1000)).$(( (total / runs) % 1000 / 100 )) ms, best $((best / 1000)).$(( best % 1000 / 100 )) ms over $runs runs"
fi

for jobs in 1 2; do
  echo "== 200 documents, one extension process, -j $jobs =="
  rm -rf "$work/batch"
  start=$(now)
  "$qlmanage" --app "$app" -q -j "$jobs" -o "$work/batch" "$work"/docs/doc*.md
  end=$(now)
  ms=$(( (end - start) / 1000000 ))
  echo "$ms ms in all, $(( 200 * 1000 / (ms > 0 ? ms : 1) )) previews per second"
done
