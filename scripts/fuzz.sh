#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/fuzz_*.cpp) with clang in ./build-fuzz and runs
# each one for SECONDS (default 60) from a copy of its seed corpus (fuzz/corpus/NAME),
# so that the tree is never changed. A crash, a leak, a sanitizer report or a timeout
# fails the script: the input that caused it is printed (hex and base64) with the
# fuzzer's report, and kept in the run's scratch folder.
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]     TARGET: plot_handler, png, ...
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2
    exit 2
fi
bash scripts/install-deps.sh

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DKVRAC_FUZZ=ON -DKVRAC_TESTS=OFF \
    -DKVRAC_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
mapfile -t sources < <(ls fuzz/fuzz_*.cpp)
targets=()
for src in "${sources[@]}"; do
    name=$(basename "$src" .cpp)
    name=${name#fuzz_}
    if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
    targets+=("$name")
done
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz: no target to run" >&2
    exit 2
fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kvrac-fuzz.XXXXXX")
echo "fuzz: $seconds s per target, scratch folder $scratch"
failed=0
summary=()
for name in "${targets[@]}"; do
    work="$scratch/$name"
    mkdir -p "$work/corpus" "$work/artifacts"
    if [ -d "fuzz/corpus/$name" ]; then cp -r "fuzz/corpus/$name/." "$work/corpus/"; fi
    log="$work/log"
    set +e
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
        LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
        "$build/fuzz_$name" "$work/corpus" -max_total_time="$seconds" -timeout=25 \
        -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
        >"$log" 2>&1
    status=$?
    set -e
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || true)
    corpus=$(find "$work/corpus" -type f | wc -l)
    findings=$(find "$work/artifacts" -type f | wc -l)
    summary+=("$(printf '%-16s %10s execs %7s/s  cov %6s  corpus %5s  findings %s' \
        "$name" "${execs:-?}" "${rate:-?}" "${cov:-?}" "$corpus" "$findings")")
    if [ $status -ne 0 ] || [ "$findings" -gt 0 ]; then
        failed=1
        echo "fuzz: $name FAILED (exit $status); the fuzzer's report:"
        grep -v '^#[0-9]' "$log" | tail -60
        for f in "$work"/artifacts/*; do
            [ -f "$f" ] || continue
            echo "fuzz: reproducer $f ($(stat -c %s "$f") bytes):"
            od -A x -t x1z -v "$f" | head -40
            echo "base64:"
            base64 -w 76 "$f" | head -40
            echo "replay: $build/fuzz_$name $f"
        done
    fi
done
echo "fuzz: results ($seconds s each)"
printf '  %s\n' "${summary[@]}"
[ $failed -eq 0 ] && rm -rf "$scratch"
exit $failed
