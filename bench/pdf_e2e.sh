#!/usr/bin/env bash
# End-to-end speed and memory of PDF documents: an A0 landscape CAD sheet (drawn by
# bench/pdf/make_cad_pdf.cpp: frame, title block, 35 hatched rooms, dimensions, text)
# plotted 1:1 at 600 dpi on A0 paper with kvrac, against what a user would otherwise
# run to get a plotter-ready raster of the same page: pdftoppm -r 600 -mono into a
# one-bit TIFF, then tiffcp -c g4. Time and peak RSS of each step, same run.
#   bash bench/pdf_e2e.sh [BUILD_DIR]    (default: build-release; builds make_cad_pdf)
set -euo pipefail
build=${1:-build-release}
cmake --build "$build" --target make_cad_pdf kvrac >/dev/null
kvrac=$build/kvrac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/make_cad_pdf" "$work/plan.pdf"
"$kvrac" config --reset --format A0 --margin 0 --resolution 600 --settings "$work/s.bin" >/dev/null
measure() { # label, command...: prints "label: S s, peak RSS K kB"
    local label=$1
    shift
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err"
    read -r s kb <"$work/time"
    printf '  %-34s %7s s, peak RSS %8s kB\n' "$label:" "$s" "$kb"
}
echo "A0 page $(stat -c %s "$work/plan.pdf") bytes; 600 dpi (19866 x 28087 dots)"
measure "kvrac plot plan.pdf" "$kvrac" plot "$work/plan.pdf" -o "$work/plan.prn" \
    --settings "$work/s.bin"
grep -v '^$' "$work/err" | sed 's/^/    /' || true
measure "pdftoppm -r 600 -mono -tiff" pdftoppm -r 600 -mono -tiff -singlefile "$work/plan.pdf" \
    "$work/mono"
measure "tiffcp -c g4" tiffcp -c g4 "$work/mono.tif" "$work/g4.tif"
echo "  job $(stat -c %s "$work/plan.prn") bytes; G4 TIFF $(stat -c %s "$work/g4.tif") bytes"
"$kvrac" view "$work/plan.prn" --summary | grep -E 'sheet|extent' | sed 's/^/  /'
