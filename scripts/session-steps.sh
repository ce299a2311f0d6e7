# The steps of a session with the real pelkor, sourced by the demo (scripts/demo.sh) and the
# end-to-end test: a private X screen and sound server, private user folders, tv-sim on 127.0.0.1 on a
# port the kernel picks, pelkor driven through its window with xdotool. Every step waits on something
# it can see (a report or log line, a window, a process' end), never on time alone.
#
# The caller sets PELKOR, TV_SIM and REPO (the source tree), runs with `set -euo pipefail`, and calls
# session_begin first. Files land in $work, which goes with the session.

# The unshare flags that give this user a network namespace of its own (only a loopback device, so
# discovery broadcasts and listening ports stay inside): "-n" for root, "-rn" through a user namespace;
# none where neither is permitted.
private_network_flags() {
    local flags
    for flags in -n -rn; do
        if unshare "$flags" true 2>/dev/null; then
            printf "%s\n" "$flags"
            return
        fi
    done
}

# Inside such a namespace: its loopback device up.
use_private_network() {
    ip link set lo up
}

# An end-to-end test runs inside a network namespace of its own: called with the test's script and
# its arguments PELKOR TV-SIM SOURCE-TREE SCREENSHOT-DIR, it runs them again there (exit status 77,
# skipped, where a tool the session needs or namespaces are missing); inside, it brings the loopback
# device up and sets PELKOR, TV_SIM, REPO and shots from those arguments.
enter_private_network() {  # script pelkor tv-sim source-tree screenshot-dir
    if [[ -n ${PELKOR_E2E_NAMESPACE:-} ]]; then
        use_private_network
        PELKOR=$2 TV_SIM=$3 REPO=$4 shots=$5
        return
    fi
    local tool flags
    for tool in Xvfb pulseaudio pactl xdotool ffmpeg; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
    done
    flags=$(private_network_flags)
    [[ -n $flags ]] || { echo "skipped: network namespaces are not permitted here (unshare)"; exit 77; }
    PELKOR_E2E_NAMESPACE=1 exec unshare "$flags" bash "$@"
}

# A step of an end-to-end test: runs the command and says "ok"; when it fails, says what failed, shows
# the end of pelkor's log and tv-sim's report, and ends the test.
check() {  # description, then the command that must succeed
    local what=$1
    shift
    if ! "$@"; then
        echo "FAILED: $what" >&2
        echo "--- pelkor's log" >&2
        grep -v '^$' "$work/pelkor.log" | tail -n 40 >&2 || true
        echo "--- tv-sim's report" >&2
        grep -v -E '^(recv|decoded) ' "$work/tv.log" >&2 || true
        tv_message_counts >&2 || true
        exit 1
    fi
    echo "ok: $what"
}

# Makes $work and the trap that ends every process started here, the latest first.
session_begin() {
    work=$(mktemp -d)
    session_pids=()
    trap session_end EXIT
}

session_end() {
    local i
    for ((i = ${#session_pids[@]} - 1; i >= 0; i--)); do
        kill "${session_pids[i]}" 2>/dev/null || true
        wait "${session_pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}

session_fail() {
    echo "session: $*" >&2
    return 1
}

# Waits up to SECONDS (default 10) for FILE to hold a line matching the extended PATTERN; prints
# the first such line.
await_line() {  # file pattern [seconds]
    local tenths=$((${3:-10} * 10)) i
    for ((i = 0; i < tenths; i++)); do
        if grep -m1 -E -- "$2" "$1" 2>/dev/null; then
            return 0
        fi
        sleep 0.1
    done
    session_fail "nothing matching '$2' in $(basename "$1") within ${3:-10} s"
}

# Waits up to SECONDS for FILE to hold COUNT lines matching PATTERN.
await_count() {  # file pattern count [seconds]
    local tenths=$((${4:-10} * 10)) i
    for ((i = 0; i < tenths; i++)); do
        if (($(grep -c -E -- "$2" "$1" 2>/dev/null || true) >= $3)); then
            return 0
        fi
        sleep 0.1
    done
    session_fail "fewer than $3 lines matching '$2' in $(basename "$1") within ${4:-10} s"
}

# Waits up to SECONDS for the process to end; its exit status in $ended_status.
await_exit() {  # pid [seconds]
    local tenths=$((${2:-10} * 10)) i
    for ((i = 0; i < tenths; i++)); do
        if ! kill -0 "$1" 2>/dev/null; then
            ended_status=0
            wait "$1" || ended_status=$?
            return 0
        fi
        sleep 0.1
    done
    session_fail "process $1 did not end within ${2:-10} s"
}

# User folders of the session's own, so no setting, driver or shared file of the user is touched.
use_private_folders() {
    mkdir -p "$work/home" "$work/run" "$work/cache" "$work/data" "$work/config"
    chmod 700 "$work/run"
    export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data \
        XDG_CONFIG_HOME=$work/config
}

# An Xvfb of the session's own; DISPLAY names it. On an X display Qt talks to the desktop's bus on a
# thread of its own, synchronised inside libraries a ThreadSanitizer build cannot follow: their own
# accesses go unchecked there (ours stay checked).
start_private_xvfb() {
    export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS }ignore_noninstrumented_modules=1"
    Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -nolisten unix 3>"$work/display" >/dev/null 2>&1 &
    session_pids+=($!)
    await_line "$work/display" '^[0-9]+$' >/dev/null || return 1
    export DISPLAY=":$(head -n 1 "$work/display")"
}

# A pulseaudio of the session's own with the computer's "own" devices, sink "Speakers" and source
# "Microphone", as the defaults; every sound client started after this talks only to it.
start_private_pulse() {
    local dir=$work/pulse i
    mkdir -p "$dir"
    echo "autospawn = no" >"$dir/client.conf"
    HOME=$dir PULSE_RUNTIME_PATH=$dir/runtime XDG_CONFIG_HOME=$dir/config PULSE_STATE_PATH=$dir/state \
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes --use-pid-file=no --system=no \
        -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/native" \
        -L "module-null-sink sink_name=Speakers sink_properties=device.description=Speakers" \
        -L "module-null-source source_name=Microphone" >"$dir/daemon.log" 2>&1 &
    session_pids+=($!)
    export PULSE_SERVER=unix:$dir/native PULSE_CLIENTCONFIG=$dir/client.conf PULSE_COOKIE=$dir/cookie
    for ((i = 0; i < 100; i++)); do
        if pactl info >/dev/null 2>&1; then
            pactl set-default-sink Speakers && pactl set-default-source Microphone
            return
        fi
        sleep 0.1
    done
    session_fail "the private pulseaudio did not answer; its log: $dir/daemon.log"
}

# The version a driver's Info.json holds; empty when it has none.
driver_version() {  # file
    sed -n 's/.*"CFBundleShortVersionString"[[:space:]]*:[[:space:]]*"\([^"]*\)".*/\1/p' "$1" 2>/dev/null | head -n 1
}

# YES when the driver is installed and not older than the copy among the resources, as pelkor's own
# check has it; NO otherwise.
driver_current() {  # name
    local shipped installed
    installed=$(driver_version "${XDG_DATA_HOME:-$HOME/.local/share}/pelkor/drivers/$1/Contents/Info.json")
    shipped=$(driver_version "$REPO/resources/drivers/$1/Contents/Info.json")
    if [[ -n $installed && -n $shipped && $(printf '%s\n%s\n' "$shipped" "$installed" | sort -V | tail -n 1) == "$installed" ]]; then
        echo YES
    else
        echo NO
    fi
}

# Sets up, with the application's own install script, the stand-in drivers pelkor's start-up check
# finds missing or older, so that its main window comes up at once. The loopback sound device counts
# as missing too where the sound server has none, since the loopback driver is that device here.
install_missing_drivers() {
    local speaker microphone camera
    speaker=$(driver_current ROZIAudio2.driver)
    microphone=$(driver_current ROZIAudio.driver)
    camera=$(driver_current rozi-mac-virtualcam.plugin)
    if pactl info >/dev/null 2>&1 && ! pactl list short sinks | cut -f2 | grep -qxF ROZI-Audio; then
        speaker=NO
    fi
    if [[ $speaker$microphone$camera == YESYESYES ]]; then
        return
    fi
    echo "setting up the stand-in drivers (speaker current: $speaker, microphone: $microphone, camera: $camera)"
    bash "$REPO/resources/installVirtualDrivers.sh" "$REPO/resources/" "$speaker" "$microphone" "$camera" | sed 's/^/  /'
}

# A tone on the default sink for SECONDS: silence makes no sound frames, so the cast's sound needs
# something playing.
play_tone() {  # seconds
    ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=440:duration=$1" "$work/tone.wav" || return 1
    paplay "$work/tone.wav" &
    session_pids+=($!)
}

# tv-sim on 127.0.0.1, decoding and answering casts at LEVEL, with more of its flags if given; TV_PORT
# is its port, TV_SIM_PID its process, $work/tv.log its report.
start_tv_sim() {  # level [name [flag...]]
    "$TV_SIM" --listen 127.0.0.1:0 --decode --quality "$1" --name "${2:-tv-sim}" "${@:3}" --report "$work/tv.log" \
        >"$work/tv-sim.out" 2>&1 &
    TV_SIM_PID=$!
    session_pids+=("$TV_SIM_PID")
    TV_PORT=$(await_line "$work/tv.log" '^listen ') || return 1
    TV_PORT=${TV_PORT##*:}
}

# The English text of a key.
text_of() {  # key
    sed -n "s/^$1 = //p" "$REPO/src/Utils/Resources/en.texts"
}

# The title of pelkor's main window.
main_window_title() {
    text_of STRING_TITLEBAR_MAIN
}

# Starts pelkor on DISPLAY, speaking to tv-sim's port, and waits for its main window; PELKOR_PID and
# PELKOR_WINDOW name it, $work/pelkor.log holds its log. Fails (saying why) when it shows the
# permissions window instead.
start_pelkor() {
    PELKOR_TV_PORT=$TV_PORT "$PELKOR" >"$work/pelkor.log" 2>&1 &
    PELKOR_PID=$!
    session_pids+=("$PELKOR_PID")
    local launched
    launched=$(await_line "$work/pelkor.log" 'launched with the (main|permissions) window') || return 1
    if [[ $launched == *permissions* ]]; then
        grep -E 'not installed|older|no sound|X11|XTest|capture' "$work/pelkor.log" | sed 's/^/  /' >&2 || true
        session_fail "pelkor shows the permissions window: a permission or driver is missing (see above)"
        return 1
    fi
    PELKOR_WINDOW=$(timeout 10 xdotool search --sync --onlyvisible --name "^$(main_window_title)\$" | head -n 1) ||
        { session_fail "no window of pelkor's came up"; return 1; }
    timeout 10 xdotool windowfocus --sync "$PELKOR_WINDOW" || { session_fail "pelkor's window did not take the keyboard"; return 1; }
}

# Types the TV's address into the address field, which has the keys at start, and waits for the link
# and the connected page, whose screen button then has the keys.
connect_to_tv() {
    xdotool type --delay 30 "127.0.0.1" && xdotool key Return || return 1
    await_line "$work/tv.log" '^link up ' >/dev/null || return 1
    await_line "$work/pelkor.log" '127\.0\.0\.1 connect success' >/dev/null
}

# Presses the screen button and waits for the TV to decode COUNT pictures.
start_cast() {  # [count]
    xdotool key space || return 1
    await_count "$work/tv.log" '^decoded ' "${1:-1}" 20
}

# N times the word Tab, for one xdotool key call.
tabs() {  # n
    local i
    for ((i = 0; i < $1; i++)); do printf 'Tab '; done
}

# From the stop button, the keys go past the window button, the disconnect button and the file button
# to the settings at the window's top, through their entries to the quality and, in the picker's
# window, to the choice at INDEX (0 automatic, 1 1080P, 2 720P, 3 2K) and OK; then back to the main
# window's stop button. Waits for the TV to decode a picture of SIZE.
pick_quality() {  # index size
    xdotool key Tab Tab Tab Tab space Tab Tab Tab space || return 1
    local picker
    picker=$(timeout 10 xdotool search --sync --onlyvisible --name "^$(text_of STRING_QUALITY)\$" | head -n 1) ||
        { session_fail "the quality picker did not open"; return 1; }
    timeout 10 xdotool windowfocus --sync "$picker" || return 1
    # From the automatic choice to the one at INDEX, select it, then on past the later choices to OK.
    xdotool key $(tabs "$1") space $(tabs $((4 - $1))) space || return 1
    timeout 10 xdotool windowfocus --sync "$PELKOR_WINDOW" && xdotool key shift+Tab shift+Tab shift+Tab shift+Tab || return 1
    await_line "$work/tv.log" "^decoded .* size=$2 " >/dev/null
}

# Presses the stop button, which took the screen button's place and its keys, and waits for the TV to
# hear the stop.
stop_cast() {
    xdotool key space || return 1
    await_line "$work/tv.log" 'name=kMsgCastStop ' >/dev/null
}

# From the screen button, the disconnect button follows the window button and the view button in the
# keyboard order.
disconnect_from_tv() {
    xdotool key Tab Tab Tab space || return 1
    await_line "$work/tv.log" '^link down' >/dev/null || return 1
    await_line "$work/pelkor.log" ' disconnect$' >/dev/null
}

# The quit entry's keys; waits for pelkor's end, its status in $ended_status.
quit_pelkor() {
    xdotool key ctrl+q || return 1
    await_exit "$PELKOR_PID" 15
}

# A picture of pelkor's window, grabbed from the X screen, as DIR/NAME.png.
screenshot_window() {  # dir name
    local X Y WIDTH HEIGHT
    eval "$(xdotool getwindowgeometry --shell "$PELKOR_WINDOW" | grep -E '^(X|Y|WIDTH|HEIGHT)=[0-9]+$')" || return 1
    mkdir -p "$1"
    ffmpeg -loglevel error -y -f x11grab -draw_mouse 0 -video_size "${WIDTH}x${HEIGHT}" -i "$DISPLAY+$X,$Y" -frames:v 1 "$1/$2.png"
}

# tv-sim's decoded pictures in one line: count, size and latency.
tv_summary() {
    local decoded
    decoded=$(grep -c '^decoded ' "$work/tv.log" || true)
    if ((decoded == 0)); then
        echo "tv-sim decoded no picture"
        return 1
    fi
    grep '^decoded ' "$work/tv.log" | sed -E 's/.*size=([0-9x]+) latency_us=(-?[0-9]+)/\1 \2/' | sort -k2 -n |
        awk -v n="$decoded" '{ size = $1; l[NR] = $2 }
            END { printf "tv-sim decoded %d pictures of %s; latency from queueing to decoded: median %.1f ms, p95 %.1f ms\n",
                  n, size, l[int((n + 1) / 2)] / 1000, l[int(n * 0.95 + 0.999999)] / 1000 }'
}

# How many of each message tv-sim received, the most frequent first.
tv_message_counts() {
    grep '^recv ' "$work/tv.log" | sed -E 's/.* name=([^ ]+) .*/\1/' | sort | uniq -c | sort -rn |
        awk '{ printf "received %d x %s\n", $1, $2 }'
}

# Ends tv-sim, which writes its summary line on the way out, and prints its report: the events, how
# many of each message it received, and the pictures it decoded.
print_tv_report() {
    kill -TERM "$TV_SIM_PID" 2>/dev/null || true
    wait "$TV_SIM_PID" 2>/dev/null || true
    echo "tv-sim's report:"
    grep -v -E '^(recv|decoded) ' "$work/tv.log" | sed 's/^/  /'
    tv_message_counts | sed 's/^/  /'
    tv_summary | sed 's/^/  /'
}
