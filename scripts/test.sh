#!/usr/bin/env bash
# Builds the driver, the host program, the benchmarks and every test, then runs the
# tests. Missing Debian packages are installed first.
#   bash scripts/test.sh                      normal build in ./build, with the Windows
#                                             build in ./build/windows tested under Wine
#   bash scripts/test.sh --sanitize           AddressSanitizer + UBSan build in ./build-asan
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=build
flags=(-DKVRAC_WERROR=ON -DKVRAC_TESTS=ON)
if [ "${1:-}" = "--sanitize" ]; then
    build=build-asan
    flags+=(-DKVRAC_SANITIZE=ON -DKVRAC_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
else
    # The normal build also builds the Windows programs and tests them under Wine.
    bash scripts/install-windows-deps.sh
    flags+=(-DKVRAC_WINDOWS_TESTS=ON)
fi
jobs=$(nproc)
cmake -S . -B "$build" "${flags[@]}"
cmake --build "$build" -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
    ctest --test-dir "$build" --output-on-failure -j"$jobs"
