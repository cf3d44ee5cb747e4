#!/usr/bin/env bash
# End-to-end speed and memory of DXF drawings: generates a DXF of N entities (lines,
# arcs and four-vertex polylines, millimetres, inside 1000 x 800 mm) and a plot script of
# the same segments (arcs cut into as many chords as the plot makes of them: within half
# a dot at 600 dpi, 1:1), then plots both with kvrac in the same run and prints time to
# job and peak RSS side by side.
#   bash bench/drawing_e2e.sh [BUILD_DIR] [ENTITIES...]    (default: build-release, 1e6)
set -euo pipefail
build=${1:-build-release}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000000)
kvrac=$build/kvrac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$kvrac" config --reset --settings "$work/s.bin" >/dev/null
for n in "${sizes[@]}"; do
    dxf=$work/plan-$n.dxf
    kvs=$work/plan-$n.kvs
    awk -v n="$n" -v dxf="$dxf" -v kvs="$kvs" 'BEGIN {
        srand(11); pi = atan2(0, -1); plu = 40;            # plotter units a millimetre
        tol = 1016 / (2 * 600) / plu;                      # half a dot, in millimetres
        printf "0\nSECTION\n2\nHEADER\n9\n$INSUNITS\n70\n4\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n" > dxf
        # A point at the origin so both drawings have their extents corner at (0, 0).
        printf "0\nPOINT\n8\n0\n10\n0\n20\n0\n" > dxf
        print "move 0 0\ndraw 0 0" > kvs
        for (i = 0; i < n; i++) {
            x = 20 + rand() * 960; y = 20 + rand() * 760; k = i % 10;
            if (k < 4) {
                x2 = x + rand() * 20 - 10; y2 = y + rand() * 20 - 10;
                printf "0\nLINE\n8\n0\n10\n%.3f\n20\n%.3f\n11\n%.3f\n21\n%.3f\n", x, y, x2, y2 > dxf
                printf "move %d %d\ndraw %d %d\n", x*plu+0.5, y*plu+0.5, x2*plu+0.5, y2*plu+0.5 > kvs
            } else if (k < 7) {
                r = 1 + rand() * 9; a0 = int(rand() * 360); sw = 30 + int(rand() * 300); a1 = (a0 + sw) % 360;
                printf "0\nARC\n8\n0\n10\n%.3f\n20\n%.3f\n40\n%.3f\n50\n%d\n51\n%d\n", x, y, r, a0, a1 > dxf
                step = 2 * atan2(sqrt(1 - (1 - tol / r)^2), 1 - tol / r);
                m = int(sw * pi / 180 / step); if (m < sw * pi / 180 / step) m++;
                for (j = 0; j <= m; j++) {
                    t = (a0 + sw * j / m) * pi / 180;
                    printf "%s %d %d\n", (j ? "draw" : "move"), (x + r*cos(t))*plu+0.5, (y + r*sin(t))*plu+0.5 > kvs
                }
            } else {
                printf "0\nLWPOLYLINE\n8\n0\n90\n4\n70\n0\n" > dxf
                for (j = 0; j < 4; j++) {
                    px = x + rand() * 20 - 10; py = y + rand() * 20 - 10;
                    printf "10\n%.3f\n20\n%.3f\n", px, py > dxf
                    printf "%s %d %d\n", (j ? "draw" : "move"), px*plu+0.5, py*plu+0.5 > kvs
                }
            }
        }
        printf "0\nENDSEC\n0\nEOF\n" > dxf }'
    d_out=$( { /usr/bin/time -f "%e %M" "$kvrac" plot "$dxf" -o "$work/dxf.prn" --settings "$work/s.bin"; } 2>&1 | tail -n 1)
    s_out=$( { /usr/bin/time -f "%e %M" "$kvrac" plot "$kvs" -o "$work/kvs.prn" --settings "$work/s.bin"; } 2>&1 | tail -n 1)
    read -r d_s d_kb <<<"$d_out"
    read -r s_s s_kb <<<"$s_out"
    echo "entities=$n dxf_bytes=$(stat -c %s "$dxf") script_lines=$(wc -l <"$kvs")" \
         "dxf_job_bytes=$(stat -c %s "$work/dxf.prn") script_job_bytes=$(stat -c %s "$work/kvs.prn")"
    echo "  kvrac plot DXF:    ${d_s} s, peak RSS ${d_kb} kB"
    echo "  kvrac plot script: ${s_s} s, peak RSS ${s_kb} kB"
done
