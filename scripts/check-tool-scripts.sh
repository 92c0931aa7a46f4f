#!/usr/bin/env bash
# `make fuzz` and `make sanitize` are not part of `make test`, so nothing else notices when a
# rename leaves them pointing at something gone. Checks, without building:
#   - every repository path that scripts/fuzz.sh or scripts/sanitize.sh names exists;
#   - every build target they name (`--target X`, or a variable ending in `target=X`) is defined
#     in the CMake files;
#   - every fuzz target of tests/fuzz/CMakeLists.txt has its source, links defined libraries, and
#     every seed folder in tests/fuzz/corpus/ belongs to a fuzz target.
# Usage: check-tool-scripts.sh SOURCE_DIR
set -uo pipefail
cd "$1" || exit 1
fail=0
missing() {
    echo "$1"
    fail=1
}

cmake_files=$(git ls-files 'CMakeLists.txt' '*/CMakeLists.txt' '*.cmake' 2>/dev/null ||
    find . -name CMakeLists.txt -o -name '*.cmake')
defined_targets=$(sed -nE 's/^\s*(add_custom_target|add_executable|add_library|veltrane_add_test)\(\s*([A-Za-z0-9_.-]+).*/\2/p' \
    $cmake_files)
fuzz_targets=$(sed -nE 's/^\s*fuzz_target\(([A-Za-z0-9_]+)\s+LIBS\s+(.*)\)\s*$/\1 \2/p' tests/fuzz/CMakeLists.txt)
is_target() {
    grep -qxF "$1" <<<"$defined_targets"$'\n'"$(awk '{print "fuzz_" $1}' <<<"$fuzz_targets")"
}

for script in scripts/fuzz.sh scripts/sanitize.sh; do
    for path in $(grep -oE '(^|[^A-Za-z0-9_.-])(src|tools|tests|scripts|cmake|data)/[A-Za-z0-9_./-]*' "$script" |
        sed -E 's/^[^a-z]//; s#[/.]+$##' | sort -u); do
        [ -e "$path" ] || missing "$script names $path, which does not exist"
    done
    for target in $(sed -nE 's/.*--target ([A-Za-z0-9_]+).*/\1/p; s/^\s*[a-z_]*target=([A-Za-z0-9_]+)\s*(#.*)?$/\1/p' "$script"); do
        is_target "$target" || missing "$script builds target $target, which no CMake file defines"
    done
done

while read -r name libraries; do
    [ -n "$name" ] || continue
    [ -f "tests/fuzz/$name.cpp" ] || missing "fuzz target $name has no source tests/fuzz/$name.cpp"
    for library in $libraries; do
        case $library in
            *::*) ;;
            *) is_target "$library" || missing "fuzz target $name links $library, which no CMake file defines" ;;
        esac
    done
done <<<"$fuzz_targets"
for seeds in tests/fuzz/corpus/*/; do
    seeds=${seeds%/}
    grep -q "^${seeds##*/} " <<<"$fuzz_targets" || missing "$seeds holds seeds of no fuzz target"
done
exit $fail
