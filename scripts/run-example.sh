#!/usr/bin/env bash
# Builds kvrac and runs the main job: plots the bundled site plan with the driver's
# default settings (kept in a scratch store) into out/site-plan.prn.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKVRAC_TESTS=OFF -DKVRAC_BENCH=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target kvrac
mkdir -p out
store=out/settings.bin
./build-release/kvrac config --reset --settings "$store"
./build-release/kvrac report --settings "$store"
./build-release/kvrac plot examples/site-plan.kvs -o out/site-plan.prn --settings "$store"
echo "Wrote out/site-plan.prn ($(wc -c < out/site-plan.prn) bytes)"
