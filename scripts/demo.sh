#!/bin/bash
# The main job: builds the downloader, stamps a copy for the bundled sample
# deployment (samples/deployment), serves that deployment on loopback and
# runs the downloader under Wine with a virtual display, printing what a
# user would see (status line, progress, message boxes) and the files the
# run left behind.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cd "$qr_root"

build="${QR_BUILD_DIR:-$qr_root/build/demo-$QR_ARCH}"
cmake -S . -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$qr_root/cmake/toolchain-$QR_ARCH-mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQR_BUILD_TESTS=ON >/dev/null
cmake --build "$build" --target QuillrunDownloader qrstamp qrwatch -j "$(nproc)" >/dev/null

source "$qr_root/scripts/wine-prefix.sh"
qr_prefix_start "$build/wineprefix"
trap qr_prefix_stop EXIT

export QR_DEMO_BIN="$build/bin"
export QR_SERVER_LOG=1  # the server prints each request the downloader makes
export QR_SERVE_DIR="$qr_root/samples/deployment"
bash "$qr_root/tests/fixtures/with-server.sh" "$qr_root/scripts/demo-run.sh"
