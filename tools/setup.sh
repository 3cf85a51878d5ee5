#!/bin/sh
# Installs what building and testing need, from Debian's packages: Wine's
# 64-bit and 32-bit parts (the x86 build runs on the latter, through Debian's
# multiarch). zsync is the peer the delta benchmark measures updates against.
# Quiet and quick when everything is there; 'apt-get update' only when
# something is missing.
set -e
PACKAGES="cmake ninja-build make mingw-w64 wine wine64 wine32:i386 xvfb xdotool imagemagick googletest
python3 python3-cairo python3-fonttools python3-numpy python3-pil fontconfig fonts-open-sans curl clang
libclang-rt-dev python3-cryptography libssl-dev libcurl4-openssl-dev unicode-data nginx strace zlib1g-dev zsync
libz-mingw-w64-dev"
missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
# zlib (Linux and MinGW) is lista's, which writes the compressed manifest
# beside the plain one; the launcher unpacks it with code of its own.
# npm fetches the pinned Cinzel font package; any npm will do, Debian's or not.
command -v npm >/dev/null 2>&1 || missing="$missing npm"
[ -z "$missing" ] && exit 0
# The tests and the demo run nginx themselves, unprivileged on a loopback
# port; the system's own nginx service is not needed (where the package starts
# it, it serves port 80 as Debian configures it).
echo "setup: installing$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq $missing >/dev/null
