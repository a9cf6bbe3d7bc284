#!/usr/bin/env bash
# Whole notebook previews (read, inline Markdown-cell images, bound outputs, render) of 1 MB,
# 20 MB and 100 MB notebooks of images, of a 100 MB notebook of huge text outputs and of an
# ordinary 2000-cell notebook (7.7 MB): time and peak memory of the pipeline in process
# (render-notebook --preview, page to /dev/null) and through the preview service (qlmanage -o:
# extension process, reply over the pipe, preview folder written) to a memory file system
# (/dev/shm) and to disk, side by side with `jupyter nbconvert --to html` on the same files.
#
#   bench/notebook_preview_bench.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build/ (needs render-notebook, qlmanage and the app bundle built);
# RUNS (default 5) is the number of timed runs per file, of which the median is reported (time
# and CPU each; peak memory is the largest seen). The notebooks are generated once into
# NOTEBOOK_DIR (default BUILD_DIR/bench-notebooks) by bench/make_notebooks.py; pointing
# NOTEBOOK_DIR at another build's notebooks measures that build on the same files. ONLY (a
# space-separated list of notebook names) limits the run to those notebooks.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
runs=${2:-5}
render=$build/tools/render-notebook
qlmanage=$build/qlmanage
data=${NOTEBOOK_DIR:-$build/bench-notebooks}
work=$(mktemp -d "${TMPDIR:-/var/tmp}/notebook-bench.XXXXXX")
shm=$(mktemp -d /dev/shm/notebook-bench.XXXXXX)
trap 'rm -rf "$work" "$shm"' EXIT

for tool in "$render" "$qlmanage" /usr/bin/time; do
  [[ -x $tool ]] || { echo "missing $tool (build the project first)" >&2; exit 1; }
done
nbconvert=$(command -v jupyter-nbconvert || true)
[[ -n $nbconvert ]] || echo "jupyter-nbconvert not installed: no comparison" >&2
if [[ ! -s $data/text-100mb.ipynb ]]; then
  python3 "$here/make_notebooks.py" "$data" >&2
fi
if [[ ! -s $data/cells-2000.ipynb ]]; then
  python3 "$here/make_notebooks.py" "$data" cells-2000.ipynb >&2
fi

calc() { awk "BEGIN { printf \"%.${2:-2}f\", $1 }"; }
holds() { awk "BEGIN { exit !($1) }"; }

# measure RUNS COMMAND...: the median of $runs runs; sets wall, cpu (user + system) and rss
# (the largest, KB).
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
measure() {
  local walls="" cpus="" peak=0 n
  for ((n = 0; n < $1; n++)); do
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "${@:2}" >/dev/null 2>"$work/err" || {
      echo "failed: ${*:2}" >&2; cat "$work/err" >&2; return 1; }
    read -r w u s m <"$work/time"
    walls+="$w"$'\n'
    cpus+="$(calc "$u + $s")"$'\n'
    ((m > peak)) && peak=$m
  done
  wall=$(printf '%s' "$walls" | median) cpu=$(printf '%s' "$cpus" | median) rss=$peak
}

printf '%-14s %6s | %8s %7s %8s %6s | %8s %7s %8s %8s %6s | %9s %8s | %7s %7s\n' notebook MB \
  "preview" "cpu" "peak MB" "xsize" "qlm shm" "cpu" "qlm disk" "peak MB" "xsize" "nbconvert" \
  "peak MB" "speedup" "(shm)"
status=0
miss() { echo "  target missed: $*"; status=1; }
for name in ${ONLY:-images-1mb images-20mb images-100mb text-100mb cells-2000}; do
  file=$data/$name.ipynb
  bytes=$(stat -c %s "$file")
  mb=$(calc "$bytes / 1048576" 1)

  # The pipeline and nbconvert both write their page to /dev/null; qlmanage writes its preview
  # folder (Preview.html, Standalone.html) to /dev/shm and to disk.
  measure "$runs" "$render" --preview "$file" /dev/null
  p_wall=$wall p_cpu=$cpu p_rss=$rss
  measure "$runs" "$qlmanage" --app "$build/Lumivale Quick Look.app" -q -o "$shm" "$file"
  s_wall=$wall s_cpu=$cpu s_rss=$rss
  measure "$runs" "$qlmanage" --app "$build/Lumivale Quick Look.app" -q -o "$work" "$file"
  d_wall=$wall
  rm -rf "${shm:?}"/* "${work:?}"/*
  n_wall="-" n_rss="-" speedup="-" s_speedup="-"
  if [[ -n $nbconvert ]]; then
    measure 1 "$nbconvert" --to html --stdout "$file"
    n_wall=$wall n_rss=$((rss / 1024))
    speedup=$(calc "$n_wall / ($p_wall > 0.01 ? $p_wall : 0.01)" 0)
    s_speedup=$(calc "$n_wall / ($s_wall > 0.01 ? $s_wall : 0.01)" 1)
  fi
  ratio=$(calc "$p_rss * 1024 / $bytes")
  s_ratio=$(calc "$s_rss * 1024 / $bytes")
  printf '%-14s %6s | %7ss %6ss %8d %5sx | %7ss %6ss %7ss %8d %5sx | %8ss %8s | %6sx %6sx\n' \
    "$name" "$mb" "$p_wall" "$p_cpu" $((p_rss / 1024)) "$ratio" "$s_wall" "$s_cpu" "$d_wall" \
    $((s_rss / 1024)) "$s_ratio" "$n_wall" "$n_rss" "$speedup" "$s_speedup"

  case $name in
  images-100mb)
    holds "$p_wall <= 0.12" || miss "$name preview took ${p_wall}s (<= 0.12 s)"
    holds "$ratio <= 2.2" || miss "$name preview peak ${ratio}x its size (<= 2.2x)"
    holds "$s_wall <= 0.3" || miss "$name qlmanage -o to /dev/shm took ${s_wall}s (<= 0.3 s)"
    if [[ $s_speedup != "-" ]]; then
      holds "$s_speedup >= 7" || miss "$name qlmanage -o only ${s_speedup}x faster than nbconvert (>= 7x)"
    fi
    ;;
  text-100mb)
    holds "$p_wall < 1.0" || miss "$name preview took ${p_wall}s (< 1 s)"
    holds "$ratio < 5" || miss "$name preview peak ${ratio}x its size (< 5x)"
    ;;
  cells-2000)
    holds "$p_wall <= 0.05" || miss "$name preview took ${p_wall}s (<= 0.05 s)"
    ;;
  esac
done
echo "preview: in-process pipeline (render-notebook --preview, page to /dev/null), median of $runs;"
echo "  cpu = user + system (qlmanage: with the extension process); nbconvert: jupyter nbconvert"
echo "  --to html --stdout, page to /dev/null, one run"
echo "qlm shm / qlm disk: the preview service end to end (extension process, pipe, preview folder"
echo "  with Preview.html and Standalone.html, a link to it without attachments, written to /dev/shm / to $(df --output=source "$work" | tail -1));"
echo "  peak MB = largest of qlmanage and the extension (to /dev/shm)"
echo "speedup: nbconvert time / preview time, (shm) / qlmanage -o to /dev/shm; xsize = peak memory / file size"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
exit $status
