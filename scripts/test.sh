#!/usr/bin/env bash
# The whole test suite, as CI runs it, from a fresh clone on a fresh Debian 12:
# installs what is missing, then builds and tests every build of the project:
#   linux-sim       the simulated bench, natively
#   linux-sim-asan  the same under AddressSanitizer and UBSan
#   linux-hw        the Linux hardware build (only with port access refused)
#   win32-hw        the deliverable Korvel.dll (export table, disassembly, Wine)
#   win32-sim       the Windows build on the simulated bench, under Wine
# and finally the command-line tour on the bench.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

presets=(linux-sim linux-sim-asan linux-hw win32-hw win32-sim)
[ $# -gt 0 ] && presets=("$@")

jobs=$(nproc)
for preset in "${presets[@]}"; do
  echo "=== ${preset} ==="
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}" -j "${jobs}"
  ctest --preset "${preset}" -j "${jobs}"
done

echo "=== tour (the README's main job) ==="
scripts/tour.sh >/dev/null && echo "tour: ok"
