#!/usr/bin/env bash
# The real pelkor from end to end, driven through its window: on a private Xvfb and a private
# pulseaudio whose default sink is "Speakers", with private user folders, inside a network namespace
# of its own (so discovery broadcasts and the file server stay there), against tv-sim on 127.0.0.1.
# The address is typed, the connected page reached, a cast started and decoded by the TV, 720P picked
# in the settings (the TV then decodes 1280 x 720), the cast stopped, the link ended and pelkor quit; then the shared folder is empty.
# The user's sound devices ("Speakers" and "Microphone") stay the defaults from launch until a cast
# with sound starts, the loopback device stands in for them during the cast, and they are back after
# it. A run killed mid-cast leaves the loopback device the default; the next start puts them back.
# tv-sim's death ends the link with a toast saying so.
# A second launch while the first runs ends at once, with status 0, changes nothing and brings the
# first one's window to the front.
# The address is first typed with no TV listening there: the connect fails, the same address submitted
# again is tried again, and once tv-sim listens there, connects. A large file pushed from the Files
# window shows its copy's progress (in the window, and a line at each quarter in the log) before the TV
# fetches it.
#
#   program-e2e.sh PELKOR TV-SIM SOURCE-TREE SCREENSHOT-DIR
# Exit status 77 (skipped) where network namespaces, Xvfb, pulseaudio or xdotool are missing.
set -euo pipefail

# shellcheck source=../../../scripts/session-steps.sh
source "$3/scripts/session-steps.sh"
enter_private_network "$0" "$@"

default_sink_is() {
    [[ $(pactl get-default-sink) == "$1" ]]
}

default_devices_are() {  # sink source
    [[ $(pactl get-default-sink) == "$1" && $(pactl get-default-source) == "$2" ]]
}

# The number of pictures tv-sim has decoded so far.
decoded_count() {
    grep -c '^decoded ' "$work/tv.log" || true
}

shared_folder=
shared_folder_empty() {
    [[ -z $(ls -A "$shared_folder" 2>/dev/null) ]]
}

pelkor_has_the_keys() {
    [[ $(xdotool getwindowfocus) == "$PELKOR_WINDOW" ]]
}

# A second copy while the first runs, with the keys elsewhere: no output, status 0, the first's state
# as it was, and the first's window given the keys.
second_launch_raises_the_first() {
    local offered=$shared_folder/offered-by-the-test
    echo bytes >"$offered"
    xdotool windowfocus --sync "$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')" || return 1
    pelkor_has_the_keys && return 1
    local output status=0 i
    output=$(PELKOR_TV_PORT=$TV_PORT timeout 10 "$PELKOR" 2>&1) || status=$?
    [[ $status -eq 0 && -z $output && -f $offered ]] && kill -0 "$PELKOR_PID" && default_sink_is Speakers || return 1
    for ((i = 0; i < 50; i++)); do
        pelkor_has_the_keys && return 0
        sleep 0.1
    done
    session_fail "the first copy's window did not take the keys"
}

# A loopback port nothing listens on (until tv-sim is started there).
unused_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Submits the address field as it stands (Return) and waits for the COUNT-th connect failure.
submit_and_fail() {  # count
    xdotool key Return && await_count "$work/pelkor.log" '127\.0\.0\.1: connect failed' "$1" 15
}

# Submits the address field as it stands and waits for the link and the connected page.
submit_and_connect() {
    xdotool key Return && await_line "$work/tv.log" '^link up ' >/dev/null &&
        await_line "$work/pelkor.log" '127\.0\.0\.1 connect success' >/dev/null
}

# From the screen button past the window, view and disconnect buttons to the file button; in the Files
# window (620 x 420, laid out by its .ui) the add tile is clicked, the dialog takes FILE, the file's tile
# is ticked and the push button clicked. Screenshots the window during the copy, then waits for a
# quarter's progress line, the TV's fetch and the window's close by Escape; the keys go back to the
# screen button.
push_file() {  # file
    xdotool key Tab Tab Tab Tab space || return 1
    local files chooser
    files=$(timeout 10 xdotool search --sync --onlyvisible --name "^$(text_of STRING_FILE_TITLE)\$" | head -n 1) || return 1
    timeout 10 xdotool windowfocus --sync "$files" && xdotool mousemove --window "$files" 70 90 click 1 || return 1
    chooser=$(timeout 10 xdotool search --sync --onlyvisible --name "^$(text_of STRING_CHOOSE_FILES)\$" | head -n 1) || return 1
    timeout 10 xdotool windowfocus --sync "$chooser" && xdotool type --delay 10 "$1" && xdotool key Return || return 1
    timeout 10 xdotool windowfocus --sync "$files" || return 1
    # The tile comes once the dialog has gone: until the push is logged, its picture and the push button
    # are clicked again (a tick that took without the push is undone and done again on the way).
    local i
    for ((i = 0; i < 10; i++)); do
        xdotool mousemove --window "$files" 182 90 click 1 mousemove --window "$files" 549 394 click 1 || return 1
        await_line "$work/pelkor.log" 'pushing 1 file\(s\) to the TV' 1 >/dev/null 2>&1 && break
    done
    PELKOR_WINDOW=$files screenshot_window "$shots" files-window-push
    await_line "$work/pelkor.log" "$(basename "$1"): (25|50|75)% copied for the TV" 30 >/dev/null &&
        await_line "$work/tv.log" '^fetched id=' 60 >/dev/null || return 1
    xdotool key Escape && timeout 10 xdotool windowfocus --sync "$PELKOR_WINDOW" && xdotool key shift+Tab shift+Tab shift+Tab shift+Tab
}

# The TV's offer of FILE: its window (380 x 300, laid out by its .ui) is pictured with the file's name and
# size, its Accept button clicked, and the file must land whole in the download folder.
accept_offer() {  # file
    local offer
    offer=$(timeout 10 xdotool search --sync --onlyvisible --name "^$(text_of STRING_FILE_SHARE_TITLE)\$" | head -n 1) || return 1
    PELKOR_WINDOW=$offer screenshot_window "$shots" offer-window
    timeout 10 xdotool windowfocus --sync "$offer" && xdotool mousemove --window "$offer" 325 273 click 1 || return 1
    await_line "$work/pelkor.log" 'files download completion, success num = 1, fail num = 0' 30 >/dev/null &&
        cmp "$1" "$HOME/Downloads/pelkor/$(basename "$1")" || return 1
    # The result window that takes the offer's place closes on Escape and gives the keys back.
    local result
    result=$(timeout 10 xdotool search --sync --onlyvisible --name "^$(text_of STRING_FILE_SHARE_TITLE)\$" | head -n 1) || return 1
    timeout 10 xdotool windowfocus --sync "$result" && xdotool key Escape && timeout 10 xdotool windowfocus --sync "$PELKOR_WINDOW"
}

session_begin
use_private_folders
shared_folder=$XDG_CACHE_HOME/pelkor/server/fileshare
start_private_xvfb
start_private_pulse
check "the sound server starts with its own default sink" default_sink_is Speakers
install_missing_drivers >/dev/null
TV_PORT=$(unused_port)
check "pelkor shows its main window" start_pelkor
check "the main window leaves the user's sound devices the defaults" default_devices_are Speakers Microphone
check "a second launch ends at once with status 0, changes nothing and raises the first" second_launch_raises_the_first

xdotool type --delay 30 "127.0.0.1"
check "the typed address with no TV there fails to connect" submit_and_fail 1
check "the same address submitted again is tried again" submit_and_fail 2
start_tv_sim 0 "Living Room" --quality-change --listen "127.0.0.1:$TV_PORT"
check "once tv-sim listens there, the same address reaches the connected page" submit_and_connect
screenshot_window "$shots" main-window-connected
truncate -s 512M "$work/large.bin"
check "a large file pushed shows its copy's progress, and the TV fetches it" push_file "$work/large.bin"
# The TV answers with level 0: 1920 x 1080, and takes quality changes during the cast.
check "the screen button starts a cast the TV decodes" start_cast 10
check "during the cast the loopback device is the default sink and source" default_devices_are ROZI-Audio ROZI-Audio2ch_UID
play_tone 60
check "the TV decodes pictures of 1920x1080" grep -q -m1 -E "^decoded .* size=1920x1080 " "$work/tv.log"
check "sound goes to the TV" await_line "$work/tv.log" 'name=kMsgAudioFrame ' 10
screenshot_window "$shots" main-window-casting
check "720P picked in the settings: the TV decodes pictures of 1280x720" pick_quality 2 1280x720
check "the stop button ends the cast" stop_cast
check "after the cast the user's sound devices are the defaults again" default_devices_are Speakers Microphone
check "the disconnect button ends the link" disconnect_from_tv

# Something shared with the TV, which the quit road must take away.
mkdir -p "$shared_folder"
echo bytes >"$shared_folder/shared-before-quit"
check "the quit keys end pelkor" quit_pelkor
check "pelkor ends with status 0" test "$ended_status" -eq 0
check "the shared folder is empty" shared_folder_empty
check "the user's sound devices are still the defaults" default_devices_are Speakers Microphone
tv_summary

check "pelkor starts again" start_pelkor
check "the typed address reaches the connected page again" connect_to_tv
check "a second cast starts" start_cast $(($(decoded_count) + 1))
check "the loopback device stands in during it" default_devices_are ROZI-Audio ROZI-Audio2ch_UID
kill -KILL "$PELKOR_PID"
await_exit "$PELKOR_PID"
check "the killed run left the loopback device the default" default_devices_are ROZI-Audio ROZI-Audio2ch_UID
check "the next start shows its main window" start_pelkor
check "the next start put the user's sound devices back" default_devices_are Speakers Microphone

# This TV offers a file as the link comes up.
kill -KILL "$TV_SIM_PID"
await_exit "$TV_SIM_PID"
head -c $((3 << 20)) /dev/urandom > "$work/holiday.mp4"
start_tv_sim 0 "Living Room" --listen "127.0.0.1:$TV_PORT" --offer "$work/holiday.mp4"
check "the typed address reaches the connected page once more" connect_to_tv
check "the TV's offer, accepted in its window, lands whole in the download folder" accept_offer "$work/holiday.mp4"
kill -KILL "$TV_SIM_PID"
check "the TV's end ends the link" await_line "$work/pelkor.log" ' disconnect$'
check "a toast says the TV is gone and what to do" await_line "$work/pelkor.log" "toast: $(text_of STRING_LINK_TV_GONE)"
screenshot_window "$shots" main-window-tv-gone
check "the quit keys end pelkor" quit_pelkor
