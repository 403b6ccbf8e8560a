#!/bin/bash
# Wall time of a whole downloader run against curl fetching the same files.
#
#   bench/run/run.sh [file count] [MB per file]     (default 20 x 10 MB)
#
# Makes a deployment of random files with their sizes and MD5 digests,
# serves it on loopback, stamps a downloader for it and times the run from
# start to exit (the run ends at the installation step, whose box qrwatch
# answers), then times curl fetching the same files one after another from
# the same server. Prints both times and their ratio. Not a test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"
cd "$qr_root"
count="${1:-20}"
mb="${2:-10}"

build="${QR_BUILD_DIR:-$qr_root/build/bench-$QR_ARCH}"
cmake -S . -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$qr_root/cmake/toolchain-$QR_ARCH-mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQR_BUILD_TESTS=ON >/dev/null
cmake --build "$build" --target QuillrunDownloader qrstamp qrwatch -j "$(nproc)" >/dev/null

work="$(mktemp -d "${TMPDIR:-/tmp}/qr-bench-run.XXXXXX")"
trap 'rm -rf "$work"' EXIT
deploy="$work/deployment"
mkdir -p "$deploy/1033/1.0.0"
{
    echo '<?xml version="1.0" encoding="utf-8"?>'
    echo '<application><product language="1033"><version name="1.0.0"><files msi="Bench.msi">'
    for i in $(seq -w 1 "$count"); do
        f="$deploy/1033/1.0.0/part$i.bin"
        head -c "$((mb * 1024 * 1024))" /dev/urandom >"$f"
        echo "<file size=\"$(stat -c %s "$f")\" hash=\"$(md5sum "$f" | cut -d' ' -f1)\">part$i.bin</file>"
    done
    echo '</files></version></product></application>'
} >"$deploy/version_info.xml"

source "$qr_root/scripts/wine-prefix.sh"
qr_prefix_start "$build/wineprefix"
trap 'qr_prefix_stop; rm -rf "$work"' EXIT

cat >"$work/measure.sh" <<'INNER'
#!/bin/bash
set -euo pipefail
source "$qr_root/scripts/wine-env.sh"
bin="$QR_BENCH_BIN"
base="http://127.0.0.1:$QR_HTTP_PORT/files"
"$QR_WINE" "$bin/qrstamp.exe" "$bin/QuillrunDownloader.exe" "$bin/BenchSetup.exe" \
    productName=Bench windowTitle=Bench application=QuillrunBench language=1033 version=1.0.0 \
    "installationUrl=$base/" >/dev/null
start=$(date +%s.%N)
"$QR_WINE" "$bin/qrwatch.exe" --timeout 600 "$bin/BenchSetup.exe" >"$QR_BENCH_WORK/watch.log"
end=$(date +%s.%N)
if ! grep -q "Installing the package is not available" "$QR_BENCH_WORK/watch.log" &&
   ! grep -q "exit code: 0" "$QR_BENCH_WORK/watch.log"; then
    echo "the downloader run did not complete:" >&2
    cat "$QR_BENCH_WORK/watch.log" >&2
    exit 1
fi
if grep -q "Wrong file hash\|error" "$QR_BENCH_WORK/watch.log"; then
    echo "the downloader run failed:" >&2
    cat "$QR_BENCH_WORK/watch.log" >&2
    exit 1
fi
downloader=$(echo "$end - $start" | bc -l)

start=$(date +%s.%N)
curl -s -o /dev/null "$base/version_info.xml"
for f in "$QR_BENCH_DEPLOY"/1033/1.0.0/*.bin; do
    curl -s -o "$QR_BENCH_WORK/curl.bin" "$base/1033/1.0.0/$(basename "$f")"
    md5sum "$QR_BENCH_WORK/curl.bin" >/dev/null
done
end=$(date +%s.%N)
curl_time=$(echo "$end - $start" | bc -l)
printf 'downloader run (start to exit, incl. Wine start-up): %.2f s\n' "$downloader"
printf 'curl + md5sum, same files:                          %.2f s\n' "$curl_time"
printf 'ratio downloader/curl:                              %.2f\n' "$(echo "$downloader / $curl_time" | bc -l)"
INNER
chmod +x "$work/measure.sh"
echo "== $count files of $mb MB"
QR_BENCH_BIN="$build/bin" QR_BENCH_WORK="$work" QR_BENCH_DEPLOY="$deploy" QR_SERVE_DIR="$deploy" qr_root="$qr_root" \
    bash "$qr_root/tests/fixtures/with-server.sh" "$work/measure.sh"
