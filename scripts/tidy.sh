#!/usr/bin/env bash
# The naming convention: clang-tidy's identifier-naming check (.clang-tidy) over every source file of a
# configured build, then the acronym rule (scripts/check-naming.sh). Not part of `make test`: it takes
# several minutes. Usage: scripts/tidy.sh [build-dir]
set -euo pipefail
build_dir=$(realpath "${1:-build}")
cd "$(dirname "$0")/.."
# clang-tidy 16 (Debian 12 has it beside the default 14): 14 cannot read libstdc++'s std::expected.
if ! command -v run-clang-tidy-16 >/dev/null; then
    echo "Installing clang-tidy 16"
    sudo=$([ "$(id -u)" -ne 0 ] && echo sudo || true)
    $sudo apt-get install -y --no-install-recommends clang-tidy-16 >/dev/null
fi
# clang-tidy reads GCC's command lines: drop the GCC-only coroutine flag and name C++23 the way this
# clang spells it.
database=$(mktemp -d)
trap 'rm -rf "$database"' EXIT
sed -e 's/ -fcoroutines//g; s/-std=c++23/-std=c++2b/g; s/-std=gnu++23/-std=c++2b/g' \
    "$build_dir/compile_commands.json" >"$database/compile_commands.json"
# libstdc++ 12 offers std::expected only to compilers that announce C++20 concepts in full; clang 16
# implements what it needs but announces an older value.
run-clang-tidy-16 -quiet -clang-tidy-binary clang-tidy-16 -p "$database" -j "$(nproc)" \
    -extra-arg=-D__cpp_concepts=202002L -extra-arg=-Wno-macro-redefined \
    "$PWD/(src|tools|bench|tests)/.*\.cpp$" 2>/dev/null |
    sed 's/\x1b\[[0-9;]*m//g' | grep -F '[readability-identifier-naming' | sort -u | tee "$database/findings"
found=$(wc -l <"$database/findings")
bash scripts/check-naming.sh && naming=0 || naming=1
if [ "$found" -gt 0 ] || [ "$naming" -ne 0 ]; then
    echo "naming convention: $found clang-tidy findings" >&2
    exit 1
fi
echo "naming convention: clean"
