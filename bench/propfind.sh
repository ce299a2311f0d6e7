#!/usr/bin/env bash
# PROPFIND Depth 1 on a folder of 10,000 files: our dav-serve beside Debian's nginx with its WebDAV
# PROPFIND module, both on 127.0.0.1 and serving the same folder. Prints figures; asserts nothing.
#
#   bench/propfind.sh [REQUESTS per server, default 200] [FILES, default 10000]
#                                                  (after a build: build/tools/dav-serve/dav-serve)
#
# The two servers take turns request by request, so a busy spell on the shared machine slows both alike.
# Each request is one curl on a fresh connection; the time is curl's own, from connect to the last byte.
set -euo pipefail
cd "$(dirname "$0")/.."

requests=${1:-200}
files=${2:-10000}
serve=build/tools/dav-serve/dav-serve
module=/usr/lib/nginx/modules/ngx_http_dav_ext_module.so
source tools/lib-serve.sh
source bench/lib-nginx.sh
# Debian's nginx carries PUT, DELETE, MKCOL, COPY and MOVE; PROPFIND comes with the dav-ext module.
need_nginx nginx-light libnginx-mod-http-dav-ext
for tool in curl "$serve"; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (bash scripts/install-deps.sh)"; exit 1; }
done
scratch_dir work

mkdir -p "$work/www/files"
# nginx workers read the folder as an unprivileged user.
chmod 755 "$work" "$work/www" "$work/www/files"
(cd "$work/www/files" && seq -f 'file-%05g.txt' "$files" | xargs touch)
echo "$(nproc) cores; $files files; $requests requests per server"

start_server "$serve" "$work/www"
ours=$port

start_nginx "$work/www" "load_module $module; worker_processes 1;" "" "dav_ext_methods PROPFIND OPTIONS;"
theirs=$nginxPort

propfind() {  # port -> "status bytes seconds"
    curl -s --max-time 30 -o /dev/null -X PROPFIND -H 'Depth: 1' -w '%{http_code} %{size_download} %{time_total}\n' \
        "http://127.0.0.1:$1/files/"
}
for _ in $(seq 100); do
    read -r code _ _ <<< "$(propfind "$theirs")"
    [[ $code == 207 ]] && break
    sleep 0.05
done
for serverPort in "$ours" "$theirs"; do
    read -r code bytes _ <<< "$(propfind "$serverPort")"
    [[ $code == 207 ]] || { echo "FAIL: PROPFIND on port $serverPort answered $code"; exit 1; }
    echo "port $serverPort: $bytes bytes per answer"
done

for _ in $(seq "$requests"); do
    read -r _ _ seconds <<< "$(propfind "$ours")"
    echo "$seconds" >> "$work/ours"
    read -r _ _ seconds <<< "$(propfind "$theirs")"
    echo "$seconds" >> "$work/theirs"
done

# Median and 95th percentile in ms of one list of seconds.
summary() {
    sort -g "$1" | awk '{ t[NR] = $1 * 1000 } END {
        p95 = int(NR * 0.95 + 0.5); if (p95 < 1) p95 = 1
        printf "%.1f %.1f\n", (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2), t[p95] }'
}
read -r ourMedian ourP95 <<< "$(summary "$work/ours")"
read -r theirMedian theirP95 <<< "$(summary "$work/theirs")"
printf '%-10s %12s %12s\n' server "median ms" "p95 ms"
printf '%-10s %12s %12s\n' dav-serve "$ourMedian" "$ourP95" nginx "$theirMedian" "$theirP95"
awk -v a="$ourMedian" -v b="$theirMedian" -v c="$ourP95" -v d="$theirP95" 'BEGIN {
    printf "ratio ours/nginx: median %.2f, p95 %.2f (below 1: ours is faster)\n", a / b, c / d }'
