#!/usr/bin/env bash
# Sets everything up on a fresh machine, builds, and runs `fwsetup demo` on a fresh default printer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target fwsetup
exec build/bin/fwsetup demo "$@"
