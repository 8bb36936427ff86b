#!/usr/bin/env bash
# Fuzzes the readers of outside input (frame reader, codec, Options.ini,
# viewUsers.xml, the history's RTF) with libFuzzer, in a clang build of their
# own (build-fuzz-clang/, only the fuzz targets and what they need).
#
#   scripts/fuzz.sh [short]   each target for 20 s; the test suite runs this
#   scripts/fuzz.sh long      each target for 10 minutes
#
# A crash, leak, sanitizer report or failed check fails the run; the input
# that did it is left as fuzz-artifacts/<target>-crash-* in the build folder.
# Keep it as a regression case in fuzz/corpus/<target>/ once it is mended.
# QUORVIK_FUZZ_BUILD chooses the build folder, QUORVIK_FUZZ_SECONDS the time.
set -euo pipefail

mode=${1:-short}
case "$mode" in
short) seconds=${QUORVIK_FUZZ_SECONDS:-20} ;;
long) seconds=${QUORVIK_FUZZ_SECONDS:-600} ;;
*)
    echo "usage: $0 [short|long]" >&2
    exit 2
    ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVIK_FUZZ_BUILD:-$root/build-fuzz-clang}
mkdir -p "$build"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DQUORVIK_FUZZ=ON >"$build/configure.log" 2>&1 || {
    cat "$build/configure.log" >&2
    exit 1
}
cmake --build "$build" --target fuzzers >"$build/build.log" 2>&1 || {
    cat "$build/build.log" >&2
    exit 1
}

# Scratch files on a memory file system where there is one: the targets
# write, fsync and rename a file for every input.
scratch_base=/tmp
[ -w /dev/shm ] && scratch_base=/dev/shm
scratch=$(mktemp -d "$scratch_base/quorvik-fuzz-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export QUORVIK_FUZZ_TMP=$scratch
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=1"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}halt_on_error=1:print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen

artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
failed=()
for fuzzer in "$build"/fuzz-bin/fuzz_*; do
    name=${fuzzer##*/fuzz_}
    # New inputs go to the build folder; the seeds in the tree stay as they are.
    work="$build/fuzz-corpus/$name"
    mkdir -p "$work"
    echo "== $name: ${seconds}s"
    if ! "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$name-" "$work" "$root/fuzz/corpus/$name" \
        >"$artifacts/$name.log" 2>&1; then
        tail -n 60 "$artifacts/$name.log"
        failed+=("$name")
    else
        grep -E '^(Done|stat::number_of_executed_units)' "$artifacts/$name.log" || true
    fi
done

if ((${#failed[@]})); then
    echo "fuzzing failed: ${failed[*]}" >&2
    exit 1
fi
echo "fuzzing passed"
