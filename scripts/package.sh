#!/usr/bin/env bash
# The release archives of the hardware builds, made by CPack:
#   build/win32-hw/release/korvel-dremor-VERSION-win32.zip
#     (with sim/: the simulated DLLs of build/win32-sim and the example scenarios)
#   build/linux-hw/release/korvel-dremor-VERSION-linux-x86_64.tar.gz
# Builds the three trees first (nothing to do when scripts/test.sh built them).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in linux-hw win32-sim win32-hw; do
  echo "package: building ${preset}"
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}" -j "$(nproc)" >/dev/null
done
for preset in linux-hw win32-hw; do
  rm -rf "build/${preset}/release"
  cpack --preset "${preset}" >/dev/null
  for archive in "build/${preset}/release"/korvel-dremor-*.*; do
    [ -f "${archive}" ] && echo "package: ${PWD}/${archive}"
  done
done
