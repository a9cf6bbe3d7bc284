#!/usr/bin/env bash
# Builds the fuzz targets (clang, build-fuzz/) and runs each for a while, one after another.
#
#   fuzz/run.sh [--seconds N] [--corpus DIR] [--seeds-only] [TARGET...]
#
# --seconds N   fuzzing time per target (default 60)
# --corpus DIR  where each target's growing corpus is kept (default build-fuzz/corpus; outside
#               git). The seeds from fuzz/make_seeds.py are written there first.
# --seeds-only  run each target over its seeds (and the kept regression inputs) once, no fuzzing
# Without targets, every target runs. Crashes are written to build-fuzz/artifacts/<target>/;
# each run's log (with libFuzzer's final cov:/ft:/exec lines) to build-fuzz/logs/<target>.log.
# Exits non-zero when any target finds a fault.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
corpus=build-fuzz/corpus
seedsOnly=0
targets=()
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --corpus) corpus=$2; shift 2 ;;
    --seeds-only) seedsOnly=1; shift ;;
    *) targets+=("$1"); shift ;;
  esac
done
all=(template_tokenizer_fuzzer image_references_fuzzer content_detection_fuzzer
     mermaid_source_fuzzer json_fuzzer output_bounding_fuzzer notebook_images_fuzzer
     preview_wire_fuzzer property_list_fuzzer)
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

declare -A dictionary=(
  [template_tokenizer_fuzzer]=template [image_references_fuzzer]=markdown
  [content_detection_fuzzer]=markdown [mermaid_source_fuzzer]=markdown [json_fuzzer]=json
  [output_bounding_fuzzer]=json [notebook_images_fuzzer]=json [preview_wire_fuzzer]=wire
  [property_list_fuzzer]=plist)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DLUMIVALE_BUILD_FUZZERS=ON \
  -DLUMIVALE_BUILD_TESTS=OFF -DLUMIVALE_BUILD_BENCHMARKS=OFF -DLUMIVALE_BUILD_WEB=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target "${targets[@]}"

info_plists=$(find "build-fuzz/Lumivale Quick Look.app" -name Info.plist)
mapfile -t plists <<<"$info_plists"
python3 fuzz/make_seeds.py "$corpus" "${plists[@]}"
mkdir -p build-fuzz/logs

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for target in "${targets[@]}"; do
  mkdir -p "$corpus/$target" "build-fuzz/artifacts/$target"
  # Inputs that once found a fault (tests/fuzz/<target>/) are run as seeds too.
  inputs=("$corpus/$target")
  [ -d "tests/fuzz/$target" ] && inputs+=("tests/fuzz/$target")
  args=(-timeout=1 -rss_limit_mb=2048 -max_len=16384 -print_final_stats=1
        -dict="fuzz/dict/${dictionary[$target]}.dict"
        -artifact_prefix="build-fuzz/artifacts/$target/")
  log=build-fuzz/logs/$target.log
  if [ "$seedsOnly" = 1 ]; then
    args+=(-runs=0)
  else
    args+=(-max_total_time="$seconds")
  fi
  echo "== $target ($([ "$seedsOnly" = 1 ] && echo seeds || echo "${seconds}s")) =="
  if build-fuzz/fuzz/"$target" "${args[@]}" "${inputs[@]}" >"$log" 2>&1; then
    grep -E '^#[0-9]+.*(DONE|INITED)|stat::number_of_executed_units' "$log" | tail -2 || true
  else
    echo "FAULT in $target: see $log and build-fuzz/artifacts/$target/"
    tail -40 "$log"
    failed+=("$target")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "faults found by: ${failed[*]}"; exit 1; }
