#!/bin/bash
# Installs everything the build, the tests and the demo need (Debian 12).
# Safe to run again.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends \
    cmake ninja-build make python3 git ca-certificates \
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64 \
    googletest \
    wine wine32:i386 wine64 \
    xvfb xauth x11-utils imagemagick \
    msitools xmlsec1 openssl curl bc
echo "setup: done"
