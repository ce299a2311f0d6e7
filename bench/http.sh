#!/usr/bin/env bash
# Requests/s, MB/s and latency percentiles of our folder server beside Debian's nginx, both on 127.0.0.1
# with keep-alive off and serving the same folder, for a 4 KiB and a 100 MiB file. Prints figures;
# asserts nothing.
#
#   bench/http.sh [SECONDS per run, default 5] [ROUNDS, default 3]
#
# The server is build/tools/http-serve/http-serve, or the program named by $HTTP_SERVE (to set two
# builds side by side). Each case runs ROUNDS times, the two servers taking turns, and the run with
# the most requests/s of each is shown: on a shared machine the spread between runs is larger than the
# difference being measured.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-5}
rounds=${2:-3}
serve=${HTTP_SERVE:-build/tools/http-serve/http-serve}
source tools/lib-serve.sh
source bench/lib-nginx.sh
need_nginx nginx-light
for tool in wrk nginx "$serve"; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (bash scripts/install-deps.sh)"; exit 1; }
done
echo "cores: $(nproc), load average: $(cut -d' ' -f1-3 /proc/loadavg)"

scratch_dir work
mkdir -p "$work/www"
# nginx workers read the folder as an unprivileged user.
chmod 755 "$work" "$work/www"
head -c 4096 /dev/urandom > "$work/www/small.bin"
head -c $((100 << 20)) /dev/urandom > "$work/www/large.bin"
chmod 644 "$work/www/"*

# Our server, on a port the kernel picks.
start_server "$serve" "$work/www"
ourPort=$port

# nginx, keep-alive off, as many workers as we have cores.
start_nginx "$work/www" "worker_processes auto;" "sendfile on; keepalive_timeout 0;"
theirPort=$nginxPort

# Requests/s, transfer MB/s and the 50th and 99th latency percentiles in ms of one wrk run.
measure() {  # url connections
    wrk -t 4 -c "$2" -d "${seconds}s" --latency -H 'Connection: close' "$1" | awk '
        function ms(value,   unit, number) {
            unit = value; sub(/^[0-9.]+/, "", unit); number = value + 0
            return unit == "us" ? number / 1000 : unit == "s" ? number * 1000 : unit == "m" ? number * 60000 : number
        }
        /^Requests\/sec:/ { rps = $2 }
        /^ +50% / { p50 = ms($2) }
        /^ +99% / { p99 = ms($2) }
        /^Transfer\/sec:/ {
            value = $2; unit = substr(value, length(value) - 1); number = substr(value, 1, length(value) - 2) + 0
            if (unit == "GB") number *= 1024; else if (unit == "KB") number /= 1024; else if (unit != "MB") number /= 1048576
            mbs = number * 1.048576
        }
        END { printf "%.0f %.1f %.2f %.2f\n", rps, mbs, p50, p99 }'
}

printf '%-10s %10s %10s %9s %9s %9s %9s %9s %9s %6s %6s\n' file "ours rq/s" "nginx rq/s" "ours MB/s" "nginx MB/s" \
    "ours p50" "nginx p50" "ours p99" "nginx p99" "rq" "p99"
for case in "small.bin 64" "large.bin 4"; do
    read -r file connections <<< "$case"
    ours=(0 0 0 0) theirs=(0 0 0 0)
    for _ in $(seq "$rounds"); do
        read -r -a run <<< "$(measure "http://127.0.0.1:$ourPort/$file" "$connections")"
        ((run[0] > ours[0])) && ours=("${run[@]}")
        read -r -a run <<< "$(measure "http://127.0.0.1:$theirPort/$file" "$connections")"
        ((run[0] > theirs[0])) && theirs=("${run[@]}")
    done
    awk -v f="$file" -v o="${ours[*]}" -v t="${theirs[*]}" 'BEGIN {
        split(o, a, " "); split(t, b, " ")
        printf "%-10s %10d %10d %9.1f %9.1f %9.2f %9.2f %9.2f %9.2f %6.2f %6.2f\n", f, a[1], b[1], a[2], b[2], a[3], b[3], a[4], b[4],
            (b[1] > 0 ? a[1] / b[1] : 0), (b[4] > 0 ? a[4] / b[4] : 0) }'
done
