# Sourced by every entry script (./run, ./test, ./bench, ./package,
# ./package-windows and scripts/*.sh): one way to install what is missing,
# to name the build folders, and to keep the build tools' caches.
#
#   k410_install PKG...     installs those of the Debian packages that are not
#                           installed (apt-get, through sudo when not root)
#   k410_build_dir NAME     prints the build folder of one kind of build
#   k410_build_cache NAME   prints the folder of one build-tool cache, moving
#                           it there from where earlier versions kept it
#
# The build tools' caches live in ${XDG_CACHE_HOME:-~/.cache}/k410-build
# (K410_BUILD_CACHE names another folder): the unpacked Qt for Windows, the
# Wine prefix, the Wine 10 chroot. ~/.cache/k410-bios is the program's own
# working folder (the working backup file, the run record); no build tool
# writes there.

[ -z "${K410_LIB_LOADED:-}" ] || return 0
K410_LIB_LOADED=1

# Root runs apt-get itself; anyone else through sudo.
if [ "$(id -u)" -eq 0 ]; then K410_SUDO=; else K410_SUDO=sudo; fi

k410_install() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    echo "Installing: ${missing[*]}"
    $K410_SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q \
        && $K410_SUDO env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The build folders, relative to the repository:
#   main     build/ (or K410_BUILD_DIR): ./run, ./test, and the k410-sim the
#            Wine stages use
#   bench    build-bench/: release without the test suites, for ./bench
#   package  build-release/: release with Debian's hardening flags, for ./package
#   asan     build-asan/: the suites under the sanitizers (scripts/ci-extra.sh)
#   fuzz     build-fuzz/: the fuzz targets (scripts/ci-extra.sh)
#   windows  build-windows/: the Windows cross-build (./package-windows)
k410_build_dir() {
    case "$1" in
        main) echo "${K410_BUILD_DIR:-build}" ;;
        bench) echo build-bench ;;
        package) echo build-release ;;
        asan) echo build-asan ;;
        fuzz) echo build-fuzz ;;
        windows) echo build-windows ;;
        *) echo "k410_build_dir: no build called '$1'" >&2; return 1 ;;
    esac
}

K410_BUILD_CACHE="${K410_BUILD_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/k410-build}"

# Prints $K410_BUILD_CACHE/NAME. What earlier versions kept in the program's
# working folder under that name is moved here the first time (a rename, so a
# large cache is not made again), unless this one is already there.
k410_build_cache() {
    local name=$1
    local old="${XDG_CACHE_HOME:-$HOME/.cache}/k410-bios/$name" new="$K410_BUILD_CACHE/$name"
    if [ -e "$old" ] && [ ! -e "$new" ]; then
        mkdir -p "$K410_BUILD_CACHE"
        mv "$old" "$new" && echo "Moved $old to $new" >&2
    fi
    echo "$new"
}
