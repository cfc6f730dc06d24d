#!/usr/bin/env bash
# Sets everything up on a fresh machine, builds, and runs `fwsetup demo` on a fresh default printer.
# The set-up is quiet: one progress line on a terminal (nothing otherwise), and the
# build's log only when the build fails, so that what shows is the demo's report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

log=$(mktemp -t fwsetup-build.XXXXXX)
trap 'rm -f "$log"' EXIT

# Runs a command with its output in the log; on a terminal, Ninja's "[n/m]" counter
# becomes one line that updates in place.
quietly() {
  local status=0
  if [ -t 2 ]; then
    set +e
    "$@" 2>&1 | tee "$log" | while IFS= read -r line; do
      case $line in
        \[*/*\]*) printf '\r\033[Kbuilding %s' "${line%%]*}]" >&2 ;;
      esac
    done
    status=${PIPESTATUS[0]}
    set -e
    printf '\r\033[K' >&2
  else
    "$@" >"$log" 2>&1 || status=$?
  fi
  if [ "$status" -ne 0 ]; then
    echo "set-up failed: $*" >&2
    cat "$log" >&2
    exit "$status"
  fi
}

quietly cmake --preset default
quietly cmake --build --preset default --target fwsetup
exec build/bin/fwsetup demo "$@"
