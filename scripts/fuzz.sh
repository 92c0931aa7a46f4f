#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz and runs each for FUZZ_SECONDS seconds (default 60), starting from the checked-in
# seeds in tests/fuzz/corpus/<target>/. Prints executions and findings per target; a crashing,
# leaking or hanging input is kept in build-fuzz/findings/<target>/ and makes the script fail.
# Usage: scripts/fuzz.sh [target...]   (all targets when none is named)
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
jobs=${JOBS:-2}
build=build-fuzz
targets=(upload_queue api_records login_flow devserver_multipart)
if [ $# -gt 0 ]; then
    targets=("$@")
fi

bash scripts/install-deps.sh || exit 1
# Clang 16 and its libFuzzer runtime. Every clang of Debian 12 reports __cpp_concepts 201907,
# which hides libstdc++ 12's <expected>; the targets only compile decoder sources that do not use it.
missing=()
for package in clang-16 libclang-rt-16-dev; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null || exit 1
fi

cmake -S tests/fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++-16 >/dev/null || exit 1
nice cmake --build "$build" -j "$jobs" || exit 1

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
    nice "$build/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
        -artifact_prefix="$findings/" "$corpus" "tests/fuzz/corpus/$target" >"$log" 2>&1
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
