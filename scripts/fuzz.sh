#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each for SECONDS (default 60), seeded with the kept seed and regression inputs.
# A crash leaves its input in <build>/crashes.
#
#   VYR_FUZZ_BUILD  build folder (default ./build-fuzz). An existing clang build with the
#                   fuzz targets can be reused: VYR_FUZZ_BUILD=build-asan after
#                   scripts/sanitize.sh address builds nothing more.
#   VYR_FUZZ_JOBS   how many targets run at the same time (default: the number of cores).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build="${VYR_FUZZ_BUILD:-build-fuzz}"
jobs="${VYR_FUZZ_JOBS:-$(nproc)}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVYR_BUILD_FUZZ=ON -DVYR_BUILD_TESTS=OFF -DVYR_BUILD_BENCH=OFF -DVYR_SANITIZE=address
elif ! grep -q '^VYR_BUILD_FUZZ:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "fuzz: $build is not configured with VYR_BUILD_FUZZ=ON" >&2
  exit 2
fi
cmake --build "$build" -j "$(nproc)" --target fuzzers
mkdir -p "$build/crashes"

run_one() {  # run_one FUZZER: runs it, writes its verdict to <build>/<name>.result
  local fuzzer="$1" name corpus seeds=()
  name=$(basename "$fuzzer"); name=${name#fuzz_}
  corpus=$build/corpus/$name
  mkdir -p "$corpus"
  [ -d "tests/fuzz_regressions/$name" ] && seeds+=("tests/fuzz_regressions/$name")
  [ -d "tests/fuzz_seeds/$name" ] && seeds+=("tests/fuzz_seeds/$name")
  if "$fuzzer" -max_total_time="$seconds" -max_len=262144 -timeout=20 -rss_limit_mb=2048 \
       -artifact_prefix="$build/crashes/$name-" "$corpus" "${seeds[@]}" >"$build/$name.log" 2>&1; then
    echo "ok" >"$build/$name.result"
  else
    echo "FAILED" >"$build/$name.result"
  fi
}

fuzzers=("$build"/bin/fuzz_*)
[ -e "${fuzzers[0]}" ] || { echo "fuzz: no fuzz targets in $build/bin" >&2; exit 2; }
running=0
for fuzzer in "${fuzzers[@]}"; do
  if [ "$running" -ge "$jobs" ]; then wait -n || true; running=$((running - 1)); fi
  echo "fuzz: $(basename "$fuzzer") for ${seconds}s"
  run_one "$fuzzer" &
  running=$((running + 1))
done
wait

status=0
for fuzzer in "${fuzzers[@]}"; do
  name=$(basename "$fuzzer"); name=${name#fuzz_}
  if [ "$(cat "$build/$name.result" 2>/dev/null)" = "ok" ]; then
    echo "fuzz: $name: $(grep -E '^Done|stat::' "$build/$name.log" | tail -1)"
  else
    echo "fuzz: $name FAILED, see $build/$name.log"; tail -30 "$build/$name.log"; status=1
  fi
done
exit $status
