#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when run as root;
# otherwise names the missing ones and stops.
set -euo pipefail

need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
command -v wine >/dev/null || need+=(wine)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v flock >/dev/null || need+=(util-linux)
command -v osslsigncode >/dev/null || need+=(osslsigncode)
command -v openssl >/dev/null || need+=(openssl)
# The second compiler and the analysers; llvm brings llvm-windres for the resources.
command -v clang++ >/dev/null || need+=(clang)
command -v ld.lld >/dev/null || need+=(lld)
command -v llvm-rc >/dev/null || need+=(llvm)
command -v clang-tidy >/dev/null || need+=(clang-tidy)
command -v cppcheck >/dev/null || need+=(cppcheck)

[ ${#need[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${need[*]}" >&2
    echo "Install them with: sudo apt-get install ${need[*]}" >&2
    exit 1
fi
echo "Installing ${need[*]} ..."
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
