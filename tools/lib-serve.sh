# Shared by the end-to-end server scripts (source it): temporary folders removed on exit, a server started on a
# kernel-chosen loopback port, and a counted check helper.
#
#   scratch_dir NAME                  makes a temporary folder, stores its path in $NAME, removes it on exit
#   start_server PROGRAM FOLDER [FLAG...]
#                                     runs "PROGRAM FLAG... FOLDER 0" in the background and waits for its
#                                     line "<name> listening on 127.0.0.1:PORT"; sets $server (pid), $port, $base
#   check NAME EXPECTED ACTUAL        prints ok/FAIL and counts failures
#   finish_checks                     prints the tally; exits 1 when a check failed

server=
port=
base=
failures=0
scratchPaths=()

cleanup() {
    if [[ -n $server ]]; then
        kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    fi
    ((${#scratchPaths[@]} == 0)) || rm -rf "${scratchPaths[@]}"
}
trap cleanup EXIT

scratch_dir() {
    local path
    path=$(mktemp -d)
    scratchPaths+=("$path")
    printf -v "$1" '%s' "$path"
}

start_server() {
    local program=$1 folder=$2 name output
    shift 2
    name=$(basename "$program")
    scratch_dir output
    "$program" "$@" "$folder" 0 > "$output/stdout" &
    server=$!
    for _ in $(seq 100); do
        port=$(sed -n "s/^$name listening on 127\\.0\\.0\\.1:\\([0-9]*\\)\$/\\1/p" "$output/stdout")
        [[ -n $port ]] && break
        kill -0 "$server" 2>/dev/null || break
        sleep 0.05
    done
    [[ -n $port ]] || { echo "FAIL: $name did not start"; exit 1; }
    base="http://127.0.0.1:$port"
}

check() {  # name, expected, actual
    if [[ $2 == "$3" ]]; then
        echo "ok    $1"
    else
        echo "FAIL  $1: expected '$2', got '$3'"
        failures=$((failures + 1))
    fi
}

finish_checks() {
    if ((failures > 0)); then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "all checks passed"
}
