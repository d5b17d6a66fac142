#!/usr/bin/env bash
# The checking stages of CI that follow ./test:
#   asan  builds everything with AddressSanitizer + UndefinedBehaviorSanitizer
#         in build-asan/ and runs the whole suite there (the spawned k410-sim
#         included), with every time limit of the tests three times as long
#         (K410_TEST_TIME_SCALE); any sanitizer report fails the stage;
#   fuzz  builds the libFuzzer targets with clang in build-fuzz/ (the image
#         validator and reader; the backup and upgrade procedure against a
#         unit and link in virtual time) and runs each for a bounded time
#         (FUZZ_SECONDS, default 60) from its seed corpus; a crash, leak,
#         oracle disagreement or sanitizer report fails the stage. FUZZ_FLAGS
#         adds libFuzzer flags.
# Usage: scripts/ci-extra.sh [asan] [fuzz]   (no argument: both)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/lib.sh
asan_build=$(k410_build_dir asan)
fuzz_build=$(k410_build_dir fuzz)

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(asan fuzz)

# Debian packages the fuzz stage needs on top of scripts/setup.sh's list.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# Run-time options of the sanitized binaries. Reports go to files under
# $1 as well as failing the process, so a report from a child process whose
# exit status a test does not look at (k410-sim) still fails the stage.
sanitizer_env() {
    local logs=$1
    export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=0:print_stacktrace=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$logs/asan"
    export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$logs/ubsan"
}

# Prints every sanitizer report left in $1; fails when there is one.
check_reports() {
    local logs=$1 found=0 f
    for f in "$logs"/*; do
        [ -e "$f" ] || continue
        found=1
        echo "----- sanitizer report $f"
        cat "$f"
    done
    [ $found -eq 0 ] || { echo "Sanitizer reports found (above)."; return 1; }
}

stage_asan() {
    # The sanitized programs run several times slower: every time limit of
    # the tests (CTest's, QtTest's and their own deadlines) is three times as long.
    scripts/setup.sh "$asan_build" -DK410_SANITIZE=ON -DK410_TEST_TIME_SCALE=3 || return
    local logs=$root/$asan_build/sanitizer-logs
    rm -rf "$logs"; mkdir -p "$logs"
    local rc=0
    (
        sanitizer_env "$logs"
        export QT_QPA_PLATFORM=offscreen
        ctest --test-dir "$asan_build" --output-on-failure -j2
    ) || rc=$?
    check_reports "$logs" || rc=1
    return $rc
}

# One bounded libFuzzer run of target $1 from the committed seeds in $2;
# figures go to build-fuzz/run/$1/figures.txt.
fuzz_target() {
    local target=$1 seeds=$2
    local work=$root/$fuzz_build/run/$target
    rm -rf "$work"; mkdir -p "$work/corpus" "$work/artifacts" "$work/logs"
    local scratch
    scratch=$(mktemp -d "$( [ -d /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/k410-fuzz-ci.XXXXXX") || return
    local rc=0
    (
        sanitizer_env "$work/logs"
        export K410_FUZZ_SCRATCH=$scratch
        # libFuzzer reads the leak setting from its own flag; the new inputs go
        # to the scratch corpus, the committed seeds are only read.
        cd "$work"
        "$root/$fuzz_build/fuzz/$target" -max_total_time="${FUZZ_SECONDS:-60}" -detect_leaks=1 \
            -print_final_stats=1 -artifact_prefix="$work/artifacts/" ${FUZZ_FLAGS:-} \
            "$work/corpus" "$seeds" 2>&1 | tee "$work/fuzz.log"
    ) || rc=$?
    rm -rf "$scratch"
    check_reports "$work/logs" || rc=1
    if ls "$work/artifacts"/* >/dev/null 2>&1; then
        echo "Crash inputs kept in $work/artifacts:"; ls -l "$work/artifacts"
        rc=1
    fi
    if grep -qE "ERROR: (Address|Leak|UndefinedBehavior)Sanitizer|runtime error:|(image|protocol) oracle:" "$work/fuzz.log"; then
        rc=1
    fi
    {
        echo "$target:"
        grep -E "^#[0-9]+[[:space:]]+(INITED|DONE)" "$work/fuzz.log" | tail -2 || true
        grep -E "^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)" "$work/fuzz.log" || true
        echo "corpus: $(ls "$work/corpus" | wc -l) new inputs + $(ls "$seeds" | wc -l) seeds"
    } > "$work/figures.txt"
    return $rc
}

stage_fuzz() {
    k410_install "${FUZZ_PACKAGES[@]}" || return
    cmake -S . -B "$fuzz_build" -DCMAKE_CXX_COMPILER=clang++ -DK410_FUZZ=ON -DK410_BUILD_TESTS=OFF >/dev/null || return
    cmake --build "$fuzz_build" --target fuzz_image fuzz_protocol --parallel "$(nproc)" || return
    local rc=0
    fuzz_target fuzz_image "$root/fuzz/corpus" || rc=1
    fuzz_target fuzz_protocol "$root/fuzz/corpus-protocol" || rc=1
    cat "$root/$fuzz_build"/run/*/figures.txt > "$root/$fuzz_build/run/figures.txt"
    echo "----- fuzz figures"
    cat "$root/$fuzz_build/run/figures.txt"
    return $rc
}

# A stage runs as the left side of "||", where errexit does not apply: each
# stage checks its own commands.
for s in "${stages[@]}"; do
    start=$SECONDS
    echo "===== stage $s"
    status=0
    "stage_$s" || status=$?
    echo "===== stage $s: $((SECONDS - start)) s, exit $status"
    [ $status -eq 0 ] || exit $status
done
