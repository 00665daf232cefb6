# Shared by the README's commands, the benchmark and the scenario scripts; sourced
# from the repository's top directory (required_file_names works from anywhere).
# Sourcing it only sets variables and functions: each command installs what it
# needs itself (scripts/ensure-packages.sh).

root=$PWD
# The presets' build trees: the tests run with the presets, which fix them.
build=build
clang_build=build-clang

# configure_and_build [TARGET...]: the mingw-cross preset; every target when none is named.
configure_and_build() {
    cmake --preset mingw-cross >/dev/null
    if [ $# -eq 0 ]; then
        cmake --build "$build"
    else
        cmake --build "$build" --target "$@"
    fi
}

# configure_and_build_clang: every target with the clang-mingw-cross preset, in a
# build tree (and so a Wine prefix) of its own.
configure_and_build_clang() {
    cmake --preset clang-mingw-cross >/dev/null
    cmake --build "$clang_build"
}

# start_display: one Xvfb display for the run, so that message boxes are real
# windows; it and the prefix's wineserver are stopped when the script ends.
start_display() {
    local number=${QUORL_TEST_DISPLAY_NUMBER:-87}
    export QUORL_TEST_DISPLAY=":$number"
    started_xvfb=$(cmake/ensure-display.sh "$number")
    trap stop_display EXIT
}

stop_display() {
    local tree
    for tree in "$build" "$clang_build"; do
        if [ -d "$root/$tree/wineprefix" ]; then
            WINEPREFIX="$root/$tree/wineprefix" wineserver -k >/dev/null 2>&1 || true
        fi
    done
    if [ -n "$started_xvfb" ]; then
        kill "$started_xvfb" 2>/dev/null || true
    fi
}

# until_it_printed OUT COMMAND...: runs COMMAND, its standard output piped into
# OUT, up to three times while OUT stays empty: now and then wine gives up before
# the program runs, and the programs started so print before they can fail.
until_it_printed() {
    local out=$1 attempt
    shift
    for attempt in 1 2 3; do
        "$@" | cat >"$out" || true
        [ -s "$out" ] && return
        echo "attempt $attempt: wine gave up before $* ran"
    done
}

# required_file_names: the files an installation keeps beside the launcher, one a
# line, taken from the header the launcher is built with so that no list drifts.
required_file_names() {
    grep -o '"[^"]*\.\(exe\|dll\)"' "$(dirname "${BASH_SOURCE[0]}")/../launcher/required_file_names.h" |
        tr -d '"'
}

# lay_out_installation ROOT: ROOT/app holds the launcher and the required
# files, ROOT/Quorl.exe is the stand-in client (or an empty file without it).
lay_out_installation() {
    local sample=$1 file
    rm -rf "$sample"
    mkdir -p "$sample/app"
    cp "$build/bin/QuorlLaunch.exe" "$sample/app/"
    for file in $(required_file_names); do
        : >"$sample/app/$file"
    done
    if [ -f "$build/bin/fake_client.exe" ]; then
        cp "$build/bin/fake_client.exe" "$sample/Quorl.exe"
    else
        : >"$sample/Quorl.exe"
    fi
}
