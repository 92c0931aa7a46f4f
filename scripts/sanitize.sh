#!/usr/bin/env bash
# Builds and runs the unit tests under sanitizers, in build folders of their own:
#   build-asan  every unit test (the target `unit_tests`) with AddressSanitizer (leaks included)
#               and UndefinedBehaviorSanitizer
#   build-tsan  the threaded ones (`threaded_unit_tests`: serial queue, recorder, transfer
#               session, capture threads, upload manager) with ThreadSanitizer
# Integration tests (their own sound server, Secret Service or package build) are left to
# `make test`. The default build is not touched. Exits non-zero when a build or a test fails.
# Usage: scripts/sanitize.sh [asan|tsan]   (both when no argument)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
bash scripts/install-deps.sh || exit 1

jobs=${JOBS:-2}
what=${1:-all}
# Aggregate targets of tests/CMakeLists.txt.
asan_target=unit_tests
tsan_target=threaded_unit_tests
export QT_QPA_PLATFORM=offscreen
# The tests expect the program's English texts unless they choose a language themselves.
export LANG=C.UTF-8
unset LC_ALL LC_MESSAGES LANGUAGE
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:strict_string_checks=1:detect_odr_violation=2"
export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Qt and GLib are not built with ThreadSanitizer: their locks and atomics are invisible to it, so
# memory they hand between threads (event queues, implicitly shared data) would look racy.
# ignore_noninstrumented_modules drops the accesses those libraries make through intercepted
# calls (malloc, free, memcpy, write, ...); races in our own code are still reported.
export TSAN_OPTIONS="suppressions=$root/tests/sanitizers/tsan.supp:second_deadlock_stack=1:ignore_noninstrumented_modules=1"

failed=0

# configure_and_build <dir> <flags> [targets...]
configure_and_build() {
    local dir=$1 flags=$2
    shift 2
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
        -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null || return 1
    local target_args=()
    for target in "$@"; do
        target_args+=(--target "$target")
    done
    nice cmake --build "$dir" -j "$jobs" "${target_args[@]}"
}

# run_tests <dir> <label>: every built unit test (label `unit`); unbuilt ones show up as *_NOT_BUILT.
run_tests() {
    local dir=$1 label=$2 log="$1/sanitize-tests.log"
    echo "== $label: running tests (log: $log)"
    (cd "$dir" && nice ctest --output-on-failure --timeout 600 -j "$jobs" \
        --no-tests=error -L '^unit$' -E '_NOT_BUILT$') >"$log" 2>&1
    local status=$?
    grep -E "tests passed|tests failed|\(Failed\)|\(Timeout\)|\(Subprocess aborted\)|\(SEGFAULT\)" "$log"
    grep -hE "^(SUMMARY|WARNING): (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|ThreadSanitizer)|runtime error:" \
        "$log" | sort | uniq -c
    return $status
}

if [ "$what" = all ] || [ "$what" = asan ]; then
    echo "== ASan+UBSan: building unit tests in build-asan"
    if configure_and_build build-asan "-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
        "$asan_target"; then
        run_tests build-asan "ASan+UBSan" || failed=1
    else
        echo "ASan+UBSan build failed"
        failed=1
    fi
fi

if [ "$what" = all ] || [ "$what" = tsan ]; then
    echo "== TSan: building threaded tests in build-tsan"
    if configure_and_build build-tsan "-fsanitize=thread -fno-omit-frame-pointer" "$tsan_target"; then
        run_tests build-tsan "TSan" || failed=1
    else
        echo "TSan build failed"
        failed=1
    fi
fi

exit $failed
