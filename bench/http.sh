#!/usr/bin/env bash
# Requests/s, MB/s and latency percentiles of our folder server beside Debian's nginx, both on 127.0.0.1
# serving the same folder, with wrk: a 4 KiB and a 1 MiB file with "Connection: close" on every request,
# and the 4 KiB file with keep-alive, which nginx grants and our server, answering one request per
# connection, does not. Prints figures; asserts nothing.
#
#   bench/http.sh [SECONDS per run, default 5] [ROUNDS, default 5]
#
# The server is build/tools/http-serve/http-serve, or the program named by $HTTP_SERVE (to set two
# builds side by side), run with its request log off, as nginx's access log is. Each case runs ROUNDS
# times, the two servers taking turns (the first one alternating); each server's figures are the
# min / median / max of its runs, and the ratios those of the medians.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-5}
rounds=${2:-5}
serve=${HTTP_SERVE:-build/tools/http-serve/http-serve}
source tools/lib-serve.sh
source bench/lib-nginx.sh
need_nginx nginx-light
for tool in wrk nginx "$serve"; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (bash scripts/install-deps.sh)"; exit 1; }
done
echo "cores: $(nproc), load average: $(cut -d' ' -f1-3 /proc/loadavg); $rounds rounds of ${seconds} s, wrk -t 4"

scratch_dir work
mkdir -p "$work/www"
# nginx workers read the folder as an unprivileged user.
chmod 755 "$work" "$work/www"
head -c 4096 /dev/urandom > "$work/www/small.bin"
head -c $((1 << 20)) /dev/urandom > "$work/www/large.bin"
chmod 644 "$work/www/"*

# Our server, on a port the kernel picks, without a log line per request.
start_server "$serve" "$work/www" --quiet
ourPort=$port

# nginx with its defaults for keep-alive (a client's "Connection: close" ends each connection), as
# many workers as we have cores.
start_nginx "$work/www" "worker_processes auto;" "sendfile on;"
theirPort=$nginxPort

# Requests/s, transfer MB/s and the 50th and 99th latency percentiles in ms of one wrk run.
measure() {  # url connections header...
    local url=$1 connections=$2
    shift 2
    wrk -t 4 -c "$connections" -d "${seconds}s" --latency "$@" "$url" | awk '
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

# "min / median / max" of the numbers on standard input, with the given printf format.
spread() {  # format
    sort -g | awk -v f="$1" '{ v[NR] = $1 } END {
        printf f " / " f " / " f, v[1], (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2), v[NR] }'
}

median() {
    spread "%.2f" | awk -F' / ' '{ print $2 }'
}

printf '%-20s %-6s %29s %9s %9s %9s\n' case server "req/s min / median / max" "MB/s" "p50 ms" "p99 ms"
for case in "4KiB-close small.bin 64 close" "1MiB-close large.bin 16 close" "4KiB-keep-alive small.bin 64 keep"; do
    read -r name file connections mode <<< "$case"
    header=()
    [[ $mode == close ]] && header=(-H 'Connection: close')
    ours=() theirs=()
    for round in $(seq "$rounds"); do
        if ((round % 2)); then
            ours+=("$(measure "http://127.0.0.1:$ourPort/$file" "$connections" "${header[@]}")")
            theirs+=("$(measure "http://127.0.0.1:$theirPort/$file" "$connections" "${header[@]}")")
        else
            theirs+=("$(measure "http://127.0.0.1:$theirPort/$file" "$connections" "${header[@]}")")
            ours+=("$(measure "http://127.0.0.1:$ourPort/$file" "$connections" "${header[@]}")")
        fi
    done
    for side in ours nginx; do
        if [[ $side == ours ]]; then runs=("${ours[@]}"); else runs=("${theirs[@]}"); fi
        printf '%-20s %-6s %29s %9s %9s %9s\n' "$([[ $side == ours ]] && echo "$name")" "$side" \
            "$(printf '%s\n' "${runs[@]}" | cut -d' ' -f1 | spread "%.0f")" \
            "$(printf '%s\n' "${runs[@]}" | cut -d' ' -f2 | median)" \
            "$(printf '%s\n' "${runs[@]}" | cut -d' ' -f3 | median)" \
            "$(printf '%s\n' "${runs[@]}" | cut -d' ' -f4 | median)"
    done
    awk -v o="$(printf '%s\n' "${ours[@]}" | cut -d' ' -f1 | median)" \
        -v t="$(printf '%s\n' "${theirs[@]}" | cut -d' ' -f1 | median)" \
        -v op="$(printf '%s\n' "${ours[@]}" | cut -d' ' -f4 | median)" \
        -v tp="$(printf '%s\n' "${theirs[@]}" | cut -d' ' -f4 | median)" \
        'BEGIN { printf "%-20s ours / nginx: req/s %.2f, p99 %.2f\n", "", (t > 0 ? o / t : 0), (tp > 0 ? op / tp : 0) }'
done
