#!/usr/bin/env bash
# The application on a machine without a display: a private Xvfb screen and pulseaudio, private user
# folders, a private network where one can be made, tv-sim on 127.0.0.1; pelkor starts on that screen, the TV's address is typed into its
# address field, the connected page reached, the screen cast for SECONDS seconds, stopped, the link
# ended and pelkor quit; then tv-sim's report.
#
#   scripts/demo.sh PELKOR TV-SIM [SECONDS]
set -euo pipefail

PELKOR=$1
TV_SIM=$2
seconds=${3:-10}
REPO=$(cd "$(dirname "$0")/.." && pwd)
source "$REPO/scripts/session-steps.sh"

# In a network namespace of its own where one can be made: the demo's TV is on 127.0.0.1, and
# pelkor's discovery broadcasts and its file server then stay inside.
if [[ -z ${PELKOR_DEMO_NAMESPACE:-} ]]; then
    flags=$(private_network_flags)
    if [[ -n $flags ]]; then
        PELKOR_DEMO_NAMESPACE=1 exec unshare "$flags" bash "$0" "$@"
    fi
    # Discovery would broadcast on this computer's own networks: the demo runs without it.
    export PELKOR_DISCOVERY=off
    echo "no network namespace can be made here: pelkor runs without discovery, the TV's address is typed"
else
    use_private_network
fi

session_begin
use_private_folders
start_private_xvfb
echo "a private Xvfb on $DISPLAY"
start_private_pulse
echo "a private pulseaudio, default sink $(pactl get-default-sink)"
install_missing_drivers
start_tv_sim 0 "Living Room"
echo "tv-sim listens on 127.0.0.1:$TV_PORT"
start_pelkor
echo "pelkor's main window is up"
connect_to_tv
echo "typed 127.0.0.1 into the address field: connected to tv-sim (PELKOR_TV_PORT=$TV_PORT)"
play_tone $((seconds + 10))
start_cast
echo "the screen button pressed: casting for $seconds s"
# The cast's length is the demo's point, not a wait for something.
sleep "$seconds"
stop_cast
echo "the stop button pressed: the TV heard the stop"
disconnect_from_tv
echo "the disconnect button pressed: the link is down"
quit_pelkor
echo "pelkor quit with status $ended_status; the default sink is $(pactl get-default-sink) again"
print_tv_report
