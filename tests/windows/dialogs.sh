#!/usr/bin/env bash
# Runs the automated user of the real dialogs (dialog_robot.exe) under Wine on a
# private Xvfb display, in the Windows build folder. Pictures of every dialog land in
# BUILD/screenshots.
#   bash tests/windows/dialogs.sh WINDOWS_BUILD_DIR
set -euo pipefail
build=$(cd "${1:?windows build folder}" && pwd)
work="$build/robot"
rm -rf "$work"
mkdir -p "$work" "$build/screenshots"
cp "$build/kvrac.exe" "$build/kvrac_f.dll" "$build/dialog_robot.exe" "$work/"

# Xvfb picks a free display number and writes it to a pipe.
exec {fd}< <(Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>"$work/xvfb.log" & echo "pid $!")
read -r -u "$fd" line
xvfb_pid=${line#pid }
read -r -t 20 -u "$fd" display_number
trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT

export DISPLAY=":$display_number" WINEPREFIX="$build/wine" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml="
# A Wine session started without a display (the other Windows tests) would keep every
# window off this one: start a fresh session here.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
cd "$work"
status=0
timeout 120 wine dialog_robot.exe 'Z:'"${build//\//\\}"'\screenshots' || status=$?
wineserver -k 2>/dev/null || true
ls "$build/screenshots"
exit $status
