#!/usr/bin/env bash
# Sets up (see setup.sh) and runs the whole test suite: unit, component,
# widget (offscreen) and end-to-end (Xvfb) tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cd build
ctest --output-on-failure -j2 "$@"
