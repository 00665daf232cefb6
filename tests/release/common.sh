# Shared by the release checks: builds QuorlLaunch alone, as a release build would.

# configure_and_build SOURCE BUILD [CMAKE ARGS...]
configure_and_build() {
    local source=$1 build=$2
    shift 2
    # The preset of the image that ships (clang and lld: the most mitigations, see the
    # README); only the target and the tests differ.
    (cd "$source" && cmake --preset clang-mingw-cross -B "$build" -DQUORL_BUILD_TESTS=OFF "$@" >/dev/null)
    cmake --build "$build" --target QuorlLaunch >/dev/null
}

# copy_source SOURCE DEST: the tree as it stands, committed or not, without build trees.
copy_source() {
    local source=$1 dest=$2
    mkdir -p "$dest"
    if git -C "$source" rev-parse --show-toplevel >/dev/null 2>&1; then
        # Paths still in the index but deleted on disk are skipped by the test -e.
        (cd "$source" && git ls-files -z --cached --others --exclude-standard |
            while IFS= read -r -d '' path; do [ -e "$path" ] && printf '%s\0' "$path"; done |
            tar --null -T - -cf -) | tar -xf - -C "$dest"
    else
        (cd "$source" && tar --exclude='./build*' --exclude='./out' -cf - .) | tar -xf - -C "$dest"
    fi
}
