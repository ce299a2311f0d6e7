#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: a normal build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build, a ThreadSanitizer build of the threaded tests, and each fuzz
# target for a short bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
fuzz_seconds=${PELKOR_FUZZ_SECONDS:-15}
passed=0
failed=0
status=0
# Tests that failed once and passed on their rerun, as "suite: test", for the final summary.
flaky=()

# Configures and builds one tree, then runs its tests (optionally only those with a label).
run_suite() {
    local dir=$1 label=$2
    shift 2
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    ninja -C "$dir"
    # A test that fails once under the full parallel load is run again and reported in the log
    # ("Test Failed" lines stay visible); only a second failure fails the suite.
    local log="$dir/ctest.log" args=(--test-dir "$dir" --output-on-failure -j "$jobs" --repeat until-pass:2)
    [[ -n $label ]] && args+=(-L "$label")
    if ctest "${args[@]}" | tee "$log"; then :; else status=1; fi
    if grep -q "No tests were found" "$log"; then
        return
    fi
    # A test that failed and then passed shows a failure line and a later "Passed" line under the same
    # number (names alone can repeat: a disabled test and the test that runs it share one).
    local number name
    while read -r number name; do
        grep -qE "Test +#$number: [^ ]+ \.+ +Passed" "$log" && flaky+=("$dir: $name")
    done < <(grep -oE 'Test +#[0-9]+: [^ ]+ \.+[^*]*\*\*\*(Failed|Timeout|Exception)' "$log" \
        | sed -E 's/Test +#([0-9]+): ([^ ]+) .*/\1 \2/' | sort -u)
    local line
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1 || true)
    if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
        failed=$((failed + BASH_REMATCH[1]))
        passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
    else
        status=1
    fi
}

run_fuzzers() {
    local dir=build-fuzz
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELKOR_FUZZ=ON -DPELKOR_TESTS=OFF \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
    ninja -C "$dir"
    local pids=() names=() f
    for f in "$dir"/fuzz/*Fuzzer; do
        [[ -x $f ]] || continue
        local name corpus
        name=$(basename "$f")
        corpus="$dir/corpus/$name"
        mkdir -p "$corpus"
        "$f" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=0 "$corpus" \
            >"$dir/$name.log" 2>&1 &
        pids+=($!)
        names+=("$name")
    done
    local i
    for i in "${!pids[@]}"; do
        if wait "${pids[$i]}"; then
            echo "fuzz ${names[$i]}: no crash in ${fuzz_seconds}s"
            passed=$((passed + 1))
        else
            echo "fuzz ${names[$i]}: FAILED"
            tail -40 "$dir/${names[$i]}.log"
            failed=$((failed + 1))
            status=1
        fi
    done
}

run_suite build "" -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite build-asan "" -DCMAKE_BUILD_TYPE=Debug -DPELKOR_SANITIZE=ON
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    run_suite build-tsan threads -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELKOR_TSAN=ON
if command -v clang++ >/dev/null && compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
    run_fuzzers
else
    echo "clang's fuzzer runtime is missing: fuzz targets skipped"
fi

for name in "${flaky[@]}"; do
    echo "warning: passed only on its rerun: $name"
done
echo "tests: $passed passed, $failed failed"
exit "$status"
