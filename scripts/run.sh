#!/usr/bin/env bash
# Builds and runs the most complete program there is so far: the TV-link stream decoder on its sample.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build pelkor-wire >/dev/null
exec build/tools/pelkor-wire/pelkor-wire "$@"
