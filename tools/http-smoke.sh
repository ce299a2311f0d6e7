#!/usr/bin/env bash
# Checks a running http-serve with curl on 127.0.0.1: HEAD, byte ranges, 501, 100-continue, a chunked
# upload, a conditional 304 and a gzip-coded answer; then loads it with wrk for a few seconds (when wrk is
# installed) and checks that it still answers and holds no more descriptors than before.
#
#   tools/http-smoke.sh [PATH-TO-http-serve]     (default: build/tools/http-serve/http-serve)
set -euo pipefail

serve=${1:-build/tools/http-serve/http-serve}
source "$(dirname "${BASH_SOURCE[0]}")/lib-serve.sh"
scratch_dir folder

printf '0123456789abcdefghij' > "$folder/file.txt"
head -c 300000 /dev/zero | tr '\0' 'a' > "$folder/big.txt"

start_server "$serve" "$folder"

field() {  # name: the value of that field in the head on standard input
    tr -d '\r' | sed -n "s/^$1: //Ip" | head -n 1
}

head=$(curl -sS -I "$base/file.txt")
check "HEAD status" "HTTP/1.1 200 OK" "$(head -n 1 <<< "$head" | tr -d '\r')"
check "HEAD length" "20" "$(field Content-Length <<< "$head")"
check "HEAD closes" "Close" "$(field Connection <<< "$head")"

check "206 body" "234" "$(curl -sS -r 2-4 "$base/file.txt")"
check "206 status" "206" "$(curl -sS -o /dev/null -w '%{http_code}' -r 2-4 "$base/file.txt")"
check "416 status" "416" "$(curl -sS -o /dev/null -w '%{http_code}' -r 50-60 "$base/file.txt")"
check "404 status" "404" "$(curl -sS -o /dev/null -w '%{http_code}' "$base/missing")"
check "501 status" "501" "$(curl -sS -o /dev/null -w '%{http_code}' -X DELETE "$base/file.txt")"

continued=$(curl -sS -v -H 'Expect: 100-continue' --data-binary "@$folder/big.txt" "$base/upload" 2>&1)
check "100-continue interim" "yes" "$(grep -q '< HTTP/1.1 100 Continue' <<< "$continued" && echo yes || echo no)"
check "100-continue body" "received 300000 bytes" "$(tail -n 1 <<< "$continued")"

check "chunked upload" "received 300000 bytes" \
    "$(curl -sS -H 'Transfer-Encoding: chunked' -H 'Expect:' --data-binary "@$folder/big.txt" "$base/upload")"

etag=$(field ETag <<< "$head")
check "304 by tag" "304" "$(curl -sS -o /dev/null -w '%{http_code}' -H "If-None-Match: $etag" "$base/file.txt")"
modified=$(field Last-Modified <<< "$head")
check "304 by date" "304" "$(curl -sS -o /dev/null -w '%{http_code}' -H "If-Modified-Since: $modified" "$base/file.txt")"

gzipHead=$(curl -sS -D - -o /dev/null -H 'Accept-Encoding: gzip' "$base/gzip/big.txt")
check "gzip coding" "gzip" "$(field Content-Encoding <<< "$gzipHead")"
check "gzip body" "300000" "$(curl -sS --compressed "$base/gzip/big.txt" | wc -c | tr -d ' ')"

openDescriptors() {
    find "/proc/$server/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l
}
if command -v wrk >/dev/null; then
    before=$(openDescriptors)
    wrk -t 2 -c 32 -d 3s "$base/file.txt" | sed -n 's/^ *\(Requests\/sec:.*\)/load  \1/p'
    check "answers after load" "200" "$(curl -sS -o /dev/null -w '%{http_code}' "$base/file.txt")"
    # Connections closed by the load may take a moment to be released on the server's queues.
    after=$(openDescriptors)
    for _ in $(seq 50); do
        ((after <= before)) && break
        sleep 0.1
        after=$(openDescriptors)
    done
    check "descriptors after load" "$before" "$after"
else
    echo "skip  load: wrk is not installed"
fi

finish_checks
