#!/usr/bin/env bash
# The soak run: two ends over a faulty, flooded line for a few minutes, in the
# release build of scripts/bench.sh. Fails on a crash, on any wrong line
# shown, or when the link does not come back once the cable is whole.
# Usage: scripts/soak.sh [seconds, default 180] [seed, default 1]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DQUORVIK_SANITIZE=OFF >/dev/null
cmake --build build-bench --target soak
exec build-bench/bin/soak "${1:-180}" "${2:-1}"
