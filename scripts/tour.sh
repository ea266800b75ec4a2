#!/usr/bin/env bash
# The main job: build daqctl on the simulated bench and run its guided tour.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bin=$root/build/linux-sim/bin

echo "tour: checking for the Debian packages the build needs (scripts/install-deps.sh installs what is missing)"
scripts/install-deps.sh
echo "tour: building daqctl on the simulated bench in build/linux-sim (a few minutes the first time)"
cmake --preset linux-sim >/dev/null
cmake --build --preset linux-sim -j "$(nproc)" --target daqctl >/dev/null
echo "tour: running daqctl tour"
echo
started=$(mktemp)
"$bin/daqctl" tour
echo
echo "tour: daqctl is $bin/daqctl (the simulated bench build); to call it as plain 'daqctl':"
echo "        export PATH=\"$bin:\$PATH\""
echo "tour: the files it wrote:"
find "$root" -maxdepth 1 -type f -newer "$started" | LC_ALL=C sort | sed 's/^/        /'
rm -f "$started"
