#!/usr/bin/env bash
# ensure-packages.sh GROUP...: installs the Debian packages that the named groups
# need, when run as root; otherwise names the missing ones and stops.
#   demo  the GCC cross build (configuring it needs the GoogleTest source), Wine
#         and a display: what the demo and the benchmark use
#   test  all of demo, and the signing tools, clang and lld, and the analysers
set -euo pipefail

[ $# -gt 0 ] || { echo "usage: ensure-packages.sh demo|test..." >&2; exit 2; }
demo="" test=""
for group in "$@"; do
    case $group in
    demo) demo=1 ;;
    test) demo=1 test=1 ;;
    *) echo "ensure-packages: unknown group '$group' (demo, test)" >&2; exit 2 ;;
    esac
done

need=()
if [ -n "$demo" ]; then
    command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
    command -v wine >/dev/null || need+=(wine)
    [ -x /usr/lib/wine/wine64 ] || need+=(wine64)
    command -v Xvfb >/dev/null || need+=(xvfb)
    command -v cmake >/dev/null || need+=(cmake)
    command -v ninja >/dev/null || need+=(ninja-build)
    [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
    # cmake/wine-run.sh serialises the prefix's set-up with it.
    command -v flock >/dev/null || need+=(util-linux)
fi
if [ -n "$test" ]; then
    command -v osslsigncode >/dev/null || need+=(osslsigncode)
    command -v openssl >/dev/null || need+=(openssl)
    # The second compiler and the analysers; llvm brings llvm-windres for the resources.
    command -v clang++ >/dev/null || need+=(clang)
    command -v ld.lld >/dev/null || need+=(lld)
    command -v llvm-rc >/dev/null || need+=(llvm)
    command -v clang-tidy >/dev/null || need+=(clang-tidy)
    command -v cppcheck >/dev/null || need+=(cppcheck)
fi

[ ${#need[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${need[*]}" >&2
    echo "Install them with: sudo apt-get install ${need[*]}" >&2
    exit 1
fi
echo "Installing ${need[*]} ..."
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
