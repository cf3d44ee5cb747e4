#!/usr/bin/env bash
# Scanned plans as image lines, end to end: one A0 sheet at 600 dpi (19,866 x 28,087
# one-bit pixels, a grid with hatching) written as a PNG, a G4 TIFF in strips and an LZW
# TIFF in 512-pixel tiles, each plotted onto an A0 sheet by kvrac. Prints time, peak
# RSS and whether the job equals the PNG's, side by side in the same run.
#   bash bench/image_formats_e2e.sh [BUILD_DIR]     (default: build-release)
# Needs python3 (to write the pixels) and libtiff-tools (ppm2tiff, tiffcp).
set -euo pipefail
build=${1:-build-release}
kvrac=$build/kvrac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work" <<'PY'
import struct, sys, zlib
W, H = 19866, 28087
nb = (W + 7) // 8
def key(y):
    return (y % 300 < 3 or y < 40 or y > H - 40, (y // 600) % 3 == 0 and (y * 7) % 64)
def row(k):
    if k[0]:
        return bytes([0xFF]) * nb
    r = bytearray(nb)
    for x in range(0, W, 300): r[x // 8] |= 0xE0 >> (x % 8)
    if k[1] is not False:
        for x in range(k[1], W, 64): r[x // 8] |= 0x80 >> (x % 8)
    return bytes(r)
rows = {}
z = zlib.compressobj(6)
idat = bytearray()
with open(sys.argv[1] + "/scan.pbm", "wb") as pbm:
    pbm.write(b"P4 %d %d\n" % (W, H))
    for y in range(H):
        k = key(y)
        if k not in rows: rows[k] = (row(k), bytes(255 - b for b in row(k)))
        pbm.write(rows[k][0])                  # PBM: 1 = black
        idat += z.compress(b"\0" + rows[k][1]) # PNG grey: 0 = black
idat += z.flush()
def chunk(t, d): return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
with open(sys.argv[1] + "/scan.png", "wb") as png:
    png.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 1, 0, 0, 0, 0)) +
              chunk(b"IDAT", bytes(idat)) + chunk(b"IEND", b""))
PY
ppm2tiff "$work/scan.pbm" "$work/raw.tif"
tiffcp -c g4 -r 256 "$work/raw.tif" "$work/scan-g4.tif"
tiffcp -c lzw -t -w 512 -l 512 "$work/raw.tif" "$work/scan-tiled.tif"
rm "$work/scan.pbm" "$work/raw.tif"
"$kvrac" config --reset --settings "$work/s.bin" --format A0 >/dev/null
for f in scan.png scan-g4.tif scan-tiled.tif; do
    echo "image 0 0 33600 47500 $f" >"$work/$f.kvs"
    out=$( { /usr/bin/time -f "%e %M" "$kvrac" plot "$work/$f.kvs" -o "$work/$f.prn" --settings "$work/s.bin"; } 2>&1 )
    read -r plot_s peak_kb <<<"$(tail -1 <<<"$out")"
    same=$(cmp -s "$work/$f.prn" "$work/scan.png.prn" && echo yes || echo no)
    echo "file=$f file_bytes=$(stat -c %s "$work/$f") kvrac_plot_s=$plot_s peak_rss_kb=$peak_kb job_bytes=$(stat -c %s "$work/$f.prn") job_as_png=$same"
done
