#!/usr/bin/env bash
# CI's Windows stage: cross-builds the application and every test suite that
# needs no POSIX pseudo-terminal (./package-windows --with-tests), runs those
# suites under Wine (scripts/wine-tests.sh), then installs the installer under
# Wine, starts the program, clicks ENGLISH, checks the English instruction
# window and uninstalls (scripts/wine-install-check.sh). Prints the time of
# each step.
# Without ../shared/toolchains (the Qt for Windows) it says so in a banner and
# skips the stage with success: the Linux stages still decide the run.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/windows-env.sh

if ! tarball=$(k410_find_qt_tarball); then
    echo "################################################################################"
    echo "# WINDOWS STAGE SKIPPED: no Qt for Windows ($K410_QT_TARBALL_NAME) in"
    echo "# $(cd .. && pwd)/shared/toolchains (nor in K410_TOOLCHAINS)."
    echo "# Nothing was cross-built or run under Wine."
    echo "################################################################################"
    exit 0
fi
echo "Qt for Windows: $tarball"

# Each step installs what it needs (scripts/lib.sh).
build=$(k410_build_dir windows)
stage_start=$SECONDS
t=$SECONDS; ./package-windows --with-tests; t_build=$((SECONDS - t))
t=$SECONDS; scripts/wine-tests.sh "$build"; t_tests=$((SECONDS - t))
t=$SECONDS; scripts/wine-install-check.sh "$build"; t_gui=$((SECONDS - t))
echo "windows stage: build and packages ${t_build} s, suites under Wine ${t_tests} s," \
     "install and start ${t_gui} s, total $((SECONDS - stage_start)) s"
