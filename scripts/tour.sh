#!/usr/bin/env bash
# The main job: build daqctl on the simulated bench and run its guided tour.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux-sim >/dev/null
cmake --build --preset linux-sim -j "$(nproc)" --target daqctl >/dev/null
exec build/linux-sim/bin/daqctl tour
