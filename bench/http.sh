#!/usr/bin/env bash
# Requests/s and MB/s of our folder server beside Debian's nginx, both on 127.0.0.1 with keep-alive off
# and serving the same folder, for a 4 KiB and a 100 MiB file. Prints figures; asserts nothing.
#
#   bench/http.sh [SECONDS per run, default 5] [ROUNDS, default 3]   (after a build: build/tools/http-serve/http-serve)
#
# Each case runs ROUNDS times, the two servers taking turns, and the best run of each is shown: on a
# shared machine the spread between runs is larger than the difference being measured.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-5}
rounds=${2:-3}
serve=build/tools/http-serve/http-serve
for tool in wrk nginx "$serve"; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (bash scripts/install-deps.sh; apt-get install nginx-light)"; exit 1; }
done

source tools/lib-serve.sh
scratch_dir work
nginxPid=
stop_nginx() { [[ -z $nginxPid ]] || kill "$nginxPid" 2>/dev/null || true; }
trap 'stop_nginx; cleanup' EXIT

mkdir -p "$work/www" "$work/nginx"
# nginx workers read the folder as an unprivileged user.
chmod 755 "$work" "$work/www"
head -c 4096 /dev/urandom > "$work/www/small.bin"
head -c $((100 << 20)) /dev/urandom > "$work/www/large.bin"
chmod 644 "$work/www/"*

# Our server, on a port the kernel picks.
start_server "$serve" "$work/www"
ours=$port

# nginx on a free port, keep-alive off, as many workers as we have cores.
theirs=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes auto;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
    access_log off;
    sendfile on;
    keepalive_timeout 0;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    server { listen 127.0.0.1:$theirs; root $work/www; }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
nginxPid=$!
for _ in $(seq 100); do
    curl -s -o /dev/null "http://127.0.0.1:$theirs/small.bin" && break
    sleep 0.05
done

# Requests/s and transfer MB/s of one wrk run.
measure() {  # url connections
    wrk -t 4 -c "$2" -d "${seconds}s" -H 'Connection: close' "$1" | awk '
        /^Requests\/sec:/ { rps = $2 }
        /^Transfer\/sec:/ {
            value = $2; unit = substr(value, length(value) - 1); number = substr(value, 1, length(value) - 2) + 0
            if (unit == "GB") number *= 1024; else if (unit == "KB") number /= 1024; else if (unit != "MB") number /= 1048576
            mbs = number * 1.048576
        }
        END { printf "%.0f %.1f\n", rps, mbs }'
}

printf '%-10s %12s %12s %12s %12s %9s %9s\n' file "ours req/s" "nginx req/s" "ours MB/s" "nginx MB/s" "req ratio" "MB ratio"
for case in "small.bin 64" "large.bin 4"; do
    read -r file connections <<< "$case"
    ourRps=0 ourMbs=0 theirRps=0 theirMbs=0
    for _ in $(seq "$rounds"); do
        read -r rps mbs <<< "$(measure "http://127.0.0.1:$ours/$file" "$connections")"
        ((rps > ourRps)) && ourRps=$rps ourMbs=$mbs
        read -r rps mbs <<< "$(measure "http://127.0.0.1:$theirs/$file" "$connections")"
        ((rps > theirRps)) && theirRps=$rps theirMbs=$mbs
    done
    awk -v f="$file" -v a="$ourRps" -v b="$theirRps" -v c="$ourMbs" -v d="$theirMbs" 'BEGIN {
        printf "%-10s %12d %12d %12.1f %12.1f %9.2f %9.2f\n", f, a, b, c, d, (b > 0 ? a / b : 0), (d > 0 ? c / d : 0) }'
done
