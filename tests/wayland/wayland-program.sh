#!/usr/bin/env bash
# The real pelkor from end to end as a Wayland client, inside tests/wayland/wayland-session.sh --portal
# (headless sway, the desktop portal with the stand-in backend) and a network namespace of its own,
# against tv-sim on 127.0.0.1, driven with sway's commands and wtype's virtual keyboard. Three runs:
#   - the first shows the permissions window, the screen share not yet granted: its button asks the
#     portal once, which keeps the grant; closing the window ends pelkor;
#   - the second shows the main window: the address typed, the connected page reached, the screen cast
#     started through the portal (no question asked again) and decoded by the TV in the colour of the
#     portal's screen (a picture of pelkor's window taken then, with grim), the cast stopped and pelkor
#     quit with its keys;
#   - the third casts through the compositor's screen copy: a client window of one colour fills the
#     screen, pelkor floats in its corner, and the TV decodes that window's colour; sway keeps the one
#     extended screen output the second run made (sway 1.7 can neither disable nor remove it).
#
#   wayland-program.sh PELKOR TV-SIM SOURCE-TREE SCREENSHOT-DIR WAYLAND-SOLID-WINDOW
# Exit status 77 (skipped, with the reason) where Qt's Wayland platform, wtype, pulseaudio or network
# namespaces are missing.
set -euo pipefail

# shellcheck source=../../scripts/session-steps.sh
source "$3/scripts/session-steps.sh"
session_tools="wtype swaymsg grim pulseaudio pactl"
if [[ -z ${PELKOR_E2E_NAMESPACE:-} ]]; then
    compgen -G "/usr/lib/*/qt6/plugins/platforms/libqwayland-*.so" >/dev/null ||
        { echo "skipped: Qt's Wayland platform (qt6-wayland) is not installed (scripts/install-deps.sh installs it)"; exit 77; }
fi
enter_private_network "$0" "$@"
solid_window=$5

# The client window's colour, and the stand-in portal's screen's (stand-in-portal.py).
window_colour=d0b020
portal_screen=2080c0

# The named window in sway's tree as "focused X Y WIDTH HEIGHT" (focused 0 or 1); nothing when absent.
sway_window() {  # title
    swaymsg -t get_tree | /usr/bin/python3 -c '
import json, sys
def walk(node):
    yield node
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        yield from walk(child)
for node in walk(json.load(sys.stdin)):
    if node.get("name") == sys.argv[1] and node.get("pid"):
        r = node["rect"]
        print(int(node["focused"]), r["x"], r["y"], r["width"], r["height"])
        break' "$1"
}

# How many outputs sway has: its own, and those made as extended screens.
sway_outputs() {
    swaymsg -t get_outputs -r | /usr/bin/python3 -c 'import json, sys; print(len(json.load(sys.stdin)))'
}

# Starts pelkor on the Wayland display, speaking to tv-sim's port, with the further environment given,
# and waits for the WINDOW ("main" or "permissions") to be shown with the keys; fails (saying why)
# where the other one came. The main window floats in the screen's top left corner, so that the
# window beneath fills the screen's centre.
start_pelkor_on_wayland() {  # window [name=value...]
    local title i geometry launched
    # In the sanitizer build, LeakSanitizer is off for it: Qt's Wayland platform leaves its protocol
    # objects at the end, allocated inside libwayland-client, whose stacks stop there, so that no
    # suppression can name Qt (the X11 end-to-end tests check the program's own leaks).
    env "${@:2}" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" QT_QPA_PLATFORM=wayland \
        ${TV_PORT:+PELKOR_TV_PORT=$TV_PORT} "$PELKOR" >"$work/pelkor.log" 2>&1 &
    PELKOR_PID=$!
    session_pids+=("$PELKOR_PID")
    launched=$(await_line "$work/pelkor.log" 'launched with the (main|permissions) window' 20) || return 1
    [[ $launched == *"the $1 window" ]] || { session_fail "pelkor did not show its $1 window: $launched"; return 1; }
    if [[ $1 == main ]]; then title=$(main_window_title); else title=$(text_of STRING_TITLEBAR); fi
    for ((i = 0; i < 100; i++)); do
        geometry=$(sway_window "$title")
        [[ $geometry == 1\ * ]] && break
        sleep 0.1
    done
    [[ $geometry == 1\ * ]] || { session_fail "pelkor's window did not come up with the keys (sway: '${geometry:-none}')"; return 1; }
    [[ $1 == main ]] || return 0
    swaymsg "[title=\"^$title\$\"] floating enable, move position 0 0" >/dev/null
}

# tv-sim afresh at level 0 (the TV then decodes pictures of the screen's size).
fresh_tv_sim() {
    if [[ -n ${TV_SIM_PID:-} ]]; then
        kill "$TV_SIM_PID"
        wait "$TV_SIM_PID" 2>/dev/null || true
    fi
    rm -f "$work/tv.log"
    start_tv_sim 0 "Living Room"
}

# The TV decodes ten pictures of 1920x1080 whose centre has the COLOUR.
cast_shows() {  # colour
    await_count "$work/tv.log" '^decoded .* size=1920x1080 ' 10 20 || return 1
    local last
    last=$(last_decoded_centre)
    colour_near "$last" "$1" || session_fail "the last picture's centre is $last, not $1"
}

# Keys from a virtual keyboard of wtype's. The seat has keyboards only while wtype runs, and a client
# takes one up some time after the seat gains it: so one wtype, idle, holds a keyboard for the whole
# session (pelkor has it from the start), and each call's keys come through that same keyboard of
# pelkor's, its keymap first.
hold_a_keyboard() {
    wtype -s 1000000000 &
    session_pids+=($!)
    local i
    for ((i = 0; i < 50; i++)); do
        [[ $(swaymsg -t get_seats) == *'"capabilities": '[1-9]* ]] && return 0
        sleep 0.1
    done
    session_fail "the seat has no keyboard"
}

keys() {  # wtype's arguments
    wtype "$@"
}

# The address typed into the address field, which has the keys at start; the link and the connected
# page, whose screen button then has the keys.
wayland_connect() {
    keys -d 30 "127.0.0.1" -k Return || return 1
    await_line "$work/tv.log" '^link up ' >/dev/null || return 1
    await_line "$work/pelkor.log" '127\.0\.0\.1 connect success' >/dev/null
}

wayland_start_cast() {  # colour
    keys -k space && cast_shows "$1"
}

# A picture of pelkor's window, from the compositor's screen copy, as DIR/NAME.png.
screenshot_wayland_window() {  # dir name
    local x y width height
    read -r _ x y width height <<<"$(sway_window "$(main_window_title)")" || return 1
    mkdir -p "$1"
    grim -g "$x,$y ${width}x$height" "$1/$2.png"
}

# The stop button took the screen button's place and its keys.
wayland_stop_cast() {
    keys -k space || return 1
    await_line "$work/tv.log" 'name=kMsgCastStop ' >/dev/null
}

wayland_quit() {
    keys -M ctrl q -m ctrl || return 1
    await_exit "$PELKOR_PID" 15
}

# The permissions window's screen recording button, after the settings button in the keys' order.
grant_screen_share() {
    keys -k Tab -k space || return 1
    await_line "$XDG_CONFIG_HOME/pelkor/settings.json" '"screenCastRestoreToken"' >/dev/null || return 1
    (($(grep -c '^question ScreenCast types=1$' "$PORTAL_LOG") == 1))
}

# sway's own command closes the window that has the keys.
close_window() {
    swaymsg kill >/dev/null && await_exit "$PELKOR_PID" 15
}

session_begin
[[ -n ${PORTAL_LOG:-} ]] || { echo "wayland-program.sh runs inside wayland-session.sh --portal" >&2; exit 2; }
start_private_pulse
install_missing_drivers >/dev/null
check "the seat has a keyboard for the session" hold_a_keyboard
"$solid_window" --colour "$window_colour" --title pelkor-test >"$work/window.log" 2>&1 &
session_pids+=($!)
await_line "$work/window.log" '^ready ' >/dev/null

check "the first run shows the permissions window: the portal has not granted the screen" start_pelkor_on_wayland permissions
check "its screen recording button asks the portal once, and the grant is kept" grant_screen_share
check "closing the window with sway's command ends pelkor" close_window
check "pelkor ends with status 0" test "$ended_status" -eq 0

fresh_tv_sim
check "the second run shows its main window, with the keys" start_pelkor_on_wayland main
check "the typed address reaches the connected page" wayland_connect
check "the screen button starts a portal cast the TV decodes in the portal screen's colour" wayland_start_cast "$portal_screen"
check "the portal asked no question again" grep -q '^restored ScreenCast types=1$' "$PORTAL_LOG"
screenshot_wayland_window "$shots" main-window-casting
check "the stop button ends the cast" wayland_stop_cast
check "the quit keys end pelkor" wayland_quit
check "pelkor ends with status 0" test "$ended_status" -eq 0
tv_summary

fresh_tv_sim
check "the third run, on the screen copy road, shows its main window" start_pelkor_on_wayland main PELKOR_WAYLAND_CAPTURE=screencopy
check "the typed address reaches the connected page" wayland_connect
check "the screen button starts a screen copy cast the TV decodes in the client window's colour" wayland_start_cast "$window_colour"
check "sway has one extended screen output, the one the second run made" test "$(sway_outputs)" -eq 2
check "the stop button ends the cast" wayland_stop_cast
check "the quit keys end pelkor" wayland_quit
check "pelkor ends with status 0" test "$ended_status" -eq 0
tv_summary
