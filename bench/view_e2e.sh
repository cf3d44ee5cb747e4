#!/usr/bin/env bash
# Reading jobs back, end to end, in one run:
#  1. a job of many short lines (the vector benchmark's script): `kvrac plot` that writes
#     it against `kvrac view` that draws it, and `kvrac view --summary` alone;
#  2. an A0 sheet-sized image at 600 dpi: `kvrac view` against libtiff alone decoding the
#     job's MMR pieces (bench_view).
#   bash bench/view_e2e.sh [BUILD_DIR] [LINES]     (default: build-release, 10000000)
set -euo pipefail
build=${1:-build-release}
n=${2:-10000000}
here=$(cd "$(dirname "$0")/.." && pwd)
kvrac=$build/kvrac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
timed() { # prints "seconds peak_kb" of the command
    /usr/bin/time -o "$work/time.txt" -f "%e %M" "$@" >/dev/null 2>"$work/err.txt"
    cat "$work/time.txt"
}
"$kvrac" config --reset --settings "$work/s.bin" >/dev/null
script=$work/lines.kvs
# The same generator as bench/plot_e2e.sh: a move every eighth line, short random steps.
awk -v n="$n" 'BEGIN { srand(7); x = 20000; y = 20000;
    for (i = 0; i < n; i++) {
        x += int(rand() * 301) - 150; y += int(rand() * 301) - 150;
        if (x < 0) x = -x; if (y < 0) y = -y; if (x > 40000) x = 40000; if (y > 30000) y = 30000;
        print (i % 8 == 0 ? "move " : "draw ") x " " y } }' > "$script"
read -r plot_s plot_kb < <(timed "$kvrac" plot "$script" -o "$work/lines.prn" --settings "$work/s.bin")
read -r view_s view_kb < <(timed "$kvrac" view "$work/lines.prn" -o "$work/lines.png")
read -r sum_s sum_kb < <(timed "$kvrac" view --summary "$work/lines.prn")
echo "lines=$n job_bytes=$(stat -c %s "$work/lines.prn") kvrac_plot_s=$plot_s plot_peak_kb=$plot_kb" \
     "kvrac_view_s=$view_s view_peak_kb=$view_kb view_summary_s=$sum_s summary_peak_kb=$sum_kb"

# A0 (format 11), the whole sheet covered by the site photo at 600 dpi.
"$kvrac" config --reset --format 11 --settings "$work/a0.bin" >/dev/null
printf 'unit in\nimage 0 0 46.7 33.1 "%s"\n' "$here/examples/site-photo.png" > "$work/a0.kvs"
read -r iplot_s _ < <(timed "$kvrac" plot "$work/a0.kvs" -o "$work/a0.prn" --settings "$work/a0.bin")
read -r iview_s iview_kb < <(timed "$kvrac" view "$work/a0.prn" -o "$work/a0.png")
echo "a0_image job_bytes=$(stat -c %s "$work/a0.prn") kvrac_plot_s=$iplot_s kvrac_view_s=$iview_s" \
     "view_peak_kb=$iview_kb"
if [ -x "$build/bench_view" ]; then
    KVRAC_VIEW_JOB=$work/a0.prn "$build/bench_view" --benchmark_min_time=1
fi
