#!/bin/sh
# The soak run: 100,000 driver-init / select / close cycles per library on
# the simulated bench (native build), with the process's handles,
# descriptors and resident memory printed every tenth of the way. A leak
# shows as a column that grows. Arguments go to daq_soak: [cycles]
# [record-limit] (the bench's bound on its records; 0 lets them grow).
set -eu
cd "$(dirname "$0")/.."
cmake --preset linux-sim >/dev/null
cmake --build --preset linux-sim --target daq_soak
exec build/linux-sim/bin/daq_soak "$@"
