#!/usr/bin/env bash
# Images end to end, each case side by side with its comparison in the same run:
#  1. a 20000 x 20000 grey PNG on Sp. A0 (rotated) and on the E-arch roll (unrotated)
#     at 600 dpi: seconds, peak RSS, decodes;
#  2. photos of 8000 x 6000 and 16000 x 12000 pixels over an A0 sheet at 600 dpi;
#  3. a one-bit CAD drawing of 28063 x 19871 pixels placed 1:1 on A0, against
#     `tiffcp -c g4` on the same bitmap;
#  4. an A3 600-dpi photo against the ImageMagick pipeline (nearest sampling, grey,
#     ordered dither, Group 4), when ImageMagick is installed (/usr/bin/convert).
# With a second build (for example one of an older commit), every kvrac case also runs
# with that build, interleaved, so both sets of figures come from the same run.
#   bash bench/image_e2e.sh [BUILD_DIR] [OTHER_BUILD_DIR]   (default: build-release)
# Environment: RUNS (default 3; medians are shown), OTHER_RUNS (runs of the other
# build, default RUNS), IMAGES (a folder keeping the generated images between runs),
# OTHER_SKIP (cases the other build skips, a regular expression matched against the
# case name: an old build's slowest cases take many minutes).
# Decodes are counted from outside with strace, from the times the PNG file is
# opened: reading a script opens it twice (signature, then header), and the plot
# opens it once more for the signature and once for every decode begun.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build-release}
other=${2:-}
runs=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
images=${IMAGES:-$work}
mkdir -p "$images"

c++ -O2 -std=c++17 "$here/bench/tools/bench_images.cpp" -lpng -ltiff -o "$work/bench_images"
make_image() { # kind w h name [tif]
    [ -s "$images/$4" ] || "$work/bench_images" "$1" "$2" "$3" "$images/$4" ${5:+"$images/$5"}
}
make_image grey 20000 20000 grey-20k.png
make_image photo 8000 6000 photo-8k.png
make_image photo 16000 12000 photo-16k.png
make_image cad 28063 19871 cad.png cad.tif

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# Runs "$@" n times; prints "median_seconds median_peak_kb". With COUNT set to a file
# name, the first run goes under strace (only opens are stopped, through seccomp) and
# decodes=N is added: the plot's opens of that file less the three of reading the
# script and opening the image, one for each decode begun.
timed() {
    local n=$1
    shift
    local s=() k=() trace=() d=""
    for i in $(seq "$n"); do
        trace=()
        if [ -n "${COUNT:-}" ] && [ "$i" = 1 ] && command -v strace >/dev/null; then
            trace=(strace --seccomp-bpf -f -qq -e trace=open,openat -o "$work/strace.txt")
        fi
        /usr/bin/time -o "$work/time.txt" -f "%e %M" "${trace[@]}" "$@" >/dev/null 2>"$work/err.txt" ||
            { echo "failed: $* $(cat "$work/err.txt")" >&2; echo "- -"; return; }
        read -r a b <"$work/time.txt"
        s+=("$a"); k+=("$b")
        [ ${#trace[@]} -eq 0 ] || d=" decodes=$(($(grep -c "\"$COUNT\"" "$work/strace.txt") - 3))"
    done
    echo "$(printf '%s\n' "${s[@]}" | median) $(printf '%s\n' "${k[@]}" | median)$d"
}

settings() { # name, then config options
    local name=$1
    shift
    for b in "$build" ${other:+"$other"}; do
        "$b/kvrac" config --reset --settings "$work/$name-$(basename "$b").bin" "$@" >/dev/null
    done
}
settings spa0 --format 16 --resolution 600
settings roll --format 23 --length 900 --resolution 600
settings a0 --format 11 --resolution 600
settings a3 --format 14 --resolution 600

# case name, settings, script text, image: one line per build with seconds, peak RSS
# and decodes.
plot_case() {
    local name=$1 set=$2 text=$3 png=$4
    printf '%b' "$text" >"$work/$name.kvs"
    for b in "$build" ${other:+"$other"}; do
        local n=$runs
        if [ "$b" = "$other" ]; then
            [ -n "${OTHER_SKIP:-}" ] && [[ $name =~ $OTHER_SKIP ]] && continue
            n=${OTHER_RUNS:-$runs}
        fi
        local result
        result=$(COUNT="$images/$png" timed "$n" "$b/kvrac" plot "$work/$name.kvs" -o "$work/$name.prn" \
            --settings "$work/$set-$(basename "$b").bin")
        read -r sec kb d <<<"$result"
        echo "$name build=$b runs=$n seconds=$sec peak_rss_kb=$kb $d job_sha256=$(sha256sum "$work/$name.prn" | cut -c1-16)..."
    done
}

plot_case grey20k-spa0-rotated spa0 "unit in\nimage 0 0 33.333 33.333 \"$images/grey-20k.png\"\n" grey-20k.png
plot_case grey20k-roll-unrotated roll "unit in\nimage 0 0 33.333 33.333 \"$images/grey-20k.png\"\n" grey-20k.png
plot_case photo8k-a0 a0 "unit in\nimage 0 0 46.7 33.1 \"$images/photo-8k.png\"\n" photo-8k.png
plot_case photo16k-a0 a0 "unit in\nimage 0 0 46.7 33.1 \"$images/photo-16k.png\"\n" photo-16k.png
# 28063 x 19871 pixels at 600 dpi: 46.7717 x 33.1183 in.
plot_case cad-a0-1to1 a0 "unit in\nimage 0 0 46.7717 33.1183 \"$images/cad.png\"\n" cad.png
read -r g4_s g4_kb < <(timed "$runs" tiffcp -c g4 "$images/cad.tif" "$work/cad-g4.tif")
echo "cad-a0-1to1 tiffcp_g4 seconds=$g4_s peak_rss_kb=$g4_kb"

# A3 (16.533 x 11.68 in: 9920 x 7008 dots at 600 dpi) covered by the 8000 x 6000 photo.
plot_case photo8k-a3 a3 "unit in\nimage 0 0 16.533 11.68 \"$images/photo-8k.png\"\n" photo-8k.png
if [ -x /usr/bin/convert ] && /usr/bin/convert -version 2>/dev/null | grep -q ImageMagick; then
    # Debian's policy caps ImageMagick's pixel cache below what an A3 sheet needs.
    mkdir -p "$work/magick"
    printf '%s\n' '<policymap>' \
        '  <policy domain="resource" name="memory" value="4GiB"/>' \
        '  <policy domain="resource" name="map" value="4GiB"/>' \
        '  <policy domain="resource" name="area" value="1GP"/>' \
        '  <policy domain="resource" name="disk" value="8GiB"/>' '</policymap>' \
        >"$work/magick/policy.xml"
    export MAGICK_CONFIGURE_PATH=$work/magick
    read -r im_s im_kb < <(timed "$runs" /usr/bin/convert "$images/photo-8k.png" -sample 9920x7008! \
        -colorspace Gray -ordered-dither o8x8 -compress Group4 "$work/a3.tif")
    echo "photo8k-a3 imagemagick seconds=$im_s peak_rss_kb=$im_kb"
else
    echo "photo8k-a3 imagemagick: not installed (apt-get install imagemagick)"
fi
