#!/usr/bin/env bash
# Runs the fuzz targets (tests/fuzz/) for as long as asked.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#       builds the fuzz targets and runs each for SECONDS (default 60):
#       libFuzzer with AddressSanitizer and UBSan when clang is installed
#       (preset linux-fuzz; the corpus grows in build/linux-fuzz/fuzz-corpus/,
#       crashes land in build/linux-fuzz/fuzz-artifacts/), the seeded loops of
#       the linux-sim build otherwise. TARGETs: korvel dremor daqctl (all by
#       default).
#
#   scripts/fuzz.sh --planted [LIMIT]
#       shows that the fuzzers catch real faults: for every patch in
#       tests/fuzz/planted/ (each plants one plausible fault in a library),
#       copies the tree to a temporary folder, applies the patch, builds the
#       fuzzer of the library it names there and runs it until it reports,
#       for at most LIMIT seconds (default 60). Prints the time each took;
#       fails when one is not caught in time. The tree itself is not touched.
#
# FUZZ_ENGINE=seeded|libfuzzer chooses the engine (default: libfuzzer when
# clang++ is on the PATH). Exit status: 0 when nothing was found (or, with
# --planted, when every planted fault was found), 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

all_targets=(korvel dremor daqctl)
engine=${FUZZ_ENGINE:-}
if [ -z "$engine" ]; then
  if command -v clang++ >/dev/null && ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    engine=libfuzzer
  else
    engine=seeded
  fi
fi
jobs=$(nproc)

# build TREE: configures and builds the fuzz targets of TREE for the engine;
# prints the folder the programs are in.
build() {
  local tree=$1 preset targets=()
  for t in "${all_targets[@]}"; do
    if [ "$engine" = libfuzzer ]; then targets+=("fuzz_${t}_libfuzzer"); else targets+=("fuzz_$t"); fi
  done
  if [ "$engine" = libfuzzer ]; then preset=linux-fuzz; else preset=linux-sim; fi
  (cd "$tree" && cmake --preset "$preset" >/dev/null &&
     cmake --build "build/$preset" -j "$jobs" --target "${targets[@]}" >&2)
  echo "$tree/build/$preset/bin"
}

# run BIN TARGET SECONDS LOG WORK: one target for SECONDS, its corpus and
# findings under WORK; status 0 when nothing was found. FUZZ_NO_CORPUS=1
# starts libFuzzer without the committed seed corpus.
run() {
  local bin=$1 target=$2 seconds=$3 log=$4 work=$5
  if [ "$engine" = libfuzzer ]; then
    local corpus="$work/fuzz-corpus/$target" artifacts="$work/fuzz-artifacts/" seeds=()
    mkdir -p "$corpus" "$artifacts"
    [ "${FUZZ_NO_CORPUS:-0}" = 1 ] || seeds=("$root/tests/fuzz/corpus/$target")
    # Long inputs from the start (-len_control=0): an input is a whole
    # session of calls, and the interesting ones are long.
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} "$bin/fuzz_${target}_libfuzzer" -max_total_time="$seconds" \
      -max_len=2048 -len_control=0 -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "${seeds[@]}" >"$log" 2>&1
  else
    mkdir -p "$work"
    (cd "$work" && "$bin/fuzz_$target" --seed "${FUZZ_SEED:-$RANDOM}" --seconds "$seconds") >"$log" 2>&1
  fi
}

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# One copy of the tree for all the patches, each applied in turn and taken
# back, so that each build after the first recompiles one library.
planted() {
  local limit=${1:-60} failed=0 tree
  tmp=$(mktemp -d /tmp/daq-planted.XXXXXX)
  trap 'rm -rf "$tmp"' EXIT
  tree="$tmp/tree"
  mkdir -p "$tree"
  git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$tree"
  for patch in tests/fuzz/planted/*.patch; do
    local name target bin start elapsed log
    name=$(basename "$patch" .patch)
    target=${name%%-*}
    if ! (cd "$tree" && patch -s -p1 <"$root/$patch"); then
      echo "$name: the patch no longer applies (the library changed): update it"
      failed=1
      continue
    fi
    all_targets=("$target")
    if bin=$(build "$tree" 2>"$tmp/build.log"); then
      log="$tmp/$name.log"
      start=$(now_ms)
      if run "$bin" "$target" "$limit" "$log" "$tmp/$name" 2>/dev/null; then
        echo "$name: NOT caught within $limit s"
        failed=1
      else
        elapsed=$(( $(now_ms) - start ))
        printf '%s: caught after %d.%01d s by fuzz_%s (%s): %s\n' "$name" $((elapsed / 1000)) \
          $((elapsed % 1000 / 100)) "$target" "$engine" \
          "$(grep -m1 -E '==== broken:|ERROR: (Address|Leak)Sanitizer|runtime error:' "$log" || echo crash)"
      fi
    else
      echo "$name: the build failed:"
      tail -n 20 "$tmp/build.log"
      failed=1
    fi
    (cd "$tree" && patch -s -R -p1 <"$root/$patch")
  done
  return $failed
}

if [ "${1:-}" = "--planted" ]; then
  shift
  planted "${1:-60}"
  exit $?
fi

seconds=${1:-60}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && all_targets=("$@")
bin=$(build "$root")
status=0
for t in "${all_targets[@]}"; do
  log="$root/build/fuzz-$t.log"
  mkdir -p "$root/build"
  echo "=== fuzz_$t ($engine, $seconds s) ==="
  if run "$bin" "$t" "$seconds" "$log" "$root/build/$([ "$engine" = libfuzzer ] && echo linux-fuzz || echo linux-sim)" 2>/dev/null; then
    tail -n 3 "$log"
  else
    echo "fuzz_$t found a fault; its report:"
    tail -n 60 "$log"
    status=1
  fi
done
exit $status
