#!/usr/bin/env bash
# CI's Wine 10 end-to-end stage: the unmodified Windows program, k410-bios.exe
# from the portable folder of a Windows build, moves real bytes through its
# serial path under Wine 10 against k410-sim on a pseudo-terminal mapped as
# COM2, clicked through on a virtual X display as a technician would.
#
# Debian 12 carries Wine 8, which never tells a program of received serial
# bytes; Wine 10 does, but needs a newer C library than Debian 12 has. So Wine
# 10 runs from Debian 13's own packages in a Debian 13 chroot, made once with
# debootstrap and kept in the build tools' cache,
# ${XDG_CACHE_HOME:-~/.cache}/k410-build/wine10-chroot (made again when the
# package list below changes; one that an earlier version kept in
# ~/.cache/k410-bios is moved there). The program, the
# simulator's line and the X display are shared with it through bind mounts.
#
# A pseudo-terminal has no modem lines, and Wine gives up every serial wait
# when it cannot read them: tests/wine/pty-modem-lines.c, built here and
# preloaded into Wine, answers those requests on pty slaves. It belongs to this
# stage only, never to the program.
#
# Rows: the port test with the unit answering at once; Backup + Upgrade with
# the unit answering at once, 20 ms later, through a 16 ms USB adapter tick and
# cut into random bursts (the backup byte-identical to the unit's firmware, the
# unit holding the image after); an Upgrade in German; Exit during the
# download; a damaged image (nothing sent). Prints one table and fails on any
# miss. Run logs, traces, simulator reports and a screenshot of each failure go
# to BUILD_DIR/wine-e2e/.
#
# Usage: scripts/wine-e2e.sh [BUILD_DIR]   (default build-windows, after
#        ./package-windows; k410-sim comes from build/ or K410_BUILD_DIR,
#        built when missing)
# Needs root (debootstrap, the chroot and its mounts). Where the chroot cannot
# be made it says why in a banner, and fails under CI=true, skips otherwise.
# K410_E2E_PORT_TESTS sets the number of port tests (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/windows-env.sh
build_arg=${1:-$(k410_build_dir windows)}
if [ ! -d "$build_arg" ] && ! k410_find_qt_tarball >/dev/null; then
    # The Windows stage said in its own banner that it was skipped.
    echo "################################################################################"
    echo "# WINE 10 STAGE SKIPPED: no Windows build in $build_arg (no Qt for Windows here)."
    echo "################################################################################"
    exit 0
fi
build=$(cd "$build_arg" && pwd)

CHROOT_SUITE=trixie
CHROOT_PACKAGES=(wine64 wine)
chroot_dir="$K410_BUILD_CACHE/wine10-chroot"
chroot_stamp="suite $CHROOT_SUITE, minbase, packages ${CHROOT_PACKAGES[*]}"
work="$build/wine-e2e"
records=300          # records of the unit's firmware and of the image
unit_seed=1          # the unit's firmware: k410-sim's generated image of this seed
image_seed=7         # the image written into it
probe_speed=110      # the unit answers the first setting tried: no long waits

unavailable() { # reason lines...; fails under CI=true, skips otherwise
    echo "################################################################################"
    echo "# WINE 10 END-TO-END STAGE NOT RUN: no Debian $CHROOT_SUITE chroot with Wine 10."
    local line
    printf '%s\n' "$@" | while IFS= read -r line; do echo "# $line"; done
    if [ "${CI:-}" = true ]; then
        echo "# CI=true: this stage must run here. FAILED."
        echo "################################################################################"
        exit 1
    fi
    echo "# Skipped (outside CI). Nothing was run under Wine 10."
    echo "################################################################################"
    exit 0
}

exe=$(ls "$build"/deploy/k410-bios-*-win64/k410-bios.exe 2>/dev/null | head -n1)
if [ -z "$exe" ]; then
    if k410_find_qt_tarball >/dev/null; then
        echo "No portable folder in $build/deploy: run ./package-windows first" >&2
        exit 1
    fi
    # As the Windows stage: without the Qt for Windows there is no program to run.
    echo "################################################################################"
    echo "# WINE 10 END-TO-END STAGE SKIPPED: no Qt for Windows ($K410_QT_TARBALL_NAME),"
    echo "# so no Windows build to run (the Windows stage said so too)."
    echo "################################################################################"
    exit 0
fi
[ "$(id -u)" -eq 0 ] || unavailable "Making and entering the chroot needs root; run this stage as root."

needed=(debootstrap xvfb xdotool imagemagick x11-utils gcc libc6-dev)
k410_install "${needed[@]}" >/dev/null || unavailable "Could not install ${needed[*]} from Debian's packages."

stage_start=$SECONDS
mkdir -p "$K410_BUILD_CACHE"
exec 9>"$K410_BUILD_CACHE/wine10-chroot.lock"
flock 9 # one run at a time uses the chroot and its mounts

# ---------------------------------------------------------------- mounts
mounted=()
mount_in() { # mount_in TARGET MOUNT-ARGS...: mounts and remembers for the clean-up
    local target=$1; shift
    mkdir -p "$target"
    mount "$@" "$target" && mounted+=("$target")
}
unmount_all() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount "${mounted[$i]}" 2>/dev/null || umount -l "${mounted[$i]}" 2>/dev/null || true
    done
    mounted=()
}
mounts_under() { awk -v d="$(realpath -m "$1")" '$2 == d || index($2, d "/") == 1' /proc/mounts; }

# ---------------------------------------------------------------- the chroot, once
# A chroot that an earlier version made in the program's working folder is
# moved here rather than made again: unless a run of that version holds it
# (its lock) or has something mounted in it.
old_cache="${XDG_CACHE_HOME:-$HOME/.cache}/k410-bios"
if [ -d "$old_cache/wine10-chroot" ] && [ ! -e "$chroot_dir" ]; then
    if { [ ! -e "$old_cache/wine10-chroot.lock" ] || { exec 8<"$old_cache/wine10-chroot.lock" && flock -n 8; }; } \
        && [ -z "$(mounts_under "$old_cache/wine10-chroot")" ]; then
        k410_build_cache wine10-chroot >/dev/null
        rm -f "$old_cache/wine10-chroot.lock" "$old_cache/wine10-chroot.log"
    fi
    exec 8<&-
fi
if [ "$(cat "$chroot_dir/.k410-chroot" 2>/dev/null)" != "$chroot_stamp" ]; then
    echo "Making the Debian $CHROOT_SUITE chroot with ${CHROOT_PACKAGES[*]} in $chroot_dir"
    new="$chroot_dir.new"
    for d in "$new" "$chroot_dir"; do
        [ -z "$(mounts_under "$d")" ] || unavailable "Something is still mounted under $d; unmount it first."
        rm -rf --one-file-system "$d"
    done
    t=$SECONDS
    log="$K410_BUILD_CACHE/wine10-chroot.log"
    debootstrap --variant=minbase "$CHROOT_SUITE" "$new" ${K410_DEBIAN_MIRROR:-} >"$log" 2>&1 \
        || unavailable "debootstrap $CHROOT_SUITE failed (see $log):" "$(tail -n 2 "$log")"
    cp /etc/resolv.conf "$new/etc/resolv.conf"
    mount_in "$new/proc" -t proc proc
    mount_in "$new/dev" --bind /dev
    mount_in "$new/dev/pts" --bind /dev/pts
    rc=0
    chroot "$new" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
        sh -c "apt-get update -q && apt-get install -y -q --no-install-recommends ${CHROOT_PACKAGES[*]} && apt-get clean" \
        >>"$log" 2>&1 || rc=$?
    unmount_all
    [ $rc -eq 0 ] || unavailable "Installing ${CHROOT_PACKAGES[*]} in the chroot failed (see $log):" "$(tail -n 2 "$log")"
    echo "$chroot_stamp" >"$new/.k410-chroot"
    mv "$new" "$chroot_dir"
    echo "chroot made in $((SECONDS - t)) s"
fi
chroot_size=$(du -sh --one-file-system "$chroot_dir" | cut -f1)
echo "Wine in the chroot: $(chroot "$chroot_dir" dpkg-query -W -f='${Version}' wine 2>/dev/null || echo unknown), chroot $chroot_size"

# ---------------------------------------------------------------- run set-up
sim_pid= xvfb_pid=
in_chroot() { # runs a command in the chroot with Wine's environment
    chroot "$chroot_dir" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 DISPLAY="$DISPLAY" \
        WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        LD_PRELOAD="$work/pty-modem-lines.so" "$@"
}
cleanup() {
    [ -z "${DISPLAY:-}" ] || in_chroot wineserver -k 2>/dev/null || true
    [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    sleep 0.5
    unmount_all
}
trap cleanup EXIT

rm -rf "$work"
mkdir -p "$work"
gcc -shared -fPIC -O2 -Wall -Wextra -o "$work/pty-modem-lines.so" tests/wine/pty-modem-lines.c -ldl

main_build=$(k410_build_dir main)
sim=${K410_SIM:-$root/$main_build/sim/k410-sim}
if [ ! -x "$sim" ]; then
    echo "Building k410-sim in $main_build/"
    [ -f "$main_build/CMakeCache.txt" ] || cmake -S . -B "$main_build" >/dev/null
    cmake --build "$main_build" --target k410-sim --parallel 2 >/dev/null
fi

k410_start_xvfb || { echo "Could not start Xvfb" >&2; exit 1; }
mount_in "$chroot_dir/proc" -t proc proc
mount_in "$chroot_dir/dev" --bind /dev
mount_in "$chroot_dir/dev/pts" --bind /dev/pts # the simulator's pty, made outside
mount_in "$chroot_dir/tmp/.X11-unix" --bind /tmp/.X11-unix
mount_in "$chroot_dir$build" --bind "$build" # the program and this run's files, at the same paths

t=$SECONDS
in_chroot sh -c 'wineboot -i; wineserver -w' >"$work/prefix.log" 2>&1 || true
[ -f "$work/prefix/system.reg" ] || { echo "Could not make the Wine prefix (see $work/prefix.log)" >&2; exit 1; }
# COM2 is the simulator's line (a link the simulator keeps pointing at its
# pty); COM1, COM3 and COM4 lead nowhere, or Wine would map COM1 to ttyS0.
for n in 1 2 3 4; do
    value=; [ $n -ne 2 ] || value="$work/com2"
    in_chroot wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$value" /f >/dev/null 2>&1
done
in_chroot wineserver -w
rm -f "$work"/prefix/dosdevices/com[0-9]*
ln -s "$work/com2" "$work/prefix/dosdevices/com2"
echo "Wine prefix made in $((SECONDS - t)) s"

"$sim" --write-image "$work/unit.bio" --records $records --seed $unit_seed
"$sim" --write-image "$work/release.bio" --records $records --seed $image_seed
"$sim" --write-damaged "$work/damaged.bio" --records $records --seed $image_seed
cmp -s "$work/unit.bio" "$work/release.bio" && { echo "The image equals the unit's firmware: pick other seeds" >&2; exit 1; }

winpath() { local p=${1//\//\\}; echo "Z:$p"; }

# ---------------------------------------------------------------- the display
# Both windows are built to fixed pixel sizes, and Wine's X windows are their
# client areas (no window manager here): controls are clicked at their centres
# in window coordinates, in pixels (twips / 15).
EN_START=516,284  # ENGLISH on the start window
DE_START=516,468  # DEUTSCH
PREV=512,204      # Previous, in the button bar of the instruction window
NEXT=600,204      # Next
BUTTON1=557,204   # the port-test button and the Start button, one place
EXIT=708,204      # Exit
UPGRADE=361,392   # the Upgrade option of the mode frame

window_named() { # window_named TITLE SECONDS: waits for a visible window titled exactly TITLE, prints its id
    local end=$((SECONDS + $2)) w
    while [ $SECONDS -lt $end ]; do
        for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
            [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && { echo "$w"; return 0; }
        done
        sleep 0.2
    done
    return 1
}
window_gone() { # window_gone ID SECONDS
    local end=$((SECONDS + $2))
    while [ $SECONDS -lt $end ]; do
        xwininfo -id "$1" 2>/dev/null | grep -q "IsViewable" || return 0
        sleep 0.2
    done
    return 1
}
click() { xdotool mousemove --window "$1" "${2%,*}" "${2#*,}" click 1; }
trace_count() { local n; n=$(grep -c -E "$1" "$trace" 2>/dev/null) || true; echo "${n:-0}"; }
wait_trace() { # wait_trace REGEX COUNT SECONDS: until the trace holds COUNT lines matching REGEX
    local end=$((SECONDS + $3))
    while [ $SECONDS -lt $end ]; do
        [ "$(trace_count "$1")" -ge "$2" ] && return 0
        sleep 0.2
    done
    return 1
}
answer_dialog() { # answer_dialog TITLE PATH: types PATH into the file dialog titled TITLE
    local d
    d=$(window_named "$1" 60) || { why="no dialog \"$1\""; return 1; }
    xdotool windowfocus --sync "$d"
    xdotool type --delay 2 "$(winpath "$2")"
    xdotool key Return
    window_gone "$d" 30 || { why="dialog \"$1\" still open"; return 1; }
}

# ---------------------------------------------------------------- one run
# start_sim DIR SIM-ARGS...: the run's folder, and the simulator on a fresh pty as COM2
start_sim() {
    dir=$1; shift
    mkdir -p "$dir"
    trace="$dir/trace.txt" why=
    "$sim" --link "$work/com2" --probe-speed $probe_speed --records $records --seed $unit_seed \
        --report "$dir/sim.report" --out "$dir/unit.out" "$@" >"$dir/sim.log" 2>&1 &
    sim_pid=$!
    local end=$((SECONDS + 10))
    until [ -L "$work/com2" ] && [ -s "$dir/sim.log" ]; do
        [ $SECONDS -lt $end ] && kill -0 "$sim_pid" 2>/dev/null || { why="k410-sim did not start"; return 1; }
        sleep 0.1
    done
}
# start_run DIR SIM-ARGS...: the simulator, then the program up to its start window
start_run() {
    start_sim "$@" || return 1
    # Now and then Wine shows no window at all for a program it started (a
    # black screen, the program's trace opened and nothing after it, on about
    # one run in a hundred). The program has not touched the port before its
    # start window, so it is started once more, and the table says so.
    local attempt
    for attempt in 1 2; do
        (cd "$dir" && in_chroot env K410_TRACE="$(winpath "$trace")" K410_DIALOG_DIR="$(winpath "$dir")" \
            wine "$exe" >>"$dir/program.log" 2>&1 &)
        start_window=$(window_named "Upgrade Bios K410" 90) && return 0
        import -window root "$dir/no-start-window-$attempt.png" 2>/dev/null || true
        in_chroot wineserver -k 2>/dev/null || true
        [ "$attempt" = 2 ] || restarts+=("$dir")
    done
    why="no start window, twice"
    return 1
}
# choose_language BUTTON TITLE: the language button, then the instruction window
choose_language() {
    click "$start_window" "$1"
    form=$(window_named "$2" 30) || { why="no instruction window \"$2\""; return 1; }
}
# port_test N: the port-test button, then the Nth port test's ending must find COM2
port_test() {
    click "$form" "$BUTTON1"
    wait_trace '^ *[0-9.]+ END port test' "$1" 60 || { why="port test $1 did not end"; return 1; }
    [ "$(grep -E '^ *[0-9.]+ END port test' "$trace" | sed -n "$1p" | grep -c 'found COM2$')" -eq 1 ] \
        || { why="port test $1: $(grep -E 'END port test' "$trace" | sed -n "$1p")"; return 1; }
}
# to_start MODE: from the port-test step (unit found) through power-off and mode to Start
to_start() {
    click "$form" "$NEXT"          # power-off step -> mode step
    [ "$1" != upgrade ] || click "$form" "$UPGRADE"
    click "$form" "$NEXT"          # mode step -> start step
    click "$form" "$BUTTON1"       # Start
}
# end_run: ends the program and the simulator; the report and the unit's firmware are then written
end_run() {
    in_chroot wineserver -k 2>/dev/null || true
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=
    fi
}
report() { sed -n "s/^$1=//p" "$dir/sim.report"; }
fail_shot() { import -window root "$dir/failure.png" 2>/dev/null || true; }

# ---------------------------------------------------------------- the rows
rows=() row_runs=() row_passed=() row_time=() failures=() restarts=()
record() { # record ROW OK SECONDS
    local i
    for i in "${!rows[@]}"; do
        if [ "${rows[$i]}" = "$1" ]; then
            row_runs[$i]=$((row_runs[$i] + 1)); row_passed[$i]=$((row_passed[$i] + $2)); row_time[$i]=$((row_time[$i] + $3))
            return
        fi
    done
    rows+=("$1"); row_runs+=(1); row_passed+=("$2"); row_time+=("$3")
}
verdict() { # verdict ROW T0 DIR: records the run (ok when $why is empty)
    if [ -z "$why" ]; then
        record "$1" 1 $((SECONDS - $2))
    else
        record "$1" 0 $((SECONDS - $2))
        failures+=("$1 ($3): $why")
        echo "  MISS $1: $why" >&2
    fi
}

# The port test, again and again in one program: Previous at the power-off
# step leads back to the port-test step.
port_tests=${K410_E2E_PORT_TESTS:-20}
t0=$SECONDS
if start_run "$work/port-tests" && choose_language "$EN_START" "Procedure to update Bios K410"; then
    click "$form" "$NEXT" # cable step -> port-test step
    for n in $(seq "$port_tests"); do
        t=$SECONDS; why=
        port_test "$n" || fail_shot
        verdict "port test, unit answers at once" "$t" "$dir"
        [ -z "$why" ] || break
        click "$form" "$PREV"
    done
else
    fail_shot; verdict "port test, unit answers at once" "$t0" "$dir"
fi
end_run

# backup_upgrade ROW NAME SIM-ARGS...: English, Backup + Upgrade, 300 records
backup_upgrade() {
    local row=$1 name=$2 t=$SECONDS; shift 2
    if start_run "$work/$name" "$@" && choose_language "$EN_START" "Procedure to update Bios K410" \
        && { click "$form" "$NEXT"; port_test 1; } && { to_start backup; true; } \
        && answer_dialog "SELECT THE DIRECTORY AND THE NAME OF BACKUP FILE" "$dir/backup.bak" \
        && answer_dialog "SELECT THE BIOS RELEASE TO INSTALL." "$work/release.bio"; then
        wait_trace '^ *[0-9.]+ END transfer' 1 300 || why="the transfer did not end"
    fi
    [ -n "$why" ] && fail_shot
    end_run
    if [ -z "$why" ]; then
        if ! grep -q 'END transfer normal/complete' "$trace"; then why=$(grep -m1 'END transfer' "$trace")
        elif ! cmp -s "$dir/backup.bak" "$work/unit.bio"; then why="the backup differs from the unit's firmware"
        elif ! cmp -s "$dir/unit.out" "$work/release.bio"; then why="the unit does not hold the image"
        elif [ "$(report upgrade_completed)" != yes ]; then why="the unit saw no completed upgrade"
        fi
    fi
    verdict "$row" "$t" "$dir"
}
for n in 1 2 3 4 5; do backup_upgrade "Backup + Upgrade, unit answers at once" "at-once-$n"; done
for n in 1 2; do backup_upgrade "Backup + Upgrade, unit answers 20 ms later" "later-$n" --turnaround-us 20000; done
backup_upgrade "Backup + Upgrade, 16 ms adapter tick" "latency-16" --latency-ms 16
for seed in 1 2 3; do
    backup_upgrade "Backup + Upgrade, bursts (16 ms, seeds 1-3)" "bursts-$seed" --latency-ms 16 --burst-seed $seed
done

# upgrade_to_dialog NAME START-BUTTON TITLE DIALOG IMAGE: a program in the
# language of START-BUTTON taken through the port test to an Upgrade, IMAGE
# typed into the image dialog titled DIALOG
upgrade_to_dialog() {
    start_run "$work/$1" && choose_language "$2" "$3" \
        && { click "$form" "$NEXT"; port_test 1; } && { to_start upgrade; true; } \
        && answer_dialog "$4" "$5"
}

# Upgrade in German.
t=$SECONDS
if upgrade_to_dialog german "$DE_START" "Biosneubearbeitungprozess von K410" \
    "Wählen Sie die Bios Version zu installieren" "$work/release.bio"; then
    wait_trace '^ *[0-9.]+ END transfer' 1 300 || why="the transfer did not end"
fi
[ -n "$why" ] && fail_shot
end_run
if [ -z "$why" ]; then
    if ! grep -q 'END transfer normal/complete' "$trace"; then why=$(grep -m1 'END transfer' "$trace")
    elif ! cmp -s "$dir/unit.out" "$work/release.bio"; then why="the unit does not hold the image"
    elif [ "$(report read_requests)" != 0 ]; then why="an Upgrade asked for a backup"
    fi
fi
verdict "Upgrade in German" "$t" "$dir"

# Exit during the download: the transfer stops, nothing more is sent, and
# Exit then closes the instruction window.
t=$SECONDS
record_tx='^ *[0-9.]+ TX( [0-9A-F]{2}){16}$'
if upgrade_to_dialog exit "$EN_START" "Procedure to update Bios K410" \
    "SELECT THE BIOS RELEASE TO INSTALL." "$work/release.bio"; then
    if ! wait_trace "$record_tx" 100 120; then why="the download did not reach record 100"
    else
        click "$form" "$EXIT"
        if ! wait_trace '^ *[0-9.]+ END transfer' 1 60; then why="Exit did not stop the transfer"
        elif ! grep -q 'END transfer normal/stopped' "$trace"; then why=$(grep -m1 'END transfer' "$trace")
        else
            click "$form" "$EXIT"
            window_gone "$form" 30 || why="Exit after the stop did not close the instruction window"
        fi
    fi
fi
[ -n "$why" ] && fail_shot
end_run
if [ -z "$why" ]; then
    sent=$(trace_count "$record_tx")
    if [ -n "$(sed -n '/END transfer/,$p' "$trace" | grep -E '^ *[0-9.]+ TX')" ]; then why="bytes sent after the stop"
    elif [ "$(report upgrade_completed)" = yes ]; then why="the upgrade completed all the same"
    elif [ "$(report records_received)" -gt "$sent" ]; then why="the unit got more records than were sent"
    elif [ "$sent" -ge $((records + 1)) ]; then why="every record was sent"
    fi
fi
verdict "Exit during the download" "$t" "$dir"

# A damaged image: the damaged-file ending, nothing sent, the unit untouched.
t=$SECONDS
if upgrade_to_dialog damaged "$EN_START" "Procedure to update Bios K410" \
    "SELECT THE BIOS RELEASE TO INSTALL." "$work/damaged.bio"; then
    wait_trace '^ *[0-9.]+ END transfer' 1 120 || why="the transfer did not end"
fi
[ -n "$why" ] && fail_shot
end_run
if [ -z "$why" ]; then
    if ! grep -q 'END transfer damaged-file' "$trace"; then why=$(grep -m1 'END transfer' "$trace")
    elif [ -n "$(sed -n '/END port test/,$p' "$trace" | grep -E '^ *[0-9.]+ TX')" ]; then why="bytes sent for a damaged image"
    elif [ "$(report erase_requests)" != 0 ] || [ "$(report link_requests)" != 0 ]; then why="the unit was asked for something"
    elif ! cmp -s "$dir/unit.out" "$work/unit.bio"; then why="the unit's firmware changed"
    fi
fi
verdict "Damaged image, nothing sent" "$t" "$dir"

# k410-flash from the command line: Backup + Upgrade on COM2, no window.
t=$SECONDS
if start_sim "$work/flash"; then
    status=0
    (cd "$dir" && in_chroot wine "$(dirname "$exe")/k410-flash.exe" upgrade --port 2 --quiet --json \
        --backup "$(winpath "$dir/backup.bak")" "$(winpath "$work/release.bio")" >"$dir/result.json" 2>"$dir/stderr.txt") \
        || status=$?
    end_run
    if [ "$status" != 0 ]; then why="exit status $status: $(head -c 300 "$dir/stderr.txt")"
    elif ! grep -q '"result":"done"' "$dir/result.json"; then why="result: $(head -c 300 "$dir/result.json")"
    elif ! cmp -s "$dir/backup.bak" "$work/unit.bio"; then why="the backup differs from the unit's firmware"
    elif ! cmp -s "$dir/unit.out" "$work/release.bio"; then why="the unit does not hold the image"
    fi
else
    end_run
fi
verdict "k410-flash upgrade --backup, on COM2" "$t" "$dir"

# ---------------------------------------------------------------- the table
echo
printf '%-46s %5s %7s %8s\n' "Wine 10 end to end ($records records)" runs passed time
total_runs=0 total_passed=0
for i in "${!rows[@]}"; do
    printf '%-46s %5d %7d %6d s\n' "${rows[$i]}" "${row_runs[$i]}" "${row_passed[$i]}" "${row_time[$i]}"
    total_runs=$((total_runs + row_runs[$i])); total_passed=$((total_passed + row_passed[$i]))
done
echo "e2e: $total_passed passed, $((total_runs - total_passed)) failed"
if [ ${#restarts[@]} -gt 0 ]; then
    echo "started again after Wine showed no start window: ${#restarts[@]} (${restarts[*]##*/})"
fi
echo "wine e2e stage: $((SECONDS - stage_start)) s, chroot $chroot_size"
if [ ${#failures[@]} -gt 0 ]; then
    printf 'MISS %s\n' "${failures[@]}" >&2
    exit 1
fi
