#!/usr/bin/env bash
# Sets up (see setup.sh) and starts Tallowcrest Server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
exec ./build/tallowcrest-server "$@"
