#!/usr/bin/env bash
# Builds and runs pelkor. Where a display is set, the application starts on it, once the stand-in
# drivers its start-up checks for are set up (on a first run). Where none is, it says so and runs the
# demo (scripts/demo.sh): pelkor on a private Xvfb casting to a tv-sim on 127.0.0.1 for SECONDS
# seconds, then tv-sim's report.
#
#   bash scripts/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Measured: about 12 minutes of processor time for the first build, seconds for a rebuild.
echo "building pelkor and tv-sim in build/: the first time about 2 minutes on 8 free cores, later only what changed"
ninja -C build pelkor tv-sim
if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
    REPO=$PWD
    source scripts/session-steps.sh
    install_missing_drivers
    exec build/apps/pelkor/pelkor
fi
echo "no display is set (DISPLAY is empty): running the demo on a private X screen"
exec bash scripts/demo.sh build/apps/pelkor/pelkor build/tools/tv-sim/tv-sim "$@"
