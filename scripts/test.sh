#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test stage: the Windows
# platform tests under Wine, the self-contained Windows build with its
# end-to-end runs under Wine, the ordinary build, then everything again under
# AddressSanitizer and UndefinedBehaviorSanitizer with the fuzz targets
# (bounded). Every stage runs even when an earlier one failed; the summary at
# the end gives each stage's result, and the script fails if any stage did.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh || exit 1
jobs=$(nproc)

linux_tests() {
  # Without the source package (an offline machine) the shared tinyxml2 serves.
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMORA_TINYXML2_PREFIX="$(bash scripts/build-linux-deps.sh || true)" >/dev/null &&
    cmake --build build -j"$jobs" &&
    (cd build && ctest --output-on-failure -j2 -LE kill && ctest --output-on-failure -L kill)
}
sanitizer_tests() {
  CC=clang CXX=clang++ cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug \
    -DVELMORA_SANITIZE=ON -DVELMORA_FUZZ=ON >/dev/null &&
    cmake --build build-sanitize -j"$jobs" &&
    (cd build-sanitize &&
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --output-on-failure -j2 -LE kill)
}
windows_exe_tests() { bash scripts/build-windows.sh && bash scripts/test-wine-e2e.sh; }

summary=()
failed=0
stage() { # stage TITLE COMMAND...
  local title=$1 t0 verdict
  shift
  echo "== $title"
  t0=$(date +%s)
  if "$@"; then verdict=passed; else verdict=FAILED; failed=1; fi
  summary+=("$(printf '%-7s %5d s  %s' "$verdict" $(( $(date +%s) - t0 )) "$title")")
}

stage "Windows platform tests under Wine" bash scripts/test-windows.sh
stage "Windows Velmora.exe build and end-to-end runs under Wine" windows_exe_tests
stage "Linux build and tests" linux_tests
stage "AddressSanitizer + UndefinedBehaviorSanitizer build and tests, with fuzzing" sanitizer_tests

echo "== Summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
