# Sourced: a Wine prefix and an X display of our own for a test or demo run.
#   qr_prefix_start <prefix folder>   sets WINEPREFIX and DISPLAY, starts Xvfb
#                                     and a persistent wineserver
#   qr_prefix_stop                    stops both
qr_prefix_start() {
    export WINEPREFIX="$1"
    mkdir -p "$WINEPREFIX"

    # One X server for the whole run: every Wine process of this wineserver
    # must see the same display.
    local fd_file
    fd_file="$(mktemp)"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fd_file" >/dev/null 2>&1 &
    QR_XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$fd_file" ] && break
        sleep 0.1
    done
    export DISPLAY=":$(head -n1 "$fd_file")"
    rm -f "$fd_file"

    if [ ! -f "$WINEPREFIX/.qr-ready" ]; then
        "$QR_WINE" wineboot -i >/dev/null 2>&1 || true
        "${WINESERVER:-wineserver}" -w
        # A fresh prefix reports Windows 7; the product targets 10.
        "$QR_WINE" reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
        # A crash prints a backtrace instead of opening winedbg's dialog.
        "$QR_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        "${WINESERVER:-wineserver}" -w
        touch "$WINEPREFIX/.qr-ready"
    fi
    "${WINESERVER:-wineserver}" -p
    # Start the prefix's background processes (services, the desktop
    # window) now, with no pipe of ours: a process started later by a test
    # would otherwise inherit the test's output pipe and keep it open.
    "$QR_WINE" wineboot >/dev/null 2>&1 </dev/null || true
}

qr_prefix_stop() {
    "${WINESERVER:-wineserver}" -k 2>/dev/null || true
    [ -n "${QR_XVFB_PID:-}" ] && kill "$QR_XVFB_PID" 2>/dev/null || true
}
