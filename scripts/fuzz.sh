#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz in build-fuzz: the project configured with clang 19
# and VELTRANE_FUZZING, so that the targets link the project's own libraries, instrumented for
# coverage, AddressSanitizer and UndefinedBehaviorSanitizer. Runs each for FUZZ_SECONDS seconds
# (default 60), starting from the checked-in seeds in tests/fuzz/corpus/<target>/. Prints
# executions and findings per target; a crashing, leaking or hanging input is kept in
# build-fuzz/findings/<target>/ and makes the script fail.
# Usage: scripts/fuzz.sh [target...]   (every built target when none is named)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
seconds=${FUZZ_SECONDS:-60}
jobs=${JOBS:-2}
build=build-fuzz

# Clang 19: the first clang of Debian 12 that compiles libstdc++ 12's <expected>.
bash scripts/install-deps.sh fuzz || exit 1

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++-19 -DVELTRANE_FUZZING=ON -DBUILD_TESTING=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" >/dev/null || exit 1
nice cmake --build "$build" -j "$jobs" --target fuzz_targets || exit 1

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for program in "$build"/fuzz/fuzz_*; do
        targets+=("${program##*/fuzz_}")
    done
fi

# Without detect_stack_use_after_return: its fake-stack sweep on every thrown exception makes the
# decoders' error paths ten times slower.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=0
summary=()
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    findings="$build/findings/$target"
    log="$build/$target.log"
    mkdir -p "$corpus" "$findings"
    echo "== $target: fuzzing for ${seconds} s (log: $log)"
    # New inputs go to the first folder; the checked-in seeds stay as they are.
    seeds=()
    [ -d "tests/fuzz/corpus/$target" ] && seeds=("tests/fuzz/corpus/$target")
    nice "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
        -artifact_prefix="$findings/" "$corpus" "${seeds[@]}" >"$log" 2>&1
    status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    found=$(find "$findings" -type f | wc -l)
    if [ $status -ne 0 ]; then
        failed=1
        grep -m 3 -E "ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|check failed" "$log"
    fi
    summary+=("$(printf '%-22s %12s executions  %3d findings  exit %d' "$target" "${executions:-?}" "$found" "$status")")
done

echo "== fuzzing summary (${seconds} s per target)"
printf '%s\n' "${summary[@]}"
exit $failed
