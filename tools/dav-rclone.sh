#!/usr/bin/env bash
# Checks dav-serve on 127.0.0.1 with rclone's WebDAV remote: a tree of about 200 files (a few bytes to a few
# MiB, nested folders, names with spaces) copied in and back out, `rclone check` finding no difference, a
# server-side `moveto` onto an existing file, and `mkdir` of a folder that exists.
#
#   tools/dav-rclone.sh [PATH-TO-dav-serve]     (default: build/tools/dav-serve/dav-serve)
set -euo pipefail

serve=${1:-build/tools/dav-serve/dav-serve}
source "$(dirname "${BASH_SOURCE[0]}")/lib-serve.sh"
for tool in rclone python3; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done

scratch_dir folder
scratch_dir local
scratch_dir back
scratch_dir home
start_server "$serve" "$folder"

# The tree, the same on every run: sizes spread over 1 byte .. 4 MiB, most of them small.
python3 - "$local/tree" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(20240601)
folders = ["", "docs", "docs/old notes", "media", "media/big files", "a/b/c/d", "with space"]
sizes = [1, 7, 100, 4096, 65536, 300000] * 32 + [1 << 20, 3 << 20, 4 << 20, 2 << 20, 5 << 19]
for i, size in enumerate(sizes):
    path = os.path.join(root, folders[i % len(folders)], f"file {i:03d}.bin" if i % 3 else f"f{i:03d}.txt")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(rng.randbytes(size))
PY

# A remote named "dav" from the environment, in a private config so the user's own is never read.
export RCLONE_CONFIG=$home/rclone.conf HOME=$home
export RCLONE_CONFIG_DAV_TYPE=webdav RCLONE_CONFIG_DAV_URL="$base/" RCLONE_CONFIG_DAV_VENDOR=other
: > "$RCLONE_CONFIG"
run() {  # rclone ARGS...: bounded in time, few retries; prints "ok" or the exit code with rclone's output
    local output
    if output=$(timeout 120 rclone --retries 1 --low-level-retries 2 --timeout 30s --contimeout 10s "$@" 2>&1); then
        echo ok
    else
        echo "exit $? from rclone $*: $output" | head -20
    fi
}
count() { find "$1" -type f | wc -l; }

check "copy the tree in" ok "$(run copy "$local/tree" dav:tree)"
check "every file arrived" "$(count "$local/tree")" "$(count "$folder/tree")"
check "rclone check finds no difference" ok "$(run check "$local/tree" dav:tree)"
check "copy the tree back" ok "$(run copy dav:tree "$back/tree")"
check "the tree came back the same" "" "$(diff -r "$local/tree" "$back/tree" 2>&1)"
check "no scratch item is left" "" "$(find "$folder" -name '.dav-tmp-*')"

printf 'old destination\n' > "$folder/tree/dst.txt"
printf 'new content\n' > "$folder/tree/src.txt"
check "moveto onto an existing file" ok "$(run moveto dav:tree/src.txt dav:tree/dst.txt)"
check "the destination has the new content" "new content" "$(cat "$folder/tree/dst.txt" 2>&1)"
check "the source is gone" no "$([[ -e $folder/tree/src.txt ]] && echo yes || echo no)"

check "mkdir of an existing folder" ok "$(run mkdir dav:tree/docs)"
check "mkdir of a new folder" ok "$(run mkdir dav:tree/fresh)"
check "the new folder exists" yes "$([[ -d $folder/tree/fresh ]] && echo yes || echo no)"
finish_checks
