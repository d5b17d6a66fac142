# Sourced by the Windows scripts (./package-windows, scripts/wine-*.sh,
# scripts/ci-windows.sh): where the Qt for Windows comes from and is unpacked,
# the Wine prefix, and the search path that lets Wine find the Qt and MinGW
# run-time DLLs of a build tree. Sources scripts/lib.sh.
#   K410_QT_MINGW   the unpacked Qt for Windows (default: qt6-mingw in the
#                   build tools' cache, see scripts/lib.sh)
#   WINEPREFIX      the Wine prefix (default: wine in that cache)
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
K410_QT_MINGW="${K410_QT_MINGW:-$(k410_build_cache qt6-mingw)}"
K410_MINGW_DLL_DIRS=(/usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib)
export WINEPREFIX="${WINEPREFIX:-$(k410_build_cache wine)}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko download prompts: nothing here needs .NET or HTML.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
WINEPATH="$K410_QT_MINGW/bin"
for d in "${K410_MINGW_DLL_DIRS[@]}"; do WINEPATH="$WINEPATH;$d"; done
export WINEPATH

# Creates the Wine prefix once (a few seconds); quiet.
k410_wine_prefix() {
    [ -f "$WINEPREFIX/system.reg" ] && return 0
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w 2>/dev/null || true
    [ -f "$WINEPREFIX/system.reg" ]
}

# Starts Xvfb on a free display and exports DISPLAY; sets xvfb_pid.
k410_start_xvfb() {
    local n
    for n in $(seq 90 130); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        local i
        for i in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && { export DISPLAY=":$n"; return 0; }
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=
    done
    return 1
}

# Prints the Qt for Windows tarball: in K410_TOOLCHAINS when set, else in
# ../shared/toolchains beside the repository (or beside its main checkout, for
# a git worktree). Prints nothing and fails when there is none.
K410_QT_TARBALL_NAME=qt6-mingw-6.4.2.tar.xz
k410_find_qt_tarball() {
    local root candidates=() common dir
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    [ -z "${K410_TOOLCHAINS:-}" ] || candidates+=("$K410_TOOLCHAINS")
    candidates+=("$root/../shared/toolchains")
    common=$(git -C "$root" rev-parse --path-format=absolute --git-common-dir 2>/dev/null || true)
    [ -z "$common" ] || candidates+=("$(dirname "$common")/../shared/toolchains")
    for dir in "${candidates[@]}"; do
        if [ -f "$dir/$K410_QT_TARBALL_NAME" ]; then
            echo "$(cd "$dir" && pwd)/$K410_QT_TARBALL_NAME"
            return 0
        fi
    done
    return 1
}
