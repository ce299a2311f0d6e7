#!/usr/bin/env bash
# A cast from end to end on this machine: starts tv-sim on 127.0.0.1 (decoding, answering the cast with
# a quality level), casts the X screen to it with pelkor-cast for a few seconds (a private Xvfb when no
# display is set), then prints pelkor-cast's report and what the TV decoded. Fails when the cast did not
# end cleanly or the TV decoded no picture. Then, with the TV gone, each failure pelkor-cast knows at
# once (no address, a refused connection, a code no TV answers) ends it at once with the controller's
# word, not at its time limit.
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

# Ends with status 1 and "no cast: " followed by the tip of the key.
fails_at_once() {  # key, then pelkor-cast's arguments
    local expected output
    expected="no cast: $(sed -n "s/^$1 = //p" "$REPO/src/Utils/Resources/en.texts")"
    shift
    output=$(timeout 20 "$@" 2>&1) && return 1
    grep -qxF -- "$expected" <<<"$output" || { echo "$output" | grep -v '^PTC\[' >&2; return 1; }
}
kill "$TV_SIM_PID" && wait "$TV_SIM_PID" 2>/dev/null || true
fails_at_once STRIGN_IP_FORMAT_ERROR "$cast" --tv 1.2.3 --no-sound || { echo "FAILED: no address"; status=1; }
fails_at_once STRING_CANNOT_SEARCH_IP "$cast" --tv "127.0.0.1:$TV_PORT" --no-sound || { echo "FAILED: refused"; status=1; }
# A code is read against this computer's own networks: only in a network namespace of its own,
# where there are none, does no connect leave it.
flags=$(private_network_flags)
if [[ -n $flags ]]; then
    fails_at_once STRING_CANNOT_SEARCH_CODE unshare "$flags" "$cast" --code K7Q2ZD --no-sound ||
        { echo "FAILED: unknown code"; status=1; }
else
    echo "the unknown code is not tried: network namespaces are not permitted here"
fi
exit "$status"
