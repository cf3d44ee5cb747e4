#!/usr/bin/env bash
# Plot script reading speed, end to end: one script of moves and draws (default ten
# million lines) plotted into a job file by `kvrac plot`, timed in the same run against
# `wc -l` and `cat > /dev/null` over the same file. Runs are interleaved (each round
# runs every program once, in turn) and the medians reported, so a busy machine slows
# all of them alike. A second kvrac build (for example one of an older commit) may be
# given to compare with; its job must be byte for byte the same.
#   bash bench/script_e2e.sh [BUILD_DIR] [OTHER_BUILD_DIR|-] [LINES] [ROUNDS]
#   (defaults: build-release, none, 10000000, 5)
# With `perf` installed, instructions per script line are counted too (user space,
# one run each).
set -euo pipefail
build=${1:-build-release}
other=${2:--}
lines=${3:-10000000}
rounds=${4:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

kvrac=$build/kvrac
"$kvrac" config --reset --settings "$work/s.bin" >/dev/null
script=$work/lines.kvs
# A move every eighth line, short random steps in between, inside an A0 sheet.
awk -v n="$lines" 'BEGIN { srand(7); x = 20000; y = 20000;
    for (i = 0; i < n; i++) {
        x += int(rand() * 301) - 150; y += int(rand() * 301) - 150;
        if (x < 0) x = -x; if (y < 0) y = -y; if (x > 40000) x = 40000; if (y > 30000) y = 30000;
        print (i % 8 == 0 ? "move " : "draw ") x " " y } }' >"$script"

names=(wc_l cat kvrac)
cmds=("wc -l $script"
      "cat $script"
      "$kvrac plot $script -o $work/job.prn --settings $work/s.bin")
if [ "$other" != - ]; then
    names+=(other_kvrac)
    cmds+=("$other/kvrac plot $script -o $work/other.prn --settings $work/s.bin")
fi

# One run, its output thrown away: "WALL CPU" in seconds (CPU = user + system). On a
# machine other work shares, CPU seconds are the steadier figure.
run() {
    local TIMEFORMAT='%3R %3U %3S' t
    # shellcheck disable=SC2086
    t=$( { time $1 >/dev/null 2>&1; } 2>&1)
    awk '{ printf "%.3f %.3f", $1, $2 + $3 }' <<<"$t"
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

cat "$script" >/dev/null # into the page cache before the first round
declare -A wall cpu
for ((r = 0; r < rounds; r++)); do
    for i in "${!cmds[@]}"; do
        read -r w c <<<"$(run "${cmds[$i]}")"
        wall[$i]+="$w "
        cpu[$i]+="$c "
    done
done
if [ "$other" != - ] && ! cmp -s "$work/job.prn" "$work/other.prn"; then
    echo "script_e2e: the two builds wrote different jobs" >&2
    exit 1
fi

echo "lines=$lines script_bytes=$(stat -c %s "$script") job_bytes=$(stat -c %s "$work/job.prn") rounds=$rounds load=$(cut -d' ' -f1 /proc/loadavg)"
declare -A mw mc
for i in "${!cmds[@]}"; do
    # shellcheck disable=SC2086
    mw[$i]=$(median ${wall[$i]})
    # shellcheck disable=SC2086
    mc[$i]=$(median ${cpu[$i]})
done
for i in "${!cmds[@]}"; do
    rw=$(awk -v a="${mw[$i]}" -v b="${mw[0]}" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }')
    rc=$(awk -v a="${mc[$i]}" -v b="${mc[0]}" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }')
    printf '%-12s wall %6.3f s (%4sx wc -l)  cpu %6.3f s (%4sx wc -l)\n' "${names[$i]}" "${mw[$i]}" "$rw" "${mc[$i]}" "$rc"
done

# Instructions per script line (user space, one run each, programs after cat): with
# perf where the machine gives it hardware counters, else, when KVRAC_BENCH_CALLGRIND=1,
# with valgrind's callgrind over the first million lines (slow, but exact).
per_line() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a / b }'; }
counted=0
if command -v perf >/dev/null; then
    for i in "${!cmds[@]}"; do
        [ "$i" -ge 2 ] || continue
        # shellcheck disable=SC2086
        n=$(perf stat -x, -e instructions:u ${cmds[$i]} 2>&1 >/dev/null | awk -F, '/instructions/ { print $1 }')
        if [[ "$n" =~ ^[0-9]+$ ]]; then
            echo "${names[$i]} instructions per line: $(per_line "$n" "$lines") (perf stat)"
            counted=1
        fi
    done
fi
if [ "$counted" = 0 ] && [ "${KVRAC_BENCH_CALLGRIND:-0}" = 1 ] && command -v valgrind >/dev/null; then
    part=$((lines < 1000000 ? lines : 1000000))
    head -n "$part" "$script" >"$work/part.kvs"
    for i in "${!cmds[@]}"; do
        [ "$i" -ge 2 ] || continue
        cmd=${cmds[$i]//$script/$work/part.kvs}
        # shellcheck disable=SC2086
        n=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null $cmd 2>&1 >/dev/null |
            awk '/Collected/ { print $NF }')
        [[ "$n" =~ ^[0-9]+$ ]] && echo "${names[$i]} instructions per line: $(per_line "$n" "$part") (callgrind, $part lines)"
    done
fi
