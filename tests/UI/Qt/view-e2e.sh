#!/usr/bin/env bash
# Viewing the TV's screen with the real pelkor, from end to end: on a private Xvfb and pulseaudio, with
# private user folders, inside a network namespace of its own, against tv-sim on 127.0.0.1 whose still
# screen is 1280 x 720 for the first view and 1920 x 1080 for the second. Each time the view button
# opens the TV-screen window, whose picture, grabbed from the X screen, matches the frame tv-sim sent
# (PSNR above 30 dB); a click and a drag in the window reach tv-sim as touches at the TV's coordinates;
# the stop button sends kMsgTvScreenStop, and a space while the view button sleeps opens nothing.
#
#   view-e2e.sh PELKOR TV-SIM SOURCE-TREE SCREENSHOT-DIR
# Exit status 77 (skipped) where network namespaces, Xvfb, pulseaudio, xdotool or ffmpeg are missing.
set -euo pipefail

# shellcheck source=../../../scripts/session-steps.sh
source "$3/scripts/session-steps.sh"
enter_private_network "$0" "$@"

TV_WINDOW=
# The TV-screen window, once it is on the screen.
find_tv_window() {
    TV_WINDOW=$(timeout 10 xdotool search --sync --onlyvisible --name "^$(text_of STRING_TV_SCREEN_WINDOW)\$" | head -n 1)
    [[ -n $TV_WINDOW ]]
}

# The PSNR in dB of the window's picture, grabbed from the X screen, against the frame tv-sim dumped
# for its SIZE screen scaled to the window. The sidebar's handle at the right edge is left out.
picture_psnr() {  # size
    local X Y WIDTH HEIGHT
    eval "$(xdotool getwindowgeometry --shell "$TV_WINDOW" | grep -E '^(X|Y|WIDTH|HEIGHT)=[0-9]+$')" || return 1
    ffmpeg -loglevel error -y -f x11grab -draw_mouse 0 -video_size "${WIDTH}x${HEIGHT}" -i "$DISPLAY+$X,$Y" \
        -frames:v 1 "$work/grab.png" || return 1
    local crop="crop=$((WIDTH - 48)):$HEIGHT:0:0"
    ffmpeg -loglevel info -i "$work/grab.png" -i "$work/screen-$1.ppm" \
        -lavfi "[0]format=rgb24,$crop[g];[1]scale=$WIDTH:$HEIGHT:flags=bilinear,format=rgb24,$crop[r];[g][r]psnr" \
        -f null - 2>&1 | sed -n 's/.*PSNR .* average:\([0-9.inf]*\).*/\1/p' | tail -n 1
}

# Waits up to 10 s for the window to show the frame of tv-sim's SIZE screen (PSNR above 30 dB).
picture_matches() {  # size
    local i psnr=
    for ((i = 0; i < 20; i++)); do
        psnr=$(picture_psnr "$1") || true
        if [[ $psnr == inf ]] || awk -v p="${psnr:-0}" 'BEGIN { exit !(p > 30) }'; then
            echo "  the window's picture against tv-sim's $1 frame: PSNR $psnr dB"
            return 0
        fi
        sleep 0.5
    done
    session_fail "the window's picture never matched tv-sim's $1 frame (last PSNR ${psnr:-none} dB)"
}

# A click at window point (x, y), then a drag from there 60 points right and 40 down; tv-sim must report
# the press and the end of the drag at the TV's coordinates (the window point times scale).
touches_arrive() {  # x y scale
    local x=$1 y=$2 s=$3
    xdotool mousemove --window "$TV_WINDOW" "$x" "$y" click 1 || return 1
    await_line "$work/tv.log" "^input touch_down x=$((x * s / 10)) y=$((y * s / 10))\$" >/dev/null || return 1
    await_line "$work/tv.log" "^input touch_up x=$((x * s / 10)) y=$((y * s / 10))\$" >/dev/null || return 1
    xdotool mousedown 1 mousemove --window "$TV_WINDOW" $((x + 30)) $((y + 20)) \
        mousemove --window "$TV_WINDOW" $((x + 60)) $((y + 40)) mouseup 1 || return 1
    await_line "$work/tv.log" "^input touch_move x=$(((x + 60) * s / 10)) y=$(((y + 40) * s / 10))\$" >/dev/null || return 1
    await_line "$work/tv.log" "^input touch_up x=$(((x + 60) * s / 10)) y=$(((y + 40) * s / 10))\$" >/dev/null
}

# The view button has the keys: it opens the TV-screen window, tv-sim streams SIZE.
start_viewing() {  # size
    xdotool key space || return 1
    await_line "$work/tv.log" "^view start size=$1 " >/dev/null || return 1
    await_line "$work/tv.log" "^view size=$1\$" >/dev/null || return 1
    find_tv_window
}

# The stop button takes the view button's keys once it wakes, half a second after the TV told its size:
# the space waits for that, and for the main window to hold the keys again after the touches; it ends
# the view. Further KEYS follow the space at once, while the view button sleeps.
stop_viewing() {  # count of stops so far [key...]
    await_count "$work/pelkor.log" 'the stop button takes clicks$' "$1" >/dev/null || return 1
    timeout 10 xdotool windowfocus --sync "$PELKOR_WINDOW" && xdotool key space "${@:2}" || return 1
    await_count "$work/tv.log" 'name=kMsgTvScreenStop ' "$1" >/dev/null || return 1
    await_count "$work/tv.log" '^view stop .* by=client$' "$1" >/dev/null
}

# No window of pelkor's but the main one is on the screen: no menu opened from keys that came while
# the view button slept.
only_main_window_shown() {
    local others
    others=$(xdotool search --onlyvisible --pid "$PELKOR_PID" | grep -cvxF "$PELKOR_WINDOW") || true
    ((others == 0)) || session_fail "$others more windows of pelkor's are on the screen"
}

session_begin
use_private_folders
start_private_xvfb
start_private_pulse
install_missing_drivers >/dev/null
start_tv_sim 0 "Living Room" --screen 1280x720 --screen 1920x1080 --screen-still --screen-dump "$work"
check "pelkor shows its main window" start_pelkor
check "the typed address reaches the connected page" connect_to_tv
# From the screen button, which has the keys, past the window button to the view button.
xdotool key Tab Tab

check "the view button opens the TV-screen window and tv-sim streams 1280x720" start_viewing 1280x720
check "the window shows tv-sim's 1280x720 frame" picture_matches 1280x720
check "a click and a drag arrive as touches at the same coordinates" touches_arrive 100 20 10
check "the stop button sends kMsgTvScreenStop; a second space at once goes nowhere" stop_viewing 1 space

check "the view button takes the keys back once it is awake again" \
    await_line "$work/pelkor.log" 'the view button takes clicks again' 5
check "the space while the view button slept opened nothing" only_main_window_shown
check "the view button opens the window again and tv-sim streams 1920x1080" start_viewing 1920x1080
check "the window shows tv-sim's 1920x1080 frame" picture_matches 1920x1080
mkdir -p "$shots"
cp "$work/grab.png" "$shots/tv-screen-window-x11.png"
check "a click and a drag arrive as touches at 1.5 times the window's points" touches_arrive 100 20 15
check "the stop button sends kMsgTvScreenStop again" stop_viewing 2
check "the quit keys end pelkor" quit_pelkor
