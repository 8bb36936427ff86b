#!/usr/bin/env bash
# Sets up and builds, then runs the headless front end with the given arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >&2
exec build/bin/quorvik-cli "$@"
