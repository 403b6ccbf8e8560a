# Sourced by the scripts: chooses the Wine loader and the build architecture.
#
# The shipped downloader is a 32-bit exe. Some hosts run a kernel without
# 32-bit support (ia32 emulation off); there the same sources are built and
# tested as a 64-bit exe under wine64. QR_ARCH overrides the choice.
qr_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

qr_can_run_32bit() {
    [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

if [ -z "${QR_ARCH:-}" ]; then
    if qr_can_run_32bit; then QR_ARCH=i686; else QR_ARCH=x86_64; fi
fi
export QR_ARCH
if [ "$QR_ARCH" = x86_64 ]; then
    export WINELOADER=/usr/lib/wine/wine64
    export WINESERVER=/usr/lib/wine/wineserver64
    QR_WINE=/usr/lib/wine/wine64
else
    QR_WINE=wine
fi
export QR_WINE
export WINEDEBUG="${WINEDEBUG:--all}"
# WinInet's preconfigured mode reads these; tests talk to loopback only.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ftp_proxy
export no_proxy=127.0.0.1,localhost
