#!/usr/bin/env bash
# The application left alone: pelkor on a private Xvfb, with a private sound server and private user
# folders, its main window up and nothing asked of it, for SECONDS seconds; once with discovery off,
# then with discovery on inside a network namespace of its own (skipped where none can be made: its
# broadcasts must not reach this computer's networks). Prints the CPU it used, its wake-ups per
# second (context switches of all its threads: each is a thread that slept and was woken, or was
# preempted) with the threads that woke most, its resident memory and its thread count. Prints
# figures; asserts nothing.
#
#   bench/idle.sh [SECONDS, default 60]
#
# The program is build/apps/pelkor/pelkor, or the one named by $PELKOR.
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
PELKOR=${PELKOR:-$REPO/build/apps/pelkor/pelkor}
[[ -x $PELKOR ]] || { echo "missing: $PELKOR (ninja -C build pelkor)"; exit 1; }
source "$REPO/scripts/session-steps.sh"

# Context switches of every thread of the process, by thread: "tid name count" lines.
switches_by_thread() {  # pid
    local task
    for task in /proc/"$1"/task/*; do
        awk -v tid="${task##*/}" -v name="$(tr ' ' _ <"$task/comm")" \
            '/^(non)?voluntary_ctxt_switches:/ { sum += $2 } END { print tid, name, sum }' "$task/status" 2>/dev/null || true
    done
}

# User plus system CPU time of the process, in clock ticks.
cpu_ticks() {  # pid
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}

measure() {  # label
    local label=$1 before after cpu0 cpu1 ticks
    ticks=$(getconf CLK_TCK)
    # Left alone: start-up is over once the window is up, and its text cursor stops blinking 10 s
    # after the last input (as a desktop's does).
    sleep 12
    before=$(switches_by_thread "$PELKOR_PID")
    cpu0=$(cpu_ticks "$PELKOR_PID")
    sleep "$seconds"
    after=$(switches_by_thread "$PELKOR_PID")
    cpu1=$(cpu_ticks "$PELKOR_PID")
    awk -v label="$label" -v seconds="$seconds" -v cpu=$((cpu1 - cpu0)) -v ticks="$ticks" \
        -v rss="$(awk '/^VmRSS:/ { print $2 }' "/proc/$PELKOR_PID/status")" \
        -v threads="$(ls "/proc/$PELKOR_PID/task" | wc -l)" '
        NR == FNR { start[$1] = $3; next }
        { woke = $3 - ($1 in start ? start[$1] : 0); total += woke; byName[$2] += woke }
        END {
            printf "%-14s CPU %5.2f%%   wake-ups %6.1f/s   RSS %6.1f MB   threads %d\n", label,
                100 * cpu / ticks / seconds, total / seconds, rss / 1024, threads
            for (name in byName)
                if (byName[name] > 0)
                    printf "    %-16s %6.1f/s\n", name, byName[name] / seconds | "sort -k2 -rn | head -8"
        }' <(echo "$before") <(echo "$after")
}

run_once() {  # label
    session_begin
    use_private_folders
    start_private_xvfb
    start_private_pulse >/dev/null
    install_missing_drivers >/dev/null
    TV_PORT=1
    start_pelkor
    measure "$1"
    quit_pelkor >/dev/null 2>&1 || true
}

if [[ ${PELKOR_IDLE_STEP:-} == on ]]; then
    use_private_network
    run_once "discovery on"
    exit
fi
echo "cores: $(nproc), load average: $(cut -d' ' -f1-3 /proc/loadavg); $seconds s each, from 12 s after the window is up"
(export PELKOR_DISCOVERY=off; run_once "discovery off")
flags=$(private_network_flags)
if [[ -n $flags ]]; then
    PELKOR_IDLE_STEP=on unshare "$flags" bash "$0" "$seconds"
else
    echo "discovery on   skipped: no network namespace can be made here"
fi
