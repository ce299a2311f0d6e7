#!/usr/bin/env bash
# The real pelkor from end to end as a Wayland client, inside tests/wayland/wayland-session.sh (headless
# sway, no desktop portal: the compositor's screen copy is the capture road) and a network namespace
# of its own, against tv-sim on 127.0.0.1, driven with sway's commands and wtype's virtual keyboard.
# A client window of one colour fills the screen and pelkor floats in its corner; the address is
# typed, the connected page reached, the screen cast started and decoded by the TV in that window's
# colour (a picture of pelkor's window taken then, with grim), the cast stopped and pelkor quit with its
# keys. Started again, it takes the extended screen output its first run made (sway 1.7 can neither
# disable nor remove it), rather than making one more.
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

window_colour=d0b020

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

# Starts pelkor on the Wayland display, speaking to tv-sim's port, and waits for its main window to be
# shown with the keys; fails (saying why) where the permissions window came instead.
start_pelkor_on_wayland() {
    local title i geometry launched
    title=$(main_window_title)
    QT_QPA_PLATFORM=wayland PELKOR_TV_PORT=$TV_PORT "$PELKOR" >"$work/pelkor.log" 2>&1 &
    PELKOR_PID=$!
    session_pids+=("$PELKOR_PID")
    launched=$(await_line "$work/pelkor.log" 'launched with the (main|permissions) window' 20) || return 1
    [[ $launched == *main* ]] || { session_fail "pelkor shows the permissions window"; return 1; }
    for ((i = 0; i < 100; i++)); do
        geometry=$(sway_window "$title")
        [[ $geometry == 1\ * ]] && break
        sleep 0.1
    done
    [[ $geometry == 1\ * ]] || { session_fail "pelkor's window did not come up with the keys (sway: '${geometry:-none}')"; return 1; }
    # Floating in the screen's top left corner, so that the window beneath fills the screen's centre.
    swaymsg "[title=\"^$title\$\"] floating enable, move position 0 0" >/dev/null || return 1
    echo "pelkor's window: $(sway_window "$title")"
}

# The TV decodes ten pictures of 1920x1080 (the screen's size: the TV answers with level 0) whose centre has the window's colour.
cast_shows_the_window() {
    await_count "$work/tv.log" '^decoded .* size=1920x1080 ' 10 20 || return 1
    local last
    last=$(last_decoded_centre)
    colour_near "$last" "$window_colour" || session_fail "the last picture's centre is $last, not $window_colour"
}

# Keys from a virtual keyboard of wtype's, which the seat gains for the call alone: a fifth of a second
# first, for pelkor to take up the new keyboard before its keys arrive.
keys() {  # wtype's arguments
    wtype -s 200 "$@"
}

# The address typed into the address field, which has the keys at start; the link and the connected
# page, whose screen button then has the keys.
wayland_connect() {
    keys -d 30 "127.0.0.1" -k Return || return 1
    await_line "$work/tv.log" '^link up ' >/dev/null || return 1
    await_line "$work/pelkor.log" '127\.0\.0\.1 connect success' >/dev/null
}

wayland_start_cast() {
    keys -k space && cast_shows_the_window
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

session_begin
start_private_pulse
install_missing_drivers >/dev/null
start_tv_sim 0 "Living Room"
"$solid_window" --colour "$window_colour" --title pelkor-test >"$work/window.log" 2>&1 &
session_pids+=($!)
await_line "$work/window.log" '^ready ' >/dev/null

check "pelkor shows its main window on Wayland, with the keys" start_pelkor_on_wayland
check "the typed address reaches the connected page" wayland_connect
check "the screen button starts a cast the TV decodes in the window's colour" wayland_start_cast
screenshot_wayland_window "$shots" main-window-casting
check "the stop button ends the cast" wayland_stop_cast
check "the quit keys end pelkor" wayland_quit
check "pelkor ends with status 0" test "$ended_status" -eq 0
check "pelkor starts again on Wayland" start_pelkor_on_wayland
check "the second run takes the first run's extended screen output again" test "$(sway_outputs)" -eq 2
check "the quit keys end the second run" wayland_quit
tv_summary
