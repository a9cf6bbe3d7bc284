#!/usr/bin/env bash
# Builds and runs the whole suite: unit, end-to-end and browser tests in a normal build, the
# C++ suites and the end-to-end tests again under AddressSanitizer + UndefinedBehaviorSanitizer,
# the concurrency tests under ThreadSanitizer, and every fuzz target for a short while on its seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== build and test (RelWithDebInfo) =="
scripts/build.sh build
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== ASan + UBSan =="
scripts/build.sh build-asan -DLUMIVALE_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug -DLUMIVALE_BUILD_BENCHMARKS=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -L "unit|e2e"

echo "== TSan (concurrency tests) =="
scripts/build.sh build-tsan -DLUMIVALE_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug -DLUMIVALE_BUILD_BENCHMARKS=OFF
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j"$jobs" -R Concurren

echo "== fuzz targets (clang, libFuzzer + ASan + UBSan) =="
# Every target runs 40 s from its seeds and the inputs kept in tests/fuzz/, so that a
# regression that crashes on a known input fails here: nine targets, about six minutes on two
# cores after the instrumented build. A fresh corpus folder keeps the runs independent.
rm -rf build-fuzz/ci-corpus
fuzz/run.sh --seconds 40 --corpus build-fuzz/ci-corpus
