#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) and cppcheck on the product code; fails on
# any finding. Tests and the benchmark are not analysed.
#   static-analysis.sh BUILD_DIR   a configured clang build tree: its compile_commands.json
#                                  gives clang-tidy every source's real compile command.
set -euo pipefail
cd "$(dirname "$0")/.."
compile_db_dir=$1
product_dirs=(base launcher logging fileutil process)

if [ ! -f "$compile_db_dir/compile_commands.json" ]; then
    echo "static-analysis: no compile_commands.json in $compile_db_dir" >&2
    exit 1
fi

mapfile -t sources < <(find "${product_dirs[@]}" -name '*.cpp' | sort)

# Headers are checked where the sources include them (HeaderFilterRegex). A file's
# report is printed only when it has a finding: system headers make clang-tidy chatty.
tidy_one() {
    local report
    if ! report=$(clang-tidy -p "$1" --quiet "$2" 2>&1); then
        printf '%s\n' "$report" | grep -v ' warnings\? generated\.$' >&2
        return 1
    fi
}
export -f tidy_one
echo "clang-tidy: ${#sources[@]} sources"
printf '%s\n' "${sources[@]}" | xargs -P 2 -I{} bash -c 'tidy_one "$0" "$1"' "$compile_db_dir" {}

# The definitions are the build's (CMakeLists.txt); Windows headers are not parsed,
# --library=windows describes their functions. Strings are passed by value by the
# house convention, so passedByValue is off; clang-tidy's
# performance-unnecessary-value-param still checks every other type. Information
# messages are on so that a stale suppression fails; missingIncludeSystem only says
# that the Windows and C++ headers were not read, and a project header not found is
# missingInclude (which information no longer brings with it from 2.16 on).
cppcheck_version=$(cppcheck --version | sed 's/^Cppcheck //')
cppcheck_is_at_least() {
    [ "$(printf '%s\n' "$1" "$cppcheck_version" | sort -V | head -n 1)" = "$1" ]
}
# Options that only newer versions know: from 2.11 cppcheck may analyse a file's
# branches only in part (from 2.14 an information message says so), and the code is
# small enough for all of them; from 2.13 it reports as information how many checkers
# it ran. An older version would reject the option or find the suppression stale.
newer_cppcheck_options=()
cppcheck_is_at_least 2.11 && newer_cppcheck_options+=(--check-level=exhaustive)
cppcheck_is_at_least 2.13 && newer_cppcheck_options+=(--suppress=checkersReport)
echo "cppcheck $cppcheck_version: ${product_dirs[*]}"
cppcheck --quiet --error-exitcode=1 --inline-suppr \
    --enable=warning,style,performance,portability,information,missingInclude \
    --suppress=passedByValue --suppress=missingIncludeSystem "${newer_cppcheck_options[@]}" \
    --std=c++17 --language=c++ --platform=win64 --library=windows \
    -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601 -DWINVER=0x0601 \
    -I . "${product_dirs[@]}"
echo "static analysis: no findings"
