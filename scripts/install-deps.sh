#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, when any is missing.
set -euo pipefail
pkgs=(cmake ninja-build g++ pkg-config clang-format lz4
      rapidjson-dev liblz4-dev libssl-dev libgcab-dev zlib1g-dev libcli11-dev
      libgtest-dev libgmock-dev googletest libbenchmark-dev
      clang-14 libclang-rt-14-dev)  # the fuzz build: clang with libFuzzer and the sanitizers
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  # apt's own output only when it fails.
  log=$(mktemp -t fwsetup-apt.XXXXXX)
  trap 'rm -f "$log"' EXIT
  if ! { $SUDO apt-get update -qq &&
         DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
    echo "installing the packages failed:" >&2
    cat "$log" >&2
    exit 1
  fi
fi
