#!/usr/bin/env bash
# Checks that the test suite catches deliberate faults in the product code.
#
#   scripts/fault-injection.sh [build-dir] [fault-ids...]
#
# The faults are listed in scripts/faults.txt: each names one line of the original code (found by its
# text in src/ and tools/, so files may move), its replacement, and the tests that must catch it.
# For each fault: the file is backed up, the line replaced, the test executables those tests run
# are rebuilt incrementally, the tests run, and the file restored. A fault is caught when a test
# fails (or, reported apart, when the build fails); it survived when every test passed.
# At the end a table is printed and the build directory is rebuilt from the clean tree.
# Exit status: 0 when every fault was caught, 1 when one survived, 2 when the list is unusable.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:-build}
shift || true
[[ "$build_dir" = /* ]] || build_dir="$PWD/$build_dir"
build_dir=$(cd "$build_dir" 2>/dev/null && pwd) || {
    echo "fault-injection: no build directory $1" >&2
    exit 2
}
faults_file="$repo/scripts/faults.txt"
wanted_ids=("$@")
jobs=2
log_dir="$build_dir/fault-injection"
mkdir -p "$log_dir"

work=$(mktemp -d)
faulted_file=""
restore() {
    if [[ -n "$faulted_file" && -f "$work/original" ]]; then
        # A plain copy gives the file a new time stamp, so the next build recompiles it.
        cp "$work/original" "$faulted_file"
        faulted_file=""
    fi
}
on_exit() {
    restore
    rm -rf "$work"
}
trap on_exit EXIT
trap 'restore; exit 130' INT TERM

# --- the fault list --------------------------------------------------------------------------------
ids=() descs=() tests=() finds=() repls=()
parse_faults() {
    local line id="" desc="" test="" find="" repl="" have_find=0 have_repl=0
    flush() {
        if [[ -n "$id" ]]; then
            if [[ -z "$test" || $have_find -eq 0 || $have_repl -eq 0 ]]; then
                echo "fault $id: needs tests:, find: and repl:" >&2
                exit 2
            fi
            ids+=("$id") descs+=("$desc") tests+=("$test") finds+=("$find") repls+=("$repl")
        fi
        id="" desc="" test="" find="" repl="" have_find=0 have_repl=0
    }
    while IFS= read -r line || [[ -n "$line" ]]; do
        case "$line" in
        "#"*) ;;
        "") flush ;;
        "id: "*) flush; id=${line#id: } ;;
        "desc: "*) desc=${line#desc: } ;;
        "tests: "*) test=${line#tests: } ;;
        "find: "*) find=${line#find: } have_find=1 ;;
        "repl: "*) repl=${line#repl: } have_repl=1 ;;
        *)
            echo "faults.txt: unexpected line: $line" >&2
            exit 2
            ;;
        esac
    done <"$faults_file"
    flush
}
parse_faults

# The one file under src/ or tools/ that holds the snippet exactly once; empty otherwise.
locate() {
    local snippet=$1 file count total=0 found=""
    while IFS= read -r -d '' file; do
        count=$(SNIPPET="$snippet" perl -0777 -ne '
            my $n = 0; my $at = 0;
            while (($at = index($_, $ENV{SNIPPET}, $at)) >= 0) { $n++; $at += length $ENV{SNIPPET}; }
            print $n;' "$file")
        total=$((total + count))
        found=$file
    done < <(grep -rlFZ -- "$snippet" "$repo/src" "$repo/tools")
    [[ $total -eq 1 ]] && echo "$found"
    return 0
}

replace_in() {
    local file=$1 snippet=$2 replacement=$3
    SNIPPET="$snippet" REPLACEMENT="$replacement" perl -0777 -i -pe '
        my $at = index($_, $ENV{SNIPPET});
        substr($_, $at, length $ENV{SNIPPET}) = $ENV{REPLACEMENT} if $at >= 0;' "$file"
}

selected=()
for i in "${!ids[@]}"; do
    if [[ ${#wanted_ids[@]} -eq 0 ]] || printf '%s\n' "${wanted_ids[@]}" | grep -qxF -- "${ids[$i]}"; then
        selected+=("$i")
    fi
done
if [[ ${#selected[@]} -eq 0 ]]; then
    echo "fault-injection: no fault selected" >&2
    exit 2
fi

# Every snippet is checked before anything is changed, so a moved line shows at once.
files=()
bad=0
for i in "${selected[@]}"; do
    file=$(locate "${finds[$i]}")
    if [[ -z "$file" ]]; then
        echo "fault ${ids[$i]}: snippet not found / not unique: ${finds[$i]}" >&2
        bad=1
    fi
    files[$i]=$file
done
[[ $bad -eq 0 ]] || exit 2

# --- which targets to build ------------------------------------------------------------------------
cd "$build_dir" || exit 2
known_targets=$(cmake --build . --target help 2>/dev/null | sed -n -e 's/^\.\.\. \([^ ]*\).*/\1/p' -e 's/^\([^ :]*\): .*/\1/p')

# The executables the selected tests run (their commands and environments name them); "ALL" when
# one of them is not a target of its own, e.g. a whole folder of programs.
targets_for() {
    local regex=$1
    ctest -R "$regex" --show-only=json-v1 2>/dev/null | BUILD="$build_dir" perl -MJSON::PP -e '
        local $/; my $data = decode_json(<STDIN>);
        my %seen;
        for my $test (@{ $data->{tests} }) {
            my @words = @{ $test->{command} // [] };
            for my $property (@{ $test->{properties} // [] }) {
                next unless $property->{name} eq "ENVIRONMENT";
                push @words, map { (split /=/, $_, 2)[1] // "" } @{ $property->{value} };
            }
            for my $word (@words) {
                next unless index($word, "$ENV{BUILD}/") == 0;
                if (-f $word && -x $word) { $word =~ s{.*/}{}; $seen{$word} = 1; }
                else { $seen{ALL} = 1; }
            }
        }
        print "$_\n" for sort keys %seen;'
}

build_targets() {
    local -a targets=("$@")
    local target
    for target in "${targets[@]}"; do
        if [[ "$target" == ALL ]] || ! grep -qxF -- "$target" <<<"$known_targets"; then
            cmake --build . -j "$jobs"
            return
        fi
    done
    cmake --build . -j "$jobs" --target "${targets[@]}"
}

# --- the run ---------------------------------------------------------------------------------------
export QT_QPA_PLATFORM=offscreen
# The tests expect the program's English texts unless they choose a language themselves.
export LANG=C.UTF-8
unset LC_ALL LC_MESSAGES LANGUAGE
results=() seconds=() where=()
survived=0
run_start=$SECONDS
for i in "${selected[@]}"; do
    id=${ids[$i]}
    file=${files[$i]}
    where[$i]=${file#"$repo"/}
    log="$log_dir/fault-$id.log"
    start=$SECONDS
    echo "== fault $id: ${descs[$i]} (${where[$i]})"
    mapfile -t targets < <(targets_for "${tests[$i]}")
    if [[ ${#targets[@]} -eq 0 ]]; then
        results[$i]="no tests"
        seconds[$i]=0
        survived=1
        echo "   no test matches ${tests[$i]}"
        continue
    fi

    cp "$file" "$work/original"
    faulted_file=$file
    replace_in "$file" "${finds[$i]}" "${repls[$i]}"
    if cmp -s "$file" "$work/original"; then
        restore
        results[$i]="not applied"
        seconds[$i]=0
        survived=1
        continue
    fi

    if ! build_targets "${targets[@]}" >"$log" 2>&1; then
        results[$i]="caught (build)"
    elif ctest -R "${tests[$i]}" --timeout 300 -j "$jobs" --no-tests=error --output-on-failure >>"$log" 2>&1; then
        results[$i]="SURVIVED"
        survived=1
    else
        results[$i]="caught"
    fi
    restore
    seconds[$i]=$((SECONDS - start))
    echo "   ${results[$i]} in ${seconds[$i]} s (log: $log)"
done

echo "== rebuilding the clean tree"
if ! cmake --build . -j "$jobs" >"$log_dir/rebuild.log" 2>&1; then
    echo "fault-injection: the clean tree does not build, see $log_dir/rebuild.log" >&2
    survived=1
fi

echo
printf '%-4s | %-90s | %-44s | %-14s | %s\n' id description file result seconds
for i in "${selected[@]}"; do
    printf '%-4s | %-90s | %-44s | %-14s | %s\n' "${ids[$i]}" "${descs[$i]}" "${where[$i]:-}" "${results[$i]}" \
        "${seconds[$i]}"
done
echo "total: $((SECONDS - run_start)) s"
exit "$survived"
