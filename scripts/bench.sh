#!/usr/bin/env bash
# Builds the native simulated tree and runs the benchmarks; then the Windows
# hardware build's benchmark of the DLL's conversion loops, under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux-sim >/dev/null
cmake --build --preset linux-sim -j "$(nproc)"
for b in build/linux-sim/bin/*_bench; do
  echo "=== $(basename "$b") ==="
  "$b" "$@"
done
echo "=== panel_stream_bench (daqctl panel: 100 kS/s to a page in chromium for 10 s) ==="
/usr/bin/python3 bench/panel_stream_bench.py --daqctl build/linux-sim/bin/daqctl
cmake --preset win32-hw -DDAQ_BUILD_BENCHMARKS=ON >/dev/null
cmake --build --preset win32-hw -j "$(nproc)" --target convert_loops_bench
echo "=== convert_loops_bench (32-bit DLL loops, under Wine) ==="
WINEDEBUG=-all WINEPREFIX="$PWD/build/wineprefix" wine build/win32-hw/bin/convert_loops_bench.exe
