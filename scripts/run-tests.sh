#!/usr/bin/env bash
# Sets everything up on a fresh machine, builds, and runs every test: the whole
# suite under AddressSanitizer and UndefinedBehaviorSanitizer (every fuzz
# target's corpus included), then the concurrency tests under ThreadSanitizer,
# then every fuzz target for 20 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

cmake --preset asan -DFWSETUP_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build --preset asan
ctest --preset asan -j "$jobs"

cmake --preset tsan -DFWSETUP_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build --preset tsan --target test_runtime test_platform test_properties test_periphconfig
ctest --preset tsan -j "$jobs" -R '^(Runtime|PowerCut|PropertyThreads|JsonLock|ArchiveThreads|ManagerThreads|JsonPropertyArchiver|ArchiveFiles|PropertyFileStore|PropertyManager|PreviousBuildNumber|ArchivePowerCut|CreatePowerCut)'

# A finding fails the run; its input is in build-fuzz/findings/ (scripts/fuzz).
scripts/fuzz -j "$jobs" 20
