#!/usr/bin/env bash
# Builds the Windows programs (kvrac_f.dll, kvrac.exe and the test tools) with the
# MinGW-w64 cross compiler, and prepares a 32-bit Wine prefix inside the build tree to
# run them in.
#   bash scripts/build-windows.sh [BUILD_DIR]      default: ./build-win
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-win}
cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKVRAC_WERROR=ON -DKVRAC_TESTS=OFF -DKVRAC_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"

export WINEPREFIX="$build/wine" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.kvrac-ready" ]; then
    # No display while the prefix is made: nothing needs one, and none may be running.
    env -u DISPLAY wineboot --init
    # Without a window manager (Xvfb), Wine draws the windows' frames and captions.
    env -u DISPLAY wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
    wineserver -w
    touch "$WINEPREFIX/.kvrac-ready"
fi
echo "Windows build ready in $build (Wine prefix $WINEPREFIX)"
