#!/usr/bin/env bash
# Checks dav-serve on 127.0.0.1 with a scripted cadaver session (make a folder, upload a file, list, fetch, move,
# delete), looking at both cadaver's output and the served folder after each step; then checks PROPFIND answers
# for names with reserved characters: well-formed XML (xmllint) whose hrefs are escaped and decode to the names
# on disk.
#
#   tools/dav-cadaver.sh [PATH-TO-dav-serve]     (default: build/tools/dav-serve/dav-serve)
set -euo pipefail

serve=${1:-build/tools/dav-serve/dav-serve}
source "$(dirname "${BASH_SOURCE[0]}")/lib-serve.sh"
for tool in cadaver curl xmllint python3; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done

scratch_dir folder
scratch_dir home      # cadaver reads ~/.cadaverrc and ~/.netrc: keep the user's out of the way
scratch_dir local     # cadaver's working folder for put and get
printf 'uploaded by cadaver\n' > "$local/note.txt"
start_server "$serve" "$folder"

dav() {  # cadaver commands as arguments, one a line; prints cadaver's output
    printf '%s\n' "$@" quit | (cd "$local" && HOME=$home timeout 60 cadaver "$base/") 2>&1
}
says() {  # pattern, text: "yes" when the text has a line matching the pattern
    grep -qE -- "$1" <<< "$2" && echo yes || echo no
}
exists() {  # test operator, path
    test "$1" "$2" && echo yes || echo no
}

out=$(dav "mkcol docs")
check "mkcol answer" yes "$(says "Creating .docs.: *succeeded" "$out")"
check "mkcol on disk" yes "$(exists -d "$folder/docs")"

out=$(dav "cd docs" "put note.txt")
check "put answer" yes "$(says "Uploading note\\.txt to ./docs/note\\.txt.:.*succeeded" "$out")"
check "put on disk" yes "$(cmp -s "$local/note.txt" "$folder/docs/note.txt" && echo yes || echo no)"

out=$(dav "ls docs")
check "ls lists the file" yes "$(says "^ *note\\.txt +20 " "$out")"

out=$(dav "move docs/note.txt docs/moved.txt")
check "move answer" yes "$(says "Moving .*note\\.txt. to .*moved\\.txt.:.*succeeded" "$out")"
check "move leaves no source" no "$(exists -e "$folder/docs/note.txt")"
check "move on disk" yes "$(cmp -s "$local/note.txt" "$folder/docs/moved.txt" && echo yes || echo no)"

out=$(dav "get docs/moved.txt fetched.txt")
check "get answer" yes "$(says "Downloading .*moved\\.txt. to fetched\\.txt:.*succeeded" "$out")"
check "get content" yes "$(cmp -s "$local/note.txt" "$local/fetched.txt" && echo yes || echo no)"

out=$(dav "delete docs/moved.txt")
check "delete answer" yes "$(says "Deleting .*moved\\.txt.:.*succeeded" "$out")"
check "delete on disk" no "$(exists -e "$folder/docs/moved.txt")"

out=$(dav "rmcol docs")
check "rmcol answer" yes "$(says "Deleting collection .*docs.:.*succeeded" "$out")"
check "rmcol on disk" no "$(exists -e "$folder/docs")"

# PROPFIND over names that need escaping in a URL and in XML.
fileName='a<b&c>d?e+f# é.txt'
folderName='x<y&z>?+# é'
mkdir -p "$folder/names/$folderName"
printf '12345' > "$folder/names/$fileName"
printf '123' > "$folder/names/$folderName/$fileName"

escape() {  # path: percent-escaped for a request line
    python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1]))' "$1"
}
hrefs() {  # multistatus file: its hrefs, one a line, percent-decoded and without a trailing "/"
    local count i
    count=$(xmllint --xpath "count(//*[local-name()='href'])" "$1")
    for ((i = 1; i <= count; i++)); do
        xmllint --xpath "string((//*[local-name()='href'])[$i])" "$1"
        echo
    done | python3 -c '
import re, sys, urllib.parse
for href in filter(None, sys.stdin.read().splitlines()):  # xmllint may end each string with a newline
    if re.fullmatch(r"[A-Za-z0-9%/._~-]*", href, re.ASCII):
        print(urllib.parse.unquote(href, errors="strict").rstrip("/"))
    else:
        print("not escaped: " + href)
' | sort
}
onDisk() {  # path below the served folder: itself and its entries, as paths from the served folder
    echo "/$1"
    find "$folder/$1" -mindepth 1 -maxdepth 1 -printf '%f\n' | while IFS= read -r entry; do
        echo "/$1/$entry"
    done
}
propfind() {  # name, path below the served folder
    local answer="$home/propfind.xml" status
    status=$(curl -sS -o "$answer" -w '%{http_code}' -X PROPFIND -H 'Depth: 1' "$base/$(escape "$2")")  || true
    check "$1 status" 207 "$status"
    check "$1 well-formed" yes "$(xmllint --noout "$answer" 2>/dev/null && echo yes || echo no)"
    check "$1 hrefs" "$(onDisk "$2" | sort)" "$(hrefs "$answer")"
}
propfind "PROPFIND of a folder holding odd names" names
propfind "PROPFIND of an oddly named folder" "names/$folderName"

finish_checks
