#!/usr/bin/env bash
# A cast from end to end on this machine: starts tv-sim on 127.0.0.1 (decoding, answering the cast with
# a quality level), casts the X screen to it with pelkor-cast for a few seconds (a private Xvfb when no
# display is set), then prints pelkor-cast's report and what the TV decoded. Fails when the cast did not
# end cleanly or the TV decoded no picture.
#
#   tools/pelkor-cast/cast-demo.sh PELKOR-CAST TV-SIM [SECONDS] [LEVEL]
set -euo pipefail

cast=$1
sim=$2
seconds=${3:-10}
level=${4:-0}
work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Waits up to 10 s for a file to hold a line matching the pattern; prints the first such line.
await_line() {  # file pattern
    local i
    for i in $(seq 100); do
        if grep -m1 -E "$2" "$1" 2>/dev/null; then
            return 0
        fi
        sleep 0.1
    done
    echo "cast-demo: nothing matching '$2' in $1" >&2
    return 1
}

if [[ -z ${DISPLAY:-} ]]; then
    Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -nolisten unix 3>"$work/display" >/dev/null 2>&1 &
    pids+=($!)
    await_line "$work/display" '^[0-9]+$' >/dev/null
    export DISPLAY=":$(head -n 1 "$work/display")"
    echo "private Xvfb on $DISPLAY"
fi

"$sim" --listen 127.0.0.1:0 --decode --quality "$level" --report "$work/tv.log" >/dev/null &
pids+=($!)
port=$(await_line "$work/tv.log" '^listen ' | sed -E 's/.*:([0-9]+)$/\1/')

status=0
"$cast" --tv "127.0.0.1:$port" --seconds "$seconds" | grep -v -e '^PTC\[' -e '^$' || status=$?

decoded=$(grep -c '^decoded ' "$work/tv.log" || true)
if [[ $decoded -gt 0 ]]; then
    grep '^decoded ' "$work/tv.log" | sed -E 's/.*size=([0-9x]+) latency_us=(-?[0-9]+)/\1 \2/' | sort -k2 -n \
        | awk -v n="$decoded" '{ size = $1; l[NR] = $2 }
              END { printf "tv-sim decoded %d pictures of %s; latency from queueing to decoded: median %.1f ms, p95 %.1f ms\n",
                    n, size, l[int((n + 1) / 2)] / 1000, l[int(n * 0.95 + 0.999999)] / 1000 }'
else
    echo "tv-sim decoded no picture"
    status=1
fi
exit "$status"
