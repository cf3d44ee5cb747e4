#!/usr/bin/env bash
# The printer application end to end: an A0 page at 600 dpi sent to kvrac-printer as 8-bit
# grey PWG raster (black and white dots only, printed with print-color-mode bi-level; and
# a grey page), timed from Print-Job to the job completed, with the server's peak memory;
# in the same run `kvrac plot` of the same page as a PNG (turned, as the server plots a
# page taller than wide) with the same settings.
#   bash bench/printer_e2e.sh [BUILD_DIR] [bilevel] [grey]   (default: build-release, both)
# Needs the targets kvrac, kvrac-printer and printer_page, and ipptool.
set -euo pipefail
build=${1:-build-release}
shift || true
types=("$@")
[ ${#types[@]} -gt 0 ] || types=(bilevel grey)
kvrac=$build/kvrac
printer=$build/app/kvrac-printer/kvrac-printer
page_tool=$build/printer_page
for tool in "$kvrac" "$printer" "$page_tool"; do
    [ -x "$tool" ] || { echo "printer_e2e: $tool is not built" >&2; exit 2; }
done
work=$(mktemp -d)
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/state" "$work/run" "$work/device"
export KVRAC_PRINTER_RUNTIME_DIR=$work/run
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

# The server runs under /usr/bin/time: its figure at exit is the peak of the server and
# of the job processes it waited for (the driver runs in a child per page).
/usr/bin/time -f "%M" -o "$work/server.time" "$printer" server -o server-port="$port" \
    -o state-directory="$work/state" -o log-file="$work/server.log" -o log-level=warn &
time_pid=$!
for _ in $(seq 200); do
    server_pid=$(pgrep -P "$time_pid" -f "kvrac-printer server" || true)
    [ -n "$server_pid" ] && [ -S "$work/run/kvrac-printer.sock" ] && break
    sleep 0.1
done
[ -n "$server_pid" ] || { echo "printer_e2e: the server did not start" >&2; exit 1; }
"$printer" add -d plotter -m orvix_9270_rtl -v "file://$work/device" >/dev/null
uri="ipp://127.0.0.1:$port/ipp/print/plotter"

# A0 is the driver's format row 11 (46.773 x 33.12 in): 47521 x 33650 plotter units.
options="--format 11 --media 0 --resolution 600 --copies 1 --fill halftone --margin 0 --program manual --manual-feed no"
cp "$work/state/printer-1.settings" "$work/record.bin"

for type in "${types[@]}"; do
    read -r w h < <("$page_tool" iso_a0_841x1189mm 600 "$type" "$work/$type.pwg" "$work/$type.png" turned)
    mode=monochrome
    [ "$type" = bilevel ] && mode=bi-level
    cat > "$work/print.test" <<EOF
{
  NAME "Print-Job"
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR name requesting-user-name bench
  ATTR name job-name $type
  ATTR mimeMediaType document-format image/pwg-raster
  GROUP job-attributes-tag
  ATTR keyword media iso_a0_841x1189mm
  ATTR resolution printer-resolution 600dpi
  ATTR keyword print-color-mode $mode
  FILE "$work/$type.pwg"
  STATUS successful-ok
  DISPLAY job-id
}
EOF
    cat > "$work/state.test" <<EOF
{
  NAME "Get-Job-Attributes"
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR integer job-id \$job
  STATUS successful-ok
  DISPLAY job-state
}
EOF
    start=$(date +%s.%N)
    job=$(ipptool -t -T 900 "$uri" "$work/print.test" | sed -n 's/.*job-id (integer) = //p')
    state=""
    while [ -n "$job" ]; do
        state=$(ipptool -t -d job="$job" "$uri" "$work/state.test" | sed -n 's/.*job-state (enum) = //p')
        case "$state" in completed|aborted|canceled) break ;; esac
        sleep 0.02
    done
    end=$(date +%s.%N)
    server_s=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
    server_hwm=$(awk '/VmHWM/ { print $2 }' "/proc/$server_pid/status")

    printf 'image 0 0 47521 33650 %s\n' "$type.png" > "$work/$type.kvs"
    cp "$work/record.bin" "$work/plot.bin"
    out=$( { /usr/bin/time -f "%e %M" "$kvrac" plot "$work/$type.kvs" -o "$work/$type.prn" \
               --settings "$work/plot.bin" $options >/dev/null; } 2>&1 | tail -1)
    read -r plot_s plot_kb <<<"$out"
    echo "a0_600dpi=$type pixels=${w}x${h} pwg_bytes=$(stat -c %s "$work/$type.pwg") job=${state:-refused}" \
         "server_s=$server_s server_ppm=$(awk -v s="$server_s" 'BEGIN { printf "%.1f", (s > 0 ? 60 / s : 0) }')" \
         "server_vmhwm_kb=$server_hwm device_bytes=$(stat -c %s "$work/device/$type.prn" 2>/dev/null || echo 0)" \
         "kvrac_plot_s=$plot_s kvrac_plot_ppm=$(awk -v s="$plot_s" 'BEGIN { printf "%.1f", (s > 0 ? 60 / s : 0) }')" \
         "kvrac_plot_peak_kb=$plot_kb job_bytes=$(stat -c %s "$work/$type.prn")" \
         "same_job=$(cmp -s "$work/$type.prn" "$work/device/$type.prn" && echo yes || echo no)" \
         "ratio=$(awk -v a="$server_s" -v b="$plot_s" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')"
    rm -f "$work/$type.pwg" "$work/$type.png"
done
kill "$server_pid"
wait "$time_pid" || true
server_pid=""
echo "server_and_job_processes_peak_kb=$(tail -1 "$work/server.time")"
