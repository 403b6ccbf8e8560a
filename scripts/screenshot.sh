#!/bin/bash
# Saves PNGs of the progress window and of a failure box, drawn by Wine on
# the Xvfb display of a test prefix, so the look can be reviewed.
#   scripts/screenshot.sh [output folder]     (default <build>/screenshots)
# QR_BUILD_DIR picks the build folder as in scripts/test.sh.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cd "$qr_root"

build="${QR_BUILD_DIR:-$qr_root/build/test-$QR_ARCH}"
out="$(realpath -m "${1:-$build/screenshots}")"
mkdir -p "$out"

cmake -S . -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$qr_root/cmake/toolchain-$QR_ARCH-mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQR_WERROR=ON -DQR_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j "${QR_JOBS:-2}" --target progress_window_test limspawn >/dev/null

source "$qr_root/scripts/wine-prefix.sh"
qr_prefix_start "$build/wineprefix"
trap qr_prefix_stop EXIT
# There is no window manager on Xvfb: let Wine draw the captions itself.
"$QR_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1

# Each pose stays on screen for QR_SCREENSHOT_HOLD_MS while it is captured.
shoot() {
    local filter="$1" file="$2"
    (cd "$build/bin" && QR_SCREENSHOT_HOLD_MS=4000 "$QR_WINE" progress_window_test.exe \
        --gtest_filter="$filter" >/dev/null 2>&1) &
    local test_pid=$!
    sleep 3
    import -window root "$out/$file"
    wait "$test_pid"
    echo "$out/$file"
}

shoot '*ReviewPoseShowsDeterminateProgress' progress-window.png
shoot '*SystemBoxShowsWhatTheWrapperAsks' failure-box.png
