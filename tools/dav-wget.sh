#!/usr/bin/env bash
# Checks dav-serve on 127.0.0.1 with wget: a download, then `wget -c` of the complete file, which must report
# it complete (exit 0) and leave it unchanged.
#
#   tools/dav-wget.sh [PATH-TO-dav-serve]     (default: build/tools/dav-serve/dav-serve)
set -euo pipefail

serve=${1:-build/tools/dav-serve/dav-serve}
source "$(dirname "${BASH_SOURCE[0]}")/lib-serve.sh"
command -v wget >/dev/null || { echo "FAIL: wget is not installed"; exit 1; }

scratch_dir folder
scratch_dir local
head -c 300000 /dev/urandom > "$folder/data.bin"
start_server "$serve" "$folder"

fetch() {  # wget ARGS... in the local folder; prints wget's exit code
    (cd "$local" && timeout 60 wget --no-config --tries=1 --timeout=30 -q "$@") && echo 0 || echo $?
}
check "download" 0 "$(fetch "$base/data.bin")"
check "the download is whole" "" "$(cmp "$folder/data.bin" "$local/data.bin" 2>&1)"
check "wget -c of the complete file" 0 "$(fetch -c "$base/data.bin")"
check "the file is unchanged" "" "$(cmp "$folder/data.bin" "$local/data.bin" 2>&1)"
head -c 1000 "$folder/data.bin" > "$local/data.bin"
check "wget -c of a partial file" 0 "$(fetch -c "$base/data.bin")"
check "the resumed file is whole" "" "$(cmp "$folder/data.bin" "$local/data.bin" 2>&1)"
finish_checks
