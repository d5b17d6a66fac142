#!/usr/bin/env bash
# Installs the Windows build as a technician would, under Wine in a fresh
# prefix on a virtual X display, and checks it end to end:
#   1. the installer, run silently, puts every file of the portable folder into
#      Program Files\K410 Bios, the Start-menu shortcut "Upgrade Bios K410" and
#      the Add/Remove Programs entry;
#   2. the installed program starts with its start window "Upgrade Bios K410";
#      a click on ENGLISH (through the X server, as a mouse click) opens the
#      instruction window with its English title "Procedure to update Bios K410";
#      a screenshot of the screen is kept (english.png);
#   3. the installed command-line program answers --help, checks a good and a
#      damaged image with the right exit statuses, and refuses a wrong command;
#   4. the uninstaller, run silently, leaves no file, folder, shortcut or
#      registry key behind.
# Usage: scripts/wine-install-check.sh [BUILD_DIR]   (default build-windows,
#        after ./package-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/windows-env.sh
build=$(cd "${1:-$(k410_build_dir windows)}" && pwd)
k410_install wine wine64 xvfb xdotool imagemagick x11-utils
setup=$(ls "$build"/k410-bios-*-setup.exe)
stage=$(ls -d "$build"/deploy/k410-bios-*-win64)
out="$build/wine-logs"
mkdir -p "$out"

# A prefix of its own, new each time, so nothing of an earlier install counts.
export WINEPREFIX="$build/wine-install-prefix"
unset WINEPATH # the installed program must find everything in its own folder
rm -rf "$WINEPREFIX"
xvfb_pid=
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
k410_wine_prefix || { echo "Could not create the Wine prefix $WINEPREFIX" >&2; exit 1; }
k410_start_xvfb || { echo "Could not start Xvfb" >&2; exit 1; }

fail() { echo "FAILED: $*" >&2; exit 1; }
install_dir="$WINEPREFIX/drive_c/Program Files/K410 Bios"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Upgrade Bios K410.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\K410Bios'

# ---- 1. install
wine "$setup" /S
wineserver -w
expected=$(cd "$stage" && find . -type f | sort)
installed=$(cd "$install_dir" && find . -type f ! -name uninstall.exe | sort)
[ "$expected" = "$installed" ] || fail "installed files differ from the portable folder:
$(diff <(echo "$expected") <(echo "$installed") || true)"
for f in $(cd "$stage" && find . -type f); do
    cmp -s "$stage/$f" "$install_dir/$f" || fail "installed $f differs from the portable one"
done
[ -f "$install_dir/uninstall.exe" ] || fail "no uninstaller"
[ -f "$shortcut" ] || fail "no Start-menu shortcut"
wine reg query "$uninstall_key" /v DisplayName 2>/dev/null | grep -q "Upgrade Bios K410" \
    || fail "no Add/Remove Programs entry"
echo "installed: $(echo "$installed" | wc -l) files, shortcut, Add/Remove Programs entry"

# ---- 2. start, click ENGLISH, see the English instruction window
window_named() { # waits up to $2 seconds for a visible window titled exactly $1; prints its id
    local i w
    for i in $(seq $(($2 * 5))); do
        for w in $(xdotool search --onlyvisible --name "." 2>/dev/null); do
            [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && { echo "$w"; return 0; }
        done
        sleep 0.2
    done
    return 1
}
(cd /tmp && wine "C:\\Program Files\\K410 Bios\\k410-bios.exe" >"$out/program.log" 2>&1) &
start=$(window_named "Upgrade Bios K410" 60) || fail "the start window did not appear"
sleep 1 # let it paint
import -window root "$out/start.png" 2>/dev/null || true
# ENGLISH is the button at 6240, 3000 twips, 3015 x 2535: its middle, in pixels.
xdotool mousemove --window "$start" $(((6240 + 3015 / 2) / 15)) $(((3000 + 2535 / 2) / 15)) click 1
instructions=$(window_named "Procedure to update Bios K410" 30) \
    || fail "no instruction window with the English title after the click on ENGLISH"
sleep 1
import -window root "$out/english.png" 2>/dev/null || true
echo "started: start window $start, ENGLISH clicked, instruction window \"$(xdotool getwindowname "$instructions")\""
wineserver -k
sleep 1

# ---- 3. the command-line program, installed
flash="C:\\Program Files\\K410 Bios\\k410-flash.exe"
images=$(mktemp -d)
printf '\x5a\x5a\x5a\x5a\x5a\x5a\x5a\x5a\x5a\x5a\x5a\x5a\x5a\xff\xff\xffK410' >"$images/good.bio"
printf '\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x00\x00\x00K410' >"$images/damaged.bio"
expect_status() { # expect_status STATUS TEXT ARGS...: the exit status and a text the output holds
    local want=$1 text=$2 got=0 output; shift 2
    output=$(cd /tmp && wine "$flash" "$@" 2>&1) || got=$?
    [ "$got" = "$want" ] || fail "k410-flash $*: exit status $got, not $want:
$output"
    grep -qF "$text" <<<"$output" || fail "k410-flash $*: no \"$text\" in:
$output"
}
expect_status 0 "Usage: k410-flash COMMAND" --help
expect_status 0 "a good image, 0 records, 20 bytes" check "Z:$images/good.bio"
expect_status 5 "a record fails its checks" check "Z:$images/damaged.bio"
expect_status 2 "unknown command" flash "Z:$images/good.bio"
rm -rf "$images"
echo "k410-flash: --help, check of a good and a damaged image, a wrong command: as expected"

# ---- 4. uninstall
wine "C:\\Program Files\\K410 Bios\\uninstall.exe" /S
wineserver -w # the uninstaller runs from a copy of itself and returns at once
[ ! -e "$install_dir" ] || fail "left behind: $(cd "$install_dir" && find . | tail -n +2)"
[ ! -e "$shortcut" ] || fail "Start-menu shortcut left behind"
if wine reg query "$uninstall_key" >/dev/null 2>&1; then fail "Add/Remove Programs entry left behind"; fi
echo "uninstalled: no file, shortcut or registry key left"
