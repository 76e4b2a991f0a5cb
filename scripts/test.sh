#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the Windows build under
# Wine, the ordinary build, then everything again under AddressSanitizer and
# UndefinedBehaviorSanitizer with the fuzz targets (bounded).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=$(nproc)

echo "== Windows build, tests under Wine"
bash scripts/test-windows.sh

echo "== Build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j2 -LE kill && ctest --output-on-failure -L kill)

echo "== Build and tests under AddressSanitizer + UndefinedBehaviorSanitizer, with fuzzing"
CC=clang CXX=clang++ cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug \
  -DVELMORA_SANITIZE=ON -DVELMORA_FUZZ=ON >/dev/null
cmake --build build-sanitize -j"$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build-sanitize && ctest --output-on-failure -j2
