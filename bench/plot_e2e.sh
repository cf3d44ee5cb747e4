#!/usr/bin/env bash
# End-to-end plotting speed and memory: generates scripts of moves and draws, plots
# each into a job file with kvrac, and in the same run times `wc -l` over the script.
#   bash bench/plot_e2e.sh [BUILD_DIR] [LINES...]     (default: build-release, 1e6 1e7)
set -euo pipefail
build=${1:-build-release}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000000 10000000)
kvrac=$build/kvrac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$kvrac" config --reset --settings "$work/s.bin"
for n in "${sizes[@]}"; do
    script=$work/lines-$n.kvs
    # A move every eighth line, short random steps in between, inside an A0 sheet.
    awk -v n="$n" 'BEGIN { srand(7); x = 20000; y = 20000;
        for (i = 0; i < n; i++) {
            x += int(rand() * 301) - 150; y += int(rand() * 301) - 150;
            if (x < 0) x = -x; if (y < 0) y = -y; if (x > 40000) x = 40000; if (y > 30000) y = 30000;
            print (i % 8 == 0 ? "move " : "draw ") x " " y } }' > "$script"
    wc_s=$( { /usr/bin/time -f %e wc -l "$script" >/dev/null; } 2>&1 )
    out=$( { /usr/bin/time -f "%e %M" "$kvrac" plot "$script" -o "$work/job.prn" --settings "$work/s.bin"; } 2>&1 )
    read -r plot_s peak_kb <<<"$out"
    echo "lines=$n script_bytes=$(stat -c %s "$script") job_bytes=$(stat -c %s "$work/job.prn") wc_l_s=$wc_s kvrac_plot_s=$plot_s ratio=$(awk -v a="$plot_s" -v b="$wc_s" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }') peak_rss_kb=$peak_kb"
done
