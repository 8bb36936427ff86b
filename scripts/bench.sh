#!/usr/bin/env bash
# Every benchmark, in a release build of its own (build-bench: -O2, no
# sanitizers), each printing its figures and its ratio to the floor it
# measures in the same run. Needs the packages of scripts/setup.sh.
# Usage: scripts/bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DQUORVIK_SANITIZE=OFF >/dev/null
benches=(bench_roundtrip bench_idle bench_line)
# The history benchmark comes with the windows library.
if cmake --build build-bench --target help | grep '^bench_history:' >/dev/null; then
    benches+=(bench_history)
fi
cmake --build build-bench --target "${benches[@]}"
export QT_QPA_PLATFORM=offscreen
status=0
for b in "${benches[@]}"; do
    echo
    build-bench/bin/"$b" || status=1
done
exit $status
