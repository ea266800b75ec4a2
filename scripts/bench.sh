#!/usr/bin/env bash
# Builds the native simulated tree and runs the benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux-sim >/dev/null
cmake --build --preset linux-sim -j "$(nproc)"
for b in build/linux-sim/bin/*_bench; do
  echo "=== $(basename "$b") ==="
  "$b" "$@"
done
