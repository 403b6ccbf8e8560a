#!/bin/bash
# Configures, builds and runs the whole test suite under Wine and Xvfb.
#   scripts/test.sh [ctest arguments...]
# QR_BUILD_DIR picks the build folder (default build/test-<arch>); the Wine
# prefix lives inside it. Warnings are errors here.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cd "$qr_root"

build="${QR_BUILD_DIR:-$qr_root/build/test-$QR_ARCH}"
jobs="${QR_JOBS:-$(nproc)}"

cmake -S . -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$qr_root/cmake/toolchain-$QR_ARCH-mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQR_WERROR=ON -DQR_BUILD_TESTS=ON >/dev/null
# QR_TARGETS limits the build to some targets (while others are mid-edit).
if [ -n "${QR_TARGETS:-}" ]; then
    # shellcheck disable=SC2086
    cmake --build "$build" -j "$jobs" --target $QR_TARGETS
else
    cmake --build "$build" -j "$jobs"
fi

# The shipped architecture must build too, when the tests ran another one.
if [ "$QR_ARCH" != i686 ] && [ -z "${QR_SKIP_I686:-}" ]; then
    cmake -S . -B "$build-i686-product" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$qr_root/cmake/toolchain-i686-mingw.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DQR_WERROR=ON -DQR_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build-i686-product" -j "$jobs"
fi

source "$qr_root/scripts/wine-prefix.sh"
qr_prefix_start "$build/wineprefix"
trap qr_prefix_stop EXIT

cd "$build"
ctest --output-on-failure --timeout 600 "$@"
