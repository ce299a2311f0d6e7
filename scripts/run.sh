#!/usr/bin/env bash
# Builds and runs the program as it stands: pelkor-cast casts the screen (a private Xvfb where no display is
# set) to a tv-sim it starts on 127.0.0.1, for 10 seconds, then prints what it sent and what the TV decoded.
# Arguments: [SECONDS] [QUALITY LEVEL the TV answers with].
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build pelkor-cast tv-sim >/dev/null
exec bash tools/pelkor-cast/cast-demo.sh build/tools/pelkor-cast/pelkor-cast build/tools/tv-sim/tv-sim "$@"
