#!/usr/bin/env bash
# A cast from end to end on this machine: starts tv-sim on 127.0.0.1 (decoding, answering the cast with
# a quality level), casts the X screen to it with pelkor-cast for a few seconds (a private Xvfb when no
# display is set), then prints pelkor-cast's report and what the TV decoded. Fails when the cast did not
# end cleanly or the TV decoded no picture.
#
#   tools/pelkor-cast/cast-demo.sh PELKOR-CAST TV-SIM [SECONDS] [LEVEL]
set -euo pipefail

cast=$1
TV_SIM=$2
seconds=${3:-10}
level=${4:-0}
REPO=$(cd "$(dirname "$0")/../.." && pwd)
source "$REPO/scripts/session-steps.sh"

session_begin
if [[ -z ${DISPLAY:-} ]]; then
    start_private_xvfb
    echo "private Xvfb on $DISPLAY"
fi
start_tv_sim "$level"

status=0
"$cast" --tv "127.0.0.1:$TV_PORT" --seconds "$seconds" | grep -v -e '^PTC\[' -e '^$' || status=$?
tv_summary || status=1
exit "$status"
