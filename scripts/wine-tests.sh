#!/usr/bin/env bash
# Runs the test suites of a Windows cross build under Wine and prints the pass
# counts of each suite.
# Usage: scripts/wine-tests.sh [BUILD_DIR]   (default build-windows)
# The suites are those CTest knows in BUILD_DIR: the ones that need no POSIX
# pseudo-terminal. The suites without windows run headless on Qt's minimal
# platform. The suites labelled "window" wait for their windows to be exposed
# and activated, which the minimal platform never does: they run on the real
# windows platform inside a Wine virtual desktop on an X display (Xvfb when
# DISPLAY is unset), where Wine itself manages activation.
# Each suite has a time limit (K410_WINE_TEST_TIMEOUT seconds, default 300).
# Fails when a suite fails, crashes, times out or passes no test.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/windows-env.sh
build="${1:-$(k410_build_dir windows)}"
k410_install wine wine64 xvfb
k410_wine_prefix || { echo "Could not create the Wine prefix $WINEPREFIX" >&2; exit 1; }

list_suites() { ctest --test-dir "$build" -N "$@" | sed -n 's/^ *Test *#[0-9]*: *\([A-Za-z0-9_]*\).*/\1/p'; }
mapfile -t suites < <(list_suites)
mapfile -t window_suites < <(list_suites -L window)
[ ${#suites[@]} -gt 0 ] || { echo "No test suites in $build" >&2; exit 1; }

xvfb_pid=
small_disk="$PWD/$build/wine-small-disk"
small_drive="$WINEPREFIX/dosdevices/k:"
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    [ ! -L "$small_drive" ] || rm -f "$small_drive"
    ! mountpoint -q "$small_disk" || umount "$small_disk" || true
}
trap cleanup EXIT

# A small disk for the saves that find the disk full: a 64 KiB tmpfs, seen by
# the Windows programs as drive K: so that its free space is the drive's own
# (root only; without it the full-disk rows say they skip).
mkdir -p "$small_disk"
! mountpoint -q "$small_disk" || umount "$small_disk"
if [ "$(id -u)" -eq 0 ] && mount -t tmpfs -o size=64k tmpfs "$small_disk"; then
    ln -sfn "$small_disk" "$small_drive"
    export K410_SMALL_DISK='K:\'
else
    echo "No small disk for the full-disk rows (mounting a tmpfs needs root): they skip"
fi
if [ ${#window_suites[@]} -gt 0 ] && [ -z "${DISPLAY:-}" ]; then
    k410_start_xvfb || { echo "Could not start Xvfb" >&2; exit 1; }
fi

logs="$build/wine-logs"
rm -rf "$logs"; mkdir -p "$logs"
export QTEST_FUNCTION_TIMEOUT=120000
total_pass=0 total_fail=0 total_skip=0 bad=0
for suite in "${suites[@]}"; do
    exe=$(find "$build" -name "$suite.exe" -print -quit)
    if [ -z "$exe" ]; then
        echo "$suite: not built"; bad=1; continue
    fi
    if printf '%s\n' "${window_suites[@]}" | grep -qx "$suite"; then
        platform=windows
        launch=(wine explorer "/desktop=k410tests,1280x1024" "./$suite.exe")
    else
        platform=minimal
        launch=(wine "./$suite.exe")
    fi
    # QtTest's plain text goes to the debugger channel on Windows when it is
    # meant for the standard output; the TAP format is written there as is.
    rc=0
    (cd "$(dirname "$exe")" && QT_QPA_PLATFORM=$platform \
        timeout "${K410_WINE_TEST_TIMEOUT:-300}" "${launch[@]}" -o -,tap) \
        >"$logs/$suite.tap" 2>"$logs/$suite.err" || rc=$?
    tap="$logs/$suite.tap"
    # One "# pass N" / "# fail N" pair closes each test class the suite runs;
    # a class without its pair crashed (the virtual desktop does not pass the
    # exit status on).
    started=$(grep -c '^TAP version' "$tap" || true)
    closed=$(grep -c '^# fail ' "$tap" || true)
    pass=$(awk '/^# pass /{n+=$3} END{print n+0}' "$tap")
    fail=$(awk '/^# fail /{n+=$3} END{print n+0}' "$tap")
    skip=$(grep -c '^ok .* # SKIP' "$tap" || true)
    pass=$((pass - skip)) # TAP counts a skipped function as passed
    status=ok
    if [ $rc -eq 124 ]; then status="timed out"; elif [ $rc -ne 0 ]; then status="exit $rc"; fi
    [ "$started" -eq "$closed" ] || status="$status, ended early"
    [ "$pass" -gt 0 ] || status="$status, no test passed"
    printf '%-18s %4d passed, %d failed, %d skipped  (%s platform; %s)\n' \
        "$suite:" "$pass" "$fail" "$skip" "$platform" "$status"
    if [ "$status" != ok ] || [ "$fail" -ne 0 ]; then
        bad=1
        grep -E -A8 '^not ok' "$tap" | head -60 || true
        tail -5 "$logs/$suite.err" || true
    fi
    total_pass=$((total_pass + pass)); total_fail=$((total_fail + fail)); total_skip=$((total_skip + skip))
done
echo "wine: $total_pass passed, $total_fail failed, $total_skip skipped"
exit $bad
