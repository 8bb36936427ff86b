#!/usr/bin/env bash
# The whole test suite: set-up and build, then every test, under
# AddressSanitizer and UndefinedBehaviorSanitizer; any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2
