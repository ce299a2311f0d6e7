#!/usr/bin/env bash
# The real pelkor under a neighbour that pushes it to its limits: its descriptor limit held at what it
# has open plus 24, then 30 local clients on the relay's port 127.0.0.1:8888 that never name
# themselves. pelkor keeps serving at most 8 of them, stays idle (under 5% of a core over 3 s), and a
# file-offer window (tv-sim's offer, rejected by its countdown) and the TV-screen window (opened
# and stopped with the view button) still open and close. On a private Xvfb and pulseaudio, inside a
# network namespace of its own, against tv-sim on 127.0.0.1.
#
#   neighbours-e2e.sh PELKOR TV-SIM SOURCE-TREE SCREENSHOT-DIR
# Exit status 77 (skipped) where network namespaces, Xvfb, pulseaudio, xdotool, ffmpeg or prlimit are missing.
set -euo pipefail

# shellcheck source=../../../scripts/session-steps.sh
source "$3/scripts/session-steps.sh"
command -v prlimit >/dev/null || { echo "skipped: prlimit is not installed"; exit 77; }
# Out of descriptors, UndefinedBehaviorSanitizer cannot open the pipe with which it probes memory, so
# its check of a virtual call's dynamic type takes objects for ones with an invalid vtable; and it
# reads its options and suppressions only at its first report, when no file can be opened either.
if ldd "$1" 2>/dev/null | grep -q libubsan; then
    echo "skipped: UndefinedBehaviorSanitizer cannot check a program that has run out of descriptors"
    exit 77
fi
enter_private_network "$0" "$@"

# The descriptors pelkor has open.
open_descriptors() {
    ls "/proc/$PELKOR_PID/fd" | wc -l
}

# pelkor's limit: what it has open now plus 24, soft and hard.
hold_descriptor_limit() {
    local limit=$(($(open_descriptors) + 24))
    prlimit --pid "$PELKOR_PID" --nofile="$limit:$limit" || return 1
    echo "  descriptor limit $limit"
}

# Thirty clients on the relay's port; they send one byte that names nothing and stay.
relay_clients=()
crowd_the_relay() {
    local i fd
    for ((i = 0; i < 30; i++)); do
        exec {fd}<>/dev/tcp/127.0.0.1/8888 || return 1
        printf 'x' >&"$fd"
        relay_clients+=("$fd")
    done
    await_line "$work/pelkor.log" 'rozi server serves 8 clients at most' >/dev/null
}

# pelkor's processor time over 3 s, as a share of one core, stays under 5%.
stays_idle() {
    local ticks before after share
    ticks=$(getconf CLK_TCK)
    before=$(awk '{ print $14 + $15 }' "/proc/$PELKOR_PID/stat")
    sleep 3
    after=$(awk '{ print $14 + $15 }' "/proc/$PELKOR_PID/stat")
    share=$(((after - before) * 1000 / (ticks * 3)))
    echo "  pelkor used $((share / 10)).$((share % 10))% of a core while idle"
    ((share < 50))
}

# The offer window shows once the link is up; its countdown rejects the offer and closes it.
offer_window_opens_and_closes() {
    local title window i
    title=$(text_of STRING_FILE_SHARE_TITLE)
    window=$(timeout 10 xdotool search --sync --onlyvisible --name "^$title" | head -n 1) || return 1
    [[ -n $window ]] || return 1
    await_line "$work/tv.log" 'name=kMsgFileShareReject ' 15 >/dev/null || return 1
    for ((i = 0; i < 50; i++)); do
        xdotool search --onlyvisible --name "^$title" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    session_fail "the offer window stayed after its countdown"
}

# From the screen button the view button is two keys on; it opens the TV-screen window, whose stop
# button then takes the keys and ends the view.
tv_screen_window_opens_and_closes() {
    timeout 10 xdotool windowfocus --sync "$PELKOR_WINDOW" && xdotool key Tab Tab space || return 1
    await_line "$work/tv.log" '^view size=' >/dev/null || return 1
    local window
    window=$(timeout 10 xdotool search --sync --onlyvisible --name "^$(text_of STRING_TV_SCREEN_WINDOW)\$" | head -n 1)
    [[ -n $window ]] || return 1
    # The stop button takes the keys half a second after the TV's size came.
    sleep 1
    timeout 10 xdotool windowfocus --sync "$PELKOR_WINDOW" && xdotool key space || return 1
    await_line "$work/tv.log" '^view stop .* by=client$' >/dev/null
}

session_begin
use_private_folders
start_private_xvfb
start_private_pulse
install_missing_drivers >/dev/null
echo "offered by the TV" >"$work/offered.txt"
start_tv_sim 0 "Living Room" --offer "$work/offered.txt" --screen 1280x720 --screen-still
check "pelkor shows its main window" start_pelkor
check "the relay listens" await_line "$work/pelkor.log" 'rozi server open success'
check "pelkor's descriptors are held to what it has open plus 24" hold_descriptor_limit
check "30 clients crowd the relay, which serves 8 at most" crowd_the_relay
check "pelkor stays idle" stays_idle
check "the typed address reaches the connected page" connect_to_tv
check "the file-offer window opens, and closes when its countdown rejects the offer" offer_window_opens_and_closes
check "the TV-screen window opens and the stop button ends the view" tv_screen_window_opens_and_closes
check "pelkor stays idle after" stays_idle
check "pelkor still runs" kill -0 "$PELKOR_PID"
check "the quit keys end pelkor" quit_pelkor
