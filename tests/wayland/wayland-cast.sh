#!/usr/bin/env bash
# Casting from a Wayland desktop, end to end, inside tests/wayland/wayland-session.sh --portal: a
# client window of one colour in headless sway, then pelkor-cast to a decoding tv-sim on 127.0.0.1 by
# each road, each checked by the colour and size of the pictures the TV decoded:
#   - the compositor's screen copy: the client window's colour;
#   - the desktop portal (the stand-in) with its PipeWire stream: the shared screen's colour, the user
#     asked once, and the restore token kept in the settings file;
#   - the same again: the token spares the question;
#   - one window, chosen in the portal's dialog: that window's colour, letterboxed into the cast;
#   - the extended screen, a headless output that pelkor-cast makes in sway: that output's colour.
#
#   wayland-cast.sh PELKOR-CAST TV-SIM WAYLAND-SOLID-WINDOW
set -euo pipefail

cast=$1
TV_SIM=$2
solid_window=$3
REPO=$(cd "$(dirname "$0")/../.." && pwd)
source "$REPO/scripts/session-steps.sh"
session_begin

# The colours: the client window, the stand-in portal's screen and window (stand-in-portal.py), and a
# second output of sway (wayland-session.sh).
window_colour=d0b020
extended_colour=30a050
portal_screen=2080c0
portal_window=c04020

# Casts for 3 seconds by the road in $1 (with pelkor-cast's further arguments) to a fresh tv-sim, then
# checks that it decoded at least 10 pictures of 1280x720 whose centre has the colour $2.
cast_and_check() {  # road colour [pelkor-cast argument...]
    local road=$1 colour=$2
    shift 2
    rm -f "$work/tv.log"
    start_tv_sim 1
    PELKOR_WAYLAND_CAPTURE=$road "$cast" --tv "127.0.0.1:$TV_PORT" --seconds 3 --no-sound "$@" >"$work/cast.log" 2>&1 ||
        { tail -n 30 "$work/cast.log"; session_fail "pelkor-cast failed"; return 1; }
    kill "$TV_SIM_PID"
    wait "$TV_SIM_PID" 2>/dev/null || true
    local decoded centres last
    decoded=$(grep -c '^decoded .* size=1280x720 ' "$work/tv.log" || true)
    tv_summary
    ((decoded >= 10)) || { tail -n 30 "$work/cast.log"; session_fail "only $decoded pictures of 1280x720 decoded"; return 1; }
    last=$(last_decoded_centre)
    colour_near "$last" "$colour" || { session_fail "the last picture's centre is $last, not $colour"; return 1; }
    echo "ok: $road road, $decoded pictures, centre $last (near $colour)"
}

questions() {  # types
    grep -c "^question ScreenCast types=$1\$" "$PORTAL_LOG" || true
}

"$solid_window" --colour "$window_colour" --title pelkor-test >"$work/window.log" 2>&1 &
session_pids+=($!)
await_line "$work/window.log" '^ready ' >/dev/null

cast_and_check screencopy "$window_colour"

cast_and_check portal "$portal_screen"
(($(questions 1) == 1)) || session_fail "the portal asked $(questions 1) times, not once"
settings=$XDG_CONFIG_HOME/pelkor/settings.json
grep -q '"screenCastRestoreToken"' "$settings" || session_fail "no restore token in $settings"
grep -q 'persist_mode=2 restore_data=no' "$PORTAL_LOG" || session_fail "the share was not asked to persist"
echo "ok: the user was asked once, the restore token is in the settings file"

cast_and_check portal "$portal_screen"
(($(questions 1) == 1)) || session_fail "a second run asked again"
grep -q '^restored ScreenCast types=1$' "$PORTAL_LOG" || session_fail "the restore token was not taken"
echo "ok: the second run asked no question (the token restored the share)"

cast_and_check portal "$portal_window" --window
(($(questions 2) == 1)) || session_fail "the window was not chosen in the portal's dialog"
grep -q '^window: Choose a window$' "$work/cast.log" || session_fail "the window page showed no \"Choose a window\" tile"
echo "ok: one window, chosen in the portal's dialog"

cast_and_check screencopy "$extended_colour" --extended
echo "ok: the extended screen, sway's headless output"
