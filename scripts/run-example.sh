#!/usr/bin/env bash
# Builds kvrac and runs the bundled example: configures the driver with its defaults
# in a scratch settings store and shows what it stored.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKVRAC_TESTS=OFF -DKVRAC_BENCH=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target kvrac
mkdir -p out
store=out/settings.bin
./build-release/kvrac config --reset --settings "$store"
./build-release/kvrac show --settings "$store"
