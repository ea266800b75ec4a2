#!/usr/bin/env bash
# The whole test suite, as CI runs it, from a fresh clone on a fresh Debian 12:
# installs what is missing, then builds and tests every build of the project:
#   linux-sim       the simulated bench, natively
#   linux-sim-asan  the same under AddressSanitizer and UBSan
#   linux-sim-tsan  the same under ThreadSanitizer (several threads on the bench)
#   linux-fuzz      the libFuzzer targets (clang), each for a fixed budget of runs
#   linux-hw        the Linux hardware build (only with port access refused)
#   win32-hw        the deliverable DLLs (export table, disassembly, Wine)
#   win32-sim       the Windows build on the simulated bench, under Wine
# Each tree but the sanitizer and fuzz ones also installs itself into a prefix of its
# own and builds and runs programs against it (tests/install/). Then the
# release archives (scripts/package.sh) are unpacked and checked, and finally
# the command-line tour runs on the bench.
# With preset names as arguments, only those builds are tested.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

presets=(linux-sim linux-sim-asan linux-sim-tsan linux-fuzz linux-hw win32-hw win32-sim)
[ $# -gt 0 ] && presets=("$@")

jobs=$(nproc)
passed=0
stage="installing packages"
log=$(mktemp)
finish() {
  status=$?
  rm -f "${log}"
  if [ ${status} -ne 0 ]; then
    elapsed=$((SECONDS - started))
    echo "=== test.sh FAILED in ${stage} after $((elapsed / 60))m$((elapsed % 60))s (${passed} tests had passed) ==="
  fi
}
trap finish EXIT
scripts/install-deps.sh
for preset in "${presets[@]}"; do
  stage=${preset}
  echo "=== ${preset} ==="
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}" -j "${jobs}"
  ctest --preset "${preset}" -j "${jobs}" | tee "${log}"
  ran=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "${log}")
  passed=$((passed + ran))
done

checks=""
if [ $# -eq 0 ]; then
  stage="the release archives"
  echo "=== release archives ==="
  scripts/package.sh
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/linux-hw/CMakeCache.txt)
  tests/install/check_archive.sh build/linux-hw/release/korvel-dremor-"${version}"-linux-*.tar.gz linux "${version}"
  tests/install/check_archive.sh build/win32-hw/release/korvel-dremor-"${version}"-win32.zip win32 "${version}"
  passed=$((passed + 2))
  checks=", the release archives"
fi

stage="the tour"
echo "=== tour (the README's main job) ==="
scripts/tour.sh >/dev/null && echo "tour: ok"
passed=$((passed + 1))

elapsed=$((SECONDS - started))
echo "=== ${#presets[@]} builds (${presets[*]})${checks} and the tour in $((elapsed / 60))m$((elapsed % 60))s ==="
echo "test.sh: ${passed} passed, 0 failed"
